// The table-driven runner of the bad-input tests: each input gets a fresh
// demo base folder, is prepared there, given to pendra, and then checked:
// exit status, message, and the databases, which must be unchanged unless
// the input's own check says how they changed.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ReliabilitySupport.h"
#include "ScheduleTestSupport.h"

namespace pendra::reliability {

struct InputFolder {
  schedule::test::BaseFolder base;
  std::string TagDb() const { return base.Path() + "/VL_Database/Velmora.mdb"; }
  std::string ScheduleDb() const { return base.ScheduleDb(); }
  // Query results as "a|b" rows, read directly with SQLite.
  std::vector<std::string> Schedule(const std::string& sql) const { return schedule::test::Rows(ScheduleDb(), sql); }
  std::vector<std::string> Tags(const std::string& sql) const { return schedule::test::Rows(TagDb(), sql); }
};

enum class Changes { None, Schedule, Tags };

struct InputCase {
  std::string name;
  // Makes the input in the folder; returns the command and its argument
  // ("--base" and "--yes" are added).
  std::function<std::vector<std::string>(InputFolder&)> prepare;
  int exitCode;
  // Text expected at the start of standard error ("" : standard error empty).
  std::string messageStart = {};
  // Further text expected somewhere in standard error.
  std::vector<std::string> messageHas = {};
  Changes changes = Changes::None;
  // Checks of the changed database (and of anything else the input leaves).
  std::function<void(InputFolder&)> check = {};
};

// Runs every case; returns how many were tried.
inline int TryInputs(const std::vector<InputCase>& cases) {
  int tried = 0;
  for (const auto& input : cases) {
    SCOPED_TRACE(input.name);
    InputFolder folder;
    const auto scheduleBefore = ScheduleDump(folder.ScheduleDb());
    const auto tagsBefore = Dump(folder.TagDb(), "M_TAG");
    std::vector<std::string> args = input.prepare(folder);
    args.insert(args.end(), {"--yes", "--base", folder.base.Path()});
    cli::test::PendraProcess run(cli::test::Launch{"", args, {}, false, {}, {}});
    const cli::test::Outcome outcome = run.Wait(std::chrono::seconds(120));
    ++tried;
    EXPECT_EQ(outcome.exitCode, input.exitCode) << outcome.out << outcome.err;
    if (input.messageStart.empty()) {
      EXPECT_EQ(outcome.err, "");
    } else {
      EXPECT_EQ(outcome.err.rfind("pendra: " + input.messageStart, 0), 0u) << outcome.err;
    }
    for (const auto& text : input.messageHas) EXPECT_NE(outcome.err.find(text), std::string::npos) << text << " not in: " << outcome.err;
    EXPECT_TRUE(OfficesGone(run.Pid(), 3000)) << "an office is left";
    // A database the case changes (or takes away) is the case's own check.
    if (input.changes != Changes::Schedule) {
      EXPECT_EQ(ScheduleDump(folder.ScheduleDb()), scheduleBefore) << "the schedule tables changed";
      EXPECT_EQ(LookAt(folder.ScheduleDb()).integrity, "ok");
    }
    if (input.changes != Changes::Tags) {
      EXPECT_EQ(Dump(folder.TagDb(), "M_TAG"), tagsBefore) << "M_TAG changed";
      EXPECT_EQ(LookAt(folder.TagDb()).integrity, "ok");
    }
    if (input.check) input.check(folder);
    const std::string firstLine = outcome.err.substr(0, outcome.err.find('\n'));
    std::cout << "  input: " << input.name << " -> exit " << outcome.exitCode
              << (firstLine.empty() ? std::string() : ", " + firstLine.substr(0, 120)) << std::endl;
  }
  return tried;
}

}  // namespace pendra::reliability
