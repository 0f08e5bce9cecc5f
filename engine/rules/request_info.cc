#include "engine/rules/request_info.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/hevrasto/share_files.h"
#include "engine/rules/text_util.h"
#include "platform/paths/paths.h"
#include "printing/print_rules.h"

namespace zv::engine {
namespace {

// The keys in the order in which they are matched; "OffSetSize" matches "OffsetSize" too
// since keys are compared upper-cased.
enum Key {
  kAccountName,
  kMachineName,
  kJobFileName,
  kJobName,
  kJobPages,
  kOrientation,
  kThumbnailCount,
  kSeparator,
  kOffSetSize,
  kDeviceName,
  kPaperSize,
  kPrintPages,
  kCopies,
  kCollate,
  kHLeft,
  kHCenter,
  kHRight,
  kFLeft,
  kFCenter,
  kFRight,
  kFontPoint,
  kLogFont,
  kPrintPageMode,
  kRotate,
  kKeyCount
};

const char* const kKeys[kKeyCount] = {
    "ACCOUNTNAME=",    "MACHINENAME=", "JOBFILENAME=", "JOBNAME=",    "JOBPAGES=",      "ORIENTATION=",
    "THUMBNAILCOUNT=", "SEPARATOR=",   "OFFSETSIZE=",  "DEVICENAME=", "PAPERSIZE=",     "PRINTPAGES=",
    "COPIES=",         "COLLATE=",     "H_LEFT=",      "H_CENTER=",   "H_RIGHT=",       "F_LEFT=",
    "F_CENTER=",       "F_RIGHT=",     "FONTPOINT=",   "LOGFONT=",    "PRINTPAGEMODE=", "ROTATE="};

int32_t ZeroTo3(int32_t v) { return (v >= 0 && v <= 3) ? v : 0; }

// Takes a key; true for the keys whose value is a number or a list of numbers.
bool IsNumericKey(int key) {
  switch (key) {
    case kJobPages:
    case kOrientation:
    case kThumbnailCount:
    case kSeparator:
    case kOffSetSize:
    case kPaperSize:
    case kPrintPages:
    case kCopies:
    case kCollate:
    case kFontPoint:
    case kPrintPageMode:
      return true;
    default:
      return false;
  }
}

// Takes a value that was refused; gives it as the answer's message may carry it: at most 16
// bytes, every byte outside printable ASCII as "?", so the message stays one short line of
// valid text whatever the request held.
std::string ShownValue(std::string_view value) {
  constexpr size_t kShown = 16;
  std::string shown(value.substr(0, kShown));
  for (char& c : shown)
    if (c < 0x20 || c > 0x7E) c = '?';
  if (value.size() > kShown) shown += "...";
  return shown;
}

// Takes a key; true for the numeric keys whose value is a comma-separated list.
bool IsListKey(int key) { return key == kJobPages || key == kOffSetSize || key == kPrintPages; }

// Takes a value and whether it is a list; true when the value (or every item of the list)
// is a whole number.
bool AllWholeNumbers(std::string_view value, bool list) {
  if (!list) return IsWholeNumber(value);
  for (;;) {
    size_t comma = value.find(',');
    if (!IsWholeNumber(value.substr(0, comma))) return false;
    if (comma == std::string_view::npos) return true;
    value.remove_prefix(comma + 1);
  }
}

}  // namespace

void CRequestInfo::Init() { *this = CRequestInfo(); }

int64_t CRequestInfo::TotalJobPages() const {
  int64_t total = 0;
  for (const auto& j : Jobs) total += j.pages;
  return total;
}

bool CRequestInfo::ParseRequestText(std::string_view text) {
  Init();
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> names;
  std::vector<int32_t> pages;
  bool begun = false;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string line = Trim(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.empty()) continue;
    std::string upper = UpperAscii(line);
    if (upper.rfind("[REQUESTINFO]", 0) == 0) {
      if (begun) break;
      begun = true;
      continue;
    }
    if (!begun) continue;
    if (upper.rfind("REQUESTID=", 0) == 0) {
      std::string id = Trim(line.substr(10));
      if (share::IsRequestId(id)) RequestID = id;
      continue;
    }
    int key = -1;
    size_t klen = 0;
    for (int k = 0; k < kKeyCount; ++k) {
      klen = std::strlen(kKeys[k]);
      if (upper.compare(0, klen, kKeys[k]) == 0) {
        key = k;
        break;
      }
    }
    if (key < 0 || line.size() <= klen) continue;
    std::string value = line.substr(klen);
    // The numeric keys take whole numbers only ("5x" or " 5" is not read as 5); lists take
    // whole numbers between their commas. The first key that breaks this makes the request
    // invalid.
    if (BadNumberKey.empty() && IsNumericKey(key) && !AllWholeNumbers(value, IsListKey(key)))
      BadNumberKey = line.substr(0, klen - 1), BadNumberValue = ShownValue(value);
    value.erase(0, value.find_first_not_of(" \t"));
    int32_t num = LeadingInt(value);
    switch (key) {
      case kAccountName:
        AccountName = value;
        break;
      case kMachineName:
        MachineName = value;
        break;
      case kJobFileName:
        JobFileName = value;
        break;
      case kJobName:
        names = SplitList(value, '\\');
        break;
      case kJobPages: {
        pages.clear();
        for (const auto& item : SplitList(value, ',')) pages.push_back(std::max(0, LeadingInt(item)));
        break;
      }
      case kOrientation:
        Orientation = num == 2 ? 2 : 1;
        break;
      case kThumbnailCount:
        ThumbnailCount = ZeroTo3(num);
        break;
      case kSeparator:
        Separator = ZeroTo3(num);
        break;
      case kOffSetSize: {
        OffsetX = OffsetY = OffsetSize = 0;
        auto items = SplitList(value, ',', true);
        if (items.size() > 0) OffsetX = LeadingInt(items[0]);
        if (items.size() > 1) OffsetY = LeadingInt(items[1]);
        if (items.size() > 2) OffsetSize = LeadingInt(items[2]);
        break;
      }
      case kDeviceName:
        DeviceName = value;
        break;
      case kPaperSize:
        PaperSize = num;
        break;
      case kPrintPages: {
        FirstPage = LastPage = 0;
        auto items = SplitList(value, ',', true);
        // A page number below 1 means "from the start" / "to the end", never a negative count.
        if (items.size() > 0) FirstPage = std::max(0, LeadingInt(items[0]));
        if (items.size() > 1) LastPage = std::max(0, LeadingInt(items[1]));
        break;
      }
      case kCopies:
        Copies = num < 1 ? 1 : num;
        break;
      case kCollate:
        Collate = num > 0;
        break;
      case kHLeft:
        H_Left = value;
        break;
      case kHCenter:
        H_Center = value;
        break;
      case kHRight:
        H_Right = value;
        break;
      case kFLeft:
        F_Left = value;
        break;
      case kFCenter:
        F_Center = value;
        break;
      case kFRight:
        F_Right = value;
        break;
      case kFontPoint:
        FontPoint = num;
        break;
      case kLogFont:
        LogFont = value;
        break;
      case kPrintPageMode:
        PrintPageMode = num;
        break;
      case kRotate:
        Rotate = value;
        break;
    }
  }
  if (!begun) return false;

