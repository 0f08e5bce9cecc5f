// Qt's own window texts come out in Japanese once the translations are loaded: the buttons a
// message box offers and the texts of a file dialog. The message box is saved to the build's
// artifacts folder for a person to look at.
#include "platform/winmsg/qt/qt_translations.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "platform/testing/artifacts.h"

namespace zv::winmsg {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "qt_translations_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    EXPECT_TRUE(LoadQtTranslations().ok());
    return a;
  }();
  return *app;
}

// A button's text as the user reads it: without the keyboard mnemonic "(&Y)" or "&".
QString Shown(QString text) {
  static const QRegularExpression mnemonic(QStringLiteral("\\(&.\\)"));
  return text.remove(mnemonic).remove('&');
}

TEST(QtTranslations, MessageBoxButtonsAreJapanese) {
  App();
  QMessageBox box(QMessageBox::Question, QString::fromUtf8("確認"), QString::fromUtf8("印刷を中止しますか？"),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  const struct {
    QMessageBox::StandardButton button;
    const char* text;
  } cases[] = {{QMessageBox::Yes, "はい"}, {QMessageBox::No, "いいえ"}, {QMessageBox::Cancel, "キャンセル"}};
  for (const auto& c : cases) {
    ASSERT_NE(box.button(c.button), nullptr);
    EXPECT_EQ(Shown(box.button(c.button)->text()).toStdString(), c.text);
  }
  box.show();
  box.grab().save(QString::fromStdString(testing::ArtifactsDir() + "/qt_message_box_ja.png"));
}

TEST(QtTranslations, FileDialogIsJapanese) {
  App();
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  QFileDialog dialog(nullptr, QString(), folder.path());
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "開く");
  const struct {
    const char* label;
    const char* text;
  } cases[] = {{"lookInLabel", "アドレス:"}, {"fileNameLabel", "ファイル名:"}, {"fileTypeLabel", "ファイルの種類:"}};
  for (const auto& c : cases) {
    auto* label = dialog.findChild<QLabel*>(c.label);
    ASSERT_NE(label, nullptr) << c.label;
    EXPECT_EQ(Shown(label->text()).toStdString(), c.text) << c.label;
  }
  auto* buttons = dialog.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  ASSERT_NE(buttons->button(QDialogButtonBox::Cancel), nullptr);
  EXPECT_EQ(Shown(buttons->button(QDialogButtonBox::Cancel)->text()).toStdString(), "キャンセル");
}

TEST(QtTranslations, TextFieldMenuIsJapanese) {
  App();
  // The edit menu every text field of the system's windows offers.
  QLineEdit field;
  std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
  QStringList shown;
  for (const QAction* a : menu->actions())
    if (!a->isSeparator()) shown << Shown(a->text()).section('\t', 0, 0);
  EXPECT_EQ(shown.join(' ').toStdString(), "元に戻す やり直す 切り取り コピー 貼り付け 削除 すべてを選択");
}

}  // namespace
}  // namespace zv::winmsg
