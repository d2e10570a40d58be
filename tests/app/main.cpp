#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/Settings.h"

namespace {

// The offscreen platform says, for every window, which window-manager features it lacks;
// that says nothing about the tests, so only other messages are printed.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith(QLatin1String("This plugin does not support"))) return;
  fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

}  // namespace

int main(int argc, char* argv[]) {
  // The tests drive real widgets without a screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietOffscreenNotes);
  // Settings go to a test folder, never the user's, and start empty.
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  const QTemporaryDir settings;
  Settings::UseFolder(settings.path());
  Settings::Clear();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
