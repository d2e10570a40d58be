#include "app/EntryDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <array>
#include <utility>

#include "app/Seam.h"
#include "texture/PvrChunk.h"
#include "texture/TextureDetails.h"

namespace EntryDialogs {
namespace {

// The data formats the codec encodes, each named without mipmaps.
constexpr std::array<uint8_t, 5> kDataFormats{PvrFormat::kTwiddled, PvrFormat::kRectangle,
                                              PvrFormat::kRectangularTwiddled, PvrFormat::kVq,
                                              PvrFormat::kSmallVq};

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A combo box of pixel formats, or of data formats, each item holding its code. A code the
// list lacks (a texture Quarnel does not encode) is offered too, so that it can stay.
QComboBox* FormatBox(QWidget* parent, bool pixel, std::optional<uint8_t> current, bool automatic) {
  auto* box = new QComboBox(parent);
  if (automatic) box->addItem(QStringLiteral("Automatic"));
  auto name = [pixel](uint8_t code) {
    return pixel ? TextureDetails::PixelFormatName(code) : TextureDetails::DataFormatName(code);
  };
  auto offer = [&](uint8_t code) {
    if (box->findData(code) < 0) box->addItem(Text(name(code)), code);
  };
  if (pixel) {  // bump maps are shown, never encoded: offered only as a texture's own
    for (uint8_t code = 0; code < PvrFormat::kPixelFormatCount; ++code)
      if (code != PvrFormat::kBumpMap) offer(code);
  } else {
    for (uint8_t code : kDataFormats) offer(code);
  }
  if (current) {
    offer(*current);
    box->setCurrentIndex(box->findData(*current));
  }
  return box;
}

std::optional<uint8_t> CodeOf(const QComboBox* box) {
  const QVariant code = box->currentData();
  if (!code.isValid()) return std::nullopt;
  return uint8_t(code.toUInt());
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

std::optional<FormatChoice::Choice> ShowFormatsDialog(QWidget* owner) {
  QDialog dialog(owner);
  dialog.setWindowTitle(QStringLiteral("Add Textures"));
  auto* form = new QFormLayout(&dialog);
  QComboBox* pixel = FormatBox(&dialog, true, std::nullopt, true);
  QComboBox* data = FormatBox(&dialog, false, std::nullopt, true);
  auto* mipmaps = new QCheckBox(QStringLiteral("Mipmaps"), &dialog);
  mipmaps->setTristate(true);
  mipmaps->setCheckState(Qt::PartiallyChecked);
  mipmaps->setToolTip(QStringLiteral(
      "Half checked: mipmaps for square textures whose side is a power of two, as the data format allows"));
  form->addRow(QStringLiteral("Pixel format:"), pixel);
  form->addRow(QStringLiteral("Data format:"), data);
  form->addRow(QString(), mipmaps);
  form->addRow(OkCancel(&dialog));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  FormatChoice::Choice choice{CodeOf(pixel), CodeOf(data), std::nullopt};
  if (mipmaps->checkState() != Qt::PartiallyChecked) choice.mipmaps = mipmaps->checkState() == Qt::Checked;
  return choice;
}

std::optional<BatchFiles::SizeChoice> ShowSizeQuestion(QWidget* owner, const SizeQuestion& q) {
  auto size = [](int32_t w, int32_t h) { return QStringLiteral("%1 x %2").arg(w).arg(h); };
  QMessageBox box(QMessageBox::Question, QStringLiteral("Another Size"),
                  QStringLiteral("%1 is %2 pixels, and the texture is %3.\n\nHow should it be imported?")
                      .arg(Text(q.picture), size(q.pictureWidth, q.pictureHeight),
                           size(q.textureWidth, q.textureHeight)),
                  QMessageBox::Cancel, owner);
  using BatchFiles::SizeChoice;
  const std::array<std::pair<QAbstractButton*, SizeChoice>, 3> answers{{
      {box.addButton(QStringLiteral("&Keep the texture's size"), QMessageBox::AcceptRole), SizeChoice::Keep},
      {box.addButton(QStringLiteral("&Take the picture's size"), QMessageBox::AcceptRole), SizeChoice::Picture},
      {box.addButton(QStringLiteral("&Scale to the texture's size"), QMessageBox::AcceptRole), SizeChoice::Scale},
  }};
  box.setDefaultButton(static_cast<QPushButton*>(answers[2].first));
  box.exec();
  for (const auto& [button, choice] : answers)
    if (box.clickedButton() == button) return choice;
  return std::nullopt;
}

std::optional<std::string> ShowNameQuestion(QWidget* owner, const std::string& current) {
  bool ok = false;
  const QString name = QInputDialog::getText(
      owner, QStringLiteral("Rename"), QStringLiteral("New name (at most 27 letters, digits or ASCII signs):"),
      QLineEdit::Normal, Text(current), &ok);
  if (!ok) return std::nullopt;
  return name.toStdString();
}

std::optional<Properties> ShowPropertiesDialog(QWidget* owner, const Properties& now) {
  QDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("propertiesDialog"));
  dialog.setWindowTitle(QStringLiteral("Properties of %1").arg(Text(now.name)));
  auto* form = new QFormLayout(&dialog);
  auto* name = new QLineEdit(Text(now.name), &dialog);
  name->setMaxLength(64);  // the core names what is too long; a cap keeps pastes sane
  auto* index = new QLineEdit(now.globalIndex ? QString::number(*now.globalIndex) : QString(), &dialog);
  index->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,10}")), index));
  QComboBox* pixel = FormatBox(&dialog, true, now.pixelFormat, false);
  QComboBox* data = FormatBox(&dialog, false, now.dataFormat, false);
  auto* mipmaps = new QCheckBox(QStringLiteral("Mipmaps"), &dialog);
  mipmaps->setChecked(now.mipmaps);
  form->addRow(QStringLiteral("&Name:"), name);
  form->addRow(QStringLiteral("&Global index:"), index);
  form->addRow(QStringLiteral("Size:"), new QLabel(QStringLiteral("%1 x %2").arg(now.width).arg(now.height), &dialog));
  form->addRow(QStringLiteral("&Pixel format:"), pixel);
  form->addRow(QStringLiteral("&Data format:"), data);
  form->addRow(QString(), mipmaps);
  QDialogButtonBox* buttons = OkCancel(&dialog);
  form->addRow(buttons);
  // Ten digits may still exceed 32 bits; Ok then stays unavailable rather than wrap.
  auto indexFits = [index] { return index->text().isEmpty() || index->text().toULongLong() <= UINT32_MAX; };
  QObject::connect(index, &QLineEdit::textChanged, &dialog,
                   [&] { buttons->button(QDialogButtonBox::Ok)->setEnabled(indexFits()); });
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  Properties chosen = now;
  chosen.name = name->text().toStdString();
  chosen.globalIndex = index->text().isEmpty() ? now.globalIndex : std::optional<uint32_t>(index->text().toUInt());
  chosen.pixelFormat = CodeOf(pixel).value_or(now.pixelFormat);
  chosen.dataFormat = CodeOf(data).value_or(now.dataFormat);
  chosen.mipmaps = mipmaps->isChecked();
  return chosen;
}

}  // namespace

std::optional<FormatChoice::Choice> AskFormats(QWidget* owner) {
  if (const Hooks& hooks = app::InstalledSeam<Hooks>(); hooks.formats) return hooks.formats();
  return ShowFormatsDialog(owner);
}

std::optional<BatchFiles::SizeChoice> AskSize(QWidget* owner, const SizeQuestion& question) {
  if (const Hooks& hooks = app::InstalledSeam<Hooks>(); hooks.size) return hooks.size(question);
  return ShowSizeQuestion(owner, question);
}

std::optional<std::string> AskName(QWidget* owner, const std::string& current) {
  if (const Hooks& hooks = app::InstalledSeam<Hooks>(); hooks.name) return hooks.name(current);
  return ShowNameQuestion(owner, current);
}

std::optional<Properties> AskProperties(QWidget* owner, const Properties& now) {
  if (const Hooks& hooks = app::InstalledSeam<Hooks>(); hooks.properties) return hooks.properties(now);
  return ShowPropertiesDialog(owner, now);
}

Hooks SetHooks(Hooks hooks) { return app::ReplaceSeam(std::move(hooks)); }

}  // namespace EntryDialogs
