// The viewer's windows offscreen: the page view over a 12-page document of mixed
// orientations, its menus, the preview frame and the page-flip window. Screenshots go to
// the build's artifacts/ folder.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <fstream>

#include <gtest/gtest.h>

#include "jobdoc/sample/sample_document.h"
#include "platform/gdi/emf/builder.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/latin_texts.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/winmsg.h"
#include "viewer/qt/menus.h"
#include "viewer/qt/preview_frame.h"
#include "viewer/qt/prompter.h"
#include "viewer/qt/tool_button.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/tests/fixtures.h"
#include "viewer/view/driven.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {
namespace {

QApplication& App() { return zv::testing::QtApp(); }

// Answers the viewer's questions from queues and records what it was told.
class RecordingPrompter : public ViewerPrompter {
 public:
  RecordingPrompter() { SetPrompter(this); }
  ~RecordingPrompter() override { SetPrompter(nullptr); }
  void Message(QWidget*, const std::string& text, PromptIcon) override { messages.push_back(text); }
  bool AskYesNo(QWidget*, const std::string& text) override {
    messages.push_back(text);
    return yes;
  }
  std::optional<std::string> ChooseFolder(QWidget*, const std::string& title) override {
    messages.push_back(title);
    if (folders.empty()) return std::nullopt;
    std::string f = folders.front();
    folders.erase(folders.begin());
    return f;
  }
  std::optional<unsigned> AskPageNumber(QWidget*, int) override { return page_number; }
  std::optional<int> AskZoomPercent(QWidget*, int) override {
    ++zoom_dialogs;
    return zoom_percent;
  }
  int RunDialog(QDialog* d) override {
    dialogs.push_back(d->objectName().toStdString());
    if (on_dialog) on_dialog(d);
    return QDialog::Accepted;
  }
  std::vector<std::string> messages, folders, dialogs;
  std::optional<unsigned> page_number;
  std::optional<int> zoom_percent;
  int zoom_dialogs = 0;
  bool yes = false;
  std::function<void(QDialog*)> on_dialog;
};

testing::Bytes SampleImage(int pages = 12, bool attachment = true) {
  return testing::ImageOf(jobdoc::sample::MakeDocument(pages, 12, attachment));
}

std::string Save(QWidget* w, const char* name) {
  const std::string path = zv::testing::ArtifactsDir() + "/" + name;
  w->grab().save(QString::fromStdString(path));
  return path;
}

// A host widget with a document loaded and a view attached.
struct AppInit {
  AppInit() { App(); }
};

struct ViewFixture {
  explicit ViewFixture(int w = 600, int h = 400, int pages = 12, int zoom = 1) {
    host.resize(w, h);
    host.show();
    image = SampleImage(pages);
    doc.LoadFromBuffer(image, std::uint16_t(pages));
    view.SetDocument(&doc);
    view.AttachWindow(&host, zoom, 0);
    view.WaitForPages();
  }
  AppInit app;
  zv::testing::TempRoot root;
  QWidget host;
  CViewerDoc doc;
  testing::Bytes image;
  CViewerView view;
};

QRgb PixelOf(QWidget& w, int x, int y) { return w.grab().toImage().pixel(x, y) & 0xFFFFFF; }

TEST(ViewTest, ZoomModesFreeValuesAndTheDialog) {
  ViewFixture f;
  RecordingPrompter prompter;
  struct Case {
    int request;
    int mode, percent;
  } cases[] = {
      // The reference size of mixed pages is their largest width and height (297 mm both
      // ways): page width fits 297 mm into 600 - 16 - 8 pixels (49 dpi), whole page fits
      // it into 400 - 8 (33 dpi).
      {0, view::kWholePage, 34}, {1, view::kPageWidth, 51}, {2, view::kMaximum, 200},
      {150, view::kFree, 150},   {10, view::kFree, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(f.view.SetZoom(c.request, -1, -1), 1) << c.request;
    EXPECT_EQ(f.view.zoom_mode(), c.mode) << c.request;
    EXPECT_EQ(f.view.zoom_percent(), c.percent) << c.request;
  }
  EXPECT_EQ(prompter.zoom_dialogs, 0);
  // 250 asks; Cancel changes nothing, OK takes the percentage as free zoom.
  EXPECT_EQ(f.view.SetZoom(250, -1, -1), 0);
  EXPECT_EQ(f.view.zoom_percent(), 10);
  prompter.zoom_percent = 120;
  EXPECT_EQ(f.view.SetZoom(3, -1, -1), 1);
  EXPECT_EQ(prompter.zoom_dialogs, 2);
  EXPECT_EQ(f.view.zoom_mode(), view::kFree);
  EXPECT_EQ(f.view.zoom_percent(), 120);
  // Whole page in an area larger than the page goes beyond 200 %.
  f.host.resize(3000, 4000);
  QCoreApplication::processEvents();
  EXPECT_EQ(f.view.SetZoom(0, -1, -1), 1);
  EXPECT_GT(f.view.zoom_percent(), 200);
}

TEST(ViewTest, CacheNeverAboveSevenWhileScrollingAndEdgesWaitForTheWorker) {
  ViewFixture f(600, 1200, 12, 1);
  for (int row = 0; row < 12; ++row) {
    f.view.GoToPage(std::uint16_t(row));
    f.view.WaitForPages();
    ASSERT_LE(f.view.cached_rows(), 7u) << row;
  }
  // Small pages: many rows on screen at once, still never above seven.
  f.view.SetZoom(10, -1, -1);
  f.view.WaitForPages();
  EXPECT_LE(f.view.most_cached_rows(), 7u);
  EXPECT_EQ(f.view.cached_rows(), 7u);
  // Edits while rows are being drawn: the worker is stopped first.
  f.view.SetZoom(1, -1, -1);
  f.host.repaint();
  EXPECT_EQ(f.view.MoveDocumentPages(0, 1, 5), 1);
  f.host.repaint();
  const testing::Bytes smaller = SampleImage(3);
  ASSERT_EQ(f.doc.LoadFromBuffer(smaller, 3), 1);
  f.view.WaitForPages();
  EXPECT_EQ(f.view.GetPageCount(), 3);
}

TEST(ViewTest, NavigationAtTheEndsAndThePageNumberDialog) {
  ViewFixture f;
  RecordingPrompter prompter;
  EXPECT_EQ(f.view.CanGoPrevious(), 0);
  EXPECT_EQ(f.view.CanGoNext(), 1);
  EXPECT_EQ(f.view.CanChoosePage(), 1);
  f.view.GoNext();
  EXPECT_EQ(f.view.GetCurrentPage(), 1);
  f.view.GoPrevious();
  EXPECT_EQ(f.view.GetCurrentPage(), 0);
  f.view.GoToPage(11);
  EXPECT_EQ(f.view.GetCurrentPage(), 11);
  EXPECT_EQ(f.view.CanGoNext(), 1) << "the last row at the top is not yet the end";
  f.view.GoNext();
  EXPECT_EQ(f.view.vertical_position(), f.view.scroll_layout().vertical.max);
  EXPECT_EQ(f.view.GetCurrentPage(), 11);
  EXPECT_EQ(f.view.CanGoNext(), 0);
  EXPECT_EQ(f.view.CanGoPrevious(), 1);

  struct Case {
    std::optional<unsigned> typed;
    int want;
  } cases[] = {{3, 2}, {0, 2}, {std::nullopt, 2}, {99, 11}, {1, 0}};
  for (const Case& c : cases) {
    prompter.page_number = c.typed;
    EXPECT_EQ(f.view.ChoosePage(), 1);
    EXPECT_EQ(f.view.GetCurrentPage(), c.want) << (c.typed ? int(*c.typed) : -1);
  }
  std::string label;
  f.view.GoToPage(2);
  f.view.GetPageLabel(&label);
  EXPECT_EQ(label, "3頁");

  // A document that fits the area: no scrolling, no navigation.
  ViewFixture small(600, 2000, 1, 0);
  EXPECT_EQ(small.view.CanGoPrevious() + small.view.CanGoNext() + small.view.CanChoosePage(), 0);
  EXPECT_EQ(small.view.GoToPage(0), 0);
}

TEST(ViewTest, PageNumberDialogRefusesTextItCannotRead) {
  App();
  RecordingPrompter prompter;
  std::unique_ptr<NumberDialog> d(MakePageNumberDialog(nullptr, 4));
  EXPECT_EQ(d->edit()->text(), QStringLiteral("5"));
  d->edit()->setText(QStringLiteral("abc"));
  d->accept();
  EXPECT_EQ(d->result(), 0) << "stays open";
  EXPECT_EQ(d->edit()->text(), QStringLiteral("5"));
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], "ﾍﾟｰｼﾞ番号の指定に誤りがあります");
  d->edit()->setText(QStringLiteral("7"));
  d->accept();
  EXPECT_EQ(d->result(), int(QDialog::Accepted));
  EXPECT_EQ(d->value(), 7u);
}

