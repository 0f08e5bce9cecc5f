#include "client/qt/status_popup.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStringList>

namespace zv::client {
namespace {

QFont PopupFont() {
  QFont f("IPAPGothic");
  f.setPixelSize(11);
  f.setWeight(QFont::Normal);
  return f;
}

}  // namespace

StatusPopup::StatusPopup(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("StatusPopup");
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFont(PopupFont());
}

QSize StatusPopup::MeasuredSize() const {
  QFontMetrics fm(PopupFont());
  const QStringList lines = text_.split("\r\n");
  int width = 0;
  for (const QString& line : lines) width = std::max(width, fm.horizontalAdvance(line));
  int height = text_.isEmpty() ? 0 : fm.height() * static_cast<int>(lines.size());
  if (width == 0 || height == 0) return {};
  return QSize(width + 5, height + 3);
}

void StatusPopup::ShowAt(const QPoint& at) {
  QSize size = MeasuredSize();
  if (size.isEmpty()) {
    hide();
    return;
  }
  setGeometry(QRect(at, size));
  show();
  raise();
}

void StatusPopup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect().translated(2, 0), pal.color(QPalette::ToolTipBase));
  if (text_.isEmpty()) return;
  p.setFont(PopupFont());
  p.setPen(pal.color(QPalette::ToolTipText));
  QFontMetrics fm(PopupFont());
  int y = fm.ascent();
  for (const QString& line : text_.split("\r\n")) {
    p.drawText(0, y, line);
    y += fm.height();
  }
}

void StatusPopup::mouseReleaseEvent(QMouseEvent*) { hide(); }

void QtStatusDisplay::ShowStatus(const std::string& text) {
  popup_->SetText(QString::fromStdString(text));
  popup_->ShowAt(anchor_ ? anchor_() : QPoint());
}

void QtStatusDisplay::HideStatus() { popup_->hide(); }

void QtStatusDisplay::StatusMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kStatusMessageTitle, QString::fromStdString(text), QMessageBox::Ok,
                  popup_->parentWidget());
  box.exec();
}

PrinterStatusService::Poster QtPoster(QObject* context) {
  QPointer<QObject> target(context);
  return [target](std::function<void()> task) {
    QObject* t = target.data();
    if (t == nullptr) return;
    QMetaObject::invokeMethod(t, std::move(task), Qt::QueuedConnection);
  };
}

}  // namespace zv::client
