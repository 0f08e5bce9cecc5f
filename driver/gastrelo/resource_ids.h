// The resource ids of Gastrelo, the virtual printer's resource library: dialogs, their control
// ids, and strings. Shared by the library and its users.
#pragma once

namespace zv::driver::gastrelo {

// Dialogs.
inline constexpr int kPaperPage = 200, kVersionDialog = 400, kUserSizeDialog = 500;
// Strings.
inline constexpr int kPageTabName = 1000;
inline constexpr int kFirstPaperName = 1200, kLastPaperName = 1211;
inline constexpr int kFirstResolution = 1300, kLastResolution = 1306;
// Controls of the paper page.
inline constexpr int kIdVersion = 100, kIdOrientationIcon = 121, kIdPaper = 201, kIdPortrait = 202, kIdLandscape = 203,
                     kIdResolution = 210, kIdLeft = 220, kIdLeftSpin = 221, kIdRight = 222, kIdRightSpin = 223,
                     kIdTop = 224, kIdTopSpin = 225, kIdBottom = 226, kIdBottomSpin = 227;
// Controls of the user-defined size dialog.
inline constexpr int kIdWidth = 501, kIdWidthSpin = 502, kIdHeight = 503, kIdHeightSpin = 504;
inline constexpr int kIdOk = 1, kIdCancel = 2;
// Label and group texts have ids of their own inside a dialog (no control of theirs is read).
inline constexpr int kIdPaperLabel = 2001, kIdResolutionLabel = 2002, kIdOrientationGroup = 2003, kIdMarginGroup = 2004,
                     kIdLeftLabel = 2005, kIdRightLabel = 2006, kIdTopLabel = 2007, kIdBottomLabel = 2008,
                     kIdWidthLabel = 2009, kIdHeightLabel = 2010;
inline constexpr int kIdVersionLine1 = 2101, kIdVersionLine2 = 2102, kIdVersionLine3 = 2103, kIdVersionLine4 = 2104;

}  // namespace zv::driver::gastrelo

extern "C" {
// One text of a dialog: the control's id and its text (UTF-8).
struct ZvGastreloItem {
  int id;
  const char* text;
};
// Takes a string id; gives its text (UTF-8), or null.
typedef const char* (*ZvGastreloStringFn)(int id);
// Takes a dialog id; gives its title (null for an unknown dialog) and its items through
// `items` and `count`.
typedef const char* (*ZvGastreloDialogFn)(int id, const ZvGastreloItem** items, int* count);
}
