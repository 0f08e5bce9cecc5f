// What the units of CViewerView (viewer_view*.cc) share and nothing else uses: the colours
// of the page area, the conversions between the platform's rectangles and Qt's, a page image
// seen as a QImage, and the item delegate that draws the page pane's entries.
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QStyledItemDelegate>

#include "platform/gdi/surfaces.h"
#include "platform/wintypes/wintypes.h"

namespace zv::viewer {

class CViewerView;

inline constexpr QRgb kBackground = 0xFF808080;   // the grey of the page area
inline constexpr QRgb kPlaceholder = 0xFFD8D8D8;  // a row not drawn yet
inline constexpr int kTagHeight = 15;             // a page tag's entry, and the tags' font

// Takes a platform rectangle; gives the same rectangle as a QRect.
inline QRect ToQRect(const win::RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
// Takes a QRect; gives the same rectangle as a platform rectangle.
inline win::RECT ToRect(const QRect& r) {
  return win::RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// Takes a page image; gives a QImage over its pixels (no copy: valid while the image lives).
inline QImage ImageOf(gdi::ScreenSurface& s) {
  return QImage(s.data(), s.width(), s.height(), s.stride(), QImage::Format_RGB32);
}

// Draws the page pane's entries: the label "-%d-" in the caption colours (active when
// selected), and for thumbnails the page's image centred in a square above it.
class PaneDelegate : public QStyledItemDelegate {
 public:
  // Takes the view whose pane it draws (also its Qt parent).
  explicit PaneDelegate(CViewerView* view);
  // Takes the painter, the entry's style and its index; draws the entry.
  void paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& index) const override;
  // Gives an entry's size: a page tag's height, or a thumbnail's.
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override;

 private:
  CViewerView* view_;
};

}  // namespace zv::viewer
