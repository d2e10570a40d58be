#include "app/EditHistory.h"

#include <utility>

ArchiveEdit::ArchiveEdit(Archive& archive, const QString& text, Changed changed)
    : QUndoCommand(text), archive_(archive), changed_(std::move(changed)), before_(archive.CurrentLayout()) {}

void ArchiveEdit::keepTexture(size_t row) { add(TextureSwap{row, archive_.Entries()[row].texture}); }

void ArchiveEdit::keepTexture(size_t row, Texture before) { add(TextureSwap{row, std::move(before)}); }

void ArchiveEdit::keepName(size_t row) { add(NameSwap{row, archive_.Entries()[row].name}); }

void ArchiveEdit::keepGlobalIndex(size_t row) {
  const Archive::Entry& entry = archive_.Entries()[row];
  add(IndexSwap{row, entry.globalIndex, entry.indexChunk});
}

// Copied, not taken: the removal goes through the model, which tells the views.
void ArchiveEdit::keepEntry(size_t row) { add(Presence{row, archive_.Entries()[row]}); }

void ArchiveEdit::noteInserted(size_t row) { add(Presence{row, std::nullopt}); }

void ArchiveEdit::noteMoved(size_t from, size_t to) { add(MoveRow{from, to}); }

void ArchiveEdit::finish() { after_ = archive_.CurrentLayout(); }

const Texture* ArchiveEdit::textureBefore(size_t row) const {
  if (!done_) return nullptr;
  for (const Change& change : changes_)
    if (const auto* swap = std::get_if<TextureSwap>(&change); swap && swap->row == row) return &swap->other;
  return nullptr;
}

// Each change is its own inverse, but for a move's direction: a swap exchanges the value held
// with the archive's, an entry held goes in and one not held comes out.
void ArchiveEdit::apply(Change& change, bool undoing) {
  std::vector<Archive::Entry>& entries = archive_.Entries();
  if (auto* c = std::get_if<TextureSwap>(&change)) {
    std::swap(c->other, entries[c->row].texture);
  } else if (auto* c = std::get_if<NameSwap>(&change)) {
    std::swap(c->other, entries[c->row].name);
  } else if (auto* c = std::get_if<IndexSwap>(&change)) {
    std::swap(c->globalIndex, entries[c->row].globalIndex);
    std::swap(c->indexChunk, entries[c->row].indexChunk);
  } else if (auto* c = std::get_if<Presence>(&change)) {
    // Steps run in stack order, so the row is there (or free) exactly as when recorded.
    if (c->held) {
      archive_.PutBack(c->row, std::move(*c->held));
      c->held.reset();
    } else {
      c->held = std::move(*archive_.TakeOut(c->row));
    }
  } else if (auto* c = std::get_if<MoveRow>(&change)) {
    undoing ? archive_.Move(c->to, c->from) : archive_.Move(c->from, c->to);
  }
}

void ArchiveEdit::goTo(bool undoing) {
  if (undoing) {
    for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) apply(*change, true);
  } else {
    for (Change& change : changes_) apply(change, false);
  }
  archive_.RestoreLayout(undoing ? before_ : after_);
  done_ = !undoing;
  if (!changed_ || changes_.empty()) return;
  // The entry the user sees again is the one the step reached first or last.
  const Change& shown = undoing ? changes_.front() : changes_.back();
  if (const auto* move = std::get_if<MoveRow>(&shown)) {
    changed_(undoing ? move->from : move->to);
    return;
  }
  changed_(std::visit([](const auto& c) -> size_t {
    if constexpr (requires { c.row; }) return c.row;
    return 0;
  }, shown));
}

void ArchiveEdit::undo() { goTo(true); }

// The first redo comes from the push, after the edit was made.
void ArchiveEdit::redo() {
  if (done_) return;
  goTo(false);
}
