// Three pages of the frame's settings panel: layout (135), header and footer (146) and
// copies and range (133). Each page is a thin view: it loads from and stores into the
// client settings and fills its part of a request; control ids are object names.
#pragma once

#include <QDialog>
#include <QWidget>

#include "client/app/panel_values.h"
#include "client/header_formats.h"
#include "client/prompt.h"
#include "client/request_file.h"
#include "client/settings_store.h"
#include "jobdoc/trace.h"
#include "platform/wintypes/wintypes.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QCheckBox;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace zv::client::app {

class _CLayout : public QWidget {
  Q_OBJECT

 public:
  explicit _CLayout(QWidget* parent = nullptr);
  // Takes the stored settings; sets the radios and the (hidden) offsets.
  void Load(const ClientSettings& s);
  // Writes the page's values into the settings.
  void Store(ClientSettings* s) const;
  // Writes orientation, thumbnail, separator and the offsets into a request.
  void Fill(RequestOrder* order) const;
  LayoutChoice choice() const;
  // Clicks the radio of pages per sheet (1, 2, 4, 8).
  void ChoosePages(int pages);
  // The page becomes the shown tab: the chosen pages-per-sheet radio takes the focus and the
  // other groups are enabled as that choice wants them.
  void SetDlgPageFocus();

  // The print-offset fields (1049 top, 1053 left, 1057 scale; kept hidden). Takes the prompt
  // their error message goes through.
  void set_prompt(Prompt* prompt) { prompt_ = prompt; }
  // Takes the client's trace log (not owned; null: none). The page's operations write their
  // lines there: "_CLayout::<operation> IN" on entry, "... OUT" on the normal exit and
  // "_CLayout::<operation> <n> OUT" on the early exit numbered n.
  void set_trace(const jobdoc::TraceLog* trace) { trace_ = trace; }
  // Takes a field's id, a value and an up-down step: a value out of range shows
  // "印字補正の補正値が異常です。" and sends the focus back to the field, giving false;
  // otherwise steps it, writes it "%3.1f" into the field and, when it changed, keeps it and
  // tells offsetsChanged. Gives true.
  bool SetOffset(int id, float value, int step);
  // The up-down control of a field: steps the field's text (delta < 0 up, > 0 down), or
  // shows the error message when the text is no number.
  void StepField(int id, int delta);
  // Enter in the page and the frame's checks: validates the offset field that has the focus
  // (true when none has).
  bool CheckOffsetError();
  // True while an offset field has the focus and its value was not yet accepted.
  bool offset_focus() const { return offset_focus_; }
  // The offsets as the preview takes them: top and left in millimetres, scale in percent.
  float top_offset() const { return top_; }
  float left_offset() const { return left_; }
  float scale_offset() const { return scale_value_; }

 signals:
  // The choice changed (the frame re-lays out the preview).
  void splitChanged();
  // An offset changed (the frame hands it to the preview).
  void offsetsChanged();
  // A field left with a bad value: the frame shows this page and the preview ignores input
  // until the field has the focus again (offsetResumed).
  void offsetRejected();
  void offsetResumed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateEnables();
  QLineEdit* OffsetEdit(int id) const;
  const OffsetField& FieldOf(int id) const;
  void ShowOffsetError(QLineEdit* edit);
  void SyncTenths();
  void Trace(const std::string& line) const {
    if (trace_ != nullptr) trace_->Trace(line);
  }
  Prompt* prompt_ = nullptr;
  const jobdoc::TraceLog* trace_ = nullptr;
  QLineEdit* top_edit_ = nullptr;
  QLineEdit* left_edit_ = nullptr;
  QLineEdit* scale_edit_ = nullptr;
  float top_ = 0.0f, left_ = 0.0f, scale_value_ = 100.0f;
  bool offset_focus_ = false;
  bool refocus_pending_ = false;
  bool message_guard_ = false;
  QButtonGroup* pages_ = nullptr;
  QButtonGroup* direction_ = nullptr;
  QButtonGroup* separator_ = nullptr;
  int offset_left_ = 0, offset_top_ = 0, scale_ = 1000;  // tenths
};

// The name dialog (148) of the header formats: "名前:" and an edit (1101), OK (1102) and
// Cancel (1103). Mode 0 renames ("名前の変更"), mode 1 saves ("ヘッダ・フッタの保存").
class NameDialog : public QDialog {
  Q_OBJECT

 public:
  enum Mode { kRename = 0, kSave = 1 };
  // Takes the mode, the prompt for its message, the text it starts with and the owner.
  NameDialog(int mode, Prompt* prompt, const std::string& text, QWidget* parent = nullptr);
  QLineEdit* edit() const { return edit_; }
  // The name taken by OK.
  const std::string& name() const { return name_; }
  // OK: a name of up to 256 characters is taken; a longer one says
  // "入力値が適切ではありません。" and the caret goes back to the start of the edit.
  void accept() override;

