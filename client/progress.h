// The progress window's model: its title, message, the printer-count label, the counter
// and the bar position (0..100), for gathering printer information and for printing. A
// window that follows work on another thread overrides Open, Step and Close to pass each
// state on.
#pragma once

#include <string>

namespace zv::client {

inline constexpr char kProgressTitle[] = "Zelvora起動準備中...";

class ProgressModel {
 public:
  enum Mode { kFirstBuild = 1, kConfigChanged = 2, kPrinting = 3 };

  virtual ~ProgressModel() = default;

  // Takes the mode and the total (the number of printers that will be collected); sets the
  // texts as the window shows them when it opens: the counter " 1/%2d" with the total.
  virtual void Open(int mode, int total);
  // Takes the number of printers done (from 1); sets the counter "%2d/%2d" and the bar to
  // (100 / total) x done. A total of 0 moves nothing (never a division by zero).
  virtual void Step(int done);
  // Takes a printed side's page label ("%3d/%3d ページ", empty before the first side) and
  // bar position; the counter shows the last label while printing.
  virtual void PrintSide(const std::string& label, int position);
  // The window went away.
  virtual void Close() { open_ = false; }

  bool open() const { return open_; }
  int mode() const { return mode_; }
  int total() const { return total_; }
  const std::string& title() const { return title_; }
  const std::string& message() const { return message_; }
  bool count_label_visible() const { return count_label_; }
  const std::string& counter() const { return counter_; }
  int position() const { return position_; }

 private:
  bool open_ = false;
  int mode_ = kFirstBuild;
  int total_ = 0;
  std::string title_ = kProgressTitle;
  std::string message_;
  bool count_label_ = true;
  std::string counter_;
  int position_ = 0;
};

}  // namespace zv::client
