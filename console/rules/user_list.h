// The user list's rows and rules: page rows of a group's users, the limits each row
// resolves to, the cell texts, the sort, and the status text of the selected user. Pure;
// the list window only shows what these give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/db/zvm_database.h"
#include "engine/rules/check_rules.h"

namespace zv::console {

// Pages and jobs of one user on one printer and page type in a period.
struct PrinterPageSum {
  int32_t PID = 0;
  int32_t Pages = 0;
  int32_t Count = 0;
  int32_t Ptype = 0;  // 0 monochrome, 1 colour
  bool operator==(const PrinterPageSum&) const = default;
};

// A user of the list with the period's sums and the per-printer breakdown.
struct UserPageRow : engine::UserRecord {
  int32_t MonoPages = 0;
  int32_t ColorPages = 0;
  int32_t JobCount = 0;
  std::vector<PrinterPageSum> PrinterSums;  // sorted by PID
};

// What the limits of a row resolve against: the system's ("MaxPages", "MaxPages_Color";
// 50 and 20 when missing) and the current group's.
struct LimitContext {
  engine::UserLimits system{50, 20};
  engine::UserLimits group{};
};

// Takes a row and the context; gives its limits by CountShubetsu (the engine's resolver).
engine::UserLimits RowLimits(const UserPageRow& row, const LimitContext& ctx);

// Takes the rows and the ids of the period's printers in column order; gives every row a
// cell for each printer it lacks (zero pages and jobs), keeps the cells sorted by PID, and
// sets each row's totals from its cells by type (other types count as monochrome pages).
void CompletePrinterCells(std::vector<UserPageRow>* rows, const std::vector<int32_t>& printer_ids);

// Takes a row, a column, the context and the printer ids of columns 5 onwards; gives the
// cell text: account, user name, colour limit, monochrome limit ("%4ld枚", "無制限" for
// 0), "%4ld枚/%4ld枚(%3ld件)" of colour pages, monochrome pages and jobs, and the printer's
// pages as "%4ld枚" (empty when the row has no cell for it).
std::string UserCellText(const UserPageRow& row, int column, const LimitContext& ctx,
                         const std::vector<int32_t>& printer_ids);

// Takes the rows, a column and the direction; sorts by account, user name (both without
// regard to ASCII case), colour limit, monochrome limit, total pages or a printer's pages,
// and for columns 2 onwards sorts rows of equal keys by account in the same direction.
// Fewer than two rows: nothing changes.
void SortUserRows(std::vector<UserPageRow>* rows, int column, bool descending, const LimitContext& ctx,
                  const std::vector<int32_t>& printer_ids);

// Takes a column click, the stored column and direction; gives the new direction (reversed
// on the same column, ascending on another).
bool DescendingAfterClick(int clicked, int sort_column, bool descending);

// Takes an account; gives the name the status text shows: the account itself below 31
// bytes in the Japanese code page, else its first 30 bytes (never half a character)
// followed by "...".
std::string StatusName(const std::string& account);

// Takes the account, the resolved limits and the period's monochrome and colour pages;
// gives the status text: "%s:印刷可能枚数[無制限]" without a monochrome limit, else the
// colour part ("%s:上限まで カラー[%d]枚" / "%s:上限超過 カラー[%d]枚"), one blank and the
// monochrome part ("上限まで モノクロ[%d]枚" / "上限超過 モノクロ[%d]枚"). Without a colour
// limit the colour part reads "%s:カラー[無制限]".
std::string UserStatusText(const std::string& account, const engine::UserLimits& limits, int64_t mono_pages,
                           int64_t color_pages);

// The list's fixed column titles, then one per printer.
std::vector<std::string> UserColumnTitles(const std::vector<std::string>& printer_names);

// Takes the stored widths and a column; gives its width: the stored one, the last stored
// one past the end, 100 when none is stored.
int ColumnWidth(const std::vector<int>& widths, size_t column);

}  // namespace zv::console
