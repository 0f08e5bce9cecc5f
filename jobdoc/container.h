// The job document file (".prc"): a version byte, the unpacked size (signed 32-bit,
// little-endian) and the document image cut into blocks of 32,768 bytes (the last one
// shorter), each packed by the job data codec behind its 2-byte block header.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jobdoc/codec.h"
#include "platform/base/status.h"

namespace zv::jobdoc {

constexpr std::uint8_t kDocumentVersion = 2;       // the version this system writes
constexpr std::size_t kDocumentHeadSize = 5;       // version byte + unpacked size
constexpr std::size_t kMinDocumentBuffer = 65536;  // an unpacked buffer is never smaller

// True for the version bytes a reader accepts: 0, 1, 2, 3 and 0x4D ('M'). Versions 3 and
// 0x4D are read like 2; 0 carries page trailers in its image; 1 has pages of an older form.
bool IsSupportedDocumentVersion(std::uint8_t version);

// Why UnpackDocumentFile gave no document.
enum class UnpackError {
  kNone = 0,
  kWrongExtension,      // the path does not end in ".prc" (any case)
  kNotFound,            // no such file
  kUnreadable,          // the file exists but cannot be read
  kEmpty,               // the file holds no version byte
  kUnsupportedVersion,  // a version byte other than 0, 1, 2, 3, 0x4D
  kBadSize,             // the size field is missing, negative or beyond what the blocks hold
  kTruncated,           // a block header or payload runs past the end of the file
  kBadBlock,            // a block does not expand, or expands past the stated size
};

// Gives a short English name of the error, e.g. "unsupported version".
const char* UnpackErrorName(UnpackError error);

// A document image unpacked from a file.
struct UnpackedDocument {
  // max(size, 65,536) bytes; the image fills the first `size` bytes, the rest is zero.
  std::vector<std::uint8_t> buffer;
  std::uint32_t size = 0;    // the unpacked size: the image's length
  std::uint8_t version = 0;  // the file's version byte
  std::string job_name;      // the file's base name without folder and extension

  // Gives the image: the first `size` bytes of the buffer.
  std::span<const std::uint8_t> image() const { return {buffer.data(), size}; }
  // True when the image's pages carry 36-byte trailers (version 0).
  bool has_page_trailers() const { return version == 0; }
};

// The outcome of unpacking: a document, or the reason there is none.
struct UnpackResult {
  std::optional<UnpackedDocument> document;  // set on success only
  UnpackError error = UnpackError::kNone;
  std::optional<std::uint8_t> version;  // set once the version byte was read, even when refused
  std::string message;                  // what went wrong, for logs and the user

  bool ok() const { return document.has_value(); }
  // Gives Ok, or the error as a Status (NotFound, IOError, InvalidArgument, NotSupported, Corruption).
  Status status() const;
};

// Takes the number of blocks of a document and the thread count a caller asked for (0:
// let the codec choose); gives the number of threads that pack or unpack it: never more
// than the cores the process may run on nor the blocks, and one for a document of a few
// blocks unless asked.
unsigned CodecThreadCount(std::size_t blocks, unsigned requested);

// Takes a path (a UTF-8 file name ending in ".prc", in any case) and a thread count (0:
// chosen by CodecThreadCount); reads the whole file into memory and unpacks it. Gives the
// unpacked document, or the error with the version byte when it was read. Never maps the
// file: a file on a share that shrinks stays harmless.
UnpackResult UnpackDocumentFile(const std::string& path, unsigned threads = 0);

// Takes the bytes of a document file and a codec state (tables initialised with
// InitCodecTables; reused across calls); unpacks them as UnpackDocumentFile does, without
// the extension test. Every length and offset is checked: the stated size must be
// non-negative and within what the file's blocks can produce before anything is allocated,
// and each block is expanded into a scratch block and taken only when it fits.
// With more than one thread (`threads`, 0: chosen by CodecThreadCount) the blocks are
// expanded by a pool of workers, the calling thread with `state` among them and each other
// worker with a state of its own, into a few scratch blocks per worker; the blocks are
// taken in file order, so the result, and the error and its text for the first bad block,
// are those of one thread.
UnpackResult UnpackDocumentBytes(std::span<const std::uint8_t> file, JobCodecState& state, unsigned threads = 0);

// Takes a document image, a codec state (tables initialised) and an output vector; replaces
// the vector's content with the document file: the version byte 2, the image length and the
// packed blocks. InvalidArgument when the image is longer than 2^31-1 bytes. The vector's
// capacity is reused; packing itself allocates nothing per block. With more than one
// thread (`threads`, 0: chosen by CodecThreadCount) the blocks are packed by a pool of
// workers, the calling thread with `state` among them and each other worker with a state
// of its own, into a few scratch blocks per worker, and appended in file order: the bytes
// are those of one thread.
Status PackDocumentImage(std::span<const std::uint8_t> image, std::vector<std::uint8_t>& out, JobCodecState& state,
                         unsigned threads = 0);

// Gives a new codec state on the heap with its tables initialised.
std::unique_ptr<JobCodecState> NewCodecState();

}  // namespace zv::jobdoc
