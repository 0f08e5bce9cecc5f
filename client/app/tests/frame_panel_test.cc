// The frame's settings panel and printer lists offscreen: the layout page's offset fields, the
// paper list and the printer-status calls, stored settings in the request, the local printer
// list, the header page and its name dialog, the duplicate box, and the printer commands.
#include "client/app/tests/frame_fixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDialog>
#include <QLabel>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <regex>
#include <utility>

#include "client/app/queue_window.h"
#include "client/request_file.h"
#include "platform/testing/artifacts.h"
#include "platform/testing/temp_root.h"
#include "viewer/qt/viewer_view.h"
#include "viewer/viewer_doc.h"

namespace zv::client::app {
namespace {

// The layout page's operations write their trace lines: IN and OUT, an early exit with its
// number.
TEST(LayoutOffsetTest, OperationsWriteTheirTraceLines) {
  App();
  zv::testing::TempRoot root;
  RecordingPrompt prompt;
  jobdoc::TraceLog trace(true, root.str());
  _CLayout page;
  page.set_prompt(&prompt);
  page.set_trace(&trace);
  page.ChoosePages(4);
  page.findChild<QRadioButton*>("1044")->click();
  page.SetOffset(1049, 12.5f, 0);
  page.SetOffset(1057, 5.0f, 0);
  page.CheckOffsetError();
  RequestOrder order;
  page.Fill(&order);
  auto log = fs::ReadFile(trace.path());
  ASSERT_TRUE(log.ok());
  EXPECT_EQ(*log,
            "_CLayout::OnLayoutGpage4 IN\n_CLayout::SetDispSplit IN\n_CLayout::SetDispSplit OUT\n"
            "_CLayout::OnLayoutGpage4 OUT\n"
            "_CLayout::OnLayoutGkugiriTate IN\n_CLayout::SetDispSplit IN\n_CLayout::SetDispSplit OUT\n"
            "_CLayout::OnLayoutGkugiriTate OUT\n"
            "_CLayout::SetOffSetTop IN\n_CLayout::SetOffSetTop OUT\n"
            "_CLayout::SetOffSetSize IN\n_CLayout::SetOffSetSize 1 OUT\n"
            "_CLayout::CheckOffSetErr IN\n_CLayout::CheckOffSetErr 1 OUT\n"
            "_CLayout::GetOrderOrientation IN\n_CLayout::GetOrderOrientation OUT\n"
            "_CLayout::GetOrderThumbnailCount IN\n_CLayout::GetOrderThumbnailCount OUT\n"
            "_CLayout::GetOrderSeparator IN\n_CLayout::GetOrderSeparator OUT\n"
            "_CLayout::GetOrderOffsetLeft IN\n_CLayout::GetOrderOffsetLeft OUT\n"
            "_CLayout::GetOrderOffsetTop IN\n_CLayout::GetOrderOffsetTop OUT\n"
            "_CLayout::GetOrderOffsetScale IN\n_CLayout::GetOrderOffsetScale OUT\n");
  EXPECT_EQ(order.thumbnail, 2);
}

TEST(LayoutOffsetTest, OffsetFieldsCheckWhatIsTypedAndKeepTheLastGoodValue) {
  App();
  RecordingPrompt prompt;
  _CLayout page;
  page.set_prompt(&prompt);
  page.findChild<QWidget*>("1047")->setVisible(true);  // hidden in the frame; shown to take focus
  page.show();
  QApplication::setActiveWindow(&page);
  auto* top = page.findChild<QLineEdit*>("1049");
  auto* left = page.findChild<QLineEdit*>("1053");
  auto* scale = page.findChild<QLineEdit*>("1057");
  ASSERT_TRUE(top && left && scale);
  EXPECT_EQ(scale->text(), "100.0");
  QSignalSpy changed(&page, &_CLayout::offsetsChanged);
  QSignalSpy rejected(&page, &_CLayout::offsetRejected);
  QSignalSpy resumed(&page, &_CLayout::offsetResumed);

  // Setters: in range written "%3.1f" and kept; out of range refused with the message.
  struct Case {
    int id;
    float value;
    int step;
    bool ok;
    const char* text;  // the field afterwards
  } cases[] = {
      {1049, 12.5f, 0, true, "12.5"}, {1049, 50.0f, -1, true, "50.0"}, {1053, -50.0f, 1, true, "-50.0"},
      {1053, -3.0f, 1, true, "-3.1"}, {1057, 9.9f, 0, false, "100.0"}, {1049, 50.5f, 0, false, "50.0"},
  };
  for (const auto& c : cases) {
    prompt.shown.clear();
    EXPECT_EQ(page.SetOffset(c.id, c.value, c.step), c.ok) << c.id << " " << c.value;
    EXPECT_EQ(page.findChild<QLineEdit*>(QString::number(c.id))->text().toStdString(), c.text) << c.id;
    EXPECT_EQ(prompt.shown.size(), c.ok ? 0u : 1u);
    if (!c.ok) {
      EXPECT_EQ(prompt.shown[0].text, "印字補正の補正値が異常です。");
    }
  }
  EXPECT_FLOAT_EQ(page.top_offset(), 50.0f);
  EXPECT_FLOAT_EQ(page.left_offset(), -3.1f);
  EXPECT_GE(changed.count(), 4);
  RequestOrder o;
  page.Fill(&o);
  EXPECT_EQ(o.offset_top, 500);
  EXPECT_EQ(o.offset_left, -31);
  EXPECT_EQ(o.scale, 1000);

  // Leaving a field with a bad text: one message, the page asks for the preview to wait,
  // the focus comes back, the last good value stays.
  top->setFocus();
  ASSERT_TRUE(top->hasFocus());
  EXPECT_TRUE(page.offset_focus());
  top->setText("1.2.3");
  prompt.shown.clear();
  left->setFocus();
  EXPECT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(rejected.count(), 1);
  for (int i = 0; i < 100 && !top->hasFocus(); ++i) QTest::qWait(20);
  ASSERT_TRUE(top->hasFocus());
  EXPECT_EQ(resumed.count(), 1);
  EXPECT_TRUE(page.offset_focus());
  EXPECT_FLOAT_EQ(page.top_offset(), 50.0f);
  EXPECT_FALSE(page.CheckOffsetError());  // Enter's check refuses it too
  top->setText("-7.24");
  EXPECT_TRUE(page.CheckOffsetError());
  EXPECT_EQ(top->text(), "-7.2");
  EXPECT_FLOAT_EQ(page.top_offset(), -7.24f);
  // The up key steps the field by 0.1.
  QTest::keyClick(top, Qt::Key_Up);
  EXPECT_EQ(top->text(), "-7.1");
  page.findChild<QRadioButton*>("1035")->setFocus();  // leaving with a good value
  EXPECT_FALSE(page.offset_focus());
}

TEST_F(FrameTest, PaperListFollowsThePrinterAndStatusHooksGetItsAddress) {
  WritePrinters({"Office A", "Office B"},
                {"PaperSize=-1,9,8\r\nForms=文書の設定用紙,A4,A3\r\nSize=(,),(2100,2970),(4200,2970)\r\n"
                 "Margin=(,,,),(1,2,3,4),(10,20,30,40)\r\n",
                 "PaperSize=-1,11\r\nForms=文書の設定用紙,A5\r\nSize=(,),(1480,2100)\r\nMargin=(,,,),(5,5,5,5)\r\n"});
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.output_printer = "Office A";
    s.paper_size = 8;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQp.tmp", 1), "/n", "P"})));
  WaitPrinters(*f);
  auto* printers = f->findChild<QComboBox*>("1068");
  auto* papers = f->findChild<QComboBox*>("1071");
  auto items = [&] {
    std::vector<std::string> v;
    for (int i = 0; i < papers->count(); ++i) v.push_back(papers->itemText(i).toStdString());
    return v;
  };
  auto* view = f->findChild<viewer::CViewerView*>();
  ASSERT_NE(view, nullptr);
  viewer::ViewPaper shown;

  // The stored printer and paper; the view gets the paper upright with its margins turned.
  EXPECT_EQ(printers->currentText(), "Office A");
  EXPECT_EQ(items(), (std::vector<std::string>{"文書の設定用紙", "A4", "A3"}));
  EXPECT_EQ(papers->currentIndex(), 2);
  view->GetPaper(&shown);
  EXPECT_EQ(shown.code, 8);
  EXPECT_EQ(shown.width, 2970);
  EXPECT_EQ(shown.height, 4200);
  ASSERT_FALSE(shown.margins.empty());
  EXPECT_EQ(shown.margins[0].left, 20);
  EXPECT_EQ(shown.margins[0].bottom, 10);
  EXPECT_EQ(status_.asked, std::vector<std::string>{"start 10.0.0.1"});

  papers->setCurrentIndex(1);
  EXPECT_EQ(f->paper_code(), 9);
  EXPECT_EQ(f->BuildOrder().paper, 9);

  // Another printer: its papers, and a code it lacks falls back to the document's paper.
  printers->setCurrentIndex(1);
  EXPECT_EQ(items(), (std::vector<std::string>{"文書の設定用紙", "A5"}));
  EXPECT_EQ(papers->currentIndex(), 0);
  EXPECT_EQ(f->paper_code(), -1);
  view->GetPaper(&shown);
  EXPECT_EQ(shown.code, -1);
  EXPECT_EQ(status_.asked, (std::vector<std::string>{"start 10.0.0.1", "select 10.0.0.2"}));

  // Timer 4 tells whether a run is under way.
  auto* timer = f->findChild<QTimer*>("timer4");
  ASSERT_NE(timer, nullptr);
  timer->setInterval(5);
  for (int i = 0; i < 100 && status_.asked.size() < 3; ++i) QTest::qWait(20);
  ASSERT_GE(status_.asked.size(), 3u);
  EXPECT_EQ(status_.asked[2], "timer 0");
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_paper_list.png"));
}

TEST_F(FrameTest, PanelShowsStoredSettingsAndFillsTheRequest) {
  WritePrinters({"Office A"});
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/Format.fmt",
                                  ComposeFormatFile({{"なし", "", "", ""}, {"社内", "<日付>", "社外秘", "<ページ>"}}))
                  .ok());
  {
    ClientSettings s;
    ASSERT_TRUE(LoadSettings(&s, app_, false).ok());
    s.thumbnail = 2;  // 4 pages per sheet
    s.lodrin = 2;
    s.page_line = 1;
    s.copies = 3;
    s.collate = 1;
    s.t_offset = 900;  // out of range: the default
    s.l_offset = -25;
    ASSERT_TRUE(SaveSettings(s).ok());
  }
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQa.tmp", 2), "/n", "A"})));
  WaitPrinters(*f);
  auto* header_list = f->findChild<QComboBox*>("1070");
  ASSERT_EQ(header_list->count(), 2);
  header_list->setCurrentIndex(1);
  emit header_list->activated(1);
  EXPECT_EQ(f->findChild<QLineEdit*>("1089")->text().toStdString(), "社外秘");
  // The 2-pages radio leaves direction off and separators on.
  EXPECT_TRUE(f->findChild<QRadioButton*>("1044")->isEnabled());
  f->layout_page()->ChoosePages(2);
  EXPECT_FALSE(f->findChild<QRadioButton*>("1040")->isEnabled());
  EXPECT_TRUE(f->findChild<QRadioButton*>("1043")->isEnabled());
  f->layout_page()->ChoosePages(4);

