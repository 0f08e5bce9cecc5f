#include "driver/dromu/sheets/paper_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <sys/stat.h>

#include "platform/help/help_page.h"
#include "platform/paths/install_layout.h"

namespace zv::driver::sheets {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The orientation picture: a page upright or on its side.
QPixmap OrientationPicture(bool landscape) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  if (landscape) p.drawRect(2, 8, 28, 18);
  else p.drawRect(8, 2, 18, 28);
  p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, "A");
  return pm;
}

}  // namespace

std::string HelpFile(const std::string& driver_folder) {
  const std::string here = paths::FileInFolders(driver_folder, "", kDriverHelpFileName);
  struct stat st {};
  if (::stat(here.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return here;
  return help::HelpPage(driver_folder + "/2", kDriverHelpFileName);
}

VersionDialog::VersionDialog(const gastrelo::Resources& res, QWidget* parent) : QDialog(parent) {
  using namespace gastrelo;
  setFont(SheetFont());
  setWindowTitle(Q(res.DialogTitle(kVersionDialog).value_or("")));
  auto* layout = new QVBoxLayout(this);
  for (int id : {kIdVersionLine1, kIdVersionLine2, kIdVersionLine3, kIdVersionLine4}) {
    auto* line = new QLabel(Q(res.DialogText(kVersionDialog, id)));
    line->setAlignment(Qt::AlignHCenter);
    layout->addWidget(line);
  }
  auto* ok = new QPushButton(Q(res.DialogText(kVersionDialog, kIdOk)));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addStretch();
  layout->addLayout(buttons);
}

QFont SheetFont() {
  QFont f("IPAPGothic");
  f.setPointSize(9);
  return f;
}

UserSizeDialog::UserSizeDialog(UserSizeModel& model, const gastrelo::Resources& res, QWidget* parent)
    : QDialog(parent), model_(model) {
  using namespace gastrelo;
  setFont(SheetFont());
  setWindowTitle(Q(res.DialogTitle(kUserSizeDialog).value_or("")));
  auto* grid = new QGridLayout(this);
  const int labels[2] = {kIdWidthLabel, kIdHeightLabel};
  for (int i = 0; i < 2; ++i) {
    auto* label = new QLabel(Q(res.DialogText(kUserSizeDialog, labels[i])));
    grid->addWidget(label, i, 0);
    edits_[i] = new QLineEdit;
    label->setBuddy(edits_[i]);
    spins_[i] = new QSpinBox;
    spins_[i]->setRange(kMinUserPaper, kMaxUserPaper);
    spins_[i]->setFixedWidth(18);
    grid->addWidget(edits_[i], i, 1);
    grid->addWidget(spins_[i], i, 2);
    connect(edits_[i], &QLineEdit::editingFinished, this, [this, i] {
      model_.Edit(i, edits_[i]->text().toStdString());
      Refresh();
    });
    connect(spins_[i], qOverload<int>(&QSpinBox::valueChanged), this, [this, i](int v) {
      model_.Spin(i, v);
      Refresh();
      edits_[i]->selectAll();
    });
  }
  auto* ok = new QPushButton(Q(res.DialogText(kUserSizeDialog, kIdOk)));
  auto* cancel = new QPushButton(Q(res.DialogText(kUserSizeDialog, kIdCancel)));
  connect(ok, &QPushButton::clicked, this, [this] {
    for (int i = 0; i < 2; ++i) model_.Edit(i, edits_[i]->text().toStdString());
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 2, 0, 1, 3);
  Refresh();
}

void UserSizeDialog::Refresh() {
  const std::uint16_t v[2] = {model_.width(), model_.height()};
  for (int i = 0; i < 2; ++i) {
    QSignalBlocker b(spins_[i]);
    edits_[i]->setText(Q(FormatTenths(v[i])));
    spins_[i]->setValue(v[i]);
  }
}

PaperPage::PaperPage(PaperPageModel& model, const gastrelo::Resources& res, QWidget* parent)
    : QWidget(parent), model_(model), res_(res) {
  using namespace gastrelo;
  setFont(SheetFont());
  setWindowTitle(Q(res.String(kPageTabName).value_or("")));
  auto* top = new QVBoxLayout(this);
  auto* form = new QGridLayout;
  // Each label names its control as buddy, so its "(&Z)" shows as an underlined access key.
  auto* paper_label = new QLabel(Q(res.DialogText(kPaperPage, kIdPaperLabel)));
  form->addWidget(paper_label, 0, 0);
  paper_ = new QComboBox;
  paper_label->setBuddy(paper_);
  for (const auto& n : model_.paper_names()) paper_->addItem(Q(n));
  form->addWidget(paper_, 0, 1);
  auto* resolution_label = new QLabel(Q(res.DialogText(kPaperPage, kIdResolutionLabel)));
  form->addWidget(resolution_label, 1, 0);
  resolution_ = new QComboBox;
  resolution_label->setBuddy(resolution_);
  for (int id = kFirstResolution; id <= kLastResolution; ++id) resolution_->addItem(Q(res.String(id).value_or("")));
  form->addWidget(resolution_, 1, 1);
  top->addLayout(form);

  auto* orient = new QGroupBox(Q(res.DialogText(kPaperPage, kIdOrientationGroup)));
  auto* ol = new QHBoxLayout(orient);
  portrait_ = new QRadioButton(Q(res.DialogText(kPaperPage, kIdPortrait)));
  landscape_ = new QRadioButton(Q(res.DialogText(kPaperPage, kIdLandscape)));
  icon_ = new QLabel;
  ol->addWidget(portrait_);
  ol->addWidget(landscape_);
  ol->addWidget(icon_);
  top->addWidget(orient);

  auto* margins = new QGroupBox(Q(res.DialogText(kPaperPage, kIdMarginGroup)));
  auto* ml = new QGridLayout(margins);
  const int labels[4] = {kIdLeftLabel, kIdRightLabel, kIdTopLabel, kIdBottomLabel};
  for (int i = 0; i < 4; ++i) {
    ml->addWidget(new QLabel(Q(res.DialogText(kPaperPage, labels[i]))), i / 2, (i % 2) * 3);
    edits_[i] = new QLineEdit;
    edits_[i]->setMaxLength(128);
    spins_[i] = new QSpinBox;
    spins_[i]->setRange(0, kMaxMargin);
    spins_[i]->setFixedWidth(18);
    ml->addWidget(edits_[i], i / 2, (i % 2) * 3 + 1);
    ml->addWidget(spins_[i], i / 2, (i % 2) * 3 + 2);
    connect(edits_[i], &QLineEdit::textEdited, this, [this, i](const QString& t) {
      model_.EditMargin(i, t.toStdString());
      QSignalBlocker b(spins_[i]);
      spins_[i]->setValue(model_.margin(i));
    });
    connect(edits_[i], &QLineEdit::editingFinished, this, [this] { Refresh(); });
    connect(spins_[i], qOverload<int>(&QSpinBox::valueChanged), this, [this, i](int v) {
      model_.SpinMargin(i, v);
      edits_[i]->setText(Q(model_.margin_text(i)));
      edits_[i]->selectAll();
    });
  }
  top->addWidget(margins);
  version_ = new QPushButton(Q(res.DialogText(kPaperPage, kIdVersion)));
  auto* vl = new QHBoxLayout;
  vl->addStretch();
  vl->addWidget(version_);
  top->addLayout(vl);
  // The version box opens with or without permission: it changes nothing.
  connect(version_, &QPushButton::clicked, this, [this] {
    VersionDialog dialog(res_, this);
    run_version(dialog);
  });
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  help->setContext(Qt::WidgetWithChildrenShortcut);
  connect(help, &QShortcut::activated, this, &PaperPage::Help);

  connect(paper_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    if (model_.SelectPaper(index)) {
      UserSizeModel size = model_.UserSize();
      UserSizeDialog dialog(size, res_, this);
      if (run_user_size(dialog)) model_.ApplyUserSize(size);
    }
    Refresh();
  });
  connect(resolution_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    model_.SelectResolution(index);
    Refresh();
  });
  connect(portrait_, &QRadioButton::clicked, this, [this] {
    model_.SetLandscape(false);
    Refresh();
  });
  connect(landscape_, &QRadioButton::clicked, this, [this] {
    model_.SetLandscape(true);
    Refresh();
  });

  // Without permission every control that changes settings is disabled.
  for (QWidget* w : std::initializer_list<QWidget*>{paper_, resolution_, portrait_, landscape_})
    w->setEnabled(model_.enabled());
  for (int i = 0; i < 4; ++i) {
    edits_[i]->setEnabled(model_.enabled());
    spins_[i]->setEnabled(model_.enabled());
  }
  Refresh();
}

void PaperPage::Help() {
  auto folder = gastrelo::InstallLibraryFolder();
  if (!folder.ok()) return;
  help_.Open(HelpFile(*folder));
}

void PaperPage::Refresh() {
  QSignalBlocker b1(paper_), b2(resolution_);
  paper_->setCurrentIndex(model_.paper_index());
  resolution_->setCurrentIndex(model_.resolution_index());
  portrait_->setChecked(!model_.landscape());
  landscape_->setChecked(model_.landscape());
  icon_->setPixmap(OrientationPicture(model_.landscape()));
  for (int i = 0; i < 4; ++i) {
    QSignalBlocker b(spins_[i]);
    edits_[i]->setText(Q(model_.margin_text(i)));
    spins_[i]->setValue(model_.margin(i));
  }
}

SheetDialog::SheetDialog(const QString& title, PaperPageModel& model, const gastrelo::Resources& res, QWidget* parent)
    : QDialog(parent) {
  setFont(SheetFont());
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  auto* tab = new QGroupBox(Q(res.String(gastrelo::kPageTabName).value_or("")));
  auto* tl = new QVBoxLayout(tab);
  page_ = new PaperPage(model, res);
  tl->addWidget(page_);
  layout->addWidget(tab);
  auto* ok = new QPushButton(Q(res.DialogText(gastrelo::kVersionDialog, gastrelo::kIdOk)));
  auto* cancel = new QPushButton(Q(res.DialogText(gastrelo::kUserSizeDialog, gastrelo::kIdCancel)));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
}

ShowPage QtShowPage(const gastrelo::Resources& res, QString title, std::function<void(SheetDialog&)> before) {
  return [&res, title, before](PaperPageModel& model) -> long {
    SheetDialog dialog(title, model, res);
    if (before) {  // the hook shows and closes the dialog itself
      before(dialog);
      return dialog.result() == QDialog::Accepted ? 1 : 0;
    }
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
  };
}

dromu::SheetRunner QtDocumentSheet(const gastrelo::Resources& res) {
  return [&res](dromu::Host host, PrinterHandle printer, std::span<std::uint8_t> output,
                std::span<const std::uint8_t> input, std::uint32_t flags) -> long {
    auto info = host.queries.GetPrinter(printer);
    const QString title = info ? Q(info->printer_name) : QString();
    return RunDocumentSheet(host, printer, output, input, flags, res, QtShowPage(res, title));
  };
}

}  // namespace zv::driver::sheets
