// Test helper for window tests: the texts of a window that carry words in Latin letters, so a
// test can tell that a window speaks Japanese throughout (names such as "Zelvora" or "PDF"
// are passed as allowed words).
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWidget>
#include <set>
#include <string>
#include <vector>

namespace zv::testing {

// Takes a window and the words it may show in Latin letters; gives each text of the window
// (its title, labels, buttons, group titles, list items, tabs, column headers, menus and
// tool tips) that holds another word of two or more Latin letters, mnemonics removed.
inline std::vector<std::string> LatinTexts(const QWidget* window, const std::set<std::string>& allowed = {}) {
  static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)|&(?=.)"));
  static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
  std::vector<std::string> out;
  auto check = [&](QString text) {
    text.remove(mnemonic);
    for (auto it = word.globalMatch(text); it.hasNext();) {
      if (!allowed.count(it.next().captured().toStdString())) {
        out.push_back(text.toStdString());
        return;
      }
    }
  };
  auto check_menu = [&](auto&& self, const QList<QAction*>& actions) -> void {
    for (const QAction* a : actions) {
      check(a->text());
      if (a->menu()) self(self, a->menu()->actions());
    }
  };
  check(window->windowTitle());
  QList<const QWidget*> widgets{window};
  for (const QWidget* w : window->findChildren<QWidget*>()) widgets << w;
  for (const QWidget* w : widgets) {
    check(w->toolTip());
    if (auto* l = qobject_cast<const QLabel*>(w)) check(l->text());
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) check(b->text());
    if (auto* g = qobject_cast<const QGroupBox*>(w)) check(g->title());
    if (auto* c = qobject_cast<const QComboBox*>(w))
      for (int i = 0; i < c->count(); ++i) check(c->itemText(i));
    if (auto* t = qobject_cast<const QTabWidget*>(w))
      for (int i = 0; i < t->count(); ++i) check(t->tabText(i));
    if (auto* t = qobject_cast<const QTreeWidget*>(w))
      for (int i = 0; i < t->columnCount(); ++i) check(t->headerItem()->text(i));
    if (auto* t = qobject_cast<const QTableWidget*>(w))
      for (int i = 0; i < t->columnCount(); ++i)
        if (t->horizontalHeaderItem(i)) check(t->horizontalHeaderItem(i)->text());
    if (auto* m = qobject_cast<const QMenuBar*>(w)) check_menu(check_menu, m->actions());
    if (auto* m = qobject_cast<const QMenu*>(w)) check_menu(check_menu, m->actions());
  }
  return out;
}

}  // namespace zv::testing