 private:
  Prompt* prompt_;
  QLineEdit* edit_;
  std::string name_;
};

// Takes the header/footer font record; gives the Qt font that shows it (a Windows face is
// shown in the family that draws it) at its size (the record's height at 96 dots per inch).
QFont HeaderFontToQt(const win::LOGFONTA& font);
// Takes a font chosen in the font dialog; gives its record (height at 96 dots per inch,
// Shift_JIS character set, the family as face name) and its size in points, cut to 8..26.
win::LOGFONTA HeaderFontFromQt(const QFont& font, int* points);
// Takes the owner and the current header/footer font; runs the font dialog (through the
// viewer's prompter, so tests answer it) starting from it. On OK writes the chosen record
// and point size back and gives true.
bool RunHeaderFontDialog(QWidget* owner, win::LOGFONTA* font, int* points);

class _CPrtHdr : public QWidget {
  Q_OBJECT

 public:
  // Takes the prompt for the format list's messages.
  _CPrtHdr(Prompt* prompt, QWidget* parent = nullptr);
  // Takes the program folder; loads "Format.fmt" into the list (1070) and shows the first
  // format's texts.
  void LoadFormats(const std::string& folder);
  // Saves the current texts as a new format named `name`, selects it and writes the file.
  // Gives false when the name was refused (its message was shown).
  bool SaveAs(const std::string& name);
  // The buttons of the format list: rename (1084) and save (1094) ask for the name in the
  // name dialog (again after a refused name, until it is taken or cancelled); delete
  // (1083) asks first. Each writes "Format.fmt" when the list changed.
  void RenameSelected();
  void DeleteSelected();
  void SaveNew();
  // Takes a token button's id (1092, 1093, 1095, 1100, 1096, 1097, 1098, 1099); puts its
  // token in place of the selection of the edit last focused and focuses that edit.
  void InsertToken(int id);
  // Writes the page rule into a request (the texts and the font are the print
  // document's).
  void Fill(RequestOrder* order) const;
  const HeaderFormatList& formats() const { return formats_; }
  // Takes a side (0 header, 1 footer); gives its three texts as typed (tokens unexpanded).
  const std::string* texts(int side) const { return texts_[side == 0 ? 0 : 1]; }
  // Gives the numbering rule of the print document: 1 all pages, 0 the first only.
  int page_mode() const { return first_only_ ? 0 : 1; }

 signals:
  // The texts or the pages they apply to changed: the frame hands them to the preview.
  void textsChanged();
  // The font button (1091): the frame runs the font dialog over the print document's font.
  void fontRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowTexts();
  void KeepTexts();
  // Takes a list index; puts that format's texts into the edits (and so to the preview),
  // first keeping the edited texts in the format shown before unless told to skip that.
  void SelectFormat(int index);
  void SwitchSide(int side);
  void RefreshList();
  void WriteFormats();
  int side() const;
  Prompt* prompt_;
  std::string folder_;
  HeaderFormatList formats_;
  QComboBox* list_ = nullptr;
  QRadioButton* header_ = nullptr;
  QLineEdit* edits_[3] = {};
  std::string texts_[2][3];  // header, footer: left, centre, right
  int edit_side_ = 0;        // the side the edits show: 0 header, 1 footer
  int side_selection_[2] = {0, 0};
  int shown_ = 0;  // the format whose texts the edits began with
  bool skip_write_back_ = false;
  int focused_edit_ = 0;  // 0 left, 1 centre, 2 right
  bool first_only_ = false;
};

class _CPrtSet : public QWidget {
  Q_OBJECT

 public:
  explicit _CPrtSet(QWidget* parent = nullptr);
  void Load(const ClientSettings& s);
  void Store(ClientSettings* s) const;
  void Fill(RequestOrder* order) const;
  // The copies clamp, run when the field loses the focus or Enter is pressed.
  void ClampCopiesField();
  // Takes 1 to let the user decide the duplicate-print check (the box is enabled, its check
  // kept), any other value when the server checks for duplicates (the box is checked and
  // greyed; the stored setting keeps the user's own choice meanwhile).
  void SetDlgDuplication(int mode);
  // Gives whether the duplicate-print box is checked.
  bool GetDuplicationCheck() const;
  // The print range as the page stands: whether "ページ指定(&G)" is chosen and its fields.
  bool range_chosen() const;
  int first_page() const;
  int last_page() const;
  // Takes a range field's id (1022 first page, 1025 last page); focuses it with its whole
  // text selected.
  void FocusRangeField(int id);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QRadioButton* all_ = nullptr;
  QRadioButton* span_ = nullptr;
  QSpinBox* first_ = nullptr;
  QSpinBox* last_ = nullptr;
  QLineEdit* copies_ = nullptr;
  QCheckBox* collate_ = nullptr;
  QCheckBox* dup_check_ = nullptr;
  bool own_dup_check_ = false;  // the user's choice, kept while the server decides
};

}  // namespace zv::client::app
