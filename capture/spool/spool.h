// The virtual printer's spool: where the CUPS backend leaves a user's print jobs and the
// resident program picks them up. Each job is "<id>.pdf" (the document as printed) and
// "<id>.job" (title, copies, paper, orientation, resolution and the raw options, UTF-8
// key=value lines), the job file written last; both in "<root>/spool/" (mode 0700), where
// <root> is the user's home + "/.local/state/zelvora", or $ZELVORA_CAPTURE_ROOT with "%h"
// standing for the home. Pure logic apart from the folder helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/status.h"

namespace zv::capture {

// A paper of the virtual printer: its PPD name, paper code and size in 0.1 mm (portrait).
struct VirtualPaper {
  const char* name;
  std::uint16_t code;
  std::uint16_t width;
  std::uint16_t length;
};

// Gives the papers the virtual printer offers (A4 first: the default).
std::span<const VirtualPaper> VirtualPapers();
// Takes a PPD page size or media name (case-insensitive, e.g. "A4", "iso_a4_210x297mm");
// gives the paper, or none.
std::optional<VirtualPaper> FindPaper(std::string_view name);
// Takes a paper code; gives the paper, or none.
std::optional<VirtualPaper> FindPaperByCode(std::uint16_t code);

inline constexpr int kDefaultResolution = 200;

struct SpoolJob {
  std::string id;  // digits only
  std::string title;
  int copies = 1;
  std::string paper = "A4";
  int orientation = 1;  // 2 = landscape
  int resolution = kDefaultResolution;
  std::string options;  // as CUPS passed them
};

// Takes the job id, title, copies and option text of a CUPS job; gives the job with paper,
// orientation and resolution taken from the options (PageSize or media, orientation-requested
// or landscape, Resolution); unknown values keep the defaults.
SpoolJob JobFromOptions(std::string_view id, std::string_view title, int copies, std::string_view options);

// Takes CUPS option text; gives its name=value pairs in order (values may be quoted; a bare
// name has an empty value).
std::vector<std::pair<std::string, std::string>> SplitOptions(std::string_view text);

// Takes a job; gives the text of its job file.
std::string FormatJobFile(const SpoolJob& job);
// Takes the text of a job file and the id it was found under; gives the job. InvalidArgument
// for a damaged file. Values are checked: resolution 75 to 1200, copies 1 to 9999, a known
// paper, orientation 1 or 2.
Result<SpoolJob> ParseJobFile(std::string_view text, std::string_view id);

// True for a job id: 1 to 18 decimal digits.
bool IsJobId(std::string_view id);

// Takes the user's home folder and the template from $ZELVORA_CAPTURE_ROOT (null or empty:
// none); gives the capture root (template with every "%h" replaced by the home, or
// home + "/.local/state/zelvora").
std::string CaptureRootFor(std::string_view home, const char* root_template);

// Takes the home folder and the template of the calling process's own user; gives that
// user's capture root: CaptureRootFor, except that root's without a template is root's
// runtime root (RuntimeRoot(): $ZELVORA_ROOT or /var/lib/zelvora), so that root's jobs
// never make folders in root's home. The resident program and the backend (after it has
// become the job's user) both take the spool folder from here.
std::string OwnCaptureRoot(std::string_view home, const char* root_template);

// Gives the spool folder of the capture root.
inline std::string SpoolFolder(std::string_view capture_root) { return std::string(capture_root) + "/spool"; }

// Takes a spool folder; makes it (and its missing parents) when missing and gives Ok when it
// is a real folder (not a link) owned by the calling user, which it then sets to mode 0700.
// Otherwise IOError (a link or another's folder could hand a job to another user)
// or the failure that kept it from being made. The backend and the resident program both
// check their folder through this.
Status PrepareSpoolFolder(const std::string& folder);

// Takes the spool folder; gives the ids of the jobs whose job file is there, sorted.
std::vector<std::string> ListSpoolJobs(const std::string& folder);

}  // namespace zv::capture