  auto* copies = f->findChild<QLineEdit*>("1030");
  EXPECT_EQ(copies->text(), "1");  // the copies field starts at 1 whatever was stored
  EXPECT_TRUE(f->findChild<QCheckBox*>("1032")->isChecked());
  copies->setText("250");
  f->copies_page()->ClampCopiesField();
  EXPECT_EQ(copies->text(), "100");

  RequestOrder o = f->BuildOrder();
  EXPECT_EQ(o.thumbnail, 2);
  EXPECT_EQ(o.orientation, 2);
  EXPECT_EQ(o.separator, 1);
  EXPECT_EQ(o.offset_top, 0);
  EXPECT_EQ(o.offset_left, -25);
  EXPECT_EQ(o.copies, 100);
  EXPECT_TRUE(o.collate);
  EXPECT_EQ(o.device, "Office A");
  // The request's header is the print document's: the date put in, the page left.
  EXPECT_TRUE(std::regex_match(o.h_left, std::regex("\\d{4}/\\d{2}/\\d{2}"))) << o.h_left;
  EXPECT_EQ(o.h_right, "<ページ>");
  ASSERT_EQ(o.jobs.size(), 1u);
  EXPECT_EQ(o.jobs[0].name, "A");
  EXPECT_EQ(o.rotations.size(), 2u);

