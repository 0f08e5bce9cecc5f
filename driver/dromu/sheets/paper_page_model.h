// The paper settings page of the printer's property sheets as a headless model: the paper,
// orientation, resolution and the four margins of a work device mode, the rules by which the
// page's controls change it, and the user-defined size dialog. The Qt page (paper_page.h) is a
// thin view over it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/settings/devmode.h"
#include "driver/settings/platform.h"

namespace zv::driver::sheets {

inline constexpr std::uint32_t kFieldPaperSize = 0x2;  // DM_PAPERSIZE

// Takes a number the user typed and the range; gives it in tenths: leading blanks skipped,
// digits with at most one "+", one "-" and one "." (anything else is unreadable), times 10
// truncated toward zero; unreadable or empty gives `low_default`, below `low` gives `low`,
// above `high` gives `high`.
std::uint16_t ParseTenths(std::string_view text, int low, int high, int low_default);
// Takes a value in tenths; gives "%d.%d" ("-%d.%d" for a negative value).
std::string FormatTenths(int value);

class UserSizeModel {
 public:
  // Takes the user paper width and height (0.1 mm).
  UserSizeModel(std::uint16_t width, std::uint16_t height) : width_(width), height_(height) {}
  // Takes the width's (0) or height's (1) typed text; stores the clamped value.
  void Edit(int which, std::string_view text);
  // Takes an up-down position; stores it clamped to 1000..8400.
  void Spin(int which, int position);
  std::uint16_t width() const { return width_; }
  std::uint16_t height() const { return height_; }

 private:
  std::uint16_t width_, height_;
};

class PaperPageModel {
 public:
  // Takes the work device mode (kept by reference), the platform and printer the settings
  // library reads defaults from, the paper names (12, table order) and whether the user may
  // change settings.
  PaperPageModel(PRIVDEVMODE& mode, PlatformOps& ops, std::string printer, std::vector<std::string> paper_names,
                 bool permission);

  bool enabled() const { return permission_; }
  const std::vector<std::string>& paper_names() const { return paper_names_; }
  // Gives the index of the mode's paper among the twelve, or -1.
  int paper_index() const;
  bool landscape() const { return mode_.dm.dmOrientation == 2; }
  // Gives the index of the mode's resolution among the seven, or -1.
  int resolution_index() const;
  // Takes a margin (0 left, 1 right, 2 top, 3 bottom); gives its text and value.
  std::string margin_text(int which) const { return FormatTenths(margin(which)); }
  std::uint16_t margin(int which) const;

  // Takes the selected paper index; sets the paper. Gives true when the user-defined size
  // dialog is to be opened.
  bool SelectPaper(int index);
  // Takes the orientation.
  void SetLandscape(bool landscape);
  // Takes the selected resolution index; sets the resolution when it is one of the seven.
  void SelectResolution(int index);
  // Takes a margin and its typed text; stores the value (0..300).
  void EditMargin(int which, std::string_view text);
  // Takes a margin and an up-down position; stores it clamped to 0..300.
  void SpinMargin(int which, int position);
  // Takes the user size dialog's outcome (OK); sets the paper width, length and user size.
  void ApplyUserSize(const UserSizeModel& size);
  // Gives the user size dialog's model for the mode's user paper.
  UserSizeModel UserSize() const;

 private:
  std::uint16_t& MarginRef(int which);
  PRIVDEVMODE& mode_;
  PlatformOps& ops_;
  std::string printer_;
  std::vector<std::string> paper_names_;
  bool permission_;
};

}  // namespace zv::driver::sheets
