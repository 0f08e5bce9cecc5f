// The request folder's slots, shared by the engine and the client: the 100 request files
// "order00.lst" to "order99.lst", taken in ring order from the number in "Sequence.seq".
//
// "Sequence.seq" is also the lock between the two sides: whoever picks a slot (the engine
// to take a request, the client to place one) holds an exclusive advisory lock (flock) on
// that file itself while it reads the number, looks at the slots and writes the number back
// in place (never by replacing the file, which would give the other side a different lock).
// The client copies its request into the slot while it holds the lock, so the engine never
// takes a half-written request.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"
#include "platform/sync/event.h"

namespace zv::engine {

inline constexpr int kSlotCount = 100;
inline constexpr char kSequenceFileName[] = "Sequence.seq";

// Gives "order%02d.lst" of a slot 0..99.
std::string SlotFileName(int slot);
// Gives "order%02d" of a slot 0..99 (the slot's base name in answer names).
std::string SlotBaseName(int slot);
// Gives the slot of a name "orderNN.lst" (two digits, any letter case of the rest), or -1
// for any other name.
int ParseSlotFileName(std::string_view name);
// Gives whether a name matches "order*.lst" (letter case ignored), as the request search does.
bool MatchesRequestPattern(std::string_view name);
// Gives the start slot a "Sequence.seq" text names: its leading decimal number, 0 when it
// has none or the number is outside 0..99.
int ParseSequence(std::string_view text);
// Takes which slots hold a file and the start slot; gives the first slot from the start on,
// in ring order, that holds one, or -1.
int PickSlot(const std::array<bool, kSlotCount>& present, int start);

// What the request folder holds that matches "order*.lst".
struct RequestFolderScan {
  std::array<bool, kSlotCount> present{};  // numbered slots with a file
  std::vector<std::string> strays;         // other names matching "order*.lst", and slot
                                           // names that are no regular file
  std::array<bool, kSlotCount> marked{};   // slots with an "orderNN.taken" or ".answered" mark
  bool any() const;
};
// Lists the request folder. IOError when it cannot be read.
Result<RequestFolderScan> ScanRequestFolder(const std::string& folder);

// "Sequence.seq" held under its lock.
class SequenceFile {
 public:
  SequenceFile() = default;
  ~SequenceFile();
  SequenceFile(SequenceFile&& o) noexcept;
  SequenceFile& operator=(SequenceFile&& o) noexcept;
  SequenceFile(const SequenceFile&) = delete;
  SequenceFile& operator=(const SequenceFile&) = delete;

  // Takes the request folder, a stop event (may be null) and a time limit (below 0: none);
  // opens "Sequence.seq" (created holding "00" when missing; never through a link) and
  // takes its lock, trying again after 1 ms, doubling to 20 ms. Busy when the stop event is
  // set first, Timeout when the limit passes first, IOError when the file cannot be opened
  // or is no regular file.
  static Result<SequenceFile> Lock(const std::string& folder, const sync::Event* stop, int timeout_ms);

  // Gives the start slot the file names (ParseSequence of its first line).
  Result<int> ReadStart();
  // Writes the next slot after `taken` ("%02d", 99 followed by 00) over the file's start.
  Status WriteNext(int taken);
  // Drops the lock and closes the file.
  void Close();

 private:
  explicit SequenceFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace zv::engine
