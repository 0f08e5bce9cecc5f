// The viewer's menus: menu 137 (the buttons' and the pane's popups), menu 1013 (the frame's
// and the view's menu) and the page-flip window's menu 138, with the command ids they carry.
// Each action's object name and data are its command id.
#pragma once

#include <QString>

class QMenu;
class QAction;
class QWidget;

namespace zv::viewer {

class CViewerView;

namespace cmd {
inline constexpr int kClose = 2;
inline constexpr int kPrint = 3;
inline constexpr int kPrevious = 32784;
inline constexpr int kDocInfo = 32785;
inline constexpr int kPageNumber = 32786;
inline constexpr int kNext = 32787;
inline constexpr int kHelp = 32790;
inline constexpr int kZoomMax = 32791;
inline constexpr int kZoomWidth = 32792;
inline constexpr int kZoomWhole = 32793;
inline constexpr int kZoomFree = 32794;
inline constexpr int kAutoScroll = 32795;
inline constexpr int kAttachments = 32800;
inline constexpr int kPaneTags = 32812;
inline constexpr int kPaneThumbs = 32813;
inline constexpr int kPaneClose = 32814;
inline constexpr int kCopy = 32834;
inline constexpr int kCancelSelection = 32839;
inline constexpr int kMouseHand = 61216;
inline constexpr int kMouseMagnifier = 61217;
inline constexpr int kMouseSelect = 61219;
inline constexpr int kMouseWheel = 61220;
}  // namespace cmd

// Takes the popup index of menu 137 (1 pane, 2 selection, 3 mouse modes, 4 zoom) and a
// parent; gives the popup.
QMenu* BuildPopup137(int index, QWidget* parent);
// Gives popup 0 of menu 1013.
QMenu* BuildMenu1013(QWidget* parent);
// Gives the page-flip window's menu (138): previous and next page, and close.
QMenu* BuildMenu138(QWidget* parent);

// Takes a menu (searched with its submenus) and a command id; gives the action or null.
QAction* FindCommand(QMenu* menu, int id);
// Takes a menu and a view; greys previous, page number and next by the view's rules and
// sets the radio marks (zoom mode, pane state, mouse mode) and the auto-scroll check.
void MarkViewState(QMenu* menu, CViewerView& view);
// Gives the command id of the mouse mode (none for page pick: 0) and of the zoom mode.
int MouseModeCommand(int mode);
int ZoomModeCommand(int mode);
// Gives the menu's texts, top level then submenus, separators as "-" (tests and logs).
QString MenuText(QMenu* menu);

}  // namespace zv::viewer