TEST(ViewTest, PagePickSelectsClearsAndTellsTheHost) {
  ViewFixture f(600, 400, 12, 0);
  QSignalSpy spy(&f.view, &CViewerView::hostMessage);
  f.view.SetSheetLayout(4, 2, 3);
  f.view.WaitForPages();
  EXPECT_EQ(f.view.mouse_mode(), kPagePick);
  const win::RECT row = f.view.RowRect(0);
  // The lower right slot of the first 2 x 2 sheet is page 3.
  const QPoint p((row.left + 3 * row.right) / 4, (row.top + 3 * row.bottom) / 4);
  QTest::mouseClick(&f.host, Qt::LeftButton, {}, p);
  int sel[2];
  f.view.GetSelectedPage(sel);
  EXPECT_EQ(sel[0], 0);
  EXPECT_EQ(sel[1], 3);
  f.view.WaitForPages();
  Save(&f.host, "view-4up-page-pick.png");
  QTest::mouseClick(&f.host, Qt::LeftButton, {}, p);
  f.view.GetSelectedPage(sel);
  EXPECT_EQ(sel[1], -1);
  QCoreApplication::processEvents();
  std::vector<std::pair<qintptr, qintptr>> picks;
  for (const QList<QVariant>& args : spy) {
    if (args[0].toInt() == kMsgPageChanged && args[1].toLongLong() == 1) {
      picks.emplace_back(args[1].toLongLong(), args[2].toLongLong());
    }
  }
  EXPECT_EQ(picks, (std::vector<std::pair<qintptr, qintptr>>{{1, 3}, {1, -1}}));
}

