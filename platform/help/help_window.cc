#include "platform/help/help_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFont>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/process/open_file.h"

namespace zv::help {
namespace {

QUrl WithoutFragment(const QUrl& url) { return url.adjusted(QUrl::RemoveFragment); }

}  // namespace

Opener DesktopOpener() {
  return [](const std::vector<std::string>& argv) { return process::RunDetached(argv).ok(); };
}

HelpWindow::HelpWindow(const std::string& page, Opener open_outside)
    : page_(page), open_outside_(std::move(open_outside)), browser_(new QTextBrowser(this)) {
  setObjectName("zvHelpWindow");
  setWindowFlag(Qt::Window);
  // Closed by its user, the window goes; it never keeps its program running.
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_QuitOnClose, false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  browser_->setObjectName("zvHelpPage");
  browser_->setFont(QFont("IPAPGothic"));
  browser_->setOpenLinks(false);
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) { FollowLink(link); });
  const QFileInfo file(QString::fromStdString(page));
  if (file.isFile() && file.isReadable()) {
    browser_->setSource(QUrl::fromLocalFile(file.absoluteFilePath()));
  } else {
    // A page that cannot be read: the window says so and names it.
    browser_->setHtml(
        QString("<h2>ヘルプファイルを開けません。</h2><p>%1</p>").arg(QString::fromStdString(page).toHtmlEscaped()));
  }
  const QString title = browser_->documentTitle();
  setWindowTitle(title.isEmpty() ? QString("ヘルプ") : title);
  // Escape and Ctrl+W close the window, as they close a dialog and a document window.
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
    auto* close_keys = new QShortcut(keys, this);
    close_keys->setContext(Qt::WindowShortcut);
    connect(close_keys, &QShortcut::activated, this, &QWidget::close);
  }
  resize(760, 640);
}

void HelpWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted() && return_to_ && return_to_->isVisible()) {
    return_to_->raise();
    return_to_->activateWindow();
  }
}

void HelpWindow::FollowLink(const QUrl& link) {
  const QUrl here = browser_->source();
  const QUrl target = here.isEmpty() ? link : here.resolved(link);
  if (link.toString().startsWith('#') || (!here.isEmpty() && WithoutFragment(target) == WithoutFragment(here))) {
    if (target.fragment().isEmpty()) browser_->verticalScrollBar()->setValue(0);
    else browser_->scrollToAnchor(target.fragment());
    return;
  }
  const std::string outside =
      target.isLocalFile() ? target.toLocalFile().toStdString() : target.toString(QUrl::FullyEncoded).toStdString();
  // A failed start of the opener is not reported, as a failed help start is not.
  if (open_outside_) (void)open_outside_(process::OpenFileCommand(outside));
}

HelpViewer::HelpViewer(Opener open_outside) : open_outside_(open_outside ? std::move(open_outside) : DesktopOpener()) {}

HelpViewer::~HelpViewer() { Close(); }

void HelpViewer::Open(const std::string& page) {
  QWidget* opener = QApplication::activeWindow();
  Close();
  window_ = new HelpWindow(page, open_outside_);
  window_->SetReturnWindow(opener);
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void HelpViewer::Close() {
  if (!window_) return;
  HelpWindow* w = window_.data();
  window_ = nullptr;
  w->close();
  delete w;
}

}  // namespace zv::help