  // A new format lands in Format.fmt; a name that would break the file is refused.
  EXPECT_TRUE(f->header_page()->SaveAs("控え"));
  EXPECT_FALSE(f->header_page()->SaveAs("HeaderFormat"));
  auto text = fs::ReadFile(app_ + "/Format.fmt");
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(ParseFormatFile(*text).size(), 3u);

  // The stored settings follow the panel.
  ASSERT_TRUE(f->SaveSettingsNow().ok());
  ClientSettings back;
  ASSERT_TRUE(LoadSettings(&back, app_, false).ok());
  EXPECT_EQ(back.thumbnail, 2);
  EXPECT_EQ(back.l_offset, -25);
  EXPECT_EQ(back.t_offset, 0);

  f->show();
  const char* names[] = {"ostrane_tab_layout.png", "ostrane_tab_header.png", "ostrane_tab_copies.png"};
  for (int i = 0; i < 3; ++i) {
    f->findChild<QTabWidget*>("1005")->setCurrentIndex(i);
    PreviewDrawn(*f);
    f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/" + names[i]));
  }
}

TEST_F(FrameTest, LocalListFollowsTheInstalledPrinters) {
  spool::FolderSpooler spooler;
  for (const char* n : {"Office", "Annex", "Zelvora"})
    ASSERT_TRUE(spooler.AddPrinter(spool::StandardFolderPrinter(n)).ok());
  auto names = [](CMainFrame& f) {
    std::vector<std::string> v;
    auto* combo = f.findChild<QComboBox*>("1068");
    for (int i = 0; i < combo->count(); ++i) v.push_back(combo->itemText(i).toStdString());
    return v;
  };
  // No list yet: built from every installed printer but the virtual one, counted in the
  // progress window, which goes away at the end.
  {
    auto f = Make();
    ASSERT_TRUE(f->StartUp(ParseStartArguments({})));
    WaitPrinters(*f);
    EXPECT_EQ(names(*f), (std::vector<std::string>{"Annex", "Office"}));
    auto* progress = f->findChild<QDialog*>("180");
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_EQ(progress->findChild<QLabel*>("1157")->text(), " 2/ 2");
  }
  // A listed printer no longer installed leaves the list; an installed one not listed joins.
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/printers.lst",
                                  "[PRINTERS]\r\nGone=\r\nOffice=\r\n\r\n[Gone]\r\nIPaddr=\r\n"
                                  "PaperSize=-1\r\nForms=文書の設定用紙\r\nSize=(,)\r\nMargin=(,,,)\r\n\r\n"
                                  "[Office]\r\nIPaddr=10.1.1.1\r\nPaperSize=-1\r\nForms=文書の設定用紙\r\n"
                                  "Size=(,)\r\nMargin=(,,,)\r\n\r\n")
                  .ok());
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({})));
  WaitPrinters(*f);
  EXPECT_EQ(names(*f), (std::vector<std::string>{"Office", "Annex"}));
  f->findChild<QComboBox*>("1068")->setCurrentIndex(0);
  EXPECT_EQ(f->selected_address(), "10.1.1.1");  // the kept entry keeps its block
}

