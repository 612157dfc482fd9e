// Where the output dialog opens and what becomes of the name chosen in it.
//
// Installed from the package the base folder is not the user's to write
// in, so the dialog opens there only where the user can write; else in the
// user's documents folder (XDG), else at home. A name without extension
// gets ".xls", the format the dialog's filter shows; the workbook is saved
// in the format its extension names, and only those the spreadsheet layer
// writes are accepted.
#pragma once

#include <QString>

#include "Messages.h"

namespace pendra::app {

inline constexpr const char* kOutputFormatRefused = schedule::msg::kOutputFormatRefused;

// The base folder when writable, else the documents folder when it exists,
// else the home folder.
QString OutputDialogFolder(const QString& baseFolder);

// The path with ".xls" added when its file name has no extension.
QString WithWorkbookExtension(const QString& path);

// True for .xls, .xlsx and .ods, in any case (excel::IsWorkbookFormat).
bool IsWorkbookFormat(const QString& path);

}  // namespace pendra::app
