// The program's message box: modal, the given title, no icon, either an OK
// button or Yes and No with Yes as the default. Replaceable, so tests can
// answer it the way a person would.
#pragma once

#include <QString>

#include <functional>

#include "core/UserInterface.h"

class QWidget;

namespace pendra::app {

using MessageBoxFunction = std::function<MsgBoxResult(
    QWidget* parent, const QString& prompt, MsgBoxButtons buttons, const QString& title)>;

MsgBoxResult ShowQtMessageBox(QWidget* parent, const QString& prompt, MsgBoxButtons buttons,
                              const QString& title);

}  // namespace pendra::app
