#include "MessageBox.h"

#include <QMessageBox>

namespace pendra::app {

MsgBoxResult ShowQtMessageBox(QWidget* parent, const QString& prompt, MsgBoxButtons buttons,
                              const QString& title) {
  const bool yesNo = buttons != MsgBoxButtons::OkOnly;
  QMessageBox box(QMessageBox::NoIcon, title, prompt,
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("MsgBox"));
  box.setDefaultButton(buttons == MsgBoxButtons::YesNo            ? QMessageBox::Yes
                       : buttons == MsgBoxButtons::YesNoDefaultNo ? QMessageBox::No
                                                                  : QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  const int answer = box.exec();
  if (!yesNo) return MsgBoxResult::Ok;
  // Escape and the close box answer No, the box's escape button.
  return answer == QMessageBox::Yes ? MsgBoxResult::Yes : MsgBoxResult::No;
}

}  // namespace pendra::app