// A host in another program: the view posts its messages to the host's platform window too.
TEST(ViewTest, MessagesReachAPlatformHostWindow) {
  ViewFixture f(600, 400, 12, 0);
  std::vector<std::pair<winmsg::WPARAM, winmsg::LPARAM>> got;  // WM_USER+21: wParam, lParam
  auto host = winmsg::Window::Create("ViewerTestHost", "",
                                     [&](winmsg::HWND, winmsg::UINT m, winmsg::WPARAM w, winmsg::LPARAM l) {
                                       if (m == kMsgPageChanged) got.emplace_back(w, l);
                                       return winmsg::LRESULT{0};
                                     });
  ASSERT_TRUE(host.ok());
  f.view.SetHostWindowHandle(host->hwnd());
  const win::RECT row = f.view.RowRect(0);
  QTest::mouseClick(&f.host, Qt::LeftButton, {}, QPoint((row.left + row.right) / 2, (row.top + row.bottom) / 2));
  f.view.GoToPage(2);
  winmsg::PumpMessages();
  EXPECT_EQ(got, (std::vector<std::pair<winmsg::WPARAM, winmsg::LPARAM>>{{1, 0}, {0, 0}}))
      << "the picked page 0, then a scroll";
  f.view.SetHostWindowHandle(0);
}

