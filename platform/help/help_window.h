// The programs' help window: an HTML view of a shipped help page that follows the page's own
// links (its anchors) and hands every link that leaves the page to the desktop's opener
// (xdg-open). No browser is needed to read the help, and the program that opened the window
// can close it: HelpViewer keeps the one window a program has open, closes it before it opens
// the page anew, and closes it when the program ends (the viewer's owner goes).
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QCloseEvent;
class QTextBrowser;
class QUrl;

namespace zv::help {

// Starts a program by its argument vector and forgets it; gives whether it started.
using Opener = std::function<bool(const std::vector<std::string>& argv)>;

// Takes nothing; gives the opener that starts the command process::OpenFileCommand gives
// (xdg-open), detached.
Opener DesktopOpener();

// One help page in a window of its own (object name "zvHelpWindow"). A page that cannot be
// read shows what was missed instead. The window never keeps its program running.
class HelpWindow : public QWidget {
 public:
  // Takes the page file and the opener for links that leave the page.
  HelpWindow(const std::string& page, Opener open_outside);
  const std::string& page() const { return page_; }
  QTextBrowser* browser() const { return browser_; }
  // Takes a link of the page: an anchor of the page scrolls to it; any other link goes to
  // the opener (a relative one as the file beside the page).
  void FollowLink(const QUrl& link);
  // Takes the window that opened the help (null: none); it gets the focus back when the
  // help window closes (Escape, Ctrl+W or the window's close box).
  void SetReturnWindow(QWidget* window) { return_to_ = window; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::string page_;
  QPointer<QWidget> return_to_;
  Opener open_outside_;
  QTextBrowser* browser_;
};

// The help window a program keeps (as the help command keeps its viewer's process).
class HelpViewer {
 public:
  // Takes the opener for links that leave the page (empty: DesktopOpener()).
  explicit HelpViewer(Opener open_outside = {});
  // Closes the window: the program that owns the viewer is ending.
  ~HelpViewer();
  HelpViewer(const HelpViewer&) = delete;
  HelpViewer& operator=(const HelpViewer&) = delete;

  // Takes a page; closes the window opened earlier, then opens the page in a new window,
  // which hands the focus back to the window active before it when it closes.
  void Open(const std::string& page);
  // Closes the window when one is open.
  void Close();
  // Gives the open window (null when none).
  HelpWindow* window() const { return window_.data(); }

 private:
  Opener open_outside_;
  QPointer<HelpWindow> window_;
};

}  // namespace zv::help
