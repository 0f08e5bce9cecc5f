#include "client/app/qt_prompt.h"

#include <QMessageBox>
#include <cstdio>

#include "viewer/qt/prompter.h"

namespace zv::client::app {

PromptAnswer QtPrompt::Show(std::string_view text, std::string_view title, PromptIcon icon, PromptButtons buttons) {
  // Every message also goes to the standard error, so an unattended run's outcome stays
  // readable in its log.
  std::fprintf(stderr, "ostrane: %.*s: %.*s\n", static_cast<int>(title.size()), title.data(),
               static_cast<int>(text.size()), text.data());
  QMessageBox box(owner_);
  box.setFont(viewer::ViewerFont());
  box.setWindowTitle(QString::fromUtf8(title.data(), static_cast<int>(title.size())));
  box.setText(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
  switch (icon) {
    case PromptIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case PromptIcon::kExclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case PromptIcon::kStop:
      box.setIcon(QMessageBox::Critical);
      break;
    case PromptIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
  }
  if (buttons != PromptButtons::kOk) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(buttons == PromptButtons::kYesNoDefaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? PromptAnswer::kYes : PromptAnswer::kNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return PromptAnswer::kOk;
}

}  // namespace zv::client::app