TEST(ViewTest, SheetsOfTwoAndFourWithSeparators) {
  ViewFixture f(700, 520, 12, 0);
  Save(&f.host, "view-1up.png");
  f.view.SetSheetLayout(2, 1, 3);
  f.view.WaitForPages();
  EXPECT_EQ(f.view.sheet_layout().columns, 2u);
  EXPECT_EQ(f.view.scroll_layout().rows, 6);
  Save(&f.host, "view-2up.png");
  f.view.SetSheetLayout(4, 2, 3);
  f.view.WaitForPages();
  EXPECT_EQ(f.view.scroll_layout().rows, 3);
  Save(&f.host, "view-4up.png");
}

// A page flagged rotated whose upright image has a black block in its top-left corner.
testing::Bytes TurnedPageImage() {
  emf::Writer::Options o;
  o.device = win::SIZEL{2480, 3508};
  o.millimeters = win::SIZEL{210, 297};
  o.frame = win::RECTL{0, 0, 21000, 29700};
  emf::MetafileBuilder b(o);
  b.CreateBrush(1, 0, 0x000000).SelectObject(1).Rectangle(0, 0, 1240, 600);
  jobdoc::DocumentImage doc;
  doc.name = "turned";
  jobdoc::DocumentPage p;
  p.metafile = b.Build();
  p.attributes = testing::A4();
  p.attributes.word |= jobdoc::kAttrRotated;
  doc.pages.push_back(std::move(p));
  return testing::ImageOf(doc);
}

TEST(ViewTest, RotatedPagesAreTurnedClockwise) {
  App();
  zv::testing::TempRoot root;
  QWidget host;
  host.resize(500, 400);
  host.show();
  CViewerDoc doc;
  const testing::Bytes image = TurnedPageImage();
  ASSERT_EQ(doc.LoadFromBuffer(image, 1), 1);
  CViewerView view;
  view.SetDocument(&doc);
  view.AttachWindow(&host, 0, 0);
  view.WaitForPages();
  const win::RECT r = view.RowRect(0);
  ASSERT_GT(r.right - r.left, r.bottom - r.top) << "a rotated A4 page shows landscape";
  const int w = r.right - r.left, h = r.bottom - r.top;
  // Turned clockwise, the upright top-left block lies along the top of the right edge.
  EXPECT_EQ(PixelOf(host, r.left + w * 95 / 100, r.top + h * 20 / 100), 0x000000u);
  EXPECT_EQ(PixelOf(host, r.left + w * 5 / 100, r.top + h * 20 / 100), 0xFFFFFFu);
  EXPECT_EQ(PixelOf(host, r.left + w * 95 / 100, r.top + h * 80 / 100), 0xFFFFFFu);
  Save(&host, "view-turned-page.png");
  // The magnifier shows it turned as well.
  view.SetMouseMode(kMagnifier);
  const QPoint at(r.left + w * 90 / 100, r.top + h * 30 / 100);
  view.OpenLensAt(at);
  EXPECT_TRUE(view.lens_open());
  EXPECT_EQ(PixelOf(host, at.x(), at.y()), 0x000000u);
  view.CloseLens();
}

TEST(ViewTest, LensNearThePageEdgeShowsTheBackground) {
  ViewFixture f(700, 500, 12, 0);
  f.view.SetMouseMode(kMagnifier);
  const win::RECT r = f.view.RowRect(0);
  // The page's left edge on the middle line of its (square) slot.
  const int mid = (r.top + r.bottom) / 2;
  const QImage before = f.host.grab().toImage();
  int edge = r.left;
  while (edge < r.right && (before.pixel(edge, mid) & 0xFFFFFF) != 0xFFFFFFu) ++edge;
  ASSERT_LT(edge, r.right);
  const QPoint at(edge + 10, mid);
  QTest::mousePress(&f.host, Qt::LeftButton, {}, at);
  EXPECT_TRUE(f.view.lens_open());
  const QImage shot = f.host.grab().toImage();
  // Left of the page inside the lens: the background; the outline is black.
  EXPECT_EQ(shot.pixel(at.x() - 60, at.y()) & 0xFFFFFF, 0x808080u);
  EXPECT_EQ(shot.pixel(at.x() + 198, at.y()) & 0xFFFFFF, 0x000000u);
  EXPECT_EQ(shot.pixel(at.x() + 60, at.y()) & 0xFFFFFF, 0xFFFFFFu) << "the page, magnified";
  Save(&f.host, "view-lens.png");
  QTest::mouseRelease(&f.host, Qt::LeftButton, {}, at);
  EXPECT_FALSE(f.view.lens_open());
}

