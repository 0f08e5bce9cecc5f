// The console context's database and lock look-ups, the wait cursor, the name editor, the
// command enabling and the hand-over of group changes to the main frame.
#include "console/tavolent/console_context.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>

namespace zv::console {

std::unique_ptr<CConsoleDatabase> ConsoleContext::OpenDatabase() const {
  std::string dsn, uid, pwd;
  settings->GetDSN(&dsn);
  settings->GetUID(&uid);
  settings->GetPWD(&pwd);
  return std::make_unique<CConsoleDatabase>(dsn, uid, pwd);
}

bool ConsoleContext::Locked() const {
  int32_t locked = 1;
  settings->GetLogEnv1(&locked);
  return locked != 0;
}

std::string ConsoleContext::LockPassword(bool* stored) const {
  std::string scrambled;
  *stored = settings->GetLogEnv2(&scrambled);
  return *stored ? ScrambleLockPassword(scrambled) : std::string();
}

void EnableCommands(const QList<QAction*>& actions, std::initializer_list<std::pair<int, bool>> states) {
  for (QAction* command : actions)
    for (const auto& [id, enabled] : states)
      if (command->data().toInt() == id) command->setEnabled(enabled);
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

QWidget* NameEditDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setMaxLength(255);
  return editor;
}

void ReportGroupChange(QWidget* window, const engine::GroupRecord& group, int operation) {
  if (auto* sink = dynamic_cast<GroupChangeSink*>(window)) (void)sink->ForwardGroupChange(&group, operation);
}

}  // namespace zv::console
