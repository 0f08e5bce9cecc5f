#include "viewer/qt/tool_button.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStyleOptionFocusRect>

#include "viewer/qt/menus.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/view/doc_info.h"

namespace zv::viewer {

CViewerToolButton::CViewerToolButton(int id, CViewerView* view, QWidget* parent)
    : QAbstractButton(parent), id_(id), view_(view) {
  setObjectName(QString::number(id));
  setFocusPolicy(Qt::NoFocus);
}

int CViewerToolButton::ImageIndex() const {
  switch (id_) {
    case cmd::kClose:
      return 16;
    case cmd::kPrint:
      return 15;
    case cmd::kPrevious:
      return 11;
    case cmd::kDocInfo:
      return 17;
    case cmd::kPageNumber:
      return 13;
    case cmd::kNext:
      return 12;
    case cmd::kHelp:
      return 18;
    case cmd::kAutoScroll:
      return 14;
    case cmd::kAttachments:
      return 19;
    case cmd::kPaneTags:
      return 9;
    case cmd::kPaneThumbs:
      return 10;
    case kIdMouseButton:
      return view_ ? std::clamp(view_->mouse_mode(), 0, 4) : 0;
    case kIdZoomButton:
      return view_ ? std::min(view_->zoom_mode() + 5, 8) : 5;
    default:
      return -1;
  }
}

QString CViewerToolButton::Label() const {
  switch (id_) {
    case cmd::kClose:
      return QStringLiteral("閉じる");
    case cmd::kPrint:
      return QStringLiteral("印刷");
    case cmd::kDocInfo:
      return QStringLiteral("文書情報");
    case cmd::kAttachments:
      return QStringLiteral("添付ﾌｧｲﾙ");
    case kIdZoomButton:
      return view_ ? QString::fromStdString(view::ZoomLabel(view_->zoom_mode(), view_->zoom_percent())) : QString();
    default:
      return QString();
  }
}

bool CViewerToolButton::LooksPushed() const {
  if (isEnabled() && isDown()) return true;
  if (!view_) return false;
  if (id_ == cmd::kAutoScroll) return view_->auto_scroll_active != 0;
  if (id_ == cmd::kPaneTags) return view_->pane_open() && view_->pane_kind() == 1;
  if (id_ == cmd::kPaneThumbs) return view_->pane_open() && view_->pane_kind() == 0;
  return false;
}

void DrawToolImage(QPainter& p, int index, const QRect& r, const QColor& ink) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(ink, 1.2));
  p.setBrush(Qt::NoBrush);
  const QRectF f = QRectF(r).adjusted(2, 2, -2, -2);
  const QPointF c = f.center();
  auto tri = [&](bool left) {
    QPainterPath path;
    if (left) {
      path.moveTo(f.right(), f.top());
      path.lineTo(f.left(), c.y());
      path.lineTo(f.right(), f.bottom());
    } else {
      path.moveTo(f.left(), f.top());
      path.lineTo(f.right(), c.y());
      path.lineTo(f.left(), f.bottom());
    }
    path.closeSubpath();
    p.fillPath(path, ink);
  };
  QFont font = ViewerFont(true, int(f.height()) + 2);
  font.setBold(true);
  p.setFont(font);
  switch (index) {
    case 0:  // hand
      p.drawRoundedRect(f.adjusted(2, 5, -2, 0), 2, 2);
      for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(f.left() + 3 + i * 2.5, f.top() + 6), QPointF(f.left() + 3 + i * 2.5, f.top()));
      break;
    case 1:  // magnifier
      p.drawEllipse(QRectF(f.left(), f.top(), f.width() * 0.65, f.height() * 0.65));
      p.setPen(QPen(ink, 2.2));
      p.drawLine(QPointF(f.left() + f.width() * 0.55, f.top() + f.height() * 0.55), f.bottomRight());
      break;
    case 2:
    case 3:  // selection
      p.setPen(QPen(ink, 1, Qt::DotLine));
      p.drawRect(f);
      break;
    case 4:  // pseudo wheel
      p.drawEllipse(f.adjusted(3, 0, -3, 0));
      p.drawLine(QPointF(c.x(), f.top() + 2), QPointF(c.x(), f.top() + 6));
      break;
    case 5:
    case 6:
    case 7:
    case 8:  // zoom: whole, width, maximum, free
      p.drawRect(f.adjusted(index == 6 ? 0 : 3, index == 5 ? 0 : 2, index == 6 ? 0 : -3, 0));
      if (index >= 7) p.drawText(f, Qt::AlignCenter, index == 7 ? QStringLiteral("+") : QStringLiteral("%"));
      break;
    case 9:  // page tags
      for (int i = 0; i < 4; ++i)
        p.drawLine(QPointF(f.left(), f.top() + 1 + i * 3.5), QPointF(f.right(), f.top() + 1 + i * 3.5));
      break;
    case 10:  // thumbnails
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) p.drawRect(QRectF(f.left() + i * 6.5, f.top() + j * 6.5, 5, 5));
      break;
    case 11:
      tri(true);
      break;
    case 12:
      tri(false);
      break;
    case 13:
      p.drawText(f, Qt::AlignCenter, QStringLiteral("#"));
      break;
    case 14:  // auto-scroll: two chevrons down
      for (int i = 0; i < 2; ++i) {
        const double y = f.top() + 2 + i * 5;
        p.drawLine(QPointF(f.left() + 1, y), QPointF(c.x(), y + 4));
        p.drawLine(QPointF(c.x(), y + 4), QPointF(f.right() - 1, y));
      }
      break;
    case 15:  // printer
      p.drawRect(QRectF(f.left(), c.y() - 2, f.width(), 6));
      p.drawRect(QRectF(f.left() + 3, f.top(), f.width() - 6, 4));
      p.fillRect(QRectF(f.left() + 3, c.y() + 4, f.width() - 6, 3), ink);
      break;
    case 16:  // close
      p.setPen(QPen(ink, 2));
      p.drawLine(f.topLeft(), f.bottomRight());
      p.drawLine(f.topRight(), f.bottomLeft());
      break;
    case 17:  // information
      p.drawEllipse(f);
      p.drawText(f, Qt::AlignCenter, QStringLiteral("i"));
      break;
    case 18:  // help
      p.drawEllipse(f);
      p.drawText(f, Qt::AlignCenter, QStringLiteral("?"));
      break;
    case 19:  // attachment clip
      p.drawRoundedRect(QRectF(f.left() + 3, f.top(), 6, f.height()), 3, 3);
      p.drawRoundedRect(QRectF(f.left() + 5, f.top() + 3, 5, f.height() - 5), 2.5, 2.5);
      break;
    default:
      break;
  }
  p.restore();
}

void CViewerToolButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const QRect r = rect();
  p.fillRect(r, pal.color(QPalette::Button));
  const int index = ImageIndex();
  const bool pushed = LooksPushed();
  const int shift = pushed ? 1 : 0;
  const int h = r.height();
  // The image: a square of the button's inner height, inset further when above 16.
  int inner = h - 4;
  int inset = 2;
  if (inner > 16) {
    inset += 2;
    inner -= 4;
  }
  if (index >= 0) {
    QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
      QPainter ip(&img);
      if (isEnabled()) {
        DrawToolImage(ip, index, QRect(0, 0, 16, 16), pal.color(QPalette::ButtonText));
      } else {
        DrawToolImage(ip, index, QRect(1, 1, 16, 16), pal.color(QPalette::Light));
        DrawToolImage(ip, index, QRect(0, 0, 16, 16), pal.color(QPalette::Mid));
      }
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(QRect(inset + shift, inset + shift, inner, inner), img);
  }
  const QString label = Label();
  if (!label.isEmpty()) {
    p.setFont(ViewerFont(true, std::max(8, h - (index <= 10 ? 4 : 10))));
    p.setPen(isEnabled() ? pal.color(QPalette::ButtonText) : pal.color(QPalette::Disabled, QPalette::WindowText));
    const int x = h + (index <= 10 ? 3 : 0);
    p.drawText(QRect(x + shift, shift, r.width() - x, h), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, label);
  }
  // Border: raised, or sunken when pushed.
  const QColor light = pal.color(QPalette::Light), dark = pal.color(QPalette::Shadow), mid = pal.color(QPalette::Mid);
  const QColor tl = pushed ? dark : light, br = pushed ? light : dark;
  p.setPen(tl);
  p.drawLine(r.topLeft(), r.topRight());
  p.drawLine(r.topLeft(), r.bottomLeft());
  p.setPen(br);
  p.drawLine(r.bottomLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomRight());
  p.setPen(mid);
  if (!pushed) {
    p.drawLine(r.left() + 1, r.bottom() - 1, r.right() - 1, r.bottom() - 1);
    p.drawLine(r.right() - 1, r.top() + 1, r.right() - 1, r.bottom() - 1);
  }
  if (hasFocus()) {
    QStyleOptionFocusRect o;
    o.initFrom(this);
    o.rect = r.adjusted(3, 3, -3, -3);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, &p, this);
  }
}

}  // namespace zv::viewer
