// The printer's own state over SNMP for the client: the console display texts and the alert
// table of the Printer MIB (addressed by numeric identifiers), turned into the status popup's
// text. Queries run on a worker thread of the status service; results come back to the
// interface thread through a poster the caller gives, and a result for a printer that is no
// longer selected is dropped. After the first failure no further query is made.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zv::client {

// The three columns walked, in this order.
inline constexpr char kConsoleTextColumn[] = ".1.3.6.1.2.1.43.16.5.1.2";       // prtConsoleDisplayBufferText
inline constexpr char kAlertCodeColumn[] = ".1.3.6.1.2.1.43.18.1.1.7";         // prtAlertCode
inline constexpr char kAlertDescriptionColumn[] = ".1.3.6.1.2.1.43.18.1.1.8";  // prtAlertDescription
inline constexpr char kSnmpCommunity[] = "mervik";
inline constexpr int kMaxColumnValues = 50;
inline constexpr size_t kMaxValueChars = 255;
inline constexpr size_t kMaxStatusChars = 511;

inline constexpr char kSnmpSessionFailedText[] = "SNMPセッションの確立に失敗しました。";
inline constexpr char kOidFailedText[] = "OIDの変換に失敗しました。";
inline constexpr char kMibFailedText[] = "MIB情報の取得に失敗しました。";
inline constexpr char kSessionCloseFailedText[] = "セッションのクローズが失敗しました。";
inline constexpr char kOtherInfoHeading[] = "<その他情報>";
inline constexpr char kStatusMessageTitle[] = "Zelvora";

// The values of the three columns as they came back, in row order.
struct StatusColumns {
  std::vector<std::string> console, codes, descriptions;
};

// The main text and the other-information text, lines ended by CR LF except the last.
struct StatusTexts {
  std::string main, other;
};

// Takes the three columns; gives the two texts: the console lines, replaced by the
// descriptions of serious alerts (cover open, jam, paper, toner, ink or ribbon empty) at the
// first such alert; warnings (paper, toner, ink or ribbon low) under "<その他情報>" in the
// other text; other codes ignored. A piece that would take a text past 511 characters is
// dropped.
StatusTexts ComposeStatusTexts(const StatusColumns& columns);

// Takes the two texts; gives the popup's text: the main text, CR LF, the other text.
std::string StatusPopupText(const StatusTexts& texts);

struct StatusQueryOptions {
  std::string community = kSnmpCommunity;
  std::chrono::milliseconds timeout{3000};
  int retries = 1;
};

// What one query came to.
struct StatusOutcome {
  enum Kind {
    kNoAddress,    // nothing asked; the popup is hidden
    kShown,        // ran to the end: popup_text and main_text hold the state
    kFailed,       // session, identifier or request failure: popup_text holds the message
    kCloseFailed,  // closing the session failed: popup_text holds the message
  } kind = kNoAddress;
  std::string popup_text;
  std::string main_text;
  // True when the query ran to the end (QueryPrinterStatus's 1).
  bool ran() const { return kind == kShown; }
};

// Takes the agent's address ("host" or "host:port") and the options; asks the agent (on the
// calling thread, which waits up to time-out x (retries + 1) per request) and gives the
// outcome. Up to 50 values per column; a value longer than 255 characters is skipped; a
// column ends at the agent's end, at the first object of another column, or after 50 values.
StatusOutcome RunStatusQuery(const std::string& address, const StatusQueryOptions& options = {});

// Where the outcome is shown: the status popup of the main frame, or a message box.
class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  // Takes the popup's text (lines separated by CR LF); shows it below the status line, or
  // hides the popup when the text is empty.
  virtual void ShowStatus(const std::string& text) = 0;
  // Hides the popup.
  virtual void HideStatus() = 0;
  // Takes a text; shows it in a message box titled "Zelvora" with an OK button.
  virtual void StatusMessage(const std::string& text) = 0;
};

// The client's printer-status queries, one per process, used from the interface thread.
class PrinterStatusService {
 public:
  // Takes a function running a task on the interface thread (queued, never inline), the
  // display, and the query options. `available` false stands for a missing SNMP library:
  // then no query is ever made.
  using Poster = std::function<void(std::function<void()>)>;
  PrinterStatusService(Poster post, StatusDisplay* display, StatusQueryOptions options = {}, bool available = true);
  // Waits for a query under way (at most its time-out) and drops its result.
  ~PrinterStatusService();
  PrinterStatusService(const PrinterStatusService&) = delete;
  PrinterStatusService& operator=(const PrinterStatusService&) = delete;

  // Takes an agent address and the display mode (0 popup, 1 message box); starts a query of
  // that printer on the worker. Gives false, doing nothing, when SNMP is unavailable or has
  // failed; an empty address hides the popup and gives false. A query under way for the same
  // printer is not doubled; one for another printer is superseded (its result dropped).
  bool QueryPrinterStatus(const std::string& address, int mode = 0);

  // The hooks the client application calls:
  // the start-up settings load, with the address of the printer selected there (empty when
  // the list is empty or nothing is selected);
  void OnStartUp(const std::string& address);
  // a change of the selected printer: hides the popup, then queries the new one;
  void OnPrinterSelected(const std::string& address);
  // the main frame's timer 4 (every 5 s; FrameTimers' kQueryPrinter): queries the selected
  // printer again unless a print is under way.
  void OnTimer4(bool print_active);

  // True after the first failure.
  bool failed() const;
  // True while a query runs or waits on the worker.
  bool busy() const;
  // Gives the address last selected.
  const std::string& selected() const { return selected_; }

 private:
  struct Shared;
  void Deliver(uint64_t generation, int mode, const StatusOutcome& outcome);
  Poster post_;
  StatusDisplay* display_;
  std::string selected_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace zv::client