TEST_F(FrameTest, HeaderTokensFollowThePrinterChoice) {
  WritePrinters({"Office A", "Office B"});
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQh.tmp", 1), "/n", "H"})));
  WaitPrinters(*f);
  auto header = [&] {
    int points = 0, rule = -1;
    viewer::HeaderFooterTexts h, foot;
    f->document().viewer().GetHeaderFooter(&points, &h, &foot, &rule);
    return h.left + "|" + h.right + "|" + std::to_string(rule);
  };
  auto* left = f->findChild<QLineEdit*>("1088");
  auto* right = f->findChild<QLineEdit*>("1090");
  left->insert(QString::fromUtf8("<プリンタ名>"));  // typed: the edit tells textEdited
  right->insert(QString::fromUtf8("<マシン名>/<ページ>"));
  const std::string machine = f->config().machine;
  EXPECT_EQ(header(), "Office A|" + machine + "/<ページ>|1");
  f->findChild<QComboBox*>("1068")->setCurrentIndex(1);
  EXPECT_EQ(header(), "Office B|" + machine + "/<ページ>|1");
  f->findChild<QRadioButton*>("1078")->click();  // the first page only
  EXPECT_EQ(header(), "Office B|" + machine + "/<ページ>|0");
  f->findChild<QTabWidget*>("1005")->setCurrentIndex(1);
  f->show();
  PreviewDrawn(*f);
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_header_printer.png"));
}