  for (size_t i = 0; i < names.size() && i < pages.size(); ++i) Jobs.push_back({names[i], pages[i]});

  if (FirstPage == 0) {
    LastPage = 0;
    AllPages = 1;
  } else {
    AllPages = 0;
    if (LastPage == 0) LastPage = FirstPage;
    if (FirstPage > LastPage) std::swap(FirstPage, LastPage);
  }
  if (!AllPages) {
    int64_t total = TotalJobPages();
    if (LastPage > total) {
      LastPage = static_cast<int32_t>(total < INT32_MIN ? INT32_MIN : total);
      if (FirstPage > total) {
        FirstPage = LastPage;
        if (total == 0) AllPages = 1;
      }
    }
  }
  if (PrintPageMode != 0 && PrintPageMode != 1) PrintPageMode = 1;
  return true;
}

bool CRequestInfo::ValidateRequest(std::vector<std::string>* messages) const {
  // Account and machine make the answer's file name and the job file name is opened in the
  // jobs folder: each must be one plain name, never a path.
  messages->clear();
  if (AccountName.empty()) {
    messages->push_back("[依頼者のアカウント名]が指定されていません");
  } else if (!paths::IsPlainFileName(AccountName, kMaxRequestName)) {
    messages->push_back("[依頼者のアカウント名]に使用できない文字が含まれています");
  } else if (MachineName.empty()) {
    messages->push_back("[依頼者のマシン名]が指定されていません");
  } else if (!paths::IsPlainFileName(MachineName, kMaxRequestName)) {
    messages->push_back("[依頼者のマシン名]に使用できない文字が含まれています");
  } else if (JobFileName.empty()) {
    messages->push_back("[印刷ファイル]が指定されていません");
  } else if (!paths::IsPlainFileName(JobFileName, kMaxJobFileName)) {
    messages->push_back("[印刷ファイル]に使用できない文字が含まれています");
  } else if (Jobs.empty()) {
    messages->push_back("[印刷ジョブ名]または、[印刷ジョブページ数]が指定されていません");
  } else if (DeviceName.empty()) {
    messages->push_back("[プリンタ名]が指定されていません");
  } else if (PaperSize == 0) {
    messages->push_back("[用紙サイズ]が指定されていません");
  } else if (printing::DecideCopies(Copies) == 0) {
    messages->push_back("[部数]は" + std::to_string(printing::kMaxCopies) + "部までです");
  } else if (!BadNumberKey.empty()) {
    messages->push_back("[" + BadNumberKey + "]の値が整数ではありません: " + BadNumberValue);
  }
  return messages->empty();
}

void CRequestInfo::FormatRequestReport(std::vector<std::string>* lines) const {
  std::vector<std::string> names, pages;
  for (const auto& j : Jobs) {
    names.push_back(j.name);
    pages.push_back(std::to_string(j.pages));
  }
  auto n = [](int64_t v) { return std::to_string(v); };
  lines->push_back(std::string(30, '-'));
  lines->push_back("[RequestInfo]");
  lines->push_back("AccountName=" + AccountName);
  lines->push_back("MachineName=" + MachineName);
  lines->push_back("JobFileName=" + JobFileName);
  lines->push_back("JobName=" + JoinList(names, ","));
  lines->push_back("JobPages=" + JoinList(pages, ","));
  lines->push_back("Orientation=" + n(Orientation));
  lines->push_back("ThumbnailCount=" + n(ThumbnailCount));
  lines->push_back("Separator=" + n(Separator));
  lines->push_back("OffSetSize=" + n(OffsetX) + "," + n(OffsetY) + "," + n(OffsetSize));
  lines->push_back("DeviceName=" + DeviceName);
  lines->push_back("PaperSize=" + n(PaperSize));
  lines->push_back("PrintPages=" + n(FirstPage) + "," + n(LastPage));
  lines->push_back("Copies=" + n(Copies));
  lines->push_back("Collate=" + n(Collate ? 1 : 0));
}

}  // namespace zv::engine
