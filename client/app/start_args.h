// The client program's inputs without windows: its command line, the text of a job that
// arrives by WM_COPYDATA, whether a capture file named there may be deleted, the job list's
// rows with their page counts, and file names made from job titles.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jobdoc/trace.h"

namespace zv::client::app {

// The product key that also may hold "LogOutput".
inline constexpr char kProductKey[] = "SOFTWARE\\Orbelin\\Zelvora";

// Takes the machine settings; gives the trace switch: "LogOutput" of the key the trace log
// itself reads ("...\1.0"), else of the product key; only the exact text "ON" is on.
bool ReadLogOutput(const jobdoc::MachineSettings& settings);

// The title a job without a name gets (with its double quotes).
inline constexpr char kNoJobNameText[] = "\"ジョブ名がありません\"";

// What the command line asks for.
struct StartArgs {
  std::string doc_path;  // the document to open ("" for none)
  std::string job_name;  // its title ("" when none was given)
  std::string option;    // the first option ("--help" or one the program refuses), or ""
};

// Takes the arguments after the program name. "-D"/"/D" (either case) selects document-path
// mode (the default), "-N"/"/N" job-name mode for every following argument (switches are no
// longer recognised), "-P"/"/P" document-path mode again. Only an argument of exactly two
// characters beginning with "-" or "/" is a switch, so absolute paths are paths; other
// switches are ignored. Before job-name mode an argument of more than two characters
// beginning with "--" is an option ("--help"; the first one is kept), never a path. A job
// name is trimmed of blanks; an empty one becomes kNoJobNameText. Gives the path, the name
// (the last of each wins) and the option.
StartArgs ParseStartArguments(const std::vector<std::string>& args);

// A job handed over by copy-data: '<path> /n "<title>" '.
struct CopyDataJob {
  std::string path;
  std::string title;
};

// Takes the copy-data text (a trailing NUL is dropped). The path is the text before the
// last ' /n "' (so paths with blanks survive), the title what lies between that quote and
// the last '"'. Without the marker the whole text, trimmed, is the path. An empty title
// becomes kNoJobNameText.
CopyDataJob ParseCopyData(std::string_view text);

// Takes a job path and a title; gives the copy-data text ParseCopyData reads back.
std::string FormatCopyData(const std::string& path, const std::string& title);

// Takes a document title; gives a base name for files written from it: "/" and "\" become
// their full-width forms, control characters are dropped, and an empty or dot-only title
// becomes "Tarvessa". The result never names another folder.
std::string SafeOutputBaseName(std::string_view title);

// The jobs of the document in document order, each with its page count.
class JobList {
 public:
  struct Row {
    std::string name;
    int pages = 0;
  };
  // Takes a name and a page count; appends a row. Gives its index.
  int Add(std::string name, int pages);
  int size() const { return static_cast<int>(rows_.size()); }
  const Row& row(int r) const { return rows_[r]; }
  const std::vector<Row>& rows() const { return rows_; }
  // Gives the first page (from 0) of row r: the sum of the counts before it.
  int FirstPage(int r) const;
  // Gives the row that holds page `page`, or -1.
  int RowOfPage(int page) const;
  int TotalPages() const;
  // Swaps row r with the row above (up) or below; false when there is none.
  bool Move(int r, bool up);
  // Removes row r; false for no such row.
  bool Remove(int r);
  // Page edits: `count` pages inserted within row r's pages (a paste or a blank page beside
  // one of its pages; nothing for no such row), or removed from page index `at` on (rows
  // left with no pages are removed).
  void PagesInsertedInRow(int r, int count);
  void PagesRemoved(int at, int count);
  void Clear() { rows_.clear(); }

 private:
  std::vector<Row> rows_;
};

}  // namespace zv::client::app
