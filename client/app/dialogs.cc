#include "client/app/dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "capture/common/blocks.h"
#include "capture/lumbrel/lumbrel.h"
#include "client/app/page_export.h"
#include "client/handover.h"
#include "client/printer_list.h"
#include "platform/fs/files.h"
#include "platform/paths/install_layout.h"
#include "platform/paths/paths.h"
#include "platform/process/process.h"
#include "platform/shm/shm.h"
#include "platform/version/file_version.h"
#include "platform/winmsg/winmsg.h"
#include "viewer/qt/prompter.h"

namespace zv::client::app {
namespace {

namespace fsys = std::filesystem;

QString Id(int id) { return QString::number(id); }
QString U(const char* s) { return QString::fromUtf8(s); }
QString U(const std::string& s) { return QString::fromStdString(s); }

// A label that names its control as buddy, so its "(&X)" shows as an underlined access key
// (without a buddy Qt shows the "&" as it stands).
QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

// OK ("1") and cancel ("2") with the given texts.
QDialogButtonBox* OkCancel(QDialog* d, const char* ok, const char* cancel) {
  auto* box = new QDialogButtonBox(d);
  QPushButton* o = box->addButton(U(ok), QDialogButtonBox::AcceptRole);
  o->setObjectName("1");
  QPushButton* c = box->addButton(U(cancel), QDialogButtonBox::RejectRole);
  c->setObjectName("2");
  QObject::connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
  return box;
}

}  // namespace

std::vector<std::string> NetworkComputers() {
  std::vector<std::string> out;
  auto net = paths::RootFolder("net");
  if (!net.ok()) return out;
  std::error_code ec;
  for (const auto& e : fsys::directory_iterator(*net, ec))
    if (e.is_directory(ec)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

CBrowseDialog::CBrowseDialog(Kind kind, const QString& caption, const QString& instruction, const std::string& start,
                           QWidget* parent)
    : QDialog(parent), kind_(kind), start_(start) {
  setWindowTitle(caption);
  setFont(viewer::ViewerFont());
  auto* v = new QVBoxLayout(this);
  v->addWidget(new QLabel(instruction, this));
  list_ = new QListWidget(this);
  list_->setObjectName("14145");
  v->addWidget(list_, 1);
  auto* box = OkCancel(this, "選択", "キャンセル");
  v->addWidget(box);
  if (kind == Kind::kComputers) {
    for (const auto& c : NetworkComputers()) list_->addItem(U(c));
  } else {
    QDir dir(U(start));
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) list_->addItem(name);
  }
  auto* ok = box->findChild<QPushButton*>("1");
  ok->setEnabled(false);
  connect(list_, &QListWidget::currentRowChanged, this, [ok](int row) { ok->setEnabled(row >= 0); });
  resize(320, 360);
}

std::string CBrowseDialog::chosen() const {
  auto* item = list_->currentItem();
  if (item == nullptr) return "";
  const std::string name = item->text().toStdString();
  return kind_ == Kind::kComputers ? name : start_ + "/" + name;
}

_CServerSet::_CServerSet(const ClientConfig& config, const QuotaState& quota, Prompt* prompt, QWidget* parent,
                         std::string working_copy)
    : QDialog(parent),
      config_(config),
      quota_(quota),
      prompt_(prompt),
      working_copy_(working_copy.empty() ? config.SpoolFolder() + "/printers.lst" : std::move(working_copy)) {
  setWindowTitle(U("サーバ設定"));
  setFont(viewer::ViewerFont());
  auto* g = new QGridLayout(this);
  computer_ = new QLineEdit(this);
  computer_->setObjectName(Id(1052));
  computer_->setText(U(config.has_server() ? config.server_name : std::string(kLocalPrintingText)));
  computer_->installEventFilter(this);
  auto* browse = new QPushButton(U("参照(&B)..."), this);
  browse->setObjectName(Id(1053));
  printers_ = new QPlainTextEdit(this);
  printers_->setObjectName(Id(1055));
  printers_->setReadOnly(true);
  auto* box = OkCancel(this, "OK", "キャンセル");
  ok_ = box->findChild<QPushButton*>("1");
  g->addWidget(new QLabel(U("コンピュータ名:"), this), 0, 0);
  g->addWidget(computer_, 0, 1);
  g->addWidget(browse, 0, 2);
  g->addWidget(new QLabel(U("プリンタ一覧:"), this), 1, 0, 1, 3);
  g->addWidget(printers_, 2, 0, 1, 3);
  g->addWidget(box, 3, 0, 1, 3);
  connect(browse, &QPushButton::clicked, this, [this] {
    CBrowseDialog b(CBrowseDialog::Kind::kComputers, U("ネットワークの参照"), U("参照するマシン名を選択してください"), "",
                   this);
    if (viewer::Prompter().RunDialog(&b) == QDialog::Accepted && !b.chosen().empty()) ChooseComputer(b.chosen());
    else computer_->setFocus();
  });
  source_ = SourcePath(computer_->text().toStdString());
  MakePrinterList();
  resize(360, 300);
}

std::string _CServerSet::SourcePath(const std::string& field) const {
  const std::string server = NormaliseServerName(field);
  if (server.empty()) return config_.app_path + "/printers.lst";
  ClientConfig c = config_;
  c.server_name = server;
  auto folder = c.RequestFolder();
  return folder.ok() ? *folder + "/printers.lst" : std::string();
}

bool _CServerSet::MakePrinterList() {
  const std::string& local = working_copy_;
  bool copy_failed = false;
  if (source_ != local) {
    auto bytes = source_.empty() ? Result<std::string>(Status::NotFound("no server folder")) : fs::ReadFile(source_);
    if (bytes.ok()) (void)fs::MakeDirs(fsys::path(local).parent_path().string());
    copy_failed = !bytes.ok() || !fs::WriteFileAtomic(local, *bytes).ok();
  }
  std::vector<std::string> names;
  if (auto text = fs::ReadFile(local); text.ok()) names = PrinterNamesInList(*text);
  if (names.empty() || copy_failed) {
    ok_->setEnabled(false);
    printers_->clear();
    computer_->setFocus();
    if (copy_failed) {
      prompt_->Show("指定したコンピュータにはZelvora Serverがインストールされていません。", "コンピュータ選択",
                    PromptIcon::kExclamation);
      return false;
    }
    return true;
  }
  std::string text;
  for (const auto& n : names) text += n + "\n";
  printers_->setPlainText(U(text));
  ok_->setEnabled(true);
  ok_->setDefault(true);
  ok_->setFocus();
  return true;
}

bool _CServerSet::ChooseComputer(const std::string& computer) {
  const std::string previous = source_;
  source_ = SourcePath("\\\\" + computer);
  if (!MakePrinterList()) {
    source_ = previous;
    MakePrinterList();
    return false;
  }
  computer_->setText(U("\\\\" + computer));
  return true;
}

std::string _CServerSet::server_name() const { return NormaliseServerName(computer_->text().toStdString()); }

bool _CServerSet::eventFilter(QObject* watched, QEvent* event) {
  if (watched == computer_ && event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      // Enter reads the field and shows its printers; it never closes the dialog.
      source_ = SourcePath(computer_->text().toStdString());
      MakePrinterList();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void _CServerSet::accept() {
  source_ = SourcePath(computer_->text().toStdString());
  if (!MakePrinterList() || !ok_->isEnabled()) return;
  const std::string server = server_name();
  if (!server.empty() && winmsg::FindWindow(kMonitorClass, nullptr) == 0) {
    // The monitor of the settings' program folder when it holds one, else the install's.
    auto prefix = paths::InstallPrefix();
    const std::string monitor = paths::ProgramIn(config_.app_path, prefix.ok() ? *prefix : "", "welmoric");
    if (fsys::exists(monitor)) {
      process::StartOptions o;
      o.argv = {monitor};
      o.detached = true;
      if (!process::Start(o).ok())
        prompt_->Show("印刷結果監視ツールの起動に失敗しました。", "印刷結果監視ツールの起動", PromptIcon::kExclamation);
    }
  }
  (void)SaveServerSettings(server, quota_);
  QDialog::accept();
}

OptionsDialog::OptionsDialog(ClientSettings* settings, const std::vector<std::string>& printers, Prompt* prompt,
                             QWidget* parent)
    : QDialog(parent), settings_(settings), prompt_(prompt) {
  setWindowTitle(U("オプション設定"));
  setFont(viewer::ViewerFont());
  auto* v = new QVBoxLayout(this);
  auto* g1 = new QGroupBox(U("印刷ジョブ自動保存"), this);
  g1->setObjectName(Id(1107));
  auto* l1 = new QGridLayout(g1);
  folder_ = new QLineEdit(g1);
  folder_->setObjectName(Id(1111));
  folder_->setMaxLength(256);
  folder_->setText(U(settings->auto_save_dir));
  auto* browse = new QPushButton(U("参照(&B) ..."), g1);
  browse->setObjectName(Id(1084));
  max_ = new QSpinBox(g1);
  max_->setObjectName(Id(1112));
  max_->setRange(0, 999);
  max_->setValue(settings->auto_save_times);
  auto* clear = new QPushButton(U("印刷ジョブ履歴クリア(&C)"), g1);
  clear->setObjectName(Id(1083));
  l1->addWidget(BuddyLabel(U("印刷ジョブ格納先フォルダ(&F) :"), folder_, g1), 0, 0, 1, 2);
  l1->addWidget(folder_, 1, 0);
  l1->addWidget(browse, 1, 1);
  l1->addWidget(BuddyLabel(U("最大保存数(&N) :"), max_, g1), 2, 0);
  l1->addWidget(max_, 2, 1);
  l1->addWidget(clear, 3, 0, 1, 2);
  auto* g2 = new QGroupBox(U("デフォルト設定"), this);
  g2->setObjectName(Id(1108));
  auto* l2 = new QGridLayout(g2);
  struct Pair {
    const char* label;
    int keep, init;
    bool visible;
  } pairs[] = {{"プリンタ(&P):", 1126, 1127, true},     {"用紙サイズ(&YS):", 1133, 1134, true},
               {"分割数(&D):", 1135, 1136, true},       {"レイアウト方向(&R):", 1137, 1138, true},
               {"ページ区切り(&K):", 1139, 1140, true}, {"上位置(&U):", 1142, 1143, false},
               {"左位置(&H):", 1145, 1146, false},      {"サイズ(S):", 1148, 1149, false}};
  printer_ = new QComboBox(g2);
  printer_->setObjectName(Id(1071));
  for (const auto& p : printers) printer_->addItem(U(p));
  if (int at = printer_->findText(U(settings->def_printer)); at >= 0) printer_->setCurrentIndex(at);
  auto* paper = new QComboBox(g2);
  paper->setObjectName(Id(1150));
  int row = 0;
  for (int i = 0; i < 8; ++i) {
    const Pair& p = pairs[i];
    pairs_[i] = new QButtonGroup(this);
    auto* label = new QLabel(U(p.label), g2);
    auto* keep = new QRadioButton(U("前回状態保持"), g2);
    keep->setObjectName(Id(p.keep));
    auto* init = new QRadioButton(U("起動時初期化"), g2);
    init->setObjectName(Id(p.init));
    label->setBuddy(keep);
    pairs_[i]->addButton(keep, 0);
    pairs_[i]->addButton(init, 1);
    ((settings->def_setting >> i) & 1 ? init : keep)->setChecked(true);
    if (!p.visible) {
      for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(keep), static_cast<QWidget*>(init)})
        w->setVisible(false);
      continue;
    }
    l2->addWidget(label, row, 0);
    l2->addWidget(keep, row, 1);
    l2->addWidget(init, row, 2);
    if (i == 0) l2->addWidget(printer_, ++row, 1, 1, 2);
    if (i == 1) l2->addWidget(paper, ++row, 1, 1, 2);
    ++row;
  }
  auto lists = [this, paper] {
    printer_->setEnabled(pairs_[0]->checkedId() == 1);
    paper->setEnabled(pairs_[1]->checkedId() == 1);
  };
  connect(pairs_[0], &QButtonGroup::idClicked, this, lists);
  connect(pairs_[1], &QButtonGroup::idClicked, this, lists);
  lists();
  if (printers.empty()) {
    // Nothing to start with: the printer cannot be initialised.
    pairs_[0]->button(1)->setEnabled(false);
    printer_->setEnabled(false);
  }
  v->addWidget(g1);
  v->addWidget(g2);
  v->addWidget(OkCancel(this, "OK", "キャンセル"));
  connect(clear, &QPushButton::clicked, this, &OptionsDialog::ClearHistory);
  connect(browse, &QPushButton::clicked, this, [this] {
    CBrowseDialog b(CBrowseDialog::Kind::kFolders, U("フォルダの参照"), U("参照するフォルダを選択してください"),
                   folder_->text().toStdString(), this);
    if (viewer::Prompter().RunDialog(&b) == QDialog::Accepted && !b.chosen().empty()) folder_->setText(U(b.chosen()));
  });
}

void OptionsDialog::accept() {
  const std::string folder = folder_->text().toStdString();
  if (folder.empty()) {
    prompt_->Show("印刷ジョブ格納先フォルダの指定がありません。", "Zelvora", PromptIcon::kExclamation);
    return;
  }
  const std::string previous = settings_->auto_save_dir;
  settings_->auto_save_dir = folder;
  std::error_code ec;
  if (!fsys::is_directory(folder, ec)) {
    if (prompt_->Show("指定したフォルダは存在しません。\n新規作成します。よろしいですか？", "保存先フォルダ新規作成",
                      PromptIcon::kQuestion, PromptButtons::kYesNo) == PromptAnswer::kYes) {
      if (!fs::MakeDirs(folder).ok())
        prompt_->Show("フォルダの新規作成に失敗しました。", "フォルダ新規作成失敗", PromptIcon::kExclamation);
    } else {
      settings_->auto_save_dir = previous;
    }
  }
  if (max_->value() != settings_->auto_save_times) settings_->save_times = 0;
  settings_->auto_save_times = max_->value();
  uint32_t bits = settings_->def_setting & ~0xFFu;
  for (int i = 0; i < 8; ++i)
    if (pairs_[i]->checkedId() == 1) bits |= 1u << i;
  settings_->def_setting = bits;
  if (printer_->currentIndex() >= 0) settings_->def_printer = printer_->currentText().toStdString();
  QDialog::accept();
}

void OptionsDialog::ClearHistory() {
  if (prompt_->Show("印刷ジョブ履歴をクリアします。\nよろしいですか？", "印刷ジョブ履歴クリア", PromptIcon::kQuestion,
                    PromptButtons::kYesNoDefaultNo) != PromptAnswer::kYes)
    return;
  std::error_code ec;
  int visited = 0;
  for (const auto& e : fsys::directory_iterator(settings_->auto_save_dir, ec)) {
    if (++visited > 10000) break;
    const std::string name = e.path().filename().string();
    if (name.rfind("AutoSave", 0) != 0 || e.path().extension() != ".prc") continue;
    std::error_code rm;
    if (!fsys::remove(e.path(), rm))
      prompt_->Show("ファイル削除に失敗しました。", "ファイル削除失敗", PromptIcon::kExclamation);
  }
  settings_->save_times = 0;
  prompt_->Show("印刷ジョブ履歴ファイルをクリアしました。", "印刷ジョブ履歴クリア完了", PromptIcon::kInformation);
}

_CImgSave::_CImgSave(COstraneDoc* doc, const std::string& options, Prompt* prompt, QWidget* parent)
    : QDialog(parent), doc_(doc), prompt_(prompt) {
  setObjectName("137");
  setWindowTitle(U("イメージで保存"));
  setFont(viewer::ViewerFont());
  const ImageSaveChoice c = ParseImageSaveText(options);
  auto* g = new QGridLayout(this);
  size_ = new QComboBox(this);
  size_->setObjectName("size");
  size_->addItems({U("大きめ"), U("小さめ"), U("サムネールサイズ")});
  size_->setCurrentIndex(c.size);
  format_ = new QComboBox(this);
  format_->setObjectName("format");
  format_->addItems({U("TIFF"), U("BMP"), U("JPEG")});
  format_->setCurrentIndex(c.format);
  no_number_ = new QCheckBox(U("先頭に連番を付けない(&N)"), this);
  no_number_->setObjectName("no_number");
  no_number_->setChecked(c.no_number_first);
  fixed_ = new QCheckBox(U("連番を固定桁数にする(&F):"), this);
  fixed_->setObjectName("fixed_digits");
  fixed_->setChecked(c.fixed_digits);
  digits_ = new QComboBox(this);
  digits_->setObjectName("digits");
  digits_->addItems({"1", "2", "3"});
  digits_->setCurrentIndex(c.digits);
  digits_label_ = new QLabel(U("桁"), this);
  folder_ = new QLineEdit(this);
  folder_->setObjectName("folder");
  folder_->setText(U(c.folder));
  last_folder_ = c.folder;
  auto* browse = new QPushButton(U("参照(&B)..."), this);
  g->addWidget(BuddyLabel(U("サイズ(&S):"), size_, this), 0, 0);
  g->addWidget(size_, 0, 1, 1, 2);
  g->addWidget(BuddyLabel(U("形式(&T):"), format_, this), 1, 0);
  g->addWidget(format_, 1, 1, 1, 2);
  g->addWidget(no_number_, 2, 0, 1, 3);
  g->addWidget(fixed_, 3, 0, 1, 2);
  g->addWidget(digits_, 3, 2);
  g->addWidget(digits_label_, 3, 3);
  g->addWidget(BuddyLabel(U("保存先フォルダ(&D):"), folder_, this), 4, 0);
  g->addWidget(folder_, 4, 1, 1, 2);
  g->addWidget(browse, 4, 3);
  auto* box = OkCancel(this, "OK", "キャンセル");
  g->addWidget(box, 5, 0, 1, 4);
  if (doc_ == nullptr || doc_->GetAllPage() == 0) box->findChild<QPushButton*>("1")->setEnabled(false);
  connect(format_, &QComboBox::currentIndexChanged, this, &_CImgSave::ApplyRules);
  connect(fixed_, &QCheckBox::toggled, this, &_CImgSave::ApplyRules);
  connect(browse, &QPushButton::clicked, this, [this] {
    CBrowseDialog b(CBrowseDialog::Kind::kFolders, U("フォルダの参照"), U("参照するフォルダを選択してください"),
                   folder_->text().toStdString(), this);
    if (viewer::Prompter().RunDialog(&b) == QDialog::Accepted && !b.chosen().empty()) folder_->setText(U(b.chosen()));
  });
  ApplyRules();
}

void _CImgSave::ApplyRules() {
  const bool tiff = format_->currentIndex() == 0;
  no_number_->setEnabled(!tiff);
  fixed_->setEnabled(!tiff);
  const bool digits = !tiff && fixed_->isChecked();
  digits_->setEnabled(digits);
  digits_label_->setEnabled(digits);
}

std::string _CImgSave::options() const {
  ImageSaveChoice c;
  c.size = size_->currentIndex();
  c.format = format_->currentIndex();
  c.no_number_first = no_number_->isChecked();
  c.fixed_digits = fixed_->isChecked();
  c.digits = digits_->currentIndex();
  c.folder = folder_->text().toStdString();
  return ComposeImageSaveText(c);
}

void _CImgSave::accept() {
  const ImageSaveChoice c = ParseImageSaveText(options());
  std::uint32_t w = 0, h = 0;
  FirstPageSize(*doc_, &w, &h);
  // The raster converter reads the image size and numbering from slot 3's block; what it
  // held before is put back when the dialog goes.
  if (auto block = shm::SharedBlock::Open(capture::SlotBlockName(3, 2), shm::Access::kReadWrite);
      block.ok() && block->size() >= 12) {
    auto bytes = block->mutable_bytes();
    if (saved_block_.empty()) saved_block_.assign(reinterpret_cast<const char*>(bytes.data()), 12);
    const std::string mine = ImageOptionsBlock(c, ImagePixels(w, h, c.size));
    std::memcpy(bytes.data(), mine.data(), 12);
  }
  static constexpr std::uint32_t kTypes[] = {kZvConvTiff, kZvConvBmp, kZvConvJpeg};
  Status st = ExportPages(*doc_, kTypes[c.format], ImageOutputText(c, doc_->DisplayName()));
  if (!st.ok()) {
    prompt_->Show("画像ファイルの保存に失敗しました。", "画像ファイル保存", PromptIcon::kStop);
    folder_->setText(U(last_folder_));
  }
  QDialog::accept();
}

_CImgSave::~_CImgSave() {
  if (saved_block_.empty()) return;
  if (auto block = shm::SharedBlock::Open(capture::SlotBlockName(3, 2), shm::Access::kReadWrite);
      block.ok() && block->size() >= 12)
    std::memcpy(block->mutable_bytes().data(), saved_block_.data(), 12);
}

ProgressDialog::ProgressDialog(QWidget* parent) : QDialog(parent) {
  setFont(viewer::ViewerFont());
  auto* g = new QGridLayout(this);
  message_ = new QLabel(this);
  message_->setObjectName(Id(1158));
  message_->setFont(viewer::ViewerFont(false, 12));
  count_label_ = new QLabel(U("プリンタ数"), this);
  count_label_->setObjectName(Id(1159));
  counter_ = new QLabel(this);
  counter_->setObjectName(Id(1157));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(Id(1156));
  bar_->setRange(0, 100);
  g->addWidget(message_, 0, 0, 1, 2);
  g->addWidget(bar_, 1, 0, 1, 2);
  g->addWidget(count_label_, 2, 0);
  g->addWidget(counter_, 2, 1);
  resize(300, 130);
}

void ProgressDialog::Show(const ProgressModel& model) {
  setWindowTitle(U(model.title()));
  message_->setText(U(model.message()));
  count_label_->setVisible(model.count_label_visible());
  counter_->setText(U(model.counter()));
  bar_->setValue(model.position());
}

std::vector<ModuleVersion> InstalledModules(const std::string& prefix) {
  // The client's modules by their file names, programs in bin and libraries in lib.
  static const char* const kModules[] = {"ostrane",       "ulmerith",      "libvinteko.so",
                                         "liblumbrel.so", "libquorvel.so", "libsarquen.so"};
  std::vector<ModuleVersion> out;
  for (const char* file : kModules) {
    const bool library = std::string_view(file).ends_with(".so");
    const std::string folder = paths::PrefixFolder(prefix, library ? paths::kLibrariesFolder : paths::kProgramsFolder);
    const auto v = version::ReadFileVersion(folder + "/" + file);
    out.push_back({file, v ? version::VersionText(*v) : std::string()});
  }
  return out;
}

AboutDialog::AboutDialog(const std::string& prefix, QWidget* parent) : QDialog(parent) {
  setObjectName("100");
  setWindowTitle(U("ﾊﾞｰｼﾞｮﾝ情報"));
  setFont(viewer::ViewerFont());
  auto* v = new QVBoxLayout(this);
  v->addWidget(new QLabel(U("Zelvora クライアント バージョン " ZELVORA_VERSION_TEXT), this));
  auto* list = new QTreeWidget(this);
  list->setObjectName(Id(1104));
  list->setRootIsDecorated(false);
  list->setHeaderLabels({U("ファイル名"), U("バージョン")});
  list->setColumnWidth(0, 150);
  list->setColumnWidth(1, 150);
  for (const auto& m : InstalledModules(prefix)) list->addTopLevelItem(new QTreeWidgetItem({U(m.name), U(m.version)}));
  v->addWidget(list);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  box->button(QDialogButtonBox::Ok)->setObjectName("1");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  v->addWidget(box);
  resize(340, 260);
}

}  // namespace zv::client::app
