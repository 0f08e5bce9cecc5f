// The injected prompt interface: every message the client core shows goes through it, so
// windows stay thin and tests record what would be shown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zv::client {

enum class PromptIcon { kInformation, kExclamation, kStop, kQuestion };
// kYesNoDefaultNo: a question whose safe answer No is the one Enter gives.
enum class PromptButtons { kOk, kYesNo, kYesNoDefaultNo };
enum class PromptAnswer { kOk, kYes, kNo };

class Prompt {
 public:
  virtual ~Prompt() = default;
  // Takes the text, the title, the icon and the buttons; gives the user's answer.
  virtual PromptAnswer Show(std::string_view text, std::string_view title, PromptIcon icon,
                            PromptButtons buttons = PromptButtons::kOk) = 0;
};

// A prompt that remembers what it was asked and gives a fixed answer to questions.
class RecordingPrompt : public Prompt {
 public:
  struct Shown {
    std::string text, title;
    PromptIcon icon;
    PromptButtons buttons = PromptButtons::kOk;
  };
  PromptAnswer answer = PromptAnswer::kYes;
  std::vector<Shown> shown;
  PromptAnswer Show(std::string_view text, std::string_view title, PromptIcon icon, PromptButtons buttons) override {
    shown.push_back({std::string(text), std::string(title), icon, buttons});
    return buttons == PromptButtons::kOk ? PromptAnswer::kOk : answer;
  }
};

}  // namespace zv::client
