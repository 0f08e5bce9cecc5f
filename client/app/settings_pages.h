// Three pages of the frame's settings panel: layout (135), header and footer (146) and
// copies and range (133). Each page is a thin view: it loads from and stores into the
// client settings and fills its part of a request; control ids are object names.
#pragma once

#include <QWidget>
#include <functional>

#include "client/app/panel_values.h"
#include "client/header_formats.h"
#include "client/prompt.h"
#include "client/request_file.h"
#include "client/settings_store.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QCheckBox;
class QRadioButton;
class QSpinBox;

namespace zv::client::app {

class LayoutPage : public QWidget {
  Q_OBJECT

 public:
  explicit LayoutPage(QWidget* parent = nullptr);
  // Takes the stored settings; sets the radios and the (hidden) offsets.
  void Load(const ClientSettings& s);
  // Writes the page's values into the settings.
  void Store(ClientSettings* s) const;
  // Writes orientation, thumbnail, separator and the offsets into a request.
  void Fill(RequestOrder* order) const;
  LayoutChoice choice() const;
  // Clicks the radio of pages per sheet (1, 2, 4, 8).
  void ChoosePages(int pages);

 signals:
  // The choice changed (the frame re-lays out the preview).
  void splitChanged();

 private:
  void UpdateEnables();
  QButtonGroup* pages_ = nullptr;
  QButtonGroup* direction_ = nullptr;
  QButtonGroup* separator_ = nullptr;
  int offset_left_ = 0, offset_top_ = 0, scale_ = 1000;  // tenths
};

class HeaderPage : public QWidget {
  Q_OBJECT

 public:
  // Takes the prompt for the format list's messages.
  HeaderPage(Prompt* prompt, QWidget* parent = nullptr);
  // Takes the program folder; loads "Format.fmt" into the list (1070).
  void LoadFormats(const std::string& folder);
  // Saves the current texts as a new format named `name` and writes the file.
  bool SaveAs(const std::string& name);
  // Writes the six texts into a request (header and footer).
  void Fill(RequestOrder* order) const;
  const HeaderFormatList& formats() const { return formats_; }

 private:
  void ShowTexts();
  void KeepTexts();
  Prompt* prompt_;
  std::string folder_;
  HeaderFormatList formats_;
  QComboBox* list_ = nullptr;
  QRadioButton* header_ = nullptr;
  QLineEdit* edits_[3] = {};
  std::string texts_[2][3];  // header, footer: left, centre, right
  bool first_only_ = false;
};

class CopiesPage : public QWidget {
  Q_OBJECT

 public:
  explicit CopiesPage(QWidget* parent = nullptr);
  void Load(const ClientSettings& s);
  void Store(ClientSettings* s) const;
  void Fill(RequestOrder* order) const;
  // The copies clamp, run when the field loses the focus or Enter is pressed.
  void ClampCopiesField();

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
};

}  // namespace zv::client::app