TEST(ViewTest, SelectionIsCopiedOrRefusedWhenTooLarge) {
  ViewFixture f;
  RecordingPrompter prompter;
  f.view.SetMouseMode(kImageSelect);
  const win::RECT r = f.view.RowRect(0);
  QTest::mousePress(&f.host, Qt::LeftButton, {}, QPoint(r.left + 20, r.top + 20));
  QTest::mouseMove(&f.host, QPoint(r.left + 200, r.top + 150));
  QTest::mouseRelease(&f.host, Qt::LeftButton, {}, QPoint(r.left + 200, r.top + 150));
  ASSERT_EQ(f.view.HasSelection(), 1);
  Save(&f.host, "view-selection.png");
  std::unique_ptr<QMenu> menu(f.view.BuildContextMenu());
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(MenuText(menu.get()), QStringLiteral("コピー(&C)|キャンセル"));
  QGuiApplication::clipboard()->clear();
  EXPECT_EQ(f.view.CopySelection(), 1);
  const QImage copied = QGuiApplication::clipboard()->image();
  EXPECT_EQ(copied.size(), QSize(180, 130));
  EXPECT_EQ(copied.pixel(100, 100) & 0xFFFFFF, 0xFFFFFFu) << "the page's paper";

  QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
  f.view.SetSelectionRect(win::RECT{0, 0, 40000, 40000});
  EXPECT_EQ(f.view.CopySelection(), 0);
  ASSERT_FALSE(prompter.messages.empty());
  EXPECT_EQ(prompter.messages.back(), "選択した範囲が大き過ぎるためコピーできません");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
  f.view.ClearSelection();
  EXPECT_EQ(f.view.HasSelection(), 0);
}

TEST(MenuTest, ViewMenuDependsOnTheHostAndTheExports) {
  ViewFixture f;
  view::ClearDrivenThroughExportsForTest();
  EXPECT_EQ(f.view.BuildContextMenu(), nullptr) << "embedded: the host's own menu";
  view::SetDrivenThroughExports();
  std::unique_ptr<QMenu> m(f.view.BuildContextMenu());
  ASSERT_NE(m, nullptr);
  const QString text = MenuText(m.get());
  EXPECT_FALSE(text.contains(QStringLiteral("閉じる(&X)")));
  EXPECT_FALSE(text.contains(QStringLiteral("ヘルプ(&H)")));
  EXPECT_TRUE(text.endsWith(QStringLiteral("印刷(&P)...|文書情報(&I)...|添付ﾌｧｲﾙ(&T)..."))) << text.toStdString();
  EXPECT_FALSE(FindCommand(m.get(), cmd::kPrevious)->isEnabled()) << "at the top";
  EXPECT_TRUE(FindCommand(m.get(), cmd::kZoomWidth)->isChecked());
  EXPECT_TRUE(FindCommand(m.get(), cmd::kPaneClose)->isChecked());
  EXPECT_FALSE(FindCommand(m.get(), cmd::kMouseHand)->isChecked()) << "page pick marks no mode";
  view::ClearDrivenThroughExportsForTest();
}

TEST(MenuTest, PaneCommandsToggleAndSwitch) {
  ViewFixture f;
  EXPECT_FALSE(f.view.pane_open());
  f.view.ResizeTagPane(0);
  EXPECT_TRUE(f.view.pane_open());
  f.view.ResizeTagPane(0);
  EXPECT_FALSE(f.view.pane_open());
  f.view.ResizeTagPane(0);
  EXPECT_TRUE(f.view.pane_open()) << "twice closes and reopens";
  f.view.SwitchTagKind();
  EXPECT_EQ(f.view.pane_kind(), 0);
  EXPECT_TRUE(f.view.pane_open());
  // The page-tags command while thumbnails are shown switches back and stays open.
  f.view.Command(cmd::kPaneTags);
  EXPECT_EQ(f.view.pane_kind(), 1);
  EXPECT_TRUE(f.view.pane_open());
}

