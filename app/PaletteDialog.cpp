#include "app/PaletteDialog.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QString>
#include <utility>

#include "app/Seam.h"

namespace PaletteDialog {

std::optional<int> AskBank(QWidget* owner, const std::string& palette, int now) {
  if (const Hook& hook = app::InstalledSeam<Hook>()) return hook(palette, now);
  bool ok = false;
  const QString file = QFileInfo(QString::fromStdString(palette)).fileName();
  const int bank = QInputDialog::getInt(owner, QStringLiteral("Palette Bank"),
                                        QStringLiteral("The bank of %1 that palettized textures read:").arg(file),
                                        now, 0, 63, 1, &ok);
  if (!ok) return std::nullopt;
  return bank;
}

Hook SetHook(Hook hook) { return app::ReplaceSeam(std::move(hook)); }

}  // namespace PaletteDialog
