#include "app/MessageBoxHook.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

namespace app {
namespace {

QMessageBox::Icon QtIcon(platform::Icon icon) {
  switch (icon) {
    case platform::Icon::Critical: return QMessageBox::Critical;
    case platform::Icon::Question: return QMessageBox::Question;
    case platform::Icon::Exclamation: return QMessageBox::Warning;
    case platform::Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

platform::Answer ShowMessageBox(const platform::Message& message) {
  QMessageBox box(QtIcon(message.icon), QString::fromStdString(message.title),
                  QString::fromStdString(message.text),
                  QMessageBox::NoButton, QApplication::activeWindow());
  switch (message.buttons) {
    case platform::Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setDefaultButton(QMessageBox::Ok);
      break;
    case platform::Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case platform::Buttons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Yes);
      break;
    case platform::Buttons::SaveDiscardCancel:
      box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
      box.setDefaultButton(QMessageBox::Save);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return platform::Answer::Yes;
    case QMessageBox::No: return platform::Answer::No;
    case QMessageBox::Cancel: return platform::Answer::Cancel;
    case QMessageBox::Ok: return platform::Answer::Ok;
    case QMessageBox::Save: return platform::Answer::Save;
    case QMessageBox::Discard: return platform::Answer::Discard;
    default: break;
  }
  return platform::SafeAnswer(message.buttons);  // closed without a button
}

}  // namespace

platform::MessageHook InstallMessageBoxHook() { return platform::SetMessageHook(ShowMessageBox); }

}  // namespace app