TEST_F(FrameTest, HeaderPageButtonsEditTheFormatFileAndPutTokensAtTheCursor) {
  WritePrinters({"Office A"});
  ASSERT_TRUE(fs::WriteFileAtomic(app_ + "/Format.fmt", ComposeFormatFile({{"なし", "", "", ""},
                                                                           {"社内", "<日付>", "社外秘", "<ページ>"},
                                                                           {"控え", "a", "b", "c"}}))
                  .ok());
  DialogAnswers dialogs;
  auto f = Make();
  ASSERT_TRUE(f->StartUp(ParseStartArguments({Capture(tmp_, "WXQt.tmp", 2), "/n", "T"})));
  WaitPrinters(*f);
  f->findChild<QTabWidget*>("1005")->setCurrentIndex(1);
  f->show();
  QApplication::setActiveWindow(f.get());
  auto* page = f->header_page();
  auto* list = page->findChild<QComboBox*>("1070");
  auto edit = [&](int i) { return page->findChild<QLineEdit*>(QString::number(1088 + i)); };
  auto click = [&](int id) { page->findChild<QAbstractButton*>(QString::number(id))->click(); };
  auto choose = [&](int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
  };
  auto names = [&] {
    std::vector<std::string> v;
    for (const auto& it : ParseFormatFile(*fs::ReadFile(app_ + "/Format.fmt"))) v.push_back(it.name);
    return v;
  };
  auto texts = [&](const std::string& name) {
    for (const auto& it : ParseFormatFile(*fs::ReadFile(app_ + "/Format.fmt")))
      if (it.name == name) return it.left + "|" + it.center + "|" + it.right;
    return std::string("(none)");
  };

  // The icon buttons say what they do in their tooltips; "改" is there but hidden.
  const std::pair<int, const char*> tips[] = {
      {1084, "名前の変更"}, {1083, "削除"},       {1094, "保存"},       {1091, "フォント"},
      {1092, "ページ数"},   {1093, "総ページ数"}, {1095, "日付"},       {1100, "時刻"},
      {1096, "ユーザ名"},   {1097, "マシン名"},   {1098, "プリンタ名"},
  };
  for (const auto& [id, tip] : tips) {
    auto* b = page->findChild<QAbstractButton*>(QString::number(id));
    ASSERT_NE(b, nullptr) << id;
    EXPECT_EQ(b->toolTip().toStdString(), tip) << id;
    EXPECT_FALSE(b->icon().isNull()) << id;
  }
  auto* line_break = page->findChild<QPushButton*>("1099");
  ASSERT_NE(line_break, nullptr);
  EXPECT_EQ(line_break->text().toStdString(), "改");
  EXPECT_TRUE(line_break->isHidden());

  // A token goes where the caret (or the selection) of the edit last focused is, and the
  // preview gets it with this side's values put in.
  const std::string account = f->config().account, machine = f->config().machine;
  struct TokenCase {
    int edit, button;
    int from, to;                 // the selection before the click
    std::string typed, expanded;  // the edit's text after, the print document's ("" : pattern)
  } cases[] = {
      {1, 1092, 1, 1, "A<ページ>B", "A<ページ>B"},
      {1, 1093, 0, 2, "<総ページ>", "<総ページ>"},
      {0, 1096, 2, 2, "AB<ユーザ名>", "AB" + account},
      {2, 1097, 0, 0, "<マシン名>AB", machine + "AB"},
      {1, 1098, 1, 1, "A<プリンタ名>B", "AOffice AB"},
      {0, 1095, 1, 2, "A<日付>", ""},
      {2, 1100, 1, 2, "A<時刻>", ""},
      {1, 1099, 1, 1, "A<改行>B", "A<改行>B"},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 3; ++i) edit(i)->setText("AB");
    edit(c.edit)->setFocus();
    edit(c.edit)->setSelection(c.from, c.to - c.from);
    if (c.from == c.to) edit(c.edit)->setCursorPosition(c.from);
    click(c.button);
    EXPECT_EQ(edit(c.edit)->text().toStdString(), c.typed) << c.button;
    EXPECT_TRUE(edit(c.edit)->hasFocus()) << c.button;
    int points = 0;
    viewer::HeaderFooterTexts h, foot;
    f->document().viewer().GetHeaderFooter(&points, &h, &foot, nullptr);
    const std::string doc_text = c.edit == 0 ? h.left : c.edit == 1 ? h.centre : h.right;
    if (c.expanded.empty()) {
      EXPECT_TRUE(std::regex_match(doc_text, std::regex("A(\\d{4}/\\d{2}/\\d{2}|\\d{2}:\\d{2})"))) << doc_text;
    } else {
      EXPECT_EQ(doc_text, c.expanded) << c.button;
    }
  }

  // Item 0 is neither renamed nor deleted, and no dialog opens for it.
  choose(0);
  click(1084);
  click(1083);
  EXPECT_TRUE(dialogs.titles.empty());
  std::vector<std::string> said;
  for (const auto& m : prompt_.shown) said.push_back(m.text);
  EXPECT_EQ(said, (std::vector<std::string>{"項目[なし]の名前は変更できません。", "項目[なし]は削除できません。"}));
  prompt_.shown.clear();

  // Rename: a taken name asks again; the name taken reaches the list and the file.
  choose(1);
  EXPECT_EQ(edit(1)->text().toStdString(), "社外秘");
  dialogs.answers = {DialogAnswers::Name("控え"), DialogAnswers::Name("社外")};
  click(1084);
  EXPECT_EQ(dialogs.titles, (std::vector<std::string>{"名前の変更", "名前の変更"}));
  ASSERT_EQ(prompt_.shown.size(), 1u);
  EXPECT_EQ(prompt_.shown[0].text, "その項目名は登録済みです。");
  EXPECT_EQ(prompt_.shown[0].title, "ヘッダ・フッタ編集");
  EXPECT_EQ(list->itemText(1).toStdString(), "社外");
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え"}));
  click(1084);  // cancelled: nothing changes
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え"}));

  // Texts edited over a format go back into it when another is chosen.
  edit(0)->setFocus();
  edit(0)->setCursorPosition(0);
  click(1092);
  choose(2);
  EXPECT_EQ(texts("社外"), "<ページ><日付>|社外秘|<ページ>");
  EXPECT_EQ(edit(0)->text().toStdString(), "a");

  // Save: the edited texts become a new format; the one shown before keeps its own.
  edit(0)->setText("");
  edit(0)->insert("新");
  dialogs.titles.clear();
  dialogs.answers = {DialogAnswers::Name("新規")};
  click(1094);
  EXPECT_EQ(dialogs.titles, (std::vector<std::string>{"ヘッダ・フッタの保存"}));
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え", "新規"}));
  EXPECT_EQ(texts("新規"), "新|b|c");
  EXPECT_EQ(texts("控え"), "a|b|c");
  EXPECT_EQ(list->currentIndex(), 3);

  // Delete asks (No keeps it); deleting the last selects the one before and shows it.
  prompt_.answer = PromptAnswer::kNo;
  click(1083);
  EXPECT_EQ(names().size(), 4u);
  prompt_.answer = PromptAnswer::kYes;
  click(1083);
  EXPECT_EQ(prompt_.shown.back().text, "選択した項目を削除してもよろしいですか？");
  EXPECT_EQ(names(), (std::vector<std::string>{"なし", "社外", "控え"}));
  EXPECT_EQ(list->count(), 3);
  EXPECT_EQ(list->currentIndex(), 2);
  EXPECT_EQ(edit(0)->text().toStdString(), "a");

  // The font button: the dialog starts from the document's font (the default, 12 points)
  // and its choice becomes the document's header and footer font.
  QFont started;
  dialogs.answers = {[&](QDialog* d) {
    auto* fd = static_cast<QFontDialog*>(d);
    started = fd->currentFont();
    fd->setCurrentFont(QFont("IPAGothic", 14));
    return int(QDialog::Accepted);
  }};
  click(1091);
  EXPECT_EQ(started.pointSize(), 12);
  EXPECT_EQ(started.family().toStdString(), "IPAPGothic");
  win::LOGFONTA lf{};
  f->document().viewer().GetHeaderFooterFont(&lf);
  int points = 0;
  f->document().viewer().GetHeaderFooter(&points, nullptr, nullptr, nullptr);
  EXPECT_EQ(points, 14);
  EXPECT_EQ(lf.lfHeight, -19);
  EXPECT_STREQ(lf.lfFaceName, "IPAGothic");

  choose(1);
  PreviewDrawn(*f);
  f->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_header_page.png"));
}

