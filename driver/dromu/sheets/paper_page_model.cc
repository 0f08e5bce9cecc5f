#include "driver/dromu/sheets/paper_page_model.h"

#include <algorithm>
#include <cctype>

namespace zv::driver::sheets {

std::uint16_t ParseTenths(std::string_view text, int low, int high, int low_default) {
  text = text.substr(0, 128);
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  int plus = 0, minus = 0, dots = 0;
  bool negative = false, any_digit = false, after_dot = false;
  long whole = 0;
  int tenth = 0;
  bool tenth_taken = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      if (++plus > 1) return static_cast<std::uint16_t>(low_default);
    } else if (c == '-') {
      if (++minus > 1) return static_cast<std::uint16_t>(low_default);
      negative = true;
    } else if (c == '.') {
      if (++dots > 1) return static_cast<std::uint16_t>(low_default);
      after_dot = true;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      any_digit = true;
      if (!after_dot) {
        whole = std::min<long>(whole * 10 + (c - '0'), 1000000);
      } else if (!tenth_taken) {
        tenth = c - '0';
        tenth_taken = true;
      }
    } else {
      return static_cast<std::uint16_t>(low_default);
    }
  }
  if (!any_digit) return static_cast<std::uint16_t>(low_default);
  const long value = whole * 10 + tenth;
  if (negative && value != 0) return static_cast<std::uint16_t>(low_default < low ? low : low_default);
  return static_cast<std::uint16_t>(std::clamp<long>(value, low, high));
}

std::string FormatTenths(int value) {
  const int a = value < 0 ? -value : value;
  return (value < 0 ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10);
}

void UserSizeModel::Edit(int which, std::string_view text) {
  const std::uint16_t v = ParseTenths(text, kMinUserPaper, kMaxUserPaper, kMinUserPaper);
  (which == 0 ? width_ : height_) = v;
}

void UserSizeModel::Spin(int which, int position) {
  (which == 0 ? width_ : height_) = static_cast<std::uint16_t>(std::clamp<int>(position, kMinUserPaper, kMaxUserPaper));
}

PaperPageModel::PaperPageModel(PRIVDEVMODE& mode, PlatformOps& ops, std::string printer,
                               std::vector<std::string> paper_names, bool permission)
    : mode_(mode),
      ops_(ops),
      printer_(std::move(printer)),
      paper_names_(std::move(paper_names)),
      permission_(permission) {}

int PaperPageModel::paper_index() const {
  auto papers = Papers();
  for (std::size_t i = 0; i < papers.size(); ++i)
    if (papers[i].code == static_cast<std::uint16_t>(mode_.dm.dmPaperSize)) return static_cast<int>(i);
  return -1;
}

int PaperPageModel::resolution_index() const {
  const int i = ResolutionIndex(mode_.dm.dmPrintQuality, -2);
  return i < static_cast<int>(ResolutionTable().size()) ? i : -1;
}

std::uint16_t& PaperPageModel::MarginRef(int which) {
  switch (which) {
    case 0:
      return mode_.priv.margin_left;
    case 1:
      return mode_.priv.margin_right;
    case 2:
      return mode_.priv.margin_top;
    default:
      return mode_.priv.margin_bottom;
  }
}

std::uint16_t PaperPageModel::margin(int which) const { return const_cast<PaperPageModel*>(this)->MarginRef(which); }

bool PaperPageModel::SelectPaper(int index) {
  if (!permission_ || index < 0) return false;
  // The n-th row among the rows at the mode's resolution.
  int n = 0, found = -1;
  for (int r = 0; r < kPaperRowCount; ++r) {
    if (StaticPaperRow(r).dpi != static_cast<std::uint16_t>(mode_.dm.dmPrintQuality)) continue;
    if (n++ == index) {
      found = r;
      break;
    }
  }
  if (found < 0) return false;
  mode_.dm.dmPaperSize = static_cast<std::int16_t>(StaticPaperRow(found).code);
  const int row = FindPaperRow(mode_, ops_, printer_);
  if (mode_.dm.dmFields & kFieldPaperSize) {
    const PaperRow p = ComputePaperRow(row, mode_);
    mode_.dm.dmPaperWidth = static_cast<std::int16_t>(p.width_mm10);
    mode_.dm.dmPaperLength = static_cast<std::int16_t>(p.height_mm10);
  }
  return StaticPaperRow(found).code == kUserPaperCode;
}

void PaperPageModel::SetLandscape(bool landscape) {
  if (!permission_) return;
  const std::int16_t o = landscape ? 2 : 1;
  if (mode_.dm.dmOrientation == o) return;
  mode_.dm.dmOrientation = o;
  FindPaperRow(mode_, ops_, printer_);
}

void PaperPageModel::SelectResolution(int index) {
  if (!permission_) return;
  auto table = ResolutionTable();
  if (index < 0 || index >= static_cast<int>(table.size())) return;
  mode_.dm.dmPrintQuality = static_cast<std::int16_t>(table[index].dpi);
  mode_.dm.dmYResolution = static_cast<std::int16_t>(table[index].dpi);
}

void PaperPageModel::EditMargin(int which, std::string_view text) {
  if (!permission_) return;
  MarginRef(which) = ParseTenths(text, 0, kMaxMargin, 0);
}

void PaperPageModel::SpinMargin(int which, int position) {
  if (!permission_) return;
  MarginRef(which) = static_cast<std::uint16_t>(std::clamp<int>(position, 0, kMaxMargin));
}

UserSizeModel PaperPageModel::UserSize() const {
  const PaperSettings s = EffectivePaperSettings(mode_.priv);
  return {s.user_width, s.user_height};
}

void PaperPageModel::ApplyUserSize(const UserSizeModel& size) {
  if (!permission_) return;
  mode_.dm.dmPaperWidth = static_cast<std::int16_t>(size.width());
  mode_.dm.dmPaperLength = static_cast<std::int16_t>(size.height());
  mode_.priv.user_paper_width = size.width();
  mode_.priv.user_paper_height = size.height();
}

}  // namespace zv::driver::sheets
