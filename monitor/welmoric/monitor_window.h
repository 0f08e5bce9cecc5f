// The job monitor's windows over the model: the main window (waiting-request list, status
// bar with the count and the monitoring state), the result popups, the tray icon and its
// menu, and the "Welmoric" message window that takes the client's hand-over (0xBD3) and
// the open command of a second instance. Answer polling and list reads run on a worker
// thread; results come back through the event queue.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "monitor/core/monitor_model.h"
#include "platform/winmsg/winmsg.h"

namespace zv::monitor {

inline constexpr winmsg::UINT kWmCommand = 0x0111;

// A result popup: the answer's title, its lines and OK; closing it deletes the answer copy
// when it is still the file that was read.
class ResultPopup : public QDialog {
 public:
  ResultPopup(const std::string& path, const MonitorAnswer& answer, QWidget* parent = nullptr);
  ~ResultPopup() override;

 private:
  std::string path_;
  FileIdentity identity_;
};

// The waiting-request list: a report-style table, one row per request, whole rows selected,
// nothing edited in place, one line per cell (a date never breaks in two).
class CWelmoricView : public QTableWidget {
 public:
  // Takes the column headers and the parent; gives the empty list.
  CWelmoricView(const QStringList& headers, QWidget* parent);
};

// The tray icon: the monitor's icon with its tooltip and menu; a double click shows the
// window.
class CTrayNotifyIcon : public QSystemTrayIcon {
 public:
  // Takes the icon, the tooltip, the menu and the owner frame.
  CTrayNotifyIcon(const QIcon& icon, const QString& tooltip, QMenu* menu, QObject* owner);
};

// How often the monitor looks whether a tray has appeared (or a new one replaced the last).
inline constexpr int kTrayWatchMs = 1000;

class CMainFrame : public QMainWindow {
 public:
  // Takes a function that shows a message (the no-tray notice); creates the window hidden,
  // its tray icon when a tray exists (else says so once; the window stays hidden and the
  // icon is made when a tray appears), its message window and starts monitoring. Check
  // ok() afterwards.
  explicit CMainFrame(std::function<void(const QString&)> notify);
  ~CMainFrame() override;

  bool ok() const { return hwnd_ != 0; }
  winmsg::HWND hwnd() const { return hwnd_; }
  bool monitoring() const { return timer_.isActive(); }
  bool has_tray() const { return tray_ != nullptr; }
  CTrayNotifyIcon* tray() { return tray_; }
  CWelmoricView* view() { return view_; }
  QMenu* tray_menu() { return menu_; }
  QString count_text() const { return count_->text(); }
  QString state_text() const { return state_->text(); }
  const AnswerQueue& queue() const { return queue_; }
  AnswerQueue& queue() { return queue_; }

  // The commands of the menus and the tray.
  void ShowMonitor();
  void TogglePause();
  void HideMonitor();
  // Takes the hand-over: reads the shared block and queues the answer copy. Gives 1 when the
  // block existed.
  winmsg::LRESULT OnAddResult();
  // One timer tick: reads the queued answers (and the list when the window is visible) on the
  // worker; the results are shown when they come back. A tick during a poll is skipped.
  void OnTimer();
  // Rebuilds the list: read on the worker (after a poll under way), shown when it comes
  // back; while paused the list is emptied at once.
  void RefreshList();
  // Waits until no poll is under way and its results were shown.
  void WaitIdle();
  // Takes a function told of every result popup shown (its title and lines), for the log.
  void set_on_shown(std::function<void(const ResultPopupText&)> f) { on_shown_ = std::move(f); }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  // The column widths when none are stored: each column fits its header and the widest
  // text it commonly shows, so a date stays on one line.
  std::vector<int> FittedColumnWidths() const;
  // The list's width with every column whole (frame and scroll bar included).
  int ListWidth() const;
  void ApplyList(const ListView& v);
  // Makes the tray icon and shows it, or puts the one made into the tray again.
  void MakeTrayIcon();
  // The tray watch's tick: a tray that appeared since the last tick gets the icon.
  void WatchTray();
  void StartWork(bool answers, bool list);
  void PollDone(std::vector<AnswerQueue::Arrival> read, std::optional<ListView> list);
  void SavePlacementNow();
  void SaveWidths();
  winmsg::LRESULT Proc(winmsg::UINT msg, winmsg::WPARAM w, winmsg::LPARAM l);

  std::function<void(const QString&)> notify_;
  std::function<void(const ResultPopupText&)> on_shown_;
  CWelmoricView* view_ = nullptr;
  QLabel* count_ = nullptr;
  QLabel* state_ = nullptr;
  CTrayNotifyIcon* tray_ = nullptr;
  QMenu* menu_ = nullptr;
  QAction* pause_action_ = nullptr;
  QTimer timer_;
  QTimer tray_watch_;
  bool tray_available_ = false;
  AnswerQueue queue_;
  RequestList list_;
  bool first_show_ = true;
  bool polling_ = false;
  bool refresh_pending_ = false;
  std::thread worker_;
  winmsg::HWND hwnd_ = 0;
};

// Gives the monitor's two tray icons (monitoring, paused).
QIcon MonitorIcon(bool paused);

}  // namespace zv::monitor
