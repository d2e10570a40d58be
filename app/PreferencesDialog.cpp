#include "app/PreferencesDialog.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <utility>

#include "app/FileDialogs.h"
#include "app/Seam.h"

namespace PreferencesDialog {
namespace {

// A button that shows its colour and lets the user choose another.
class ColourButton : public QPushButton {
 public:
  ColourButton(QColor colour, const QString& title, QWidget* parent)
      : QPushButton(parent), colour_(colour) {
    setObjectName(title);
    paintSwatch();
    connect(this, &QPushButton::clicked, this, [this, title] {
      const QColor chosen = QColorDialog::getColor(colour_, window(), title);
      if (!chosen.isValid()) return;  // cancelled
      colour_ = chosen;
      paintSwatch();
    });
  }
  QColor colour() const { return colour_; }

 private:
  void paintSwatch() {
    QPixmap swatch(32, 16);
    swatch.fill(colour_);
    setIcon(swatch);
    setIconSize(swatch.size());
    setText(colour_.name());
  }
  QColor colour_;
};

std::optional<Settings::Preferences> ShowDialog(QWidget* owner, const Settings::Preferences& now) {
  QDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("preferencesDialog"));
  dialog.setWindowTitle(QStringLiteral("Preferences"));
  auto* form = new QFormLayout(&dialog);

  auto* program = new QLineEdit(now.editorProgram, &dialog);
  program->setPlaceholderText(QStringLiteral("The desktop's default image editor"));
  auto* browse = new QPushButton(QStringLiteral("&Browse..."), &dialog);
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
    const std::string chosen = FileDialogs::Ask(
        {&dialog, FileDialogs::Kind::Open, "Choose Image Editor", {{"Programs", "*"}}, "/usr/bin/", ""});
    if (!chosen.empty()) program->setText(QString::fromStdString(chosen));
  });
  auto* programRow = new QHBoxLayout;
  programRow->addWidget(program, 1);
  programRow->addWidget(browse);
  form->addRow(QStringLiteral("&Image editor:"), programRow);

  auto* thumbnails = new QSpinBox(&dialog);
  // 0 is shown as "None"; 1 to 15 are stored as the smallest size.
  thumbnails->setRange(0, Settings::kMaxThumbnail);
  thumbnails->setSpecialValueText(QStringLiteral("None"));
  thumbnails->setSuffix(QStringLiteral(" pixels"));
  thumbnails->setValue(now.thumbnailSize);
  form->addRow(QStringLiteral("&Thumbnail size:"), thumbnails);

  auto* light = new ColourButton(now.checkerLight, QStringLiteral("Checkerboard, First Colour"), &dialog);
  auto* dark = new ColourButton(now.checkerDark, QStringLiteral("Checkerboard, Second Colour"), &dialog);
  auto* colours = new QHBoxLayout;
  colours->addWidget(light);
  colours->addWidget(dark);
  colours->addStretch(1);
  form->addRow(QStringLiteral("Checkerboard behind alpha:"), colours);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return Settings::Preferences{program->text().trimmed(), thumbnails->value(), light->colour(), dark->colour()};
}

}  // namespace

std::optional<Settings::Preferences> Ask(QWidget* owner, const Settings::Preferences& now) {
  if (const Hook& hook = app::InstalledSeam<Hook>()) return hook(now);
  return ShowDialog(owner, now);
}

Hook SetHook(Hook hook) { return app::ReplaceSeam(std::move(hook)); }

}  // namespace PreferencesDialog
