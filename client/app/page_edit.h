// The page-edit menu of the page view and its commands on the document's pages: a page held
// by cut or copy and pasted before or after the selected page, deleting the selected page,
// blank pages inserted beside it, and turning it. The job rows follow every edit, so the
// request's job page counts always add up to the document's pages.
#pragma once

#include <optional>

#include "client/app/start_args.h"

namespace zv::viewer {
class CViewerDoc;
}

namespace zv::client::app {

inline constexpr int kCmdCutPage = 32771;
inline constexpr int kCmdCopyPage = 32772;
inline constexpr int kCmdPasteBefore = 32773;
inline constexpr int kCmdPasteAfter = 32774;
inline constexpr int kCmdDeletePage = 32776;
inline constexpr int kCmdBlankBefore = 32778;
inline constexpr int kCmdBlankAfter = 32779;
inline constexpr int kCmdRotateLeft = 32805;
inline constexpr int kCmdRotateRight = 32806;

inline constexpr char kPageEditMenuTitle[] = "ページ編集メニュー";

// One line of the page-edit menu, in menu order: a command (id and text), a separator (id
// 0, no text) or a submenu's title (id 0 with a text), whose commands follow one level
// deeper.
struct PageMenuLine {
  int level;
  int id;
  const char* text;
};
inline constexpr PageMenuLine kPageEditMenu[] = {
    {0, kCmdCutPage, "ページ切り取り(&X)"},
    {0, kCmdCopyPage, "ページコピー(&C)"},
    {0, kCmdPasteBefore, "前のページへ貼り付け(&P)"},
    {0, kCmdPasteAfter, "後ろのページへ貼り付け(&Q)"},
    {0, 0, nullptr},
    {0, kCmdDeletePage, "ページ削除(&D)"},
    {0, 0, nullptr},
    {0, 0, "空白ページ(&B)"},
    {1, kCmdBlankBefore, "前のページへ挿入(&N)"},
    {1, kCmdBlankAfter, "後ろのページへ挿入(&M)"},
    {0, 0, nullptr},
    {0, 0, "ページの回転(&T)"},
    {1, kCmdRotateRight, "右90度回転(&R)"},
    {1, kCmdRotateLeft, "左90度回転(&L)"},
};

// What the commands' enabling looks at besides the document.
struct PageEditState {
  bool printing = false;    // a print run uses the document
  int selected = -1;        // the selected page (from 0), -1 none
  int pages_per_sheet = 1;  // of the layout page
};

class PageEditor {
 public:
  // Takes the document's pages and its job rows (both must outlive the editor).
  PageEditor(viewer::CViewerDoc* doc, JobList* jobs) : doc_(doc), jobs_(jobs) {}

  // Takes a command and the state; gives whether it may run. Nothing runs during a print
  // or without a selected page. Cut and copy need a page that is not blank, paste a held
  // page; rotation needs a page that is not blank and not the document's first, more than
  // one page per sheet, and a page not already holding the command's value.
  bool Enabled(int command, const PageEditState& s) const;

  // Takes a command and the state; runs it when enabled. Copy holds a copy of the selected
  // page (the page stays held across later edits); cut also deletes it; paste inserts the
  // held page before or after the selected one; a blank page goes the same ways. Inserted
  // pages belong to the selected page's job row, and a row whose last page goes is removed.
  // Rotation turns an upright page to the command's value and a turned one back upright.
  // Gives the page selected afterwards (the same page where it stays, -1 once it is gone),
  // or nothing when the command did not run.
  std::optional<int> Run(int command, const PageEditState& s);

  // The page last cut or copied, -1 before any.
  int held_page() const { return held_; }

 private:
  viewer::CViewerDoc* doc_;
  JobList* jobs_;
  int held_ = -1;
};

}  // namespace zv::client::app
