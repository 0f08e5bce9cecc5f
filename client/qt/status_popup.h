// The printer-status popup of the client's main frame: a small borderless window below the
// status line, drawn in tooltip colours with the IPA P Gothic face at 11 pixels; a click
// hides it. QtStatusDisplay puts the status service's outcomes on it.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>
#include <functional>

#include "client/printer_status.h"

namespace zv::client {

class StatusPopup : public QWidget {
 public:
  // Takes the owner window (may be null).
  explicit StatusPopup(QWidget* owner = nullptr);

  // Takes the text (lines separated by CR LF).
  void SetText(const QString& text) { text_ = text; }
  const QString& text() const { return text_; }
  // Takes a screen position; sizes the popup to the widest line + 5 by the lines' height + 3
  // and shows it there without activating it, or hides it when the text measures nothing.
  void ShowAt(const QPoint& at);
  // Gives the size ShowAt would use for the current text (empty when it would hide).
  QSize MeasuredSize() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  QString text_;
};

// Shows the status service's outcomes: the popup at the point the anchor function gives
// (left of the status line, its bottom + 2), a message box for the message mode.
class QtStatusDisplay : public StatusDisplay {
 public:
  // Takes the popup and a function giving the screen point under the status line.
  QtStatusDisplay(StatusPopup* popup, std::function<QPoint()> anchor) : popup_(popup), anchor_(std::move(anchor)) {}
  void ShowStatus(const std::string& text) override;
  void HideStatus() override;
  void StatusMessage(const std::string& text) override;

 private:
  StatusPopup* popup_;
  std::function<QPoint()> anchor_;
};

// Gives a poster for PrinterStatusService that runs tasks on the thread of `context` (the
// interface thread) through its event queue. The context must outlive the service (the
// service's destructor waits for its worker, so nothing is posted afterwards); tasks still
// queued when the context goes are dropped with it.
PrinterStatusService::Poster QtPoster(QObject* context);

}  // namespace zv::client
