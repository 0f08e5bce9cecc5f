#include "engine/rules/request_result.h"

#include "engine/rules/request_info.h"
#include "engine/rules/text_util.h"
#include "platform/paths/paths.h"

namespace zv::engine {
namespace {
const char kServerTitle[] = "Zelvoraサーバ";
const char kContact[] = "至急、管理者にご連絡ください。";
}  // namespace

std::vector<std::string> DatabaseErrorLines() { return {"データベースのアクセスエラーが発生しました。", kContact}; }

void CRequestResult::Init() { *this = CRequestResult(); }

void CRequestResult::SetResultMessage(int32_t code, const std::vector<std::string>& extra) {
  ResultCode = code;
  Title = code == kResultPrintFailed ? "プリントエラー" : kServerTitle;
  auto add = [&](std::initializer_list<const char*> lines) {
    for (const char* l : lines) Messages.emplace_back(l);
  };
  auto add_extra = [&] { Messages.insert(Messages.end(), extra.begin(), extra.end()); };
  switch (code) {
    case kResultPrinted:
      if (extra.empty()) add({"印刷が完了しました。"});
      break;
    case kResultIncomplete:
      add({"印刷依頼情報に不備があります。"});
      break;
    case kResultUnknownUser:
      add({"ユーザ登録されていないため印刷の権限がありません。"});
      break;
    case kResultUnmanagedPrinter:
      add({"指定された[プリンタ]は、管理プリンタではありません。"});
      break;
    case kResultMonoLimit:
      add({"モノクロ印刷可能枚数に達しています。", "モノクロ印刷可能枚数を超えた印刷は禁止されています。"});
      break;
    case kResultJobNotOpened:
      add({"印刷ジョブファイルがオープンできませんでした。"});
      break;
    case kResultPrintFailed:
      if (extra.empty()) add({"印刷に失敗しました。"});
      break;
    case kResultDatabaseError:
      break;
    case kResultDuplicate:
      add({"印刷中のジョブ名と同一の印刷が行われました。", "印刷中の２重印刷は禁止されています。"});
      break;
    case kResultColorLimit:
      add({"カラー印刷可能枚数に達しています。", "カラー印刷可能枚数を超えた印刷は禁止されています。"});
      break;
    default:
      if (extra.empty()) add({"サーバ側印刷実行部で内部エラーが発生しました。", kContact});
      break;
  }
  add_extra();
}

std::string CRequestResult::ComposeResultText(bool show_normal, bool show_error) const {
  // A line break inside a title or message would end the INI line and corrupt the file:
  // breaks split a message into separate lines, and a title keeps only its first line.
  auto no_breaks = [](const std::string& s) {
    std::string out;
    for (char c : s) out += (c == '\r' || c == '\n') ? '\n' : c;
    return out;
  };
  std::vector<std::string> lines;
  lines.push_back("[PrintResult]");
  lines.push_back("Result=" + std::to_string(ResultCode));
  if (!RequestID.empty()) lines.push_back("RequestID=" + RequestID.substr(0, RequestID.find_first_of("\r\n")));
  bool show = ResultCode == kResultPrinted ? show_normal : show_error;
  if (show) {
    std::vector<std::string> parts;
    for (const auto& m : Messages)
      for (auto& piece : SplitList(no_breaks(m), '\n', true)) parts.push_back(piece);
    std::string title = no_breaks(Title);
    title = title.substr(0, title.find('\n'));
    lines.push_back("");
    lines.push_back(ResultCode == kResultPrinted ? "[NormalMessage]" : "[ErrorMessage]");
    lines.push_back("Title=" + title);
    lines.push_back("Message=" + JoinList(parts, "##KAIGYOU_POS##"));
  }
  lines.push_back("");
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text + ComposeLimitText();
}

bool CRequestResult::CarriesQuota() const {
  return MaxPages != -1 && PageCount != -1 && MaxPages_Color != -1 && PageCount_Color != -1;
}

std::string CRequestResult::ComposeLimitText() const {
  std::string range = "CheckRange=" + std::to_string(CheckRange);
  if (CheckRange == 4) range += "," + std::to_string(LimitDays);
  std::string text = "[PrintLimit]\r\n" + range + "\r\n";
  text += "LimitDate=" + std::to_string(LimitDate) + "\r\n";
  text += "MaxPages=" + std::to_string(MaxPages) + "\r\n";
  text += "PageCount=" + std::to_string(PageCount) + "\r\n";
  text += "MaxPages_Color=" + std::to_string(MaxPages_Color) + "\r\n";
  text += "PageCount_Color=" + std::to_string(PageCount_Color) + "\r\n";
  return text;
}

Result<std::string> AnswerFileName(const std::string& account, const std::string& machine) {
  if (!paths::IsPlainFileName(account, kMaxRequestName) || !paths::IsPlainFileName(machine, kMaxRequestName))
    return Status::InvalidArgument("account or machine name is not a plain name");
  return account + "-" + machine + ".ans";
}

Result<std::string> MonitorCopyName(const std::string& slot, const std::string& account, const std::string& machine) {
  if (!paths::IsPlainFileName(slot, 32) || !paths::IsPlainFileName(account, kMaxRequestName) ||
      !paths::IsPlainFileName(machine, kMaxRequestName))
    return Status::InvalidArgument("slot, account or machine name is not a plain name");
  return slot + "-" + account + "-" + machine + ".an2";
}

}  // namespace zv::engine
