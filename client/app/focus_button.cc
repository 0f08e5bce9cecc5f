// _CButton: the bottom bar's and the job list's push buttons and their default-button look.
#include "client/app/focus_button.h"

#include <QTabWidget>

#include "client/app/main_frame.h"
#include "viewer/qt/prompter.h"

namespace zv::client::app {

_CButton* _CButton::Make(QWidget* parent, int id, const QString& text) {
  auto* b = new _CButton(text, parent);
  b->setObjectName(Id(id));
  b->setFont(viewer::ViewerFont());
  return b;
}

void _CButton::OnFocusChanged(CMainFrame* frame, QWidget* old, QWidget* now) {
  if (frame == nullptr) return;
  auto id_of = [frame](QWidget* w) {
    auto* b = qobject_cast<QPushButton*>(w);
    return b != nullptr && frame->isAncestorOf(b) ? b->objectName().toInt() : 0;
  };
  auto bar = [](int id) { return (id >= 1000 && id <= 1004) || id == 1072; };
  auto jobs = [](int id) { return (id >= 1006 && id <= 1009) || id == 1011; };
  QPushButton* def = frame->DefaultButton();
  if (def == nullptr) return;
  QTabWidget* tabs = frame->tabs_;
  const int from = id_of(old), to = id_of(now);
  if (bar(from) || jobs(from)) {
    static_cast<QPushButton*>(old)->setDefault(false);
    if (jobs(from) || !bar(to)) def->setDefault(true);
  }
  if (to == 1000 || to == 1004 || to == 1072 || jobs(to)) def->setDefault(false);
  if (to == 1001) def->setDefault(true);
  if (to == 1002 || to == 1003) static_cast<QPushButton*>(now)->setDefault(true);
  if ((to == 1006 || to == 1009) && old != nullptr && (old == tabs || tabs->isAncestorOf(old)) &&
      !tabs->currentWidget()->isAncestorOf(old))
    static_cast<QPushButton*>(now)->setDefault(true);
}

}  // namespace zv::client::app
