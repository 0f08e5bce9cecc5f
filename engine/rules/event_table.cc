#include "engine/rules/event_table.h"

namespace zv::engine {
namespace {
using K = EventKind;
const EventEntry kTable[kEventCount] = {
    {K::kInformation, "ｻｰﾋﾞｽが登録されました"},
    {K::kWarning, "ｻｰﾋﾞｽが削除されました"},
    {K::kInformation, "ｻｰﾋﾞｽが開始されました"},
    {K::kWarning, "ｻｰﾋﾞｽが停止されました"},
    {K::kError, "ｻｰﾋﾞｽの登録に失敗しました"},
    {K::kError, "ｻｰﾋﾞｽの開始に失敗しました"},
    {K::kError, "ｻｰﾋﾞｽの削除に失敗しました"},
    {K::kError, "ｻｰﾋﾞｽの生成に失敗しました"},
    {K::kError, "ｻｰﾋﾞｽの停止に失敗しました"},
    {K::kError, "ｻｰﾋﾞｽのｽﾃｰﾀｽ更新に失敗しました"},
    {K::kInformation, "実行部が起動しました"},
    {K::kWarning, "実行部は終了しました"},
    {K::kError, "ﾚｼﾞｽﾄﾘ値が取得できませんでした"},
    {K::kError, "ﾚｼﾞｽﾄﾘ値の更新に失敗しました"},
    {K::kError, "実行部の起動に失敗しました"},
    {K::kError, "SMTPｺﾝﾄﾛｰﾙｳｨﾝﾄﾞｳの生成に失敗しました"},
    {K::kWarning, "ﾃﾞｰﾀﾍﾞｰｽｱｸｾｽｴﾗｰ"},
    {K::kError, "印刷依頼処理ｽﾚｯﾄﾞｴﾗｰ"},
    {K::kWarning, "印刷依頼情報に誤りがあります"},
    {K::kWarning, "登録されていない依頼者です"},
    {K::kWarning, "管理プリンタではないプリンタです"},
    {K::kError, "印刷ｼﾞｮﾌﾞﾌｧｲﾙのｵｰﾌﾟﾝに失敗しました"},
    {K::kError, "印刷に失敗しました"},
    {K::kError, "送信ｻｰﾊﾞ接続に失敗しました"},
    {K::kError, "通知ﾒｰﾙを送信できませんでした"},
};
}  // namespace

const EventEntry* FindEvent(int number) {
  if (number < 0 || number >= kEventCount) return nullptr;
  return &kTable[number];
}

std::vector<std::string> ComposeEventStrings(EventKind kind, const std::string& text, const std::string* extra,
                                             int error_code) {
  std::vector<std::string> out;
  if (kind == EventKind::kError) {
    out.push_back("GetLastError [" + std::to_string(error_code) + "] ");
    out.push_back("\r\n" + text);
  } else {
    out.push_back(text);
  }
  if (extra) out.push_back("\r\n" + *extra);
  return out;
}

}  // namespace zv::engine
