// The job data coder as it was before it was tuned and before documents were packed by
// several workers, under its own names: tests check the tuned coder against it and
// bench/jobdoc measures against it. Not for use outside tests and benchmarks.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jobdoc/codec.h"

namespace zv::jobdoc::reference {

// The coder's whole model, in the field order it had.
struct State {
  std::uint8_t literal_up[128][513];       // parent of node 1..512, per literal tree
  std::uint16_t literal_left[128][256];    // left child of internal node 0..255
  std::uint16_t literal_right[128][256];   // right child of internal node 0..255
  std::uint8_t length_up[64];              // parent of node 1..63 of the length tree
  std::uint8_t length_left[32];            // left child of internal node 0..31
  std::uint8_t length_right[32];           // right child of internal node 0..31
  std::uint16_t prediction[8192];          // 0 empty, 1 closed, else a block position
  std::uint8_t substitution[256];          // byte substitution for stored blocks
  std::uint8_t inverse_substitution[256];  // its inverse
  std::uint16_t bits_left;                 // expander: unread bits of the current byte
  std::uint16_t bit_accumulator;           // packer: gathered bits with a marker bit
  std::uint8_t current_byte;               // expander: the byte being read
  std::uint8_t* position;                  // packer: next input byte; expander: next output byte
  std::uint8_t* block_start;               // start of the uncompressed block
  std::uint8_t* block_end;                 // packer: input end; expander: block start + 32,768
  std::uint8_t* stream;                    // packer: next output byte; expander: next input byte
  std::uint8_t* stream_end;                // packer: output limit; expander: input end
};

// Takes a state; fills its substitution tables (as InitCodecTables).
void InitTables(State& state);
// Packs one block as CompressJobData does.
int Compress(const std::uint8_t* input, std::uint8_t* output, std::uint16_t length, std::uint16_t& output_length,
             State& state);
// Expands one payload as ExpandJobData does.
int Expand(const std::uint8_t* input, std::uint8_t* output, std::uint16_t input_length, std::uint16_t& output_length,
           bool stored, State& state);

// Takes an image and a state (tables initialised); gives the document file one thread
// made block after block (empty when a block is refused).
std::vector<std::uint8_t> PackImage(std::span<const std::uint8_t> image, State& state);
// Takes a document file and a state (tables initialised); sets `image` to the unpacked
// image and gives true, or false for a file that does not unpack.
bool UnpackImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& image, State& state);

}  // namespace zv::jobdoc::reference
