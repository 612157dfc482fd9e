#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "Measure.h"

namespace pendra::bench {

CommandLine::CommandLine(std::string program, std::string about) : program_(std::move(program)), about_(std::move(about)) {}

void CommandLine::Count(const std::string& name, long full, long smoke, const std::string& help, long minimum) {
  order_.push_back(name);
  options_[name] = Option{Kind::Count, help, full, smoke, minimum, {}, false};
}

void CommandLine::PairsOption(long full) { Count("pairs", full, 1, "alternated pairs; the medians count"); }

void CommandLine::Text(const std::string& name, const std::string& help) {
  order_.push_back(name);
  options_[name] = Option{Kind::Text, help, 0, 0, 0, {}, false};
}

void CommandLine::Flag(const std::string& name, const std::string& help) {
  order_.push_back(name);
  options_[name] = Option{Kind::Flag, help, 0, 0, 0, {}, false};
}

std::string CommandLine::Usage() const {
  std::string usage = "Usage: " + program_ + " [--smoke]";
  for (const auto& name : order_) {
    const Option& o = options_.at(name);
    usage += " [--" + name + (o.kind == Kind::Count ? " N]" : o.kind == Kind::Text ? " VALUE]" : "]");
  }
  usage += "\n" + about_ + "\n\n  --help        this text\n  --smoke       a short run with tiny sizes that checks the benchmark works\n";
  for (const auto& name : order_) {
    const Option& o = options_.at(name);
    std::string line = "  --" + name + (o.kind == Kind::Count ? " N" : o.kind == Kind::Text ? " VALUE" : "");
    line.resize(std::max<size_t>(line.size() + 1, 16), ' ');
    line += o.help;
    if (o.kind == Kind::Count)
      line += " (default " + std::to_string(o.full) + ", with --smoke " + std::to_string(o.smoke) + ")";
    usage += line + "\n";
  }
  return usage;
}

void CommandLine::UsageError(const std::string& why) const {
  std::fprintf(stderr, "%s: %s\n%s", program_.c_str(), why.c_str(), Usage().c_str());
  std::exit(2);
}

void CommandLine::Parse(int argc, char** argv) {
  ServeMeasuredRun(argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf("%s", Usage().c_str());
      std::exit(0);
    }
    if (arg == "--smoke") {
      smoke_ = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) UsageError("unexpected argument " + arg);
    std::string name = arg.substr(2), value;
    const auto equals = name.find('=');
    const bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    auto it = options_.find(name);
    if (it == options_.end()) UsageError("unknown option " + arg);
    Option& o = it->second;
    if (o.kind == Kind::Flag) {
      if (inlineValue) UsageError("--" + name + " takes no value");
      o.given = true;
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) UsageError("--" + name + " needs a value");
      value = argv[++i];
    }
    if (o.kind == Kind::Count) {
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || n < o.minimum) {
        std::string why = "--" + name + " needs a whole number of at least ";
        why += std::to_string(o.minimum);
        why += ", not '" + value + "'";
        UsageError(why);
      }
      o.full = o.smoke = n;  // given explicitly: the same with and without --smoke
    }
    o.value = value;
    o.given = true;
  }
}

long CommandLine::CountOf(const std::string& name) const {
  const Option& o = options_.at(name);
  if (o.kind != Kind::Count) throw std::logic_error("not a count: " + name);
  return smoke_ ? o.smoke : o.full;
}

const std::string& CommandLine::TextOf(const std::string& name) const { return options_.at(name).value; }

bool CommandLine::FlagOf(const std::string& name) const { return options_.at(name).given; }

}  // namespace pendra::bench
