#include "FormFixture.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include "WindowPos.h"

namespace pendra::app::test {

void FormFixture::SetUp() {
  ASSERT_TRUE(baseFolder.isValid());
  form = std::make_unique<Form1>();
  form->SetBaseFolder(baseFolder.path());
  form->SetQuitFunction([this] { ++quits; });
  form->SetMessageBox([this](QWidget*, const QString& prompt, MsgBoxButtons buttons,
                             const QString& title) {
    messages.push_back({prompt, buttons, title});
    if (!messageAnswers.empty()) {
      const MsgBoxResult answer = messageAnswers.front();
      messageAnswers.pop_front();
      return answer;
    }
    return buttons == MsgBoxButtons::OkOnly ? MsgBoxResult::Ok : MsgBoxResult::Yes;
  });
  form->cdlDb.SetDialog([this](QWidget*, const OpenDialogRequest& request) {
    dialogs.push_back({request, IsTopmost(form.get())});
    if (duringDialog) duringDialog();
    std::optional<QString> answer;  // Cancel unless scripted otherwise
    if (!dialogAnswers.empty()) {
      answer = dialogAnswers.front();
      dialogAnswers.pop_front();
    }
    return answer;
  });
  form->SetJobs(Jobs{
      [this](UserInterface& ui) {
        ++tagImports;
        if (tagImportBody) tagImportBody(ui);
      },
      [this](UserInterface& ui) {
        ++expansions;
        if (expansionBody) expansionBody(ui);
      },
      [this](UserInterface& ui, const std::string& target) {
        outputs.push_back(target);
        topmostDuringOutput.push_back(IsTopmost(form.get()));
        if (outputBody) outputBody(ui);
      }});
}

void FormFixture::TearDown() {
  form.reset();
  while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
  QCoreApplication::processEvents();
}

}  // namespace pendra::app::test
