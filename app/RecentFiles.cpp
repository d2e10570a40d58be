#include "app/RecentFiles.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <utility>

#include "app/Settings.h"

RecentFiles::RecentFiles(QMenu* menu, QAction* clear, Opener open)
    : menu_(menu), clear_(clear), open_(std::move(open)) {
  QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this] { fillMenu(); });
  fillMenu();
}

QStringList RecentFiles::paths() const {
  QStringList paths = Settings::RecentFiles();
  paths.removeAll(QString());
  paths.removeDuplicates();
  while (paths.size() > kMaxFiles) paths.removeLast();
  return paths;
}

void RecentFiles::add(const std::string& path) {
  // The same file reached by another relative path is still one entry.
  const QString whole = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
  QStringList list = paths();
  list.removeAll(whole);
  list.prepend(whole);
  while (list.size() > kMaxFiles) list.removeLast();
  Settings::SetRecentFiles(list);
}

void RecentFiles::clear() {
  Settings::SetRecentFiles({});
  fillMenu();  // not from one of the file items, so none is deleted while it runs
}

void RecentFiles::fillMenu() {
  menu_->clear();  // the clear action is owned by the window, so it survives this
  const QStringList list = paths();
  for (qsizetype i = 0; i < list.size(); ++i) {
    const QString& path = list[i];
    // "&1 /games/OBJ_TEX.PVM": 1 to 9 and then 0 as keys; '&' in a path stays a letter.
    const QString number = QString::number(i + 1);
    const QString key = number.left(number.size() - 1) + '&' + number.right(1);
    QAction* action = menu_->addAction(key + ' ' + QString(path).replace('&', QLatin1String("&&")));
    action->setObjectName(QStringLiteral("openRecentFile"));
    action->setData(path);
    action->setEnabled(QFileInfo(path).isFile());
    const std::string chosen = path.toStdString();
    QObject::connect(action, &QAction::triggered, menu_, [this, chosen] { open_(chosen); });
  }
  if (!list.isEmpty()) menu_->addSeparator();
  menu_->addAction(clear_);
  clear_->setEnabled(!list.isEmpty());
}
