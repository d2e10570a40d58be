// Pictures that leave or enter the window other than through a file dialog: the clipboard,
// and a texture dragged out of the list onto a file manager.
#pragma once

#include <QImage>
#include <QString>
#include <memory>
#include <string>

#include "texture/Error.h"
#include "texture/Image.h"
#include "texture/PictureFiles.h"

class Archive;
class QMimeData;
class QTemporaryDir;

namespace PictureTransfer {

// A copy of the picture, RGBA8888 with its alpha, for the clipboard.
QImage ToQImage(const Image& picture);

// The clipboard's picture as an import reads a file; refused (in the words the window shows)
// when there is none, or when it is larger than any picture Quarnel holds.
Expected<PictureFiles::Picture> FromClipboard(const QImage& image);

}  // namespace PictureTransfer

// Textures dragged out of the entry list: each goes as a PNG named as export-all names it
// (NAME.png, or @ROW.png for a name no file may have), written into a private temporary
// folder that lives as long as this does, and offered to the drop target as its URL.
class TextureDrag {
 public:
  TextureDrag();
  ~TextureDrag();

  // The drag of the archive's row; nullptr when its texture cannot be decoded or its file
  // cannot be written, and no drag starts.
  QMimeData* mimeData(const Archive& archive, size_t row);

 private:
  std::unique_ptr<QTemporaryDir> folder_;  // made at the first drag
};
