// Gastrelo's resources: every text the virtual printer's property sheets show. Built as its
// own shared library, which the sheets open from the install's library folder.
#include "driver/gastrelo/resource_ids.h"

namespace {
using namespace zv::driver::gastrelo;

struct StringEntry {
  int id;
  const char* text;
};

constexpr StringEntry kStrings[] = {
    {kPageTabName, "用紙設定"},
    {1200, "Letter"},
    {1201, "Legal"},
    {1202, "A1"},
    {1203, "A2"},
    {1204, "A3"},
    {1205, "A4"},
    {1206, "A5"},
    {1207, "B4"},
    {1208, "B5"},
    {1209, "B6"},
    {1210, "はがき"},
    {1211, "ﾕｰｻﾞ定義"},
    {1300, "75x75"},
    {1301, "100x100"},
    {1302, "120x120"},
    {1303, "150x150"},
    {1304, "200x200"},
    {1305, "300x300"},
    {1306, "600x600"},
};

constexpr ZvGastreloItem kPaperItems[] = {
    {kIdPaperLabel, "用紙サイズ(&Z):"}, {kIdPortrait, "縦(&P):"},
    {kIdLandscape, "横(&L):"},          {kIdResolutionLabel, "解像度(&R):"},
    {kIdVersion, "ﾊﾞｰｼﾞｮﾝ情報(&V)"},    {kIdOrientationGroup, "用紙方向"},
    {kIdMarginGroup, "余白設定"},       {kIdLeftLabel, "左余白"},
    {kIdRightLabel, "右余白"},          {kIdTopLabel, "上余白"},
    {kIdBottomLabel, "下余白"},
};
constexpr ZvGastreloItem kVersionItems[] = {
    {kIdVersionLine1, "Wexlan Printer"},
    {kIdVersionLine2, "Version 1.10.00"},
    {kIdVersionLine3, "for Microsoft(R) Windows"},
    {kIdVersionLine4, "Zelvora"},
    {kIdOk, "OK"},
};
constexpr ZvGastreloItem kUserSizeItems[] = {
    {kIdWidthLabel, "用紙幅 : "},
    {kIdHeightLabel, "用紙高さ :"},
    {kIdOk, "OK"},
    {kIdCancel, "ｷｬﾝｾﾙ"},
};

template <int N>
const char* Give(const ZvGastreloItem (&items)[N], const char* title, const ZvGastreloItem** out, int* count) {
  if (out) *out = items;
  if (count) *count = N;
  return title;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* ZvGastreloString(int id) {
  for (const auto& s : kStrings)
    if (s.id == id) return s.text;
  return nullptr;
}

__attribute__((visibility("default"))) const char* ZvGastreloDialog(int id, const ZvGastreloItem** items, int* count) {
  switch (id) {
    case kPaperPage:
      return Give(kPaperItems, "用紙設定", items, count);
    case kVersionDialog:
      return Give(kVersionItems, "Version Information", items, count);
    case kUserSizeDialog:
      return Give(kUserSizeItems, "ユーザー定義サイズ", items, count);
    default:
      if (items) *items = nullptr;
      if (count) *count = 0;
      return nullptr;
  }
}

}  // extern "C"