// Writes the sample image to a file and gives its path.
std::string WriteImage(const zv::testing::TempRoot& root, const testing::Bytes& image, std::uint8_t placement,
                       const char* name = "doc.img") {
  testing::Bytes copy = image;
  copy[5] = placement;
  const std::string path = root.str() + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(copy.data()), std::streamsize(copy.size()));
  return path;
}

TEST(FrameTest, ButtonsStatusAndDocumentInformation) {
  App();
  zv::testing::TempRoot root;
  RecordingPrompter prompter;
  view::SetDrivenThroughExports();
  // Pages 1-2 A4 portrait, 3 A4 landscape, 4 B5 turned, ... and one attachment.
  const std::string path = WriteImage(root, SampleImage(12, true), 1);
  CViewerPreviewFrame frame(path.c_str());
  ASSERT_TRUE(frame.Initialise());
  frame.resize(900, 640);
  frame.show();
  frame.view()->WaitForPages();
  EXPECT_EQ(frame.windowTitle().toStdString(), "Quarterly report - Tarvessa文書");
  ASSERT_NE(frame.button(cmd::kAttachments), nullptr);
  EXPECT_EQ(frame.button(cmd::kHelp)->geometry().left(), 449);

  frame.view()->GoToPage(2);
  QCoreApplication::processEvents();
  frame.view()->WaitForPages();
  EXPECT_EQ(frame.status_text().toStdString(), "3頁表示中     ");
  EXPECT_TRUE(frame.button(cmd::kPrevious)->isEnabled());
  EXPECT_EQ(zv::testing::LatinTexts(&frame, {"Tarvessa", "Quarterly", "report"}), std::vector<std::string>{});
  Save(&frame, "frame.png");

  // Thumbnails shown, then the page-tags button: tags, still open. The open pane takes the
  // left of the page area.
  frame.OnCommand(cmd::kPaneThumbs);
  EXPECT_EQ(frame.view()->pane_kind(), 0);
  ASSERT_TRUE(frame.view()->pane_open());
  win::RECT area;
  frame.view()->GetPageArea(&area);
  EXPECT_EQ(area.left, frame.view()->pane_width());
  EXPECT_TRUE(frame.view()->pane()->isVisible());
  frame.view()->WaitForPages();
  Save(&frame, "frame-thumbnails.png");
  frame.OnCommand(cmd::kPaneTags);
  EXPECT_EQ(frame.view()->pane_kind(), 1);
  EXPECT_TRUE(frame.view()->pane_open());
  frame.view()->WaitForPages();
  Save(&frame, "frame-page-tags.png");
  frame.OnCommand(cmd::kPaneClose);
  EXPECT_FALSE(frame.view()->pane()->isVisible());

  QString papers, attachments;
  prompter.on_dialog = [&](QDialog* d) {
    if (d->objectName() != QStringLiteral("141")) return;
    papers = d->findChild<QPlainTextEdit*>(QStringLiteral("1009"))->toPlainText();
    attachments = d->findChild<QPlainTextEdit*>(QStringLiteral("1010"))->toPlainText();
    d->resize(d->sizeHint());
    d->show();
    Save(d, "document-information.png");
  };
  frame.OnCommand(cmd::kDocInfo);
  EXPECT_TRUE(papers.startsWith(QStringLiteral("Ａ４縦 1～2ページ\nＡ４横 3ページ\nＢ５縦 縦横変換 4ページ\n")))
      << papers.toStdString();
  EXPECT_TRUE(attachments.contains(QStringLiteral("\t3000B\t"))) << attachments.toStdString();
  frame.OnCommand(cmd::kHelp);
  frame.OnCommand(cmd::kPrint);
  EXPECT_EQ(prompter.dialogs, (std::vector<std::string>{"141", "1010", "1538"}));

  // Saving the attachments: a folder that is not one is refused, then all are saved.
  const std::string out = root.str() + "/out";
  std::filesystem::create_directory(out);
  prompter.folders = {root.str() + "/missing", out};
  frame.OnCommand(cmd::kAttachments);
  EXPECT_EQ(prompter.messages.back(), "すべてのﾌｧｲﾙが正常に保存できました。");
  EXPECT_FALSE(std::filesystem::is_empty(out));
  frame.reject();
  EXPECT_TRUE(frame.closing_steps().empty()) << "from the work-area placement it closes at once";
  view::ClearDrivenThroughExportsForTest();
}

