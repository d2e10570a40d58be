// The window's edits as steps on a QUndoStack. A step holds, for each entry it changed, the
// one value that differs between before and after (a texture, a name, a global index, a whole
// entry while it is out of the archive) and swaps it with the archive's on every undo and
// redo. So a step never holds a copy of the archive, and undoing every step gives back the
// archive as read, down to the bytes Save writes (Archive::Layout).
//
// A step is made before its edit, told what the edit is about to change or has changed, and
// pushed once the edit went through: the stack's first redo() then does nothing.
#pragma once

#include <QUndoCommand>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "archive/Archive.h"

class ArchiveEdit : public QUndoCommand {
 public:
  // Called after every undo and redo with the row the step changed last, for the window to
  // show it; the archive's rows may have come, gone or moved.
  using Changed = std::function<void(size_t row)>;

  // A step on the archive as it stands, named for the Edit menu ("Rename one").
  ArchiveEdit(Archive& archive, const QString& text, Changed changed);

  // Before the edit: what it is going to change in the entry at row.
  void keepTexture(size_t row);  // an import or a conversion
  void keepName(size_t row);
  void keepGlobalIndex(size_t row);
  void keepEntry(size_t row);  // the entry a removal is about to take out
  // After the edit.
  void keepTexture(size_t row, Texture before);  // a texture already replaced
  void noteInserted(size_t row);
  void noteMoved(size_t from, size_t to);
  // Ends the step once its edit went through: the layout after it.
  void finish();

  bool changesNothing() const { return changes_.empty(); }
  // While the step is done, the texture its entry held before it at row, if it changed one.
  const Texture* textureBefore(size_t row) const;

  void undo() override;
  void redo() override;

 private:
  struct TextureSwap {
    size_t row;
    Texture other;
  };
  struct NameSwap {
    size_t row;
    std::string other;
  };
  struct IndexSwap {
    size_t row;
    std::optional<uint32_t> globalIndex;
    std::vector<uint8_t> indexChunk;
  };
  // An entry that is in the archive on one side of the step and out of it on the other; the
  // step holds it while it is out.
  struct Presence {
    size_t row;
    std::optional<Archive::Entry> held;
  };
  struct MoveRow {
    size_t from, to;
  };
  using Change = std::variant<TextureSwap, NameSwap, IndexSwap, Presence, MoveRow>;

  // Built in place: GCC takes a moved variant of these for one read uninitialised.
  template <class Kind>
  void add(Kind change) {
    changes_.emplace_back(std::in_place_type<Kind>, std::move(change));
  }
  void apply(Change& change, bool undoing);
  void goTo(bool undoing);

  Archive& archive_;
  Changed changed_;
  std::vector<Change> changes_;
  Archive::Layout before_, after_;
  bool done_ = true;  // the edit was made before the step was pushed
};
