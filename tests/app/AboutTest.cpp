// The About box's text: what a bug report copies out of it must name this build.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

#include "app/About.h"
#include "quarnel/Version.h"
#include "texture/PngFile.h"

namespace {

TEST(AboutText, NamesTheVersionTheLicenceAndTheLibrariesInUse) {
  const QStringList lines = AboutText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 4) << AboutText().toStdString();
  EXPECT_EQ(lines[0], QStringLiteral("Quarnel " QUARNEL_VERSION));
  EXPECT_TRUE(lines[2].contains(QStringLiteral("MIT licence"))) << lines[2].toStdString();
  // A version read from the loaded library, not an empty or placeholder string.
  const QRegularExpression version(QStringLiteral("^Qt \\d+\\.\\d+\\.\\d+, libpng \\d+\\.\\d+\\.\\d+$"));
  EXPECT_TRUE(version.match(lines[3]).hasMatch()) << lines[3].toStdString();
  EXPECT_TRUE(lines[3].contains(QString::fromLatin1(qVersion())));
  EXPECT_TRUE(lines[3].endsWith(QString::fromStdString(PngFile::LibraryVersion())));
}

}  // namespace
