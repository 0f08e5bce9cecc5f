// CViewerView: the page view of the document viewer, in Qt Widgets. It shows the pages of
// one CViewerDoc as a column of page rows on a grey background with zoom, scrolling, page
// navigation, the mouse modes (hand, magnifier, image selection, pseudo wheel, page pick),
// a selection copied to the clipboard as an image, and the page-pick mode the client's
// layout dialogs use. It has no window of its own: AttachWindow takes a widget of its host
// and takes over its painting and input through an event filter; events it does not handle
// reach the host as before.
//
// Its operations are virtual and keep their order: the client programs against this
// table. The arithmetic lives in viewer/view (view_geometry.h); pages are drawn by the page
// worker into ScreenSurface images off the window thread and shown from a cache of at most
// seven rows, with a placeholder until a row is ready. The members are defined in
// viewer_view.cc (life, layout, notices, scrolling, zoom, paper) and in the units beside it:
// viewer_view_draw.cc, _input.cc, _selection.cc, _pane.cc and _lens.cc.
//
// Messages keep their numbers: the document's notices 0x405/0x406/0x40A arrive through
// OnDocumentNotice; to the host the view emits hostMessage(WM_USER+21 / +22, ...) (and
// posts them to a platform window when one is given); HandleHostMessage takes WM_USER+23.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wintypes/wintypes.h"
#include "viewer/notify.h"
#include "viewer/sheet_layout.h"
#include "viewer/view/page_cache.h"
#include "viewer/view/page_worker.h"
#include "viewer/view/view_geometry.h"

class QScrollBar;
class QPushButton;
class QListWidget;
class QSlider;
class QLabel;
class QTimer;
class QMenu;
class QEvent;
class QPainter;

namespace zv::viewer {

class CViewerDoc;

// Messages between the view and its host.
inline constexpr int kWmUser = 0x400;
inline constexpr int kMsgPageChanged = kWmUser + 21;  // wParam 0 scrolled, 1 page picked
inline constexpr int kMsgPaneChanged = kWmUser + 22;
inline constexpr int kMsgShowPage = kWmUser + 23;

// Mouse modes.
enum MouseMode : int { kHand = 0, kMagnifier = 1, kImageSelect = 3, kPseudoWheel = 4, kPagePick = 5 };

// Child control ids (object names of the child widgets).
inline constexpr int kIdMouseButton = 61221;
inline constexpr int kIdZoomButton = 61222;
inline constexpr int kIdPane = 61224;
inline constexpr int kIdSlider = 61225;

// The paper record as GetPaper copies it out.
struct ViewPaper {
  std::int32_t code = 0;
  std::string name;
  std::int32_t width = 0, height = 0;  // 0.1 mm
  std::vector<PaperMargins> margins;
};

// The auto-scroll group: its one operation comes first in the table.
class CViewerAutoScroll {
 public:
  virtual ~CViewerAutoScroll() = default;
  // Takes active and loop flags; switches auto-scroll. Gives 1.
  virtual int SetAutoScroll(int active, int loop);
  int auto_scroll_step = 10;  // pixels per timer tick, set by every host
  int auto_scroll_active = 0;
  int auto_scroll_loop = 0;
  int auto_scroll_pause = 0;  // ticks held at an end (0 to 11)
};

class CViewerView : public QObject, public CViewerAutoScroll, public DocumentView {
  Q_OBJECT

 public:
  // Gives a detached view: no window, page count 0, page-width zoom, page-pick mode,
  // page tags, pane closed, no selection, no paper.
  CViewerView();
  // Stops the worker, detaches from the document and the host widget (which stays).
  ~CViewerView() override;

  // ---- The view's operations, in order ----

