// The printer commands of the client's bar (the queue button 1000 and menu 32798, the
// properties button 1072 and menu 32799): which road each takes on this machine, the
// desktop's printer tool, the client's own queue window or the driver's property sheets,
// and, where none serves, why (the text of the status prompt). Also the queue window's
// texts: its column titles and one row of texts per job.
#pragma once

#include <string>
#include <vector>

#include "platform/spool/spool.h"

namespace zv::client {

// The desktop's printer tool, which shows a queue's jobs and a printer's settings.
inline constexpr char kDesktopPrinterTool[] = "system-config-printer";
// The raster queue of the virtual printer (the PDF queue is kVirtualPrinterName).
inline constexpr char kRasterPrinterName[] = "Zelvora-Raster";

inline constexpr char kQueuePromptText[] = "プリンタのキューを表示します";
inline constexpr char kPropertiesPromptText[] = "プリンタのプロパティを表示します";
inline constexpr char kNoPrinterChosenText[] = "プリンタが選択されていないため使用できません";
inline constexpr char kNoQueueReaderText[] = "プリンタのキューを読めないため使用できません（スプーラに接続できません）";
inline constexpr char kNoPrinterToolText[] = "プリンタ設定ツールがインストールされていないため使用できません";
// Folder printers have no settings of their own to show.
inline constexpr char kNotCupsText[] = "このプリンタには表示できるプロパティがないため使用できません";

// The queue window's column titles.
inline constexpr const char* kQueueColumns[] = {"ドキュメント名", "状態", "所有者", "ページ数", "サイズ", "受付時刻"};
inline constexpr int kQueueColumnCount = static_cast<int>(std::size(kQueueColumns));

struct PrinterCommand {
  enum Road {
    kUnavailable,     // nothing on this machine serves it: `prompt` says why
    kDesktopTool,     // `argv` starts the desktop's printer tool
    kQueueWindow,     // the client's own queue window lists `printer`'s jobs
    kDriverSheets,    // the driver's property sheets of the project's queue `printer`
  } road = kUnavailable;
  std::string printer;
  std::vector<std::string> argv;
  std::string prompt;  // the status prompt: what the command does, or why it cannot
};

// What the machine offers the commands.
struct PrinterCommandOffers {
  std::string desktop_tool;  // the printer tool's path; empty when it is not installed
  bool spooler = false;      // the spooler can be asked for a queue's jobs
  bool cups = false;         // the printers are CUPS queues (the tool and the sheets need it)
};
// Gives what this machine offers: the spooler as configured, and the printer tool found in
// PATH (counted only where the printers are CUPS queues).
PrinterCommandOffers MachinePrinterOffers();

// Takes whether a server is configured and the printer chosen; gives the printer the
// commands act on: with a server the virtual printer "Zelvora", else the chosen one.
std::string CommandPrinter(bool server, const std::string& chosen);
// Takes a printer's name; true for the project's own queues (the virtual printer's two).
bool IsProjectQueue(const std::string& printer);

// Takes the printer (empty: none) and the offers; gives the queue command's road: the
// desktop's tool where installed with CUPS, else the client's queue window where the
// spooler answers.
PrinterCommand QueueCommand(const std::string& printer, const PrinterCommandOffers& offers);
// Takes the printer and the offers; gives the properties command's road (CUPS queues only):
// the driver's sheets for the project's queues, the desktop's tool for others where
// installed.
PrinterCommand PropertiesCommand(const std::string& printer, const PrinterCommandOffers& offers);

// Takes a job's state; gives its text in the queue window.
std::string JobStateText(spool::JobState state);
// Takes the jobs of a queue; gives each job's texts, one per column of kQueueColumns: the
// document, the state, the owner, the pages (empty when unknown), the size ("12 KB") and
// the submission time in local time ("2026/12/11 09:30:00").
std::vector<std::vector<std::string>> QueueRows(const std::vector<spool::JobInfo>& jobs);
// Takes the printer; gives the queue window's title.
std::string QueueWindowTitle(const std::string& printer);
// Takes the number of jobs; gives the queue window's count line.
std::string QueueCountText(size_t jobs);
// Takes the printer and the spooler's error for a queue that could not be read; gives the
// queue window's count line, in the user's words (the spooler's own text is not shown).
std::string QueueErrorText(const std::string& printer, const Status& error);

}  // namespace zv::client
