#include "Startup.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace pendra::app {

bool ConfigureApplication(QApplication& app) {
  QApplication::setApplicationName(QString::fromLatin1(kProgramName));
  QApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));

  // Without the substitution fontconfig answers with a Latin font and the
  // Japanese glyphs fall back to a fixed-pitch gothic.
  const QStringList substitutes{QString::fromUtf8(kSubstituteFamily)};
  QFont::insertSubstitutions(QString::fromUtf8(kWindowFontFamily), substitutes);
  QFont::insertSubstitutions(QStringLiteral("MS PGothic"), substitutes);
  // Qt's own dialogs and the message boxes are windows of their own and
  // take the application's font, not the main window's: under ja_JP
  // fontconfig's default for them is a fixed-pitch gothic.
  QFont dialogs = QApplication::font();
  dialogs.setFamilies({QString::fromUtf8(kWindowFontFamily)});
  QApplication::setFont(dialogs);

  // The file dialog and the Yes/No buttons are Qt's: they speak Japanese
  // only with Qt's own translation loaded, whatever the user's locale.
  auto* translator = new QTranslator(&app);
  const bool translated = translator->load(
      QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (translated) {
    QApplication::installTranslator(translator);
  } else {
    delete translator;
  }

  QApplication::setWindowIcon(QIcon(QStringLiteral(":/pendra/pendra-icon.xpm")));
  return translated;
}

}  // namespace pendra::app