  // Takes the host widget, the zoom (0, 1, 2 or a percentage) and the initial page pane
  // (0 none, 1 tags, 2 thumbnails); takes the widget over, makes the child controls,
  // re-attaches to the document and applies zoom and mouse mode. Gives 1, 0 without a widget.
  virtual int AttachWindow(QWidget* window, int zoom, int pane);
  // Writes the page area (the host's rectangle less the right strip).
  virtual void GetPageArea(win::RECT* out);
  // Copies the selection to the clipboard as an image; gives 1, 0 when it is too large
  // (after telling the user) or there is nothing to copy.
  virtual int CopySelection();
  // Repaints and empties the selection; gives 1.
  virtual int ClearSelection();
  // Selects the current row's rectangle; gives 1, 0 without pages.
  virtual int SelectCurrentPage();
  // Give 1 in image-selection mode / while a selection is shown, else 0.
  virtual int IsImageSelectMode();
  virtual int HasSelection();
  // Takes pages (ending with 0xFFFF), the page size in pixels and a resolution; draws each
  // page upright, turned clockwise, into the view's cache at once. Gives the pages drawn.
  virtual int RenderRotatedPages(const std::uint16_t* pages, int width, int height, int resolution);
  // Takes steps: 0 toggles the page pane, n widens it by n x 48 pixels. Gives 1, 0 without pages.
  virtual int ResizeTagPane(int steps);
  // Switches the pane between page tags and thumbnails and opens it.
  virtual void SwitchTagKind();
  // Give 1 when there is a row above / a page to choose / a row below to go to, else 0.
  virtual int CanGoPrevious();
  virtual int CanChoosePage();
  virtual int CanGoNext();
  // Go to the row above / below the top of the area. Give 1.
  virtual int GoPrevious();
  virtual int GoNext();
  // Asks for a page number and goes there. Gives 1.
  virtual int ChoosePage();
  // Takes a row (0xFFFF = top); scrolls it to the top. Gives the new current row, 0 when
  // the vertical scroll bar is disabled.
  virtual int GoToPage(std::uint16_t page);
  // Writes "%d頁" with the current row + 1. Gives 1.
  virtual int GetPageLabel(std::string* out);
  // Takes flags: 1 hides the bottom strip, 2 the right strip.
  virtual void SetScrollBarsHidden(int flags);
  // Takes a zoom (0 whole page, 1 page width, 2 maximum, 10..200 free, other: the dialog)
  // and the anchor point; gives 1 applied, 0 not (no pages or window: only recorded).
  virtual int SetZoom(int zoom, int anchor_x, int anchor_y);
  // Takes a mouse mode; ends any drag and stores it. Gives 1, 0 without a window.
  virtual int SetMouseMode(int mode);
  // Writes the selected sheet and page (-1 none).
  virtual void GetSelectedPage(int out[2]);
  // Takes a point of the window; gives the page drawn there, or -1 where none is.
  int PageAt(QPoint p) const;
  // Clears the selected sheet and page (both -1) and repaints.
  virtual void ClearSelectedPage();
  // Gives the pages loaded, 0 without a document.
  virtual int GetPageCount();
  // Print offsets of the document (millimetres, percent).
  virtual void SetOffsetLeft(float value);
  virtual void SetOffsetTop(float value);
  virtual void SetOffsetSize(float value);
  // Discards the cache and repaints. Gives 1.
  virtual int RefreshPages();
  // Takes the paper record; hands it to the document, discards the cache and returns to
  // whole-page zoom at the current row.
  virtual void SetPaper(std::int32_t code, std::string name, std::int32_t width, std::int32_t height,
                        const std::vector<PaperMargins>& margins);
  // Takes pages per sheet, slot order and separator setting.
  virtual void SetSheetLayout(std::uint32_t pages, std::int32_t order, std::int32_t separators);
  // Writes the paper record.
  virtual void GetPaper(ViewPaper* out);
  // Gives the current row (the one at the top of the area).
  virtual std::uint16_t GetCurrentPage();
  // Takes a row; goes to it when there are pages.
  virtual void ShowPage(int page);
  // Takes a page and a relative flag; selects it (the sheet follows).
  virtual void SetSelectedPage(int page, int relative);
  // Moves pages in the document (the worker is stopped first). Gives the document's result.
  virtual int MoveDocumentPages(int first, int last, int target);
  // Gives the vertical scroll bar (null before AttachWindow).
  virtual QScrollBar* GetVerticalScrollBar();
  // The scroll tooltip (a label shown beside the scroll bar).
  virtual QWidget* GetScrollTip();
  // Takes 1 to let every event pass to the host untouched, 0 to handle them again.
  virtual void SetInputFrozen(int frozen);

