// CViewerView's input: the mouse modes (hand, magnifier, image selection, pseudo wheel, page
// pick) and their drags, the timer (drag, middle-button and auto-scroll), the host's events
// as the view's event filter takes them, the context menu and the view's commands.
#include "viewer/qt/viewer_view.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include "viewer/qt/dialogs.h"
#include "viewer/qt/menus.h"
#include "viewer/qt/prompter.h"
#include "viewer/view/driven.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

int CViewerView::SetMouseMode(int mode) {
  if (!host_) return 0;
  EndDrag();
  mouse_mode_ = mode;
  switch (mode) {
    case kHand:
      host_->setCursor(Qt::OpenHandCursor);
      break;
    case kMagnifier:
      host_->setCursor(Qt::CrossCursor);
      break;
    case kImageSelect:
      host_->setCursor(Qt::IBeamCursor);
      break;
    case kPseudoWheel:
      host_->setCursor(Qt::SizeAllCursor);
      break;
    default:
      break;
  }
  return 1;
}

void CViewerView::EndDrag() {
  if (drag_ == 2) {
    middle_shown_ = false;
    Repaint();
  }
  drag_ = 0;
  drag_handle_ = 0;
  CloseLens();
}

void CViewerView::MousePress(QPoint p, Qt::MouseButton b, bool dbl) {
  if (page_count_ == 0) return;
  last_cursor_ = p;
  if (dbl && mouse_mode_ != kPagePick && b == Qt::LeftButton) {
    const int next = zoom_mode_ == view::kWholePage   ? view::kPageWidth
                     : zoom_mode_ == view::kPageWidth ? view::kMaximum
                                                      : view::kWholePage;
    SetZoom(next, p.x(), p.y());
    return;
  }
  const bool middle = b == Qt::MiddleButton || (b == Qt::LeftButton && mouse_mode_ == kPseudoWheel);
  if (middle) {
    if (!layout_.vertical.enabled && !layout_.horizontal.enabled) return;
    drag_ = 2;
    middle_origin_ = p;
    middle_shown_ = true;
    Repaint();
    return;
  }
  if (b != Qt::LeftButton) return;
  switch (mouse_mode_) {
    case kHand:
      drag_ = 1;
      pan_start_ = p;
      pan_anchor_ = QPoint(hpos_, vpos_);
      host_->setCursor(Qt::ClosedHandCursor);
      break;
    case kMagnifier:
      drag_ = 1;
      OpenLensAt(p);
      break;
    case kImageSelect: {
      drag_ = 1;
      drag_handle_ = view::HandleAt(selection_, win::POINT{p.x(), p.y()});
      if (drag_handle_ == 0) {
        Repaint();
        selection_ = win::RECT{p.x(), p.y(), p.x(), p.y()};
        drag_handle_ = 4;
      }
      break;
    }
    case kPagePick:
      PickPage(p);
      break;
    default:
      break;
  }
}

void CViewerView::MouseMove(QPoint p) {
  last_cursor_ = p;
  if (drag_ != 1) return;
  if (mouse_mode_ == kHand) {
    ScrollTo(pan_anchor_.x() - (p.x() - pan_start_.x()), pan_anchor_.y() - (p.y() - pan_start_.y()));
  } else if (mouse_mode_ == kMagnifier) {
    UpdateLens(p);
  } else if (mouse_mode_ == kImageSelect && drag_handle_) {
    selection_ = view::DragHandle(selection_, drag_handle_, win::POINT{p.x(), p.y()});
    Repaint();
  }
}

void CViewerView::MouseRelease(QPoint p, Qt::MouseButton b) {
  const bool middle = b == Qt::MiddleButton || (b == Qt::LeftButton && mouse_mode_ == kPseudoWheel);
  if (middle && drag_ == 2) {
    EndDrag();
    return;
  }
  if (drag_ != 1 || b != Qt::LeftButton) return;
  if (mouse_mode_ == kHand) {
    if (auto_scroll_active) auto_scroll_step = view::AutoScrollStep(pan_start_.y(), p.y(), auto_scroll_step);
    host_->setCursor(Qt::OpenHandCursor);
  } else if (mouse_mode_ == kImageSelect) {
    selection_ = view::Normalised(selection_);
    Repaint();
  }
  drag_ = 0;
  drag_handle_ = 0;
  CloseLens();
}

