// cdlDb: the window's file dialog control. It holds the dialog's settings
// and the last file name and initial folder set on it for the whole run;
// ShowOpen() shows the modal open-file dialog. The dialog itself is a
// replaceable function, so tests can answer it the way a person would.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace pendra::app {

struct OpenDialogRequest {
  QString title;
  QString filter;
  QString initDir;    // empty: wherever the dialog starts on its own
  QString fileName;   // proposed in the name field
};

// Returns the chosen file's full path, or nothing on Cancel.
using OpenDialogFunction =
    std::function<std::optional<QString>(QWidget* parent, const OpenDialogRequest&)>;

// Qt's own open-file dialog. It accepts a name that does not exist yet,
// since the workbook output writes a new file under the chosen name.
std::optional<QString> ShowQtOpenDialog(QWidget* parent, const OpenDialogRequest& request);

class CommonDialog {
 public:
  CommonDialog() = default;

  // Design-time settings.
  QString DialogTitle = QStringLiteral("タグマスター情報");
  QString Filter = QStringLiteral("*.xls");
  bool CancelError = true;  // Cancel fails with 32755

  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name) { fileName_ = name; }
  void SetInitDir(const QString& folder) { initDir_ = folder; }
  QString InitDir() const { return initDir_; }

  // Shows the modal dialog. A choice leaves its full path in FileName();
  // Cancel throws PlatformError 32755 and leaves FileName() unchanged.
  void ShowOpen(QWidget* parent);

  void SetDialog(OpenDialogFunction dialog) { dialog_ = std::move(dialog); }

 private:
  QString fileName_;
  QString initDir_;
  OpenDialogFunction dialog_ = ShowQtOpenDialog;
};

}  // namespace pendra::app
