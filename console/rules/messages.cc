#include "console/rules/messages.h"

#include <cstdio>
#include <string>

namespace zv::console {
namespace {

struct Entry {
  uint32_t style;
  const char* text;
};

// Rows 0-4 are questions, 5-22 warnings, 23-46 errors.
constexpr Entry
    kTable[kAppMessageCount] =
        {
            {0x24, "選択されているグループを削除しますか？"},                            // 0
            {0x24, "選択されているユーザを削除しますか？"},                              // 1
            {0x24, "選択されているユーザの印刷ログを削除しますか？"},                    // 2
            {0x24, "全ユーザの印刷ログを削除しますか？"},                                // 3
            {0x24, "管理対象のプリンタが指定されていませんが、よろしいですか？"},        // 4
            {0x30, "所属グループが指定されていません。"},                                // 5
            {0x30, "このグループ名は既に登録されています。"},                            // 6
            {0x30, "このアカウントのユーザが既に登録されています。\nユーザ名：%s"},      // 7
            {0x30, "ユーザアカウントを登録して下さい。"},                                // 8
            {0x30, "印刷可能枚数の指定に誤りがあります。\n範囲：%3d ～ %3d"},            // 9
            {0x30, "月数の指定に誤りがあります。\n範囲：%3d ～ %3d"},                    // 10
            {0x30, "日数の指定に誤りがあります。\n範囲：%3d ～ %3d"},                    // 11
            {0x30, "日付の指定に誤りがあります。\n範囲：%s ～ %s"},                      // 12
            {0x30, "日付の大小関係を正しく指定してください。"},                          // 13
            {0x30, "期間日数の指定に誤りがあります。\n範囲：%3d ～ %3d"},                // 14
            {0x30, "入力可能文字数を超えています。\n範囲：(半角文字で)%3d ～ %3d文字"},  // 15
            {0x30,
             "ロックできません。パスワードを確認してもう一度入力して下さい。\nパスワードは大文字と小文字が区別されます"
             "。"},  // 16
            {0x30,
             "解除できません。パスワードを確認してもう一度入力して下さい。\nパスワードは大文字と小文字が区別されます"
             "。"},  // 17
            {0x30,
             "パスワードに使用できない文字が含まれています。\n文字種：ASCII文字（半角英字、半角数字、記号）－英字の大文"
             "字/小文字は区別します。"},  // 18
            {0x30,
             "入力したパスワードが一致していません。\nパスワードを確認して両方のテキストボックスにもう一度入力して下さ"
             "い。"},                                                                                      // 19
            {0x30, "変更先のフォルダを選択して下さい。"},                                                  // 20
            {0x30, "「メールの設定」をクリックしてメール送信に必要な設定を行って下さい。"},                // 21
            {0x30, "表示期間範囲が広すぎるため全ての要素を表示できません。\n期間開始日を変更しました。"},  // 22
            {0x10, "レジストリ値の更新に失敗しました。"},                                                  // 23
            {0x10, "レジストリ値の取得に失敗しました。"},                                                  // 24
            {0x10, "グループの登録に失敗しました。"},                                                      // 25
            {0x10, "グループ情報の更新に失敗しました。"},                                                  // 26
            {0x10, "グループの削除に失敗しました。"},                                                      // 27
            {0x10, "所属ユーザのいるグループは削除できません。\n所属ユーザを先に削除してください。"},      // 28
            {0x10, "ユーザの登録に失敗しました。"},                                                        // 29
            {0x10, "ユーザ情報の更新に失敗しました。"},                                                    // 30
            {0x10, "ユーザの削除に失敗しました。"},                                                        // 31
            {0x10, "所属ユーザの取得に失敗しました。"},                                                    // 32
            {0x10, "印刷ログのコピーに失敗しました。"},                                                    // 33
            {0x10, "印刷ログの移動に失敗しました。"},                                                      // 34
            {0x10, "印刷ログの検索に失敗しました。"},                                                      // 35
            {0x10, "印刷ログの削除に失敗しました。"},                                                      // 36
            {0x10, "印刷枚数集計に失敗しました。"},                                                        // 37
            {0x10, "ユーザー名を取得できませんでした。"},                                                  // 38
            {0x10, "プリンタ情報の登録に失敗しました。"},                                                  // 39
            {0x10, "プリンタ情報の取得に失敗しました。"},                                                  // 40
            {0x10, "プリンタ情報の更新に失敗しました。"},                                                  // 41
            {0x10, "管理プリンタ情報ファイルの作成に失敗しました。"},                                      // 42
            {0x10, "印刷サービスの停止に失敗しました。"},                                                  // 43
            {0x10, "印刷サービスを再開できませんでした。"},                                                // 44
            {0x10, "グラフ表示ウィンドウの作成に失敗しました。"},                                          // 45
            {0x10, "グラフデータ作成に失敗しました。"},                                                    // 46
};

bool InTable(int number) { return number >= 0 && number < kAppMessageCount; }

// Counts the placeholders of an entry's text so that a caller can never hand a row to
// snprintf with other conversions than it was written for.
int CountConversions(const char* text, char conv) {
  int n = 0;
  for (const char* p = text; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p != conv) return -1;
    ++n;
  }
  return n;
}

}  // namespace

std::string GetAppMessage(int number, uint32_t* style) {
  if (!InTable(number)) return {};
  if (style) *style = kTable[number].style;
  return kTable[number].text;
}

int ShowAppMessage(MessageSink& sink, int number) {
  if (!InTable(number)) return kIdCancel;
  return sink.Show(kTable[number].text, kTable[number].style);
}

std::string FormatBoundsMessage(int number, int lower, int upper) {
  if (!InTable(number) || CountConversions(kTable[number].text, 'd') != 2) return {};
  char buf[512];
  std::snprintf(buf, sizeof buf, kTable[number].text, lower, upper);
  return buf;
}

std::string FormatTextMessage(int number, std::string_view first, std::string_view second) {
  if (!InTable(number)) return {};
  int n = CountConversions(kTable[number].text, 's');
  if (n < 1 || n > 2) return {};
  std::string out;
  int used = 0;
  for (const char* p = kTable[number].text; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += used++ == 0 ? first : second;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

int ShowFilledMessage(MessageSink& sink, int number, const std::string& text) {
  if (!InTable(number)) return kIdCancel;
  return sink.Show(text, kTable[number].style);
}

}  // namespace zv::console