TEST(NameDialogTest, TakesNamesUpTo256Characters) {
  App();
  std::string c256;  // 256 characters of three bytes each
  for (int i = 0; i < 256; ++i) c256 += "字";
  struct Case {
    std::string text;
    bool taken;
  } cases[] = {{"", true}, {"控え", true}, {c256, true}, {c256 + "字", false}};
  for (const auto& c : cases) {
    RecordingPrompt prompt;
    NameDialog d(NameDialog::kSave, &prompt, "", nullptr);
    EXPECT_EQ(d.windowTitle().toStdString(), "ヘッダ・フッタの保存");
    d.edit()->setText(QString::fromStdString(c.text));
    d.accept();
    EXPECT_EQ(d.result() == QDialog::Accepted, c.taken) << c.text.size();
    EXPECT_EQ(d.name(), c.taken ? c.text : "");
    EXPECT_EQ(prompt.shown.size(), c.taken ? 0u : 1u);
    if (!c.taken) {
      EXPECT_EQ(prompt.shown[0].text, "入力値が適切ではありません。");
      EXPECT_EQ(d.edit()->cursorPosition(), 0);
    }
  }
  EXPECT_EQ(NameDialog(NameDialog::kRename, nullptr, "x").windowTitle().toStdString(), "名前の変更");
}