  // ---- Outside the table ----

  // Takes the document (not owned; may be null); stops the worker first.
  void SetDocument(CViewerDoc* doc);
  CViewerDoc* document() const { return doc_; }
  // DocumentView: the document's notices 0x405, 0x406, 0x40A.
  void OnDocumentNotice(std::uint32_t notice, std::uint64_t wparam) override;
  // Takes a message from the host (WM_USER+23: ShowPage(wparam)).
  void HandleHostMessage(int msg, std::intptr_t wparam, std::intptr_t lparam);
  // Takes a command id of the frame's table and carries it out (the view's own command
  // handling while driven through the exports). Gives true when handled.
  bool Command(int id);
  // Takes the cursor position (host coordinates); shows the view's context menu there.
  void ShowContextMenu(QPoint pos, bool from_keyboard);
  // Builds the context menu the view would show now (null: the host's turn). Owned by caller.
  QMenu* BuildContextMenu();

  // State for the frame, menus and tests.
  int zoom_mode() const { return zoom_mode_; }
  int zoom_percent() const { return zoom_percent_; }
  int display_resolution() const { return display_res_; }
  int screen_resolution() const { return screen_res_; }
  int mouse_mode() const { return mouse_mode_; }
  bool pane_open() const { return pane_width_ >= 5; }
  int pane_kind() const { return pane_kind_; }  // 1 tags, 0 thumbnails
  int pane_width() const { return pane_width_; }
  win::RECT selection() const { return selection_; }
  int page_width() const { return page_w_; }
  int page_height() const { return page_h_; }
  int vertical_position() const { return vpos_; }
  const view::ScrollLayout& scroll_layout() const { return layout_; }
  const SheetLayout& sheet_layout() const { return sheet_; }
  std::size_t cached_rows() const { return cache_.size(); }
  std::vector<int> cached_row_list() const { return cache_.Rows(); }
  std::size_t most_cached_rows() const { return most_cached_; }
  QWidget* host() const { return host_; }
  // The row's slot in host coordinates.
  win::RECT RowRect(int row) const;
  // Waits until the worker is idle and its images are in the cache (tests, modal windows).
  void WaitForPages();
  // Shows a magnifier lens at a point as a press in magnifier mode would (tests).
  void OpenLensAt(QPoint p);
  // Closes the lens when it shows and restores the mouse mode's cursor.
  void CloseLens();
  bool lens_open() const { return lens_.open; }
  // Takes a page; gives its thumbnail (116 pixels high) when drawn, else asks the
  // thumbnail worker for it and gives null (the pane shows a placeholder meanwhile).
  gdi::ScreenSurface* Thumbnail(int page);
  QListWidget* pane() const { return pane_; }
  // Takes a selection rectangle in host coordinates (as a drag in image-selection mode
  // would leave it) and repaints.
  void SetSelectionRect(const win::RECT& r);
  // Takes a platform window that also receives WM_USER+21/22 (0: none).
  void SetHostWindowHandle(std::uint32_t hwnd) { host_hwnd_ = hwnd; }

