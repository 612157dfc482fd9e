// The command line every benchmark takes: its own counts and paths as
// --name VALUE, --smoke for the short run that checks the benchmark still
// works (tiny sizes, one pair), --help. Anything else is a usage error: a
// mistyped option must not start a full run with the defaults.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pendra::bench {

class CommandLine {
 public:
  // about: what the benchmark measures and against which reference, shown
  // under the usage line.
  CommandLine(std::string program, std::string about);

  // --name N, a whole number >= minimum: full is the figure of a real run,
  // smoke the one --smoke takes.
  void Count(const std::string& name, long full, long smoke, const std::string& help, long minimum = 1);
  // --pairs N: how many alternated pairs of the measured job and its
  // reference a run takes (one with --smoke); the medians over them count.
  void PairsOption(long full);
  // --name VALUE, empty unless given.
  void Text(const std::string& name, const std::string& help);
  // --name, off unless given.
  void Flag(const std::string& name, const std::string& help);

  // Prints the usage and exits 0 for --help; prints it to stderr and exits
  // 2 for an option it does not know, a missing or malformed value or a
  // stray argument.
  void Parse(int argc, char** argv);

  long CountOf(const std::string& name) const;
  int PairCount() const { return static_cast<int>(CountOf("pairs")); }
  const std::string& TextOf(const std::string& name) const;
  bool FlagOf(const std::string& name) const;
  bool Smoke() const { return smoke_; }

 private:
  enum class Kind { Count, Text, Flag };
  struct Option {
    Kind kind;
    std::string help;
    long full = 0, smoke = 0, minimum = 0;
    std::string value;
    bool given = false;
  };
  std::string Usage() const;
  [[noreturn]] void UsageError(const std::string& why) const;

  std::string program_, about_;
  std::vector<std::string> order_;
  std::map<std::string, Option> options_;
  bool smoke_ = false;
};

}  // namespace pendra::bench
