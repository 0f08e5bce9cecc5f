#include "console/tavolent/storage_folder.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/tavolent/dialogs.h"

namespace zv::console {

CStorageFolderDlg::CStorageFolderDlg(CRegistryConfig& config, MessageSink& sink, const StorageFolderOptions& options,
                                     QWidget* parent)
    : QDialog(parent), sink_(sink), browse_(options.browse) {
  setObjectName("d172");
  setWindowTitle("保存フォルダの変更");
  setWindowIcon(ConsoleIcon());
  setFont(ConsoleFont());
  PrintServiceControl* service = options.service;
  if (!service) {
    own_service_ = std::make_unique<ServicePrintControl>();
    service = own_service_.get();
  }
  model_ = std::make_unique<StorageFolderModel>(config, sink, *service);
  ready_ = model_->Init().ok();

  copy_ = new QRadioButton("現在の印刷ログを変更先のフォルダへコピーする(&C)");
  copy_->setObjectName("r1012");
  copy_->setChecked(true);
  move_ = new QRadioButton("現在の印刷ログを変更先のフォルダへ移動する(&M)");
  move_->setObjectName("r1013");
  folder_ = new QLineEdit(QString::fromStdString(model_->current_folder()));
  folder_->setObjectName("e1011");
  folder_->setProperty("field", "folder");
  folder_->setReadOnly(true);
  folder_->setMinimumWidth(360);
  auto* label = new QLabel("印刷ログはこのフォルダに保存されています(&Y):");
  label->setBuddy(folder_);
  auto* browse = new QPushButton("参照(&B)...");
  browse->setObjectName("b3");
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  box->button(QDialogButtonBox::Ok)->setObjectName("b1");
  box->button(QDialogButtonBox::Cancel)->setObjectName("b2");
  box->button(QDialogButtonBox::Cancel)->setText("キャンセル");
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addWidget(folder_, 1);
  row->addWidget(browse);
  auto* v = new QVBoxLayout(this);
  v->addWidget(copy_);
  v->addWidget(move_);
  v->addSpacing(8);
  v->addWidget(label);
  v->addLayout(row);
  v->addWidget(box);
}

CBrowseDialog::CBrowseDialog(QWidget* parent, const QString& caption, const std::string& start, bool show_path)
    : QFileDialog(parent, caption, QString::fromStdString(start)), status_(new QLabel(this)) {
  setOption(QFileDialog::DontUseNativeDialog);
  setOption(QFileDialog::ShowDirsOnly);
  setFileMode(QFileDialog::Directory);
  setLabelText(QFileDialog::Accept, "選択");
  setLabelText(QFileDialog::Reject, "キャンセル");
  status_->setObjectName("14146");
  // The status line stands under the browser's own controls.
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->addWidget(status_, grid->rowCount(), 0, 1, -1);
  if (show_path)
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
      status_->setText(QString("選択中のパス：%1").arg(QDir::toNativeSeparators(path)));
    });
}

std::string CBrowseDialog::chosen() const {
  const QStringList files = selectedFiles();
  return result() == QDialog::Accepted && !files.isEmpty() ? files.front().toStdString() : std::string();
}

void CStorageFolderDlg::Browse() {
  const std::string start = folder_->text().toStdString();
  std::string chosen;
  if (browse_) {
    chosen = browse_(this, start);
  } else {
    CBrowseDialog browser(this, "フォルダの参照", start, true);
    if (browser.exec() == QDialog::Accepted) chosen = browser.chosen();
  }
  if (!chosen.empty()) folder_->setText(QString::fromStdString(chosen));
}

void CStorageFolderDlg::accept() {
  const std::string folder = folder_->text().toStdString();
  if (!ApplyVerdict(this, sink_, model_->CheckTarget(folder))) return;
  bool ok = false;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ok = move_->isChecked() ? model_->Move(folder) : model_->Copy(folder);
    QApplication::restoreOverrideCursor();
  }
  if (ok) QDialog::accept();
}

void RunStorageFolderDialog(QWidget* parent, CRegistryConfig& config, MessageSink& sink,
                            const StorageFolderOptions& options) {
  CStorageFolderDlg dialog(config, sink, options, parent);
  if (!dialog.ready()) {
    (void)ShowAppMessage(sink, 24);  // an OK box
    return;
  }
  dialog.exec();
}

}  // namespace zv::console
