#include "CommonDialog.h"

#include <QFileDialog>

#include "core/PlatformError.h"

namespace pendra::app {

std::optional<QString> ShowQtOpenDialog(QWidget* parent, const OpenDialogRequest& request) {
  QFileDialog dialog(parent, request.title, request.initDir);
  dialog.setObjectName(QStringLiteral("cdlDb"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a new name is fine
  dialog.setNameFilter(request.filter);
  dialog.setWindowModality(Qt::ApplicationModal);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.first();
}

void CommonDialog::ShowOpen(QWidget* parent) {
  const OpenDialogRequest request{DialogTitle, Filter, initDir_, fileName_};
  const std::optional<QString> chosen = dialog_(parent, request);
  if (!chosen) {
    if (CancelError) Raise(err::kCancel);
    return;
  }
  fileName_ = *chosen;
}

}  // namespace pendra::app
