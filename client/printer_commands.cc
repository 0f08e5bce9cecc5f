#include "client/printer_commands.h"

#include <cstdio>

#include "client/printer_list.h"
#include "platform/process/process.h"
#include "platform/spool/cups_spooler.h"

namespace zv::client {

std::string CommandPrinter(bool server, const std::string& chosen) { return server ? kVirtualPrinterName : chosen; }

bool IsProjectQueue(const std::string& printer) {
  return printer == kVirtualPrinterName || printer == kRasterPrinterName;
}

PrinterCommandOffers MachinePrinterOffers() {
  PrinterCommandOffers offers;
  auto spooler = spool::OpenSpooler();
  offers.spooler = spooler.ok();
  offers.cups = spooler.ok() && dynamic_cast<spool::CupsSpooler*>(spooler->get()) != nullptr;
  if (offers.cups) offers.desktop_tool = process::FindProgram(kDesktopPrinterTool);
  return offers;
}

PrinterCommand QueueCommand(const std::string& printer, const PrinterCommandOffers& offers) {
  PrinterCommand c;
  c.printer = printer;
  if (printer.empty()) {
    c.prompt = kNoPrinterChosenText;
  } else if (offers.cups && !offers.desktop_tool.empty()) {
    c.road = PrinterCommand::kDesktopTool;
    c.argv = {offers.desktop_tool, "--show-jobs", printer};
    c.prompt = kQueuePromptText;
  } else if (offers.spooler) {
    c.road = PrinterCommand::kQueueWindow;
    c.prompt = kQueuePromptText;
  } else {
    c.prompt = kNoQueueReaderText;
  }
  return c;
}

PrinterCommand PropertiesCommand(const std::string& printer, const PrinterCommandOffers& offers) {
  PrinterCommand c;
  c.printer = printer;
  if (printer.empty()) {
    c.prompt = kNoPrinterChosenText;
  } else if (!offers.cups) {
    c.prompt = kNotCupsText;
  } else if (IsProjectQueue(printer)) {
    c.road = PrinterCommand::kDriverSheets;
    c.prompt = kPropertiesPromptText;
  } else if (!offers.desktop_tool.empty()) {
    c.road = PrinterCommand::kDesktopTool;
    c.argv = {offers.desktop_tool, "--configure-printer", printer};
    c.prompt = kPropertiesPromptText;
  } else {
    c.prompt = kNoPrinterToolText;
  }
  return c;
}

std::string JobStateText(spool::JobState state) {
  switch (state) {
    case spool::JobState::kSpooling:
      return "スプール中";
    case spool::JobState::kQueued:
      return "待機中";
    case spool::JobState::kPrinting:
      return "印刷中";
    case spool::JobState::kPaused:
      return "一時停止";
    case spool::JobState::kOffline:
      return "オフライン";
    case spool::JobState::kError:
      return "エラー";
    case spool::JobState::kDeleting:
      return "削除中";
    case spool::JobState::kCompleted:
      return "印刷済み";
    case spool::JobState::kDeleted:
      return "削除済み";
  }
  return "";
}

namespace {

// Takes a UTC time as Windows gives it; gives it in local time, or empty when unset.
std::string LocalTimeText(const win::SYSTEMTIME& utc) {
  if (utc.wYear == 0) return "";
  const win::SYSTEMTIME t = spool::ToLocalTime(utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond);
  return text;
}

}  // namespace

std::vector<std::vector<std::string>> QueueRows(const std::vector<spool::JobInfo>& jobs) {
  std::vector<std::vector<std::string>> rows;
  for (const spool::JobInfo& j : jobs) {
    const std::uint64_t kb = (j.size + 1023) / 1024;
    rows.push_back({j.document, JobStateText(j.state), j.owner, j.total_pages > 0 ? std::to_string(j.total_pages) : "",
                    std::to_string(kb) + " KB", LocalTimeText(j.submitted)});
  }
  return rows;
}

std::string QueueWindowTitle(const std::string& printer) { return printer + " - 印刷キュー"; }

std::string QueueCountText(size_t jobs) { return "キューに" + std::to_string(jobs) + "個のドキュメント"; }

std::string QueueErrorText(const std::string& printer, const Status& error) {
  switch (error.code()) {
    case Status::Code::kNotFound:
      return "プリンタ「" + printer + "」が見つからないため、キューを読めません。";
    case Status::Code::kTimeout:
    case Status::Code::kBusy:
      return "プリンタ「" + printer + "」が応答しないため、キューを読めません。";
    default:
      return "プリンタ「" + printer + "」のキューを読めません。";
  }
}

}  // namespace zv::client