void CViewerView::OnTimer() {
  if (!host_ || page_count_ == 0) return;
  if (drag_ == 2) {
    const win::POINT d = view::MiddleScroll(win::POINT{middle_origin_.x(), middle_origin_.y()},
                                            win::POINT{last_cursor_.x(), last_cursor_.y()});
    if (d.x || d.y) ScrollTo(hpos_ + d.x, vpos_ + d.y);
    return;
  }
  if (drag_ == 1) {
    const win::POINT d = view::EdgeScroll(AreaRect(), win::POINT{last_cursor_.x(), last_cursor_.y()});
    if (d.x || d.y) {
      if (mouse_mode_ == kHand) {
        ScrollTo(hpos_ - d.x, vpos_ - d.y);
      } else {
        ScrollTo(hpos_ + d.x, vpos_ + d.y);
        MouseMove(last_cursor_);
      }
    }
    return;
  }
  if (!auto_scroll_active || !layout_.vertical.enabled) return;
  const int max = layout_.vertical.max;
  const bool forward = auto_scroll_step >= 0;
  const int end = forward ? max : 0, start = forward ? 0 : max;
  if (vpos_ == end) {
    if (!auto_scroll_loop) {
      auto_scroll_active = 0;
      return;
    }
    // About a second's pause (eleven ticks of the timer) at the end before starting again, so
    // the reader sees the last page; the same pause follows at the start.
    if (++auto_scroll_pause < 11) return;
    auto_scroll_pause = 0;
    ScrollTo(-1, start);
    return;
  }
  if (vpos_ == start && auto_scroll_pause < 11 && auto_scroll_loop) {
    ++auto_scroll_pause;
    return;
  }
  auto_scroll_pause = 0;
  ScrollTo(-1, vpos_ + auto_scroll_step);
}

