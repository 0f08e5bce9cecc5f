// The client's prompt shown as Qt message boxes (in the IPA face).
#pragma once

#include <QWidget>

#include "client/prompt.h"

namespace zv::client::app {

class QtPrompt : public Prompt {
 public:
  // Takes the owner of the boxes (may be null).
  explicit QtPrompt(QWidget* owner = nullptr) : owner_(owner) {}
  void set_owner(QWidget* owner) { owner_ = owner; }
  // Takes the text, title, icon and buttons; shows a modal box and gives the answer.
  PromptAnswer Show(std::string_view text, std::string_view title, PromptIcon icon, PromptButtons buttons) override;

 private:
  QWidget* owner_;
};

}  // namespace zv::client::app
