#include "OutputTarget.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include "excel/WorkbookFormat.h"

namespace pendra::app {

namespace {

bool WritableFolder(const QString& folder) {
  return !folder.isEmpty() && QFileInfo(folder).isDir() &&
         ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

}  // namespace

QString OutputDialogFolder(const QString& baseFolder) {
  if (WritableFolder(baseFolder)) return baseFolder;
  QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (WritableFolder(documents)) return documents;
  return QDir::homePath();
}

QString WithWorkbookExtension(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  if (name.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
  // "result." has an empty extension too: it gets the extension, not a
  // second dot.
  return path + (path.endsWith(QLatin1Char('.')) ? QStringLiteral("xls") : QStringLiteral(".xls"));
}

bool IsWorkbookFormat(const QString& path) { return excel::IsWorkbookFormat(path.toStdString()); }

}  // namespace pendra::app