 signals:
  // WM_USER+21 (wparam 0 after scrolling; 1 with the picked page or -1) and WM_USER+22.
  void hostMessage(int msg, qintptr wparam, qintptr lparam);
  // The document's notices as they arrived.
  void documentNotice(unsigned notice, qulonglong wparam);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class ViewTestAccess;
  void Layout();
  void ApplyPageCount(int n);
  void RecomputeScroll();
  void ScrollTo(int x, int y);
  void Repaint();
  void Paint(QPainter& p, const QRect& update);
  void PaintLens(QPainter& p);
  void RequestRow(int row, int first_visible, int last_visible);
  void OnRowReady(std::shared_ptr<view::RenderedRow> row);
  void DiscardCaches();
  void Reset();
  void Post(int msg, std::intptr_t wparam, std::intptr_t lparam);
  void UpdateScrollTip();
  void UpdateCurrentFromScroll();
  void OnTimer();
  // Takes the point, the button and whether it is a double click.
  void MousePress(QPoint p, Qt::MouseButton b, bool dbl);
  void MouseMove(QPoint p);
  void MouseRelease(QPoint p, Qt::MouseButton b);
  void EndDrag();
  // Takes a point; selects the page there, or clears the selection when it is selected
  // already.
  void PickPage(QPoint p);
  // The keyboard's page picks, telling the host as a click does: takes a step (-1 the page
  // before, 1 the page after); moves the selection by it (none selected: the first page of
  // the row at the top), bringing its row into view.
  void StepSelectedPage(int step);
  // Clears the selection, or selects as StepSelectedPage does when there is none.
  void ToggleSelectedPage();
  // Gives the point (host coordinates) where a menu opened from the keyboard points: the
  // selected page's middle, else the top of the row at the top.
  QPoint MenuPoint() const;
  // Opens the context menu (the view's, else the host's) at MenuPoint, as from the keyboard.
  void OpenKeyboardMenu();
  win::RECT PickRect() const;
  void UpdateLens(QPoint p);
  std::vector<view::UnitSize> PageSizes() const;
  view::UnitSize PaperUnits() const;
  int RowFirstPage(int row) const;
  bool RowTurned(int row) const;
  // Takes a row and the size and resolution to draw it at; gives the request that draws it
  // as the view shows it (its pages, their turn, the sheet layout, the grey behind).
  view::RenderRequest RowRequest(int row, int width, int height, int resolution) const;
  win::RECT AreaRect() const;
  int Rows() const { return layout_.rows; }
  void SetZoomFromCommand(int zoom);
  void PaneChanged();
  int PaneRow() const { return current_ * int(std::max<std::uint32_t>(sheet_.pages, 1)); }

  CViewerDoc* doc_ = nullptr;
  QPointer<QWidget> host_;
  QScrollBar* vbar_ = nullptr;
  QScrollBar* hbar_ = nullptr;
  QPushButton* corner_ = nullptr;
  QPushButton* mouse_button_ = nullptr;
  QPushButton* zoom_button_ = nullptr;
  QSlider* slider_ = nullptr;
  QListWidget* pane_ = nullptr;
  QLabel* scroll_tip_ = nullptr;
  QTimer* timer_ = nullptr;

  int page_count_ = 0;
  int current_ = 0;
  int screen_res_ = 96;
  int display_res_ = 96;
  int page_w_ = 0, page_h_ = 0;
  int vpos_ = 0, hpos_ = 0;
  view::ScrollLayout layout_;
  int zoom_mode_ = view::kPageWidth;
  int zoom_percent_ = 0;
  int mouse_mode_ = kPagePick;
  int pane_kind_ = 1;
  int initial_pane_ = 0;
  int pane_width_ = 3;
  int vbar_width_ = 16, hbar_height_ = 16;
  int selected_sheet_ = -1, selected_page_ = -1;
  ViewPaper paper_;
  SheetLayout sheet_;
  int input_frozen_ = 0;
  bool aiming_menu_ = false;              // a keyboard menu event of the view's own is under way
  bool platform_keyboard_menus_ = false;  // the platform turns the menu key into menu events
  bool attached_to_doc_ = false;
  std::uint32_t host_hwnd_ = 0;

  // Selection and drags.
  win::RECT selection_{};
  int drag_ = 0;  // 0 none, 1 left, 2 middle
  int drag_handle_ = 0;
  QPoint pan_start_, pan_anchor_, last_cursor_;
  QPoint middle_origin_;
  bool middle_shown_ = false;

  // The magnifier lens: whether it shows, its centre in the view, the magnified page's
  // placement relative to the cursor, the page (row) it magnifies and its own small cache of
  // magnified pages.
  struct CViewerLens {
    bool open = false;
    QPoint centre;
    QPoint offset;
    int row = -1;
    view::PageCache<gdi::ScreenSurface> cache{2};
  };
  CViewerLens lens_;

  view::PageCache<gdi::ScreenSurface> cache_;
  std::size_t most_cached_ = 0;
  std::unique_ptr<view::PageWorker> worker_;
  // The pane's thumbnails: a worker and a cache of their own.
  std::unique_ptr<view::PageWorker> thumb_worker_;
  view::PageCache<gdi::ScreenSurface> thumb_cache_{64};
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zv::viewer