// While a server checks for duplicates the box is checked and greyed; back to local printing
// it shows, and stores, the user's own choice again.
TEST_F(FrameTest, TheDuplicateBoxKeepsTheUsersChoiceAcrossAServer) {
  for (int own : {0, 1}) {
    _CPrtSet page;
    ClientSettings s;
    s.dup_check = own;
    page.Load(s);
    page.SetDlgDuplication(0);
    auto* box = page.findChild<QCheckBox*>("1033");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->isEnabled());
    page.SetDlgDuplication(1);
    EXPECT_EQ(box->isChecked(), own == 1) << own;
    EXPECT_TRUE(box->isEnabled());
    ClientSettings back;
    back.dup_check = 1 - own;
    page.Store(&back);
    EXPECT_EQ(back.dup_check, own);
  }
}

// A queue the spooler cannot read: the window's line says so in Japanese, naming the
// printer, and never shows the spooler's own words.
TEST(QueueWindowTest, AQueueThatCannotBeReadIsToldInJapanese) {
  App();
  CQueueWindow w("Zelvora", [](const std::string&) -> Result<std::vector<spool::JobInfo>> {
    return Status::NotFound("no printer \"Zelvora\"");
  });
  QSignalSpy refreshed(&w, &CQueueWindow::refreshed);
  ASSERT_TRUE(refreshed.count() > 0 || refreshed.wait(10000));
  EXPECT_EQ(w.count_text().toStdString(), "プリンタ「Zelvora」が見つからないため、キューを読めません。");
}

