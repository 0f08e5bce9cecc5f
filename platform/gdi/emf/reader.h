// Checked reading of enhanced metafiles: the header, then the records one by one.
//
// Every record handed out has passed the envelope checks: nSize at least 8, a multiple of 4
// and inside the metafile (nBytes, itself inside the given bytes). The content of a record
// (handle indices, point counts, bitmap and text offsets) is checked by the typed views of
// records.h; Validate() there runs those checks for any record. Nothing here reads a byte
// that was not checked first, and nothing assumes the bytes are aligned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/base/status.h"
#include "platform/wintypes/emf.h"

namespace zv::emf {

// What the header record says, copied out of it.
struct Header {
  win::RECTL bounds{};       // device units, inclusive
  win::RECTL frame{};        // 0.01 mm, inclusive
  win::SIZEL device{};       // reference device, pixels (both positive)
  win::SIZEL millimeters{};  // reference device, millimetres (both positive)
  bool has_micrometers = false;
  win::SIZEL micrometers{};  // reference device, micrometres, when the header carries it
  std::uint32_t version = 0;
  std::uint32_t bytes = 0;    // nBytes: the length of the whole metafile
  std::uint32_t records = 0;  // nRecords as written (not checked against the records)
  std::uint16_t handles = 0;  // nHandles: handle indices stay below it; index 0 is reserved
  std::uint32_t pal_entries = 0;
  std::uint32_t header_size = 0;  // nSize of the header record
  std::u16string description;
};

// One record: its type, its nSize bytes, where it starts in the metafile, and the size of the
// handle table its handle indices must stay below.
struct Record {
  std::uint32_t type = 0;
  std::span<const std::uint8_t> bytes;
  std::size_t offset = 0;
  std::uint16_t handles = 0;

  std::size_t size() const { return bytes.size(); }
};

// Takes the bytes of one record (a caller's own or changed copy) and the handle-table size;
// gives the record after the envelope checks (the record is the first nSize bytes).
Result<Record> MakeRecord(std::span<const std::uint8_t> bytes, std::uint16_t handles);

// Steps through the records of a parsed metafile.
class RecordReader {
 public:
  RecordReader() = default;

  // Gives the next record in *out (the header record first) and true; false at the end of
  // the metafile (after EMR_EOF, or at nBytes when there is no EMR_EOF) or at a bad record,
  // after which status() holds the error and every further call gives false.
  bool Next(Record* out);
  // OK unless a bad record was met.
  const Status& status() const { return status_; }
  // The number of records given so far.
  std::size_t count() const { return count_; }

 private:
  friend class Metafile;
  RecordReader(std::span<const std::uint8_t> bytes, std::uint16_t handles) : bytes_(bytes), handles_(handles) {}

  std::span<const std::uint8_t> bytes_;
  std::uint16_t handles_ = 0;
  std::size_t offset_ = 0;
  std::size_t count_ = 0;
  bool done_ = false;
  Status status_;
};

// A metafile over bytes the caller keeps alive.
class Metafile {
 public:
  // Takes bytes that begin with an enhanced metafile (more may follow it: the pages of a
  // document image lie one after another); gives the metafile after checking its header:
  // type EMR_HEADER, signature, nSize and nBytes multiples of 4 with the header inside nBytes
  // and nBytes inside `bytes`, the description inside the header, a positive reference device.
  // Errors are Corruption with a message naming the fault.
  static Result<Metafile> Parse(std::span<const std::uint8_t> bytes);

  // The header's facts.
  const Header& header() const { return header_; }
  // Exactly the metafile's nBytes bytes.
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  // A reader positioned before the header record.
  RecordReader records() const { return RecordReader(bytes_, header_.handles); }

 private:
  Metafile() = default;
  Header header_;
  std::span<const std::uint8_t> bytes_;
};

// Reads the length (nBytes) of the metafile at the front of `bytes` after the same header
// checks as Parse; used to step over pages laid one after another.
Result<std::uint32_t> MetafileLength(std::span<const std::uint8_t> bytes);

// Calls `hook` for each record in order (header first) until the end; stops at the first
// error of the reader or the first non-OK status the hook gives, and gives that status.
Status ForEachRecord(const Metafile& mf, const std::function<Status(const Record&)>& hook);

}  // namespace zv::emf
