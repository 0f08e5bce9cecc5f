#include "viewer/qt/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <filesystem>

#include "viewer/qt/prompter.h"
#include "viewer/view/doc_info.h"
#include "viewer/view/driven.h"
#include "viewer/viewer_doc.h"

namespace zv::viewer {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QPushButton* Button(QWidget* parent, const char* text, int id) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setObjectName(QString::number(id));
  return b;
}

QLabel* Label(QWidget* parent, const char* text, int id = -1) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  if (id >= 0) l->setObjectName(QString::number(id));
  return l;
}

}  // namespace

QDialog* BuildDocumentInfoDialog(QWidget* parent, CViewerDoc& doc) {
  auto* d = new QDialog(parent);
  d->setObjectName(QStringLiteral("141"));
  d->setWindowTitle(QStringLiteral("文書情報"));
  d->setFont(ViewerFont());
  auto* grid = new QGridLayout(d);
  std::string creators = view::StoredText(doc.text2()) + "\r\n" + view::StoredText(doc.text3());
  struct Field {
    int id;
    const char* label;
    std::string text;
    int lines;
  };
  const Field fields[] = {
      {1006, "文書題名", view::StoredText(doc.name()), 1},
      {1007, "作成者", creators, 2},
      {1008, "総ページ数", std::to_string(doc.page_count()), 1},
      {1009, "用紙サイズ", view::PaperListText(view::PapersOf(doc)), 4},
      {1010, "添付ﾌｧｲﾙ", view::AttachmentListText(view::AttachmentsOf(doc), view::DrivenThroughExports()), 4},
  };
  int row = 0;
  for (const Field& f : fields) {
    grid->addWidget(Label(d, f.label), row, 0, Qt::AlignTop);
    QString text = Q(f.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (f.lines == 1) {
      auto* e = new QLineEdit(text, d);
      e->setReadOnly(true);
      e->setObjectName(QString::number(f.id));
      e->setMinimumWidth(360);
      grid->addWidget(e, row, 1);
    } else {
      auto* e = new QPlainTextEdit(text, d);
      e->setReadOnly(true);
      e->setObjectName(QString::number(f.id));
      // The attachment lines keep their columns (tabs, no wrapping); the other texts wrap.
      const bool columns = f.id == 1010;
      e->setLineWrapMode(columns ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
      e->setHorizontalScrollBarPolicy(columns ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
      e->setTabStopDistance(QFontMetricsF(e->font()).horizontalAdvance(QLatin1Char('0')) * 8);
      e->setFixedHeight(QFontMetrics(e->font()).lineSpacing() * f.lines + 12 + (columns ? 18 : 0));
      grid->addWidget(e, row, 1);
    }
    ++row;
  }
  auto* ok = Button(d, "OK", 1);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, d, &QDialog::accept);
  grid->addWidget(ok, row, 1, Qt::AlignRight);
  return d;
}

QDialog* BuildHelpDialog(QWidget* parent) {
  auto* d = new QDialog(parent);
  d->setObjectName(QStringLiteral("1010"));
  d->setWindowTitle(QStringLiteral("「Tarvessa文書」の操作方法"));
  d->setFont(ViewerFont());
  auto* grid = new QGridLayout(d);
  const char* rows[][2] = {
      {"ページタグ", "左側にページ番号の一覧を表示します。"},
      {"サムネール", "左側にページの縮小画像を表示します。"},
      {"前ページ / 次ページ", "前または次のページへ移動します。"},
      {"ページ指定", "ページ番号を指定して移動します。"},
      {"自動スクロール", "ページを自動的にスクロールします。もう一度押すと止まります。"},
      {"印刷", "印刷ダイアログを表示します。"},
      {"閉じる", "ウィンドウを閉じます。"},
      {"文書情報", "文書の題名、作成者、ページ数、用紙サイズ、添付ファイルを表示します。"},
      {"添付ﾌｧｲﾙ", "添付されているファイルを指定したフォルダに保存します。"},
      {"右クリック", "表示倍率、マウスのモードなどを変更するメニューを表示します。"},
  };
  int row = 0;
  for (const auto& r : rows) {
    grid->addWidget(Label(d, r[0]), row, 0);
    grid->addWidget(Label(d, r[1]), row, 1);
    ++row;
  }
  auto* ok = Button(d, "OK", 1);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, d, &QDialog::accept);
  grid->addWidget(ok, row, 1, Qt::AlignRight);
  return d;
}

CRpqcprtd::CRpqcprtd(QWidget* parent, const QStringList& printers, int page_count) : QDialog(parent) {
  setObjectName(QStringLiteral("1538"));
  setWindowTitle(QStringLiteral("印刷"));
  setFont(ViewerFont());
  auto* outer = new QVBoxLayout(this);

  auto* printer = new QGroupBox(QStringLiteral("ﾌﾟﾘﾝﾀ"), this);
  printer->setObjectName(QStringLiteral("1075"));
  auto* pg = new QGridLayout(printer);
  pg->addWidget(Label(printer, "ﾌﾟﾘﾝﾀ名(&N):", 1093), 0, 0);
  auto* names = new QComboBox(printer);
  names->setObjectName(QStringLiteral("1139"));
  names->addItems(printers);
  names->setMinimumWidth(220);
  pg->addWidget(names, 0, 1);
  pg->addWidget(Button(printer, "ﾌﾟﾛﾊﾟﾃｨ(&P)...", 1025), 0, 2);
  const std::pair<const char*, int> info[] = {{"状態 :", 1095}, {"種類 :", 1094}, {"場所 :", 1097}, {"ｺﾒﾝﾄ :", 1096}};
  const int values[] = {1099, 1098, 1101, 1100};
  for (int i = 0; i < 4; ++i) {
    pg->addWidget(Label(printer, info[i].first, info[i].second), i + 1, 0);
    pg->addWidget(Label(printer, "", values[i]), i + 1, 1, 1, 2);
  }
  outer->addWidget(printer);

  auto* lower = new QHBoxLayout;
  auto* range = new QGroupBox(QStringLiteral("印刷範囲"), this);
  range->setObjectName(QStringLiteral("1072"));
  auto* rg = new QGridLayout(range);
  auto* all = new QRadioButton(QStringLiteral("すべて(&A)"), range);
  all->setObjectName(QStringLiteral("1056"));
  all->setChecked(true);
  auto* pages = new QRadioButton(QStringLiteral("ﾍﾟｰｼﾞ指定(&G)"), range);
  pages->setObjectName(QStringLiteral("1058"));
  auto* sel = new QRadioButton(QStringLiteral("選択した部分(&S)"), range);
  sel->setObjectName(QStringLiteral("1057"));
  sel->setEnabled(false);
  rg->addWidget(all, 0, 0, 1, 4);
  rg->addWidget(pages, 1, 0);
  rg->addWidget(Label(range, "ﾍﾟｰｼﾞから(&F)", 1089), 1, 1);
  auto* from = new QLineEdit(QStringLiteral("1"), range);
  from->setObjectName(QStringLiteral("1152"));
  from->setFixedWidth(40);
  rg->addWidget(from, 1, 2);
  rg->addWidget(Label(range, "ﾍﾟｰｼﾞまで(&T)", 1090), 1, 3);
  auto* to = new QLineEdit(QString::number(std::max(page_count, 1)), range);
  to->setObjectName(QStringLiteral("1153"));
  to->setFixedWidth(40);
  rg->addWidget(to, 1, 4);
  rg->addWidget(sel, 2, 0, 1, 4);
  lower->addWidget(range);

  auto* copies = new QGroupBox(QStringLiteral("印刷部数"), this);
  copies->setObjectName(QStringLiteral("1073"));
  auto* cg = new QGridLayout(copies);
  cg->addWidget(Label(copies, "部数(&C):", 1092), 0, 0);
  auto* count = new QLineEdit(QStringLiteral("1"), copies);
  count->setObjectName(QStringLiteral("1154"));
  count->setFixedWidth(40);
  cg->addWidget(count, 0, 1);
  auto* picture = Label(copies, "1 1  2 2", 1086);
  cg->addWidget(picture, 1, 0);
  auto* collate = new QCheckBox(QStringLiteral("部単位で印刷(&O)"), copies);
  collate->setObjectName(QStringLiteral("1041"));
  cg->addWidget(collate, 1, 1);
  lower->addWidget(copies);
  outer->addLayout(lower);

  auto* paper = new QCheckBox(QStringLiteral("印刷ﾌﾟﾛﾊﾟﾃｨに設定されている用紙で印刷する"), this);
  paper->setObjectName(QStringLiteral("1028"));
  connect(paper, &QCheckBox::toggled, this, [this](bool) { use_printer_paper_ = !use_printer_paper_; });
  outer->addWidget(paper);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* ok = Button(this, "OK", 1);
  ok->setDefault(true);
  auto* cancel = Button(this, "ｷｬﾝｾﾙ", 2);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  outer->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ShowDocumentInfo(QWidget* parent, CViewerDoc& doc) {
  std::unique_ptr<QDialog> d(BuildDocumentInfoDialog(parent, doc));
  Prompter().RunDialog(d.get());
}

void ShowHelp(QWidget* parent) {
  std::unique_ptr<QDialog> d(BuildHelpDialog(parent));
  Prompter().RunDialog(d.get());
}

void ShowPrintDialog(QWidget* parent, CViewerDoc& doc) {
  std::unique_ptr<CRpqcprtd> d(new CRpqcprtd(parent, {}, doc.page_count()));
  Prompter().RunDialog(d.get());
  // The viewer's print operation prints nothing (as D_Print): the dialog's choice is kept
  // for no print path.
}

void SaveAttachmentsToFolder(QWidget* parent, CViewerDoc& doc) {
  const std::size_t n = doc.attachments().size();
  if (n == 0) return;
  const std::string title = "添付されている" + std::to_string(n) + "ﾌｧｲﾙを保存するﾌｫﾙﾀﾞを選択してください。";
  std::string folder;
  for (;;) {
    const std::optional<std::string> chosen = Prompter().ChooseFolder(parent, title);
    if (!chosen) return;
    std::error_code ec;
    if (!chosen->empty() && std::filesystem::is_directory(*chosen, ec)) {
      folder = *chosen;
      break;
    }
    Prompter().Message(parent, "指定できないﾌｫﾙﾀﾞが選択されました。", PromptIcon::kNone);
  }
  const SaveOutcome outcome = doc.SaveAttachments(
      folder, [&] { return Prompter().AskYesNo(parent, "同名のﾌｧｲﾙが存在します。中断しますか。"); });
  if (outcome == SaveOutcome::kAllSaved) {
    Prompter().Message(parent, "すべてのﾌｧｲﾙが正常に保存できました。", PromptIcon::kInformation);
  }
}

}  // namespace zv::viewer
