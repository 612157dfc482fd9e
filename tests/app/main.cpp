// One application object for every test, set up as the program sets itself
// up, on the offscreen platform unless another one is asked for.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "Startup.h"

namespace {

// The offscreen platform warns about every window operation it cannot do
// (raise, size hints); the rest goes out as usual.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))) return;
  fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Test discovery runs this binary without the tests' environment.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(QuietOffscreen);
  QApplication app(argc, argv);
  pendra::app::ConfigureApplication(app);
  return RUN_ALL_TESTS();
}
