// CMainFrame's keyboard and focus: the button that looks like the default, the fixed Tab
// cycle through the bars and the shown tab page, and the keys of the whole window (Esc,
// Enter, F1 help, F6 between the page view and the panel, Alt with the bars' letters, the
// tab pages' shortcuts).
#include "client/app/main_frame.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>

#include "client/app/focus_button.h"
#include "viewer/qt/viewer_view.h"

namespace zv::client::app {

QPushButton* CMainFrame::DefaultButton() const { return findChild<QPushButton*>(Id(printing_ ? 1003 : 1002)); }

std::vector<QWidget*> CMainFrame::FocusCycle() const {
  auto usable = [](QWidget* w) { return w != nullptr && w->isEnabled() && w->isVisible(); };
  std::vector<QWidget*> cycle;
  for (int id : {1068, 1071}) {
    if (auto* w = findChild<QWidget*>(Id(id)); usable(w)) cycle.push_back(w);
  }
  if (usable(tabs_)) cycle.push_back(tabs_);
  // The shown page's controls in their own order; of a radio group only the chosen one.
  if (QWidget* page = tabs_->currentWidget()) {
    for (QWidget* w = page->nextInFocusChain(); w != nullptr && w != page; w = w->nextInFocusChain()) {
      if (!page->isAncestorOf(w) || !usable(w) || !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy() != nullptr)
        continue;
      if (auto* radio = qobject_cast<QRadioButton*>(w); radio && !radio->isChecked()) continue;
      if (std::find(cycle.begin(), cycle.end(), w) == cycle.end()) cycle.push_back(w);
    }
  }
  for (int id : {1000, 1072, 1002, 1003}) {
    if (auto* w = findChild<QWidget*>(Id(id)); usable(w)) cycle.push_back(w);
  }
  return cycle;
}

bool CMainFrame::focusNextPrevChild(bool next) {
  const std::vector<QWidget*> cycle = FocusCycle();
  QWidget* now = QApplication::focusWidget();
  // The member that holds the focus: the page's own controls before the tab control.
  int at = -1;
  for (int i = static_cast<int>(cycle.size()) - 1; i >= 0 && now != nullptr; --i) {
    if (cycle[i] == now || (cycle[i] != tabs_ && cycle[i]->isAncestorOf(now))) {
      at = i;
      break;
    }
  }
  if (at < 0 && now != nullptr && (now == tabs_ || tabs_->tabBar() == now))
    at = static_cast<int>(std::find(cycle.begin(), cycle.end(), tabs_) - cycle.begin());
  if (at < 0 || at >= static_cast<int>(cycle.size())) return QMainWindow::focusNextPrevChild(next);
  const int n = static_cast<int>(cycle.size());
  QWidget* target = cycle[(at + (next ? 1 : n - 1)) % n];
  target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
  return true;
}

bool CMainFrame::PageShortcut(int key, bool alt, bool keypad) {
  (void)keypad;  // the number pad's digits arrive as the same keys
  auto click = [this](int id) {
    if (auto* b = findChild<QAbstractButton*>(Id(id)); b && b->isEnabled()) b->click();
    return true;
  };
  auto select = [this](int id) {
    if (auto* w = findChild<QWidget*>(Id(id))) {
      w->setFocus();
      if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
      if (auto* s = qobject_cast<QAbstractSpinBox*>(w)) s->selectAll();
    }
    return true;
  };
  switch (tabs_->currentIndex()) {
    case 0:  // layout
      if (alt) return false;
      switch (key) {
        case Qt::Key_1:
          layout_->ChoosePages(1);
          return true;
        case Qt::Key_2:
          layout_->ChoosePages(2);
          return true;
        case Qt::Key_4:
          layout_->ChoosePages(4);
          return true;
        case Qt::Key_8:
          layout_->ChoosePages(8);
          return true;
        case Qt::Key_H:
          return click(1045);
        case Qt::Key_N:
          return click(1046);
        case Qt::Key_T:
          return click(1040);
        case Qt::Key_V:
          return click(1044);
        case Qt::Key_W:
          return click(1043);
        case Qt::Key_Y:
          return click(1041);
        default:
          return false;
      }
    case 1:  // header and footer: only with Alt
      if (!alt) return false;
      switch (key) {
        case Qt::Key_1:
          return click(1078);
        case Qt::Key_B:
          return click(1077);
        case Qt::Key_E:
          return click(1079);
        case Qt::Key_T:
          return click(1076);
        default:
          return false;
      }
    case 2:  // copies and range
      if (alt) return false;
      switch (key) {
        case Qt::Key_2:
          return click(1033);
        case Qt::Key_G:
          return click(1021);
        case Qt::Key_O:
          return click(1032);
        case Qt::Key_W:
          return click(1020);
        case Qt::Key_B:
          return select(1030);
        case Qt::Key_K:
          return select(1022);
        case Qt::Key_M:
          return select(1025);
        default:
          return false;
      }
    case 3:  // job list
      if (!alt && key == Qt::Key_S) return click(1011);
      return false;
    default:
      return false;
  }
}

void CMainFrame::keyPressEvent(QKeyEvent* event) {
  const bool alt = event->modifiers() & Qt::AltModifier;
  auto click = [this](int id) {
    if (auto* b = findChild<QPushButton*>(Id(id)); b && b->isEnabled()) b->click();
  };
  auto focus = [this](int id) {
    if (auto* w = findChild<QWidget*>(Id(id))) w->setFocus();
  };
  switch (event->key()) {
    case Qt::Key_Escape:
      view_->ClearSelectedPage();
      selected_page_ = -1;
      return;
    case Qt::Key_F6:
      // The pane key: between the page view (where the keys pick pages) and the settings
      // panel, as the Tab cycle keeps to the bars.
      if (view_host_->hasFocus()) tabs_->setFocus(Qt::OtherFocusReason);
      else view_host_->setFocus(Qt::OtherFocusReason);
      return;
    case Qt::Key_F1:
      RunHelp();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      click(1002);
      return;
    case Qt::Key_P:
      if (alt) {
        click(1000);
        return;
      }
      break;
    case Qt::Key_R:
      if (alt) {
        click(1072);
        return;
      }
      break;
    case Qt::Key_D:
      if (alt) {
        focus(1068);
        return;
      }
      break;
    case Qt::Key_S:
      if (alt) {
        focus(1071);
        return;
      }
      break;
    default:
      break;
  }
  if (PageShortcut(event->key(), alt, event->modifiers() & Qt::KeypadModifier)) return;
  QMainWindow::keyPressEvent(event);
}

}  // namespace zv::client::app
