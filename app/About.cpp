#include "app/About.h"

#include <QtGlobal>

#include "quarnel/Version.h"
#include "texture/PngFile.h"

QString AboutText() {
  return QStringLiteral(
             "Quarnel %1\n"
             "Views the textures of PVM archives, exports them, and imports edited pictures "
             "back.\n"
             "Released under the MIT licence. Copyright 2026 The Quarnel developers.\n"
             "Qt %2, libpng %3")
      .arg(QStringLiteral(QUARNEL_VERSION), QString::fromLatin1(qVersion()),
           QString::fromStdString(PngFile::LibraryVersion()));
}