// The queue and properties commands: each by the road the machine offers, disabled with
// the reason in its status prompt where none serves.
TEST_F(FrameTest, PrinterCommandsTakeTheRoadTheMachineOffers) {
  WritePrinters({"Office"});
  std::vector<std::vector<std::string>> started;
  std::vector<std::string> sheets;
  auto make = [&](PrinterCommandOffers offers) {
    FrameOptions o;
    o.prompt = &prompt_;
    o.capture_folder = tmp_;
    o.printer_offers = offers;
    o.run_program = [&](const std::vector<std::string>& argv) {
      started.push_back(argv);
      return true;
    };
    o.open_sheets = [&](const std::string& queue) {
      sheets.push_back(queue);
      return Status::NotFound("no sheets here");
    };
    auto f = std::make_unique<CMainFrame>(o);
    EXPECT_TRUE(f->StartUp(ParseStartArguments({})));
    WaitPrinters(*f);
    return f;
  };
  auto button = [](CMainFrame& f, const char* id) { return f.findChild<QPushButton*>(id); };
  auto item = [](CMainFrame& f, const char* id) { return f.findChild<QAction*>(id); };
  // Folder printers and no printer tool: the client's own queue window; no properties.
  {
    spool::FolderSpooler spooler;
    auto mode = spooler.DefaultDevMode("Office");
    ASSERT_TRUE(mode.ok());
    auto first = spooler.StartDoc("Office", {"見積書.pdf"}, *mode);
    auto second = spooler.StartDoc("Office", {"週報.xlsx"}, *mode);
    ASSERT_TRUE(first.ok() && second.ok());
    auto f = make({"", true, false});
    EXPECT_TRUE(button(*f, "1000")->isEnabled());
    EXPECT_TRUE(item(*f, "32798")->isEnabled());
    EXPECT_EQ(button(*f, "1000")->statusTip().toStdString(), kQueuePromptText);
    EXPECT_FALSE(button(*f, "1072")->isEnabled());
    EXPECT_FALSE(item(*f, "32799")->isEnabled());
    EXPECT_EQ(button(*f, "1072")->statusTip().toStdString(), kNotCupsText);
    f->show();
    button(*f, "1000")->click();
    auto* w = f->findChild<CQueueWindow*>();
    ASSERT_NE(w, nullptr);
    QSignalSpy refreshed(w, &CQueueWindow::refreshed);
    ASSERT_TRUE(refreshed.count() > 0 || refreshed.wait(10000));
    EXPECT_EQ(w->windowTitle().toStdString(), "Office - 印刷キュー");
    ASSERT_EQ(w->model()->rowCount(), 2);
    EXPECT_EQ(w->model()->data(w->model()->index(0, 0)).toString().toStdString(), "見積書.pdf");
    EXPECT_EQ(w->model()->headerData(1, Qt::Horizontal).toString().toStdString(), "状態");
    EXPECT_EQ(w->count_text().toStdString(), "キューに2個のドキュメント");
    // A job leaving the queue leaves the window at its next refresh.
    ASSERT_TRUE((*first)->Abort().ok());
    w->findChild<QPushButton*>("refresh")->click();
    ASSERT_TRUE(refreshed.wait(10000));
    EXPECT_EQ(w->model()->rowCount(), 1);
    EXPECT_TRUE(w->grab().save(QString::fromStdString(zv::testing::ArtifactsDir() + "/ostrane_queue_window.png")));
    // The command again raises the window open rather than opening another.
    item(*f, "32798")->trigger();
    EXPECT_EQ(f->findChildren<CQueueWindow*>().size(), 1u);
    EXPECT_TRUE(started.empty());
  }
  // CUPS with the desktop's printer tool: both commands open it on the chosen printer.
  {
    auto f = make({"/usr/bin/system-config-printer", true, true});
    button(*f, "1000")->click();
    button(*f, "1072")->click();
    EXPECT_EQ(started, (std::vector<std::vector<std::string>>{
                           {"/usr/bin/system-config-printer", "--show-jobs", "Office"},
                           {"/usr/bin/system-config-printer", "--configure-printer", "Office"}}));
  }
  // With a server the commands act on the virtual printer, whose properties are the
  // driver's own sheets; sheets that cannot be shown are told.
  {
    const std::string share = root_.str() + "/share";
    for (const char* d : {"/PrintInfo", "/Jobs", "/Result"}) fsys::create_directories(share + d);
    ASSERT_TRUE(fs::WriteFileAtomic(share + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n").ok());
    ASSERT_TRUE(JoinServer(share, "SRV", "share", app_).ok());
    prompt_.shown.clear();
    auto f = make({"", true, true});
    EXPECT_TRUE(button(*f, "1072")->isEnabled());
    button(*f, "1072")->click();
    EXPECT_EQ(sheets, std::vector<std::string>{"Zelvora"});
    ASSERT_EQ(prompt_.shown.size(), 1u);
    EXPECT_EQ(prompt_.shown[0].text, kPropertiesFailedText);
  }
  // Nothing serves either: both disabled, each with its reason.
  auto f = make({"", false, false});
  EXPECT_FALSE(button(*f, "1000")->isEnabled());
  EXPECT_EQ(button(*f, "1000")->toolTip().toStdString(), kNoQueueReaderText);
}

}  // namespace
}  // namespace zv::client::app
