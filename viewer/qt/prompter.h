// How the viewer's windows ask and tell the user: message boxes, the folder browser, the
// page-number and free-zoom dialogs and the other modal dialogs go through one replaceable
// prompter, so tests answer them without a person. The default one shows the real dialogs.
#pragma once

#include <QDialog>
#include <QFont>
#include <optional>
#include <string>

class QLineEdit;

namespace zv::viewer {

enum class PromptIcon { kNone, kExclamation, kQuestion, kInformation };

class ViewerPrompter {
 public:
  virtual ~ViewerPrompter() = default;
  // Takes the owner, a text and an icon; shows a message with an OK button.
  virtual void Message(QWidget* parent, const std::string& text, PromptIcon icon) = 0;
  // Takes the owner and a question; gives true for Yes.
  virtual bool AskYesNo(QWidget* parent, const std::string& text) = 0;
  // Takes the owner and a title; gives the chosen folder, or nothing when cancelled.
  virtual std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& title) = 0;
  // Takes the owner and the current page (0-based); gives the number entered (1-based as
  // typed), or nothing when cancelled.
  virtual std::optional<unsigned> AskPageNumber(QWidget* parent, int current_page) = 0;
  // Takes the owner and the current percentage; gives the percentage entered (10..200),
  // or nothing when cancelled.
  virtual std::optional<int> AskZoomPercent(QWidget* parent, int current) = 0;
  // Takes a built dialog; runs it modally (the default) or records it. Gives its result.
  virtual int RunDialog(QDialog* dialog) = 0;
};

// The prompter in use (the Qt one unless replaced).
ViewerPrompter& Prompter();
// Takes a prompter (not owned; null restores the Qt one).
void SetPrompter(ViewerPrompter* prompter);

// Gives the IPA font for Japanese interface texts: proportional ("IPAPGothic", for the
// "ＭＳ Ｐゴシック" texts) or fixed ("IPAGothic"), of a pixel height or 9 points.
QFont ViewerFont(bool proportional = true, int pixel_height = 0);

// A number dialog: an edit (object name "1006") with up and down buttons (the spin,
// "1012") bounded to a range. OK reads the edit as an unsigned number; text that is not
// one shows the error message, restores the previous value and keeps the dialog open.
class NumberDialog : public QDialog {
 public:
  // Takes the owner, the title, the label, the first value, the spin's range and the
  // message for text that cannot be read.
  NumberDialog(QWidget* parent, const QString& title, const QString& label, int value, int low, int high,
               std::string error_text, bool clamp_to_range);
  // The number accepted (valid after Accepted).
  unsigned value() const { return value_; }
  QLineEdit* edit() const { return edit_; }
  void accept() override;

 private:
  QLineEdit* edit_;
  unsigned value_ = 0;
  unsigned previous_;
  int low_, high_;
  std::string error_;
  bool clamp_;
};

// The page-number dialog (144) and the free-zoom dialog (187).
NumberDialog* MakePageNumberDialog(QWidget* parent, int current_page);
NumberDialog* MakeFreeZoomDialog(QWidget* parent, int current);

}  // namespace zv::viewer