bool CViewerView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != host_ || input_frozen_) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Paint: {
      QPainter p(host_);
      Paint(p, static_cast<QPaintEvent*>(event)->rect());
      return true;
    }
    case QEvent::Resize:
      Layout();
      if (page_count_ > 0) {
        SetZoom(zoom_mode_ == view::kFree ? zoom_percent_ : zoom_mode_, -1, -1);
      } else {
        RecomputeScroll();
      }
      return false;
    case QEvent::FocusOut:
      if (drag_) EndDrag();
      return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* m = static_cast<QMouseEvent*>(event);
      host_->setFocus();
      MousePress(m->position().toPoint(), m->button(), event->type() == QEvent::MouseButtonDblClick);
      return true;
    }
    case QEvent::MouseMove:
      MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
      return true;
    case QEvent::MouseButtonRelease: {
      auto* m = static_cast<QMouseEvent*>(event);
      MouseRelease(m->position().toPoint(), m->button());
      return true;
    }
    case QEvent::KeyPress: {
      auto* k = static_cast<QKeyEvent*>(event);
      const int half = Height(AreaRect()) / 2;
      // The menu key and Shift+F10 open the context menu at the selected page, as a right
      // click there does. Where the platform turns the menu key into a context-menu event
      // of its own (desktop platforms do), that event opens the menu and the key does not.
      if ((k->key() == Qt::Key_Menu && !platform_keyboard_menus_) ||
          (k->key() == Qt::Key_F10 && k->modifiers() == Qt::ShiftModifier)) {
        OpenKeyboardMenu();
        return true;
      }
      if (k->key() == Qt::Key_Menu) return true;
      // In page-pick mode the arrows with Shift or Ctrl pick the page before or after, and
      // Space picks the page at the top or lets the picked one go, as clicks do.
      const bool pick_keys = mouse_mode_ == kPagePick && (k->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
      if (pick_keys && (k->key() == Qt::Key_Left || k->key() == Qt::Key_Up)) {
        StepSelectedPage(-1);
        return true;
      }
      if (pick_keys && (k->key() == Qt::Key_Right || k->key() == Qt::Key_Down)) {
        StepSelectedPage(1);
        return true;
      }
      if (mouse_mode_ == kPagePick && k->key() == Qt::Key_Space) {
        ToggleSelectedPage();
        return true;
      }
      switch (k->key()) {
        case Qt::Key_Left:
          ScrollTo(hpos_ - 20, -1);
          break;
        case Qt::Key_Right:
          ScrollTo(hpos_ + 20, -1);
          break;
        case Qt::Key_Up:
          ScrollTo(-1, vpos_ - 32);
          break;
        case Qt::Key_Down:
          ScrollTo(-1, vpos_ + 32);
          break;
        case Qt::Key_PageUp:
          ScrollTo(-1, vpos_ - half);
          break;
        case Qt::Key_PageDown:
          ScrollTo(-1, vpos_ + half);
          break;
        default:
          return false;
      }
      UpdateScrollTip();
      return true;
    }
    case QEvent::ContextMenu: {
      auto* c = static_cast<QContextMenuEvent*>(event);
      if (drag_) return true;
      // The platform's menu from the keyboard points at the cursor or the view's middle:
      // it is aimed at the selected page instead.
      if (c->reason() == QContextMenuEvent::Keyboard && !aiming_menu_) {
        platform_keyboard_menus_ = true;
        OpenKeyboardMenu();
        return true;
      }
      QMenu* menu = BuildContextMenu();
      if (!menu) return false;
      menu->exec(host_->mapToGlobal(c->pos()));
      delete menu;
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

QMenu* CViewerView::BuildContextMenu() {
  if (HasSelection()) {
    QMenu* m = BuildPopup137(2, host_);
    connect(m, &QMenu::triggered, this, [this](QAction* a) {
      if (a->data().toInt() == cmd::kCopy) CopySelection();
      if (a->data().toInt() == cmd::kCancelSelection) ClearSelection();
    });
    return m;
  }
  if (!view::DrivenThroughExports()) return nullptr;
  QMenu* m = BuildMenu1013(host_);
  MarkViewState(m, *this);
  for (int id : {cmd::kClose, cmd::kHelp}) {
    if (QAction* a = FindCommand(m, id)) {
      m->removeAction(a);
      delete a;
    }
  }
  auto add = [m](const char* text, int id) {
    QAction* a = m->addAction(QString::fromUtf8(text));
    a->setObjectName(QString::number(id));
    a->setData(id);
  };
  add("文書情報(&I)...", cmd::kDocInfo);
  add("添付ﾌｧｲﾙ(&T)...", cmd::kAttachments);
  connect(m, &QMenu::triggered, this, [this](QAction* a) { Command(a->data().toInt()); });
  return m;
}

void CViewerView::OpenKeyboardMenu() {
  const QPoint at = MenuPoint();
  QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, host_->mapToGlobal(at));
  aiming_menu_ = true;
  QCoreApplication::sendEvent(host_, &menu);
  aiming_menu_ = false;
}

void CViewerView::ShowContextMenu(QPoint pos, bool from_keyboard) {
  QContextMenuEvent e(from_keyboard ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse, pos,
                      host_ ? host_->mapToGlobal(pos) : pos);
  aiming_menu_ = true;  // the caller's point stands
  if (host_) eventFilter(host_, &e);
  aiming_menu_ = false;
}

bool CViewerView::Command(int id) {
  QWidget* owner = host_;
  switch (id) {
    case cmd::kPrint:
      if (doc_) ShowPrintDialog(owner, *doc_);
      return true;
    case cmd::kPrevious:
      if (CanGoPrevious()) GoPrevious();
      return true;
    case cmd::kNext:
      if (CanGoNext()) GoNext();
      return true;
    case cmd::kPageNumber:
      ChoosePage();
      return true;
    case cmd::kDocInfo:
      if (doc_) ShowDocumentInfo(owner, *doc_);
      return true;
    case cmd::kAttachments:
      if (!doc_) return true;
      if (doc_->attachments().empty()) {
        Prompter().Message(owner, "添付ﾌｧｲﾙはありません。", PromptIcon::kNone);
      } else {
        SaveAttachmentsToFolder(owner, *doc_);
      }
      return true;
    case cmd::kZoomMax:
      if (zoom_mode_ != view::kMaximum) SetZoomFromCommand(view::kMaximum);
      return true;
    case cmd::kZoomWidth:
      if (zoom_mode_ != view::kPageWidth) SetZoomFromCommand(view::kPageWidth);
      return true;
    case cmd::kZoomWhole:
      if (zoom_mode_ != view::kWholePage) SetZoomFromCommand(view::kWholePage);
      return true;
    case cmd::kZoomFree:
      SetZoomFromCommand(view::kFree);
      return true;
    case cmd::kAutoScroll:
      SetAutoScroll(auto_scroll_active ? 0 : 1, auto_scroll_loop);
      return true;
    case cmd::kPaneTags:
      if (pane_kind_ == 1) ResizeTagPane(0);
      else SwitchTagKind();
      return true;
    case cmd::kPaneThumbs:
      if (pane_kind_ == 1) SwitchTagKind();
      else ResizeTagPane(0);
      return true;
    case cmd::kPaneClose:
      if (pane_open()) ResizeTagPane(0);
      return true;
    case cmd::kMouseHand:
      if (mouse_mode_ != kHand) SetMouseMode(kHand);
      return true;
    case cmd::kMouseMagnifier:
      if (mouse_mode_ != kMagnifier) SetMouseMode(kMagnifier);
      return true;
    case cmd::kMouseSelect:
      if (mouse_mode_ != kImageSelect) SetMouseMode(kImageSelect);
      return true;
    case cmd::kMouseWheel:
      if (mouse_mode_ != kPseudoWheel) SetMouseMode(kPseudoWheel);
      return true;
    default:
      return false;
  }
}

}  // namespace zv::viewer
