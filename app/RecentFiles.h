// File > Open Recent: the last kMaxFiles archives and packs opened or saved, most recent
// first, kept in Settings so that the next run offers them too. A file that has gone since
// is still listed, greyed out, so that the list does not change its order under the user;
// Clear forgets them all.
#pragma once

#include <QStringList>
#include <functional>
#include <string>

class QAction;
class QMenu;

class RecentFiles {
 public:
  static constexpr int kMaxFiles = 10;
  using Opener = std::function<void(const std::string& path)>;

  // Fills `menu` with the remembered files, then `clear` (which the caller connects to
  // clear()). Choosing a file hands its path to `open`. The menu is filled again each time
  // it is about to show, so that files deleted meanwhile are greyed; add() leaves the menu
  // alone, since it may run from the very item that would be deleted.
  RecentFiles(QMenu* menu, QAction* clear, Opener open);

  // Puts the file first, once; the oldest beyond kMaxFiles drops off.
  void add(const std::string& path);
  void clear();
  QStringList paths() const;

 private:
  void fillMenu();

  QMenu* menu_;
  QAction* clear_;
  Opener open_;
};
