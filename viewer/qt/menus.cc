#include "viewer/qt/menus.h"

#include <QAction>
#include <QMenu>

#include "viewer/qt/prompter.h"
#include "viewer/qt/viewer_view.h"

namespace zv::viewer {

namespace {

QAction* Add(QMenu* menu, const char* text, int id) {
  QAction* a = menu->addAction(QString::fromUtf8(text));
  a->setObjectName(QString::number(id));
  a->setData(id);
  return a;
}

void AddPaneItems(QMenu* m) {
  Add(m, "ページタグ(&E)", cmd::kPaneTags);
  Add(m, "サムネール(&N)", cmd::kPaneThumbs);
  Add(m, "タグを閉じる(&C)", cmd::kPaneClose);
}
void AddMouseItems(QMenu* m) {
  Add(m, "手のひらマウス(&H)", cmd::kMouseHand);
  Add(m, "虫めがねマウス(&P)", cmd::kMouseMagnifier);
  Add(m, "イメージ選択マウス(&I)", cmd::kMouseSelect);
  Add(m, "疑似ホイールマウス(&M)", cmd::kMouseWheel);
}
void AddZoomItems(QMenu* m) {
  Add(m, "全体表示(&L)", cmd::kZoomWhole);
  Add(m, "全幅表示(&W)", cmd::kZoomWidth);
  Add(m, "最大表示(&M)", cmd::kZoomMax);
  Add(m, "倍率指定(&E)...", cmd::kZoomFree);
}

QMenu* NewMenu(QWidget* parent, const char* title = "") {
  auto* m = new QMenu(QString::fromUtf8(title), parent);
  m->setFont(ViewerFont());
  return m;
}

// Marks one of the ids as the radio choice (the others unmarked).
void Radio(QMenu* menu, std::initializer_list<int> ids, int chosen) {
  for (int id : ids) {
    if (QAction* a = FindCommand(menu, id)) {
      a->setCheckable(true);
      a->setChecked(id == chosen);
    }
  }
}

}  // namespace

QMenu* BuildPopup137(int index, QWidget* parent) {
  QMenu* m = NewMenu(parent);
  switch (index) {
    case 1:
      AddPaneItems(m);
      break;
    case 2:
      Add(m, "コピー(&C)", cmd::kCopy);
      Add(m, "キャンセル", cmd::kCancelSelection);
      break;
    case 3:
      AddMouseItems(m);
      break;
    case 4:
      AddZoomItems(m);
      break;
    default:
      m->addAction(QStringLiteral(""));
      break;
  }
  return m;
}

QMenu* BuildMenu1013(QWidget* parent) {
  QMenu* m = NewMenu(parent);
  Add(m, "次ページ(&F)", cmd::kNext);
  Add(m, "前ページ(&B)", cmd::kPrevious);
  Add(m, "ページ指定(&S)...", cmd::kPageNumber);
  m->addSeparator();
  QMenu* zoom = NewMenu(m, "表示倍率変更(&Z)");
  AddZoomItems(zoom);
  m->addMenu(zoom);
  QMenu* pane = NewMenu(m, "タグ表示変更(&G)");
  AddPaneItems(pane);
  m->addMenu(pane);
  QMenu* mouse = NewMenu(m, "マウスのモード(&M)");
  AddMouseItems(mouse);
  m->addMenu(mouse);
  Add(m, "自動スクロール(&A)", cmd::kAutoScroll);
  m->addSeparator();
  Add(m, "印刷(&P)...", cmd::kPrint);
  Add(m, "閉じる(&X)", cmd::kClose);
  Add(m, "ヘルプ(&H)", cmd::kHelp);
  return m;
}

QMenu* BuildMenu138(QWidget* parent) {
  QMenu* m = NewMenu(parent);
  Add(m, "前ページ(&B)", cmd::kPrevious);
  Add(m, "次ページ(&F)", cmd::kNext);
  m->addSeparator();
  Add(m, "閉じる(&X)", cmd::kClose);
  return m;
}

QAction* FindCommand(QMenu* menu, int id) {
  if (!menu) return nullptr;
  for (QAction* a : menu->actions()) {
    if (a->menu()) {
      if (QAction* found = FindCommand(a->menu(), id)) return found;
    } else if (!a->isSeparator() && a->data().toInt() == id && a->data().isValid()) {
      return a;
    }
  }
  return nullptr;
}

int MouseModeCommand(int mode) {
  switch (mode) {
    case kHand:
      return cmd::kMouseHand;
    case kMagnifier:
      return cmd::kMouseMagnifier;
    case kImageSelect:
      return cmd::kMouseSelect;
    case kPseudoWheel:
      return cmd::kMouseWheel;
    default:
      return 0;
  }
}

int ZoomModeCommand(int mode) {
  switch (mode) {
    case view::kWholePage:
      return cmd::kZoomWhole;
    case view::kPageWidth:
      return cmd::kZoomWidth;
    case view::kMaximum:
      return cmd::kZoomMax;
    default:
      return cmd::kZoomFree;
  }
}

void MarkViewState(QMenu* menu, CViewerView& view) {
  if (QAction* a = FindCommand(menu, cmd::kPrevious)) a->setEnabled(view.CanGoPrevious());
  if (QAction* a = FindCommand(menu, cmd::kPageNumber)) a->setEnabled(view.CanChoosePage());
  if (QAction* a = FindCommand(menu, cmd::kNext)) a->setEnabled(view.CanGoNext());
  Radio(menu, {cmd::kZoomWhole, cmd::kZoomWidth, cmd::kZoomMax, cmd::kZoomFree}, ZoomModeCommand(view.zoom_mode()));
  Radio(menu, {cmd::kPaneTags, cmd::kPaneThumbs, cmd::kPaneClose},
        !view.pane_open()       ? cmd::kPaneClose
        : view.pane_kind() == 1 ? cmd::kPaneTags
                                : cmd::kPaneThumbs);
  Radio(menu, {cmd::kMouseHand, cmd::kMouseMagnifier, cmd::kMouseSelect, cmd::kMouseWheel},
        MouseModeCommand(view.mouse_mode()));
  if (QAction* a = FindCommand(menu, cmd::kAutoScroll)) {
    a->setCheckable(true);
    a->setChecked(view.auto_scroll_active != 0);
  }
}

QString MenuText(QMenu* menu) {
  QStringList out;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      out << QStringLiteral("-");
    } else if (a->menu()) {
      out << a->text() + QStringLiteral("{") + MenuText(a->menu()) + QStringLiteral("}");
    } else {
      out << a->text();
    }
  }
  return out.join(QStringLiteral("|"));
}

}  // namespace zv::viewer
