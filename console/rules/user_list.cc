#include "console/rules/user_list.h"

#include <algorithm>
#include <cstdio>

#include "platform/base/ascii.h"
#include "platform/codepage/codepage.h"

namespace zv::console {
namespace {

std::string Pages(int64_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%4ld枚", static_cast<long>(n));
  return buf;
}

std::string LimitText(int32_t limit) { return limit > 0 ? Pages(limit) : "無制限"; }

int64_t PrinterPages(const UserPageRow& row, int32_t pid) {
  int64_t sum = 0;
  for (const auto& c : row.PrinterSums) {
    if (c.PID == pid) sum += c.Pages;
  }
  return sum;
}

bool HasCell(const UserPageRow& row, int32_t pid) {
  return std::any_of(row.PrinterSums.begin(), row.PrinterSums.end(), [&](const auto& c) { return c.PID == pid; });
}

int64_t NumericKey(const UserPageRow& row, int column, const LimitContext& ctx,
                   const std::vector<int32_t>& printer_ids) {
  switch (column) {
    case 2:
      return RowLimits(row, ctx).color;
    case 3:
      return RowLimits(row, ctx).mono;
    case 4:
      return int64_t{row.MonoPages} + row.ColorPages;
    default: {
      size_t i = static_cast<size_t>(column - 5);
      return i < printer_ids.size() ? PrinterPages(row, printer_ids[i]) : 0;
    }
  }
}

}  // namespace

engine::UserLimits RowLimits(const UserPageRow& row, const LimitContext& ctx) {
  return engine::ResolveUserLimits(row.CountShubetsu, {row.MaxPages, row.MaxPages_Color}, ctx.system, &ctx.group);
}

void CompletePrinterCells(std::vector<UserPageRow>* rows, const std::vector<int32_t>& printer_ids) {
  for (auto& row : *rows) {
    for (int32_t pid : printer_ids) {
      if (!HasCell(row, pid)) row.PrinterSums.push_back({pid, 0, 0, 0});
    }
    std::stable_sort(row.PrinterSums.begin(), row.PrinterSums.end(),
                     [](const auto& a, const auto& b) { return a.PID < b.PID; });
    row.MonoPages = row.ColorPages = row.JobCount = 0;
    for (const auto& c : row.PrinterSums) {
      (c.Ptype == 1 ? row.ColorPages : row.MonoPages) += c.Pages;
      row.JobCount += c.Count;
    }
  }
}

std::string UserCellText(const UserPageRow& row, int column, const LimitContext& ctx,
                         const std::vector<int32_t>& printer_ids) {
  switch (column) {
    case 0:
      return row.Account;
    case 1:
      return row.UserName;
    case 2:
      return LimitText(RowLimits(row, ctx).color);
    case 3:
      return LimitText(RowLimits(row, ctx).mono);
    case 4: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%4ld枚/%4ld枚(%3ld件)", static_cast<long>(row.ColorPages),
                    static_cast<long>(row.MonoPages), static_cast<long>(row.JobCount));
      return buf;
    }
    default: {
      if (column < 5) return {};
      size_t i = static_cast<size_t>(column - 5);
      if (i >= printer_ids.size() || !HasCell(row, printer_ids[i])) return {};
      return Pages(PrinterPages(row, printer_ids[i]));
    }
  }
}

void SortUserRows(std::vector<UserPageRow>* rows, int column, bool descending, const LimitContext& ctx,
                  const std::vector<int32_t>& printer_ids) {
  if (rows->size() < 2) return;
  auto less = [&](const UserPageRow& a, const UserPageRow& b) {
    int c = 0;
    if (column == 0) {
      c = CompareNoCase(a.Account, b.Account);
    } else if (column == 1) {
      c = CompareNoCase(a.UserName, b.UserName);
    } else {
      int64_t x = NumericKey(a, column, ctx, printer_ids), y = NumericKey(b, column, ctx, printer_ids);
      c = x == y ? CompareNoCase(a.Account, b.Account) : (x < y ? -1 : 1);
    }
    return descending ? c > 0 : c < 0;
  };
  std::stable_sort(rows->begin(), rows->end(), less);
}

bool DescendingAfterClick(int clicked, int sort_column, bool descending) {
  return clicked == sort_column ? !descending : false;
}

std::string StatusName(const std::string& account) {
  auto bytes = codepage::Utf8ToCp932(account, codepage::OnError::kSubstitute);
  if (!bytes.ok() || bytes->size() < 31) return account;
  // Cut at a character boundary within the first 30 bytes.
  const std::string& b = *bytes;
  const size_t cut = codepage::Cp932FitLength(b, 30);
  auto head = codepage::Cp932ToUtf8(b.substr(0, cut), codepage::OnError::kSubstitute);
  return (head.ok() ? *head : std::string()) + "...";
}

std::string UserStatusText(const std::string& account, const engine::UserLimits& limits, int64_t mono_pages,
                           int64_t color_pages) {
  const std::string name = StatusName(account);
  char buf[512];
  if (limits.mono <= 0) {
    std::snprintf(buf, sizeof buf, "%s:印刷可能枚数[無制限]", name.c_str());
    return buf;
  }
  std::string text;
  if (limits.color > 0) {
    int64_t left = limits.color - color_pages;
    std::snprintf(buf, sizeof buf, left >= 0 ? "%s:上限まで カラー[%ld]枚" : "%s:上限超過 カラー[%ld]枚", name.c_str(),
                  static_cast<long>(left >= 0 ? left : -left));
  } else {
    std::snprintf(buf, sizeof buf, "%s:カラー[無制限]", name.c_str());
  }
  text = buf;
  int64_t left = limits.mono - mono_pages;
  std::snprintf(buf, sizeof buf, left >= 0 ? " 上限まで モノクロ[%ld]枚" : " 上限超過 モノクロ[%ld]枚",
                static_cast<long>(left >= 0 ? left : -left));
  return text + buf;
}

std::vector<std::string> UserColumnTitles(const std::vector<std::string>& printer_names) {
  std::vector<std::string> t{"アカウント", "ユーザ名", "印刷可能枚数-カラー", "印刷可能枚数-モノクロ", "合計"};
  t.insert(t.end(), printer_names.begin(), printer_names.end());
  return t;
}

int ColumnWidth(const std::vector<int>& widths, size_t column) {
  if (widths.empty()) return 100;
  return column < widths.size() ? widths[column] : widths.back();
}

}  // namespace zv::console