TEST(FrameTest, WithoutAttachmentsHelpMovesLeftAndFullScreenShrinksOnClose) {
  App();
  zv::testing::TempRoot root;
  RecordingPrompter prompter;
  const std::string path = WriteImage(root, SampleImage(3, false), 0);
  CViewerPreviewFrame frame(path.c_str());
  ASSERT_TRUE(frame.Initialise());
  EXPECT_TRUE(frame.full_screen_placement());
  EXPECT_EQ(frame.button(cmd::kAttachments), nullptr);
  EXPECT_EQ(frame.button(cmd::kHelp)->geometry().left(), 363);
  frame.show();
  QString attachments;
  prompter.on_dialog = [&](QDialog* d) {
    attachments = d->findChild<QPlainTextEdit*>(QStringLiteral("1010"))->toPlainText();
  };
  frame.OnCommand(cmd::kDocInfo);
  EXPECT_EQ(attachments.toStdString(), "ﾌﾟﾚﾋﾞｭｰの場合、添付ﾌｧｲﾙは扱いません");
  const QRect start = frame.geometry();
  frame.reject();
  ASSERT_EQ(frame.closing_steps().size(), 10u);
  EXPECT_EQ(frame.closing_steps().back().width(), start.width() - 20 * (start.width() / 20));

  CViewerPreviewFrame missing((root.str() + "/none.img").c_str());
  EXPECT_FALSE(missing.Initialise());
  CViewerPreviewFrame no_path(nullptr);
  EXPECT_FALSE(no_path.Initialise());
}

TEST(FlipTest, TurnsPagesByHalvesAndKeys) {
  App();
  zv::testing::TempRoot root;
  const std::string path = WriteImage(root, SampleImage(5, false), 1);
  CViewerFlipDialog flip(path.c_str());
  ASSERT_TRUE(flip.Initialise());
  flip.resize(800, 600);
  flip.show();
  EXPECT_EQ(flip.current_page(), 4) << "starts at the last page";
  QTest::mouseClick(&flip, Qt::LeftButton, {}, QPoint(100, 300));
  EXPECT_EQ(flip.current_page(), 3);
  QTest::mouseClick(&flip, Qt::LeftButton, {}, QPoint(700, 300));
  EXPECT_EQ(flip.current_page(), 4);
  QTest::mouseClick(&flip, Qt::LeftButton, {}, QPoint(700, 300));
  EXPECT_EQ(flip.current_page(), 4) << "no next page at the end";
  QTest::keyClick(&flip, Qt::Key_Home);
  EXPECT_EQ(flip.current_page(), 0);
  QTest::keyClick(&flip, Qt::Key_PageDown);
  EXPECT_EQ(flip.current_page(), 1);
  QTest::keyClick(&flip, Qt::Key_End);
  EXPECT_EQ(flip.current_page(), 4);
  QTest::keyClick(&flip, Qt::Key_PageUp);
  EXPECT_EQ(flip.current_page(), 3);
  flip.GoTo(0);
  std::unique_ptr<QMenu> m(flip.BuildContextMenu());
  EXPECT_FALSE(FindCommand(m.get(), cmd::kPrevious)->isEnabled());
  EXPECT_TRUE(FindCommand(m.get(), cmd::kNext)->isEnabled());
  flip.WaitForPage();
  EXPECT_EQ(PixelOf(flip, 400, 300), 0xFFFFFFu) << "the page in the middle";
  EXPECT_EQ(PixelOf(flip, 2, 300), 0x000000u) << "black round it";
  Save(&flip, "page-flip.png");
  flip.reject();
  EXPECT_EQ(flip.closing_steps().size(), 10u);
}

}  // namespace
}  // namespace zv::viewer
