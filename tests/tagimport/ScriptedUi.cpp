#include "ScriptedUi.h"

#include <gtest/gtest.h>

namespace pendra::tagimport::testing {

MsgBoxResult ScriptedUi::MsgBox(std::string_view prompt, MsgBoxButtons buttons,
                                std::string_view title) {
  boxes.push_back({std::string(prompt), buttons, std::string(title)});
  if (buttons == MsgBoxButtons::OkOnly) return MsgBoxResult::Ok;
  if (answers.empty()) {
    ADD_FAILURE() << "unexpected question: " << prompt;
    return MsgBoxResult::No;
  }
  MsgBoxResult answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace pendra::tagimport::testing
