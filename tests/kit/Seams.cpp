#include "kit/Seams.h"

#include "archive/ParseFuncts.h"

namespace testkit {

AttachedWindow::AttachedWindow() {
  ParseFuncts::AttachWindow(this);
  ParseFuncts::CloseArchive();
  ParseFuncts::Textures.clear();
  ParseFuncts::Textures.resize(1);
  ParseFuncts::ArchiveHeader.clear();
}

AttachedWindow::~AttachedWindow() {
  ParseFuncts::CloseArchive();
  ParseFuncts::AttachWindow(nullptr);
}

}  // namespace testkit
