// The job data codec: a lossless block coder for job documents. Each block of at most
// 32,768 bytes is coded on its own: a hash of the three preceding bytes names an earlier
// position whose continuation may be copied (a match whose length is coded), and every
// other byte is coded in one of 128 adaptive prefix-code trees (splay trees) chosen by the
// preceding byte. A block that does not shrink is stored instead, each byte passed through
// a fixed byte substitution. Every rule in codec.cc that decides a bit of the output is
// part of the stored format; how the coder keeps its trees is not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv::jobdoc {

constexpr std::size_t kCodecBlockSize = 32768;  // largest block
constexpr std::size_t kCodecHeaderSize = 2;     // big-endian block header
constexpr std::size_t kCodecOutputSize = kCodecBlockSize + kCodecHeaderSize;
constexpr std::uint16_t kStoredBlockFlag = 0x8000;  // header bit 15

// Result codes of CompressJobData and ExpandJobData.
constexpr int kCodecOk = 1;
constexpr int kCodecMalformed = 0;    // a payload that is not a valid block, or a bad length
constexpr int kCodecCodeTooLong = 5;  // CompressJobData: a code path over 256 bits

// The whole model of the coder in one caller-owned record (about 280 KB). The caller keeps
// one per packing or unpacking run (one per thread) and reuses it for every block; nothing
// is allocated per block. The record is the coder's private working memory: its layout is
// ours to choose, and only the packed bytes are part of the stored format.
struct JobCodecState {
  // Tree links. Nodes 0 .. internal-1 are internal (0 the root), the rest are leaves. `up`
  // holds a node's parent times two, plus one when the node is its parent's right child;
  // `child` the left and right child of an internal node.
  std::uint16_t literal_up[128][513];  // per literal tree: 256 internal nodes, 257 leaves
  std::uint16_t literal_child[128][256][2];
  std::uint16_t length_up[64];  // the length tree: 31 internal nodes, 32 leaves
  std::uint16_t length_child[32][2];
  std::uint8_t literal_ready[128];         // the literal tree is set up for this block
  std::uint16_t prediction[8192];          // 0 empty, 1 closed, else a block position
  std::uint8_t substitution[256];          // byte substitution for stored blocks
  std::uint8_t inverse_substitution[256];  // its inverse
  std::uint64_t bits;                      // packer: pending bits (the low `bit_count`);
                                           // expander: unread bits (the low `bit_count`)
  unsigned bit_count;
  std::uint8_t* position;     // packer: next input byte; expander: next output byte
  std::uint8_t* block_start;  // start of the uncompressed block
  std::uint8_t* block_end;    // packer: input end; expander: block start + 32,768
  std::uint8_t* stream;       // packer: next output byte; expander: next input byte
  std::uint8_t* stream_end;   // packer: output limit; expander: input end
};

// Takes a state record; fills its substitution tables (the powers of 2 in GF(2^8) reduced
// by x^8+x^5+x^3+x^2+1). Call once before the first block of a run; the other fields are
// re-initialised by every block.
void InitCodecTables(JobCodecState& state);

// Takes `length` bytes (0 to 32,768) at `input` and an `output` area of 32,770 bytes; writes
// the 2-byte big-endian block header and the payload there and sets `output_length` to
// their total. A block that would not shrink is written stored (header bit 15 set).
// Gives kCodecOk, kCodecMalformed for a length above 32,768 (nothing written), or
// kCodecCodeTooLong (cannot happen with these tree sizes).
int CompressJobData(const std::uint8_t* input, std::uint8_t* output, std::uint16_t length, std::uint16_t& output_length,
                    JobCodecState& state);

// Takes one payload of `input_length` bytes (its header already removed), whether the
// header marked it stored, and an `output` area of 32,768 bytes; expands the block there and
// sets `output_length` to the bytes produced. Gives kCodecOk, or kCodecMalformed when the
// payload ends inside a code, would produce more than 32,768 bytes, has bytes left after
// its end symbol or starts with an end symbol; then `output_length` is left alone.
int ExpandJobData(const std::uint8_t* input, std::uint8_t* output, std::uint16_t input_length,
                  std::uint16_t& output_length, bool stored, JobCodecState& state);

}  // namespace zv::jobdoc
