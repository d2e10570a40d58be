#include "app/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <utility>

#include "app/Seam.h"

namespace MessageBoxes {
namespace {

QMessageBox::Icon QtIcon(Icon icon) {
  switch (icon) {
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

struct Choice {
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton preferred;
};

Choice ChoiceOf(Buttons buttons) {
  switch (buttons) {
    case Buttons::Ok: break;
    case Buttons::YesNo: return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes};
    case Buttons::YesNoCancel:
      return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes};
    case Buttons::SaveDiscardCancel:
      return {QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save};
  }
  return {QMessageBox::Ok, QMessageBox::Ok};
}

Answer ShowBox(const Message& message) {
  const Choice choice = ChoiceOf(message.buttons);
  QMessageBox box(QtIcon(message.icon), QString::fromStdString(message.title),
                  QString::fromStdString(message.text), choice.buttons,
                  QApplication::activeWindow());
  box.setDefaultButton(choice.preferred);
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Save: return Answer::Save;
    case QMessageBox::Discard: return Answer::Discard;
    default: break;
  }
  return SafeAnswer(message.buttons);
}

}  // namespace

Answer Show(Message message) {
  if (message.title.empty()) message.title = kAppTitle;
  if (const Hook& hook = app::InstalledSeam<Hook>()) return hook(message);
  return ShowBox(message);
}

void Show(const Error& error) { Show(Message{error.text, error.title, Buttons::Ok, error.icon}); }

Answer SafeAnswer(Buttons buttons) {
  switch (buttons) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    case Buttons::YesNoCancel:
    case Buttons::SaveDiscardCancel: return Answer::Cancel;
  }
  return Answer::Ok;
}

Hook SetHook(Hook hook) { return app::ReplaceSeam(std::move(hook)); }

}  // namespace MessageBoxes
