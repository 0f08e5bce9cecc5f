#include "jobdoc/codec.h"

#include <array>
#include <bit>
#include <cstring>

namespace zv::jobdoc {
namespace {

constexpr int kLiteralInternal = 256;  // internal nodes 0..255, leaves 256..512
constexpr int kLengthInternal = 31;    // internal nodes 0..30, leaves 31..62
constexpr int kEndSymbol = 256;
constexpr int kMaxLengthPiece = 31;
constexpr int kMaxCodeBits = 256;
constexpr int kOutputFull = 2;

// The initial shape of one literal tree and of the length tree: left child of node i is
// 2i+1, right child 2i+2, parent of node i is (i-1)/2. Built once and copied per block.
struct InitialTrees {
  std::uint16_t literal_up[513];
  std::uint16_t literal_child[256][2];
  std::uint16_t length_up[64];
  std::uint16_t length_child[32][2];

  // The parent link of node i >= 1: its parent, and whether it is the right child.
  static std::uint16_t Up(int i) { return static_cast<std::uint16_t>(((i - 1) / 2) * 2 + (i % 2 == 0)); }

  InitialTrees() {
    literal_up[0] = 0;
    for (int i = 1; i <= 512; ++i) literal_up[i] = Up(i);
    for (int i = 0; i < 256; ++i) {
      literal_child[i][0] = static_cast<std::uint16_t>(2 * i + 1);
      literal_child[i][1] = static_cast<std::uint16_t>(2 * i + 2);
    }
    // The length tree's set-up also writes links for node 31 (children) and node 63
    // (parent); they are never used.
    length_up[0] = 0;
    for (int i = 1; i < 64; ++i) length_up[i] = Up(i);
    for (int i = 0; i < 32; ++i) {
      length_child[i][0] = static_cast<std::uint16_t>(2 * i + 1);
      length_child[i][1] = static_cast<std::uint16_t>(2 * i + 2);
    }
  }
};

const InitialTrees& Initial() {
  static const InitialTrees trees;
  return trees;
}

// Every block starts from fresh trees and an empty prediction table. The 128 literal trees
// are set up when a block first uses them (a block of text uses few of them).
void ResetModel(JobCodecState& s) {
  const InitialTrees& t = Initial();
  std::memset(s.literal_ready, 0, sizeof s.literal_ready);
  std::memcpy(s.length_up, t.length_up, sizeof t.length_up);
  std::memcpy(s.length_child, t.length_child, sizeof t.length_child);
  std::memset(s.prediction, 0, sizeof s.prediction);
}

inline void ReadyLiteralTree(JobCodecState& s, unsigned tree) {
  if (s.literal_ready[tree]) return;
  const InitialTrees& t = Initial();
  std::memcpy(s.literal_up[tree], t.literal_up, sizeof t.literal_up);
  std::memcpy(s.literal_child[tree], t.literal_child, sizeof t.literal_child);
  s.literal_ready[tree] = 1;
}

// The splay: leaf `a` takes its uncle's place and the uncle takes its place, then the
// same is done from the grandparent on, until the root is reached. One step, given a,
// its parent c and grandparent d and on which side of its parent each of a and c hangs.
inline void SplayStep(std::uint16_t* up, std::uint16_t (*child)[2], unsigned a, unsigned side_a, unsigned c,
                      unsigned side_c, unsigned d) {
  const unsigned uncle_side = side_c ^ 1;
  const unsigned b = child[d][uncle_side];
  child[d][uncle_side] = static_cast<std::uint16_t>(a);
  child[c][side_a] = static_cast<std::uint16_t>(b);
  up[a] = static_cast<std::uint16_t>(d * 2 + uncle_side);
  up[b] = static_cast<std::uint16_t>(c * 2 + side_a);
}

// ---- packing ----

// The packer's bit output, held in locals while a code is written and stored back into
// the state afterwards. Bits go out from the most significant down; fewer than 8 stay
// pending between codes.
struct BitWriter {
  explicit BitWriter(JobCodecState& s)
      : state(s), pending(s.bits), count(s.bit_count), stream(s.stream), end(s.stream_end) {}
  ~BitWriter() {
    state.bits = pending;
    state.bit_count = count;
    state.stream = stream;
  }
  // Writes the low `n` bits of `code` (n <= 56), highest first; gives false (output full)
  // when a completed byte has no room.
  bool Put(std::uint64_t code, unsigned n) {
    pending = (pending << n) | code;
    count += n;
    while (count >= 8) {
      if (stream == end) return false;
      count -= 8;
      *stream++ = static_cast<std::uint8_t>(pending >> count);
    }
    return true;
  }
  JobCodecState& state;
  std::uint64_t pending;
  unsigned count;
  std::uint8_t* stream;
  std::uint8_t* const end;
};

// Codes the leaf `leaf` of a tree: its path from the root, root side first; splays at it.
// The splay climbs the same path and reads each node's side on the way before it changes
// anything above, so the code is gathered while splaying.
inline int EncodeLeaf(JobCodecState& s, std::uint16_t* up, std::uint16_t (*child)[2], unsigned leaf) {
  constexpr unsigned kNear = 64;
  std::uint64_t code = 0;                        // the path's kNear bits nearest the leaf, the leaf's own lowest
  std::array<std::uint8_t, kMaxCodeBits> above;  // the bits beyond those, upwards
  unsigned n = 0;
  auto gather = [&](unsigned bit) {
    if (n < kNear) code |= std::uint64_t{bit} << n;
    else above[n - kNear] = static_cast<std::uint8_t>(bit);
    ++n;
  };
  for (unsigned a = leaf;;) {
    if (n + 2 > kMaxCodeBits) return kCodecCodeTooLong;
    const unsigned up_a = up[a];
    const unsigned c = up_a >> 1;
    gather(up_a & 1);
    if (c == 0) break;
    const unsigned up_c = up[c];
    const unsigned d = up_c >> 1;
    gather(up_c & 1);
    SplayStep(up, child, a, up_a & 1, c, up_c & 1, d);
    a = d;
    if (a == 0) break;
  }
  BitWriter out(s);
  const unsigned near = n < kNear ? n : kNear;
  for (unsigned i = n; i > near; --i) {
    if (!out.Put(above[i - kNear - 1], 1)) return kOutputFull;
  }
  if (near > 32) {
    if (!out.Put((code >> 32) & ((std::uint64_t{1} << (near - 32)) - 1), near - 32)) return kOutputFull;
    return out.Put(code & 0xFFFFFFFFu, 32) ? kCodecOk : kOutputFull;
  }
  return out.Put(code, near) ? kCodecOk : kOutputFull;
}

inline int EncodeLiteral(JobCodecState& s, unsigned tree, unsigned symbol) {
  ReadyLiteralTree(s, tree);
  return EncodeLeaf(s, s.literal_up[tree], s.literal_child[tree], kLiteralInternal + symbol);
}

inline int EncodeLength(JobCodecState& s, unsigned symbol) {
  return EncodeLeaf(s, s.length_up, s.length_child, kLengthInternal + symbol);
}

// The prediction slot of the position p: a hash of the three bytes before it.
inline unsigned Hash(const std::uint8_t* p) {
  unsigned x = p[-3], y = p[-2], z = p[-1];
  return (((((y & 0xF8u) ^ x) * 4) ^ (y & 7u)) * 8) ^ z;
}

// The outcome of looking up the current position's prediction slot.
struct Prediction {
  const std::uint8_t* source = nullptr;  // where a match is coded from; null: none
  unsigned slot = 0;
  std::uint16_t position = 0;  // the current position, relative to the block
  bool pair_differs = false;   // the two bytes before the position differ
};

// Looks up the slot of the current position. A closed slot gives nothing; an empty slot,
// or one whose position is not preceded by the same two bytes, is given the current
// position and gives nothing; otherwise gives the earlier position to match from.
inline Prediction Predict(JobCodecState& s) {
  Prediction m;
  const std::uint8_t* p = s.position;
  m.slot = Hash(p);
  const std::uint16_t e = s.prediction[m.slot];
  // Slot values 0 (empty) and 1 (closed) can never be real positions: predictions begin at the
  // third byte of a block.
  if (e == 1) return m;
  m.position = static_cast<std::uint16_t>(p - s.block_start);
  const std::uint8_t* q = s.block_start + e;
  if (e == 0 || q[-1] != p[-1] || q[-2] != p[-2]) {
    s.prediction[m.slot] = m.position;
    return m;
  }
  m.source = q;
  m.pair_differs = p[-2] != p[-1];
  return m;
}

// After a match: a first length piece of 0 after two differing bytes closes the slot for
// the rest of the block; otherwise the slot takes the position the match was coded at.
inline void CloseOrMoveSlot(JobCodecState& s, const Prediction& m, int first_piece) {
  s.prediction[m.slot] = (first_piece == 0 && m.pair_differs) ? 1 : m.position;
}

// Gives how many of the `limit` bytes from `p` equal those from the earlier `q`, comparing
// eight at a time while eight remain.
inline int MatchLength(const std::uint8_t* q, const std::uint8_t* p, int limit) {
  int n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; n + 8 <= limit; n += 8) {
      std::uint64_t a, b;
      std::memcpy(&a, q + n, 8);
      std::memcpy(&b, p + n, 8);
      if (a != b) return n + std::countr_zero(a ^ b) / 8;  // the first byte that differs
    }
  }
  while (n < limit && q[n] == p[n]) ++n;
  return n;
}

// Runs after each literal from the third on: when the slot of the current position names
// an earlier position whose two preceding bytes agree, codes how far the bytes from there
// repeat at the current position and steps over them.
inline int PackPrediction(JobCodecState& s) {
  Prediction m = Predict(s);
  if (!m.source) return kCodecOk;
  std::uint8_t* p = s.position;
  const std::uint8_t* q = m.source;
  int first = -1;
  for (;;) {
    std::ptrdiff_t remain = s.block_end - p;
    int limit = remain >= kMaxLengthPiece ? kMaxLengthPiece : static_cast<int>(remain);
    int n = MatchLength(q, p, limit);
    int rc = EncodeLength(s, static_cast<unsigned>(n));
    if (rc != kCodecOk) return rc;
    if (first < 0) first = n;
    p += n;
    q += n;
    if (n < kMaxLengthPiece) break;
  }
  CloseOrMoveSlot(s, m, first);
  s.position = p;
  return kCodecOk;
}

// Codes the whole block; gives kCodecOk, kOutputFull or kCodecCodeTooLong.
int PackBlock(JobCodecState& s) {
  const std::uint8_t* in = s.block_start;
  int rc = EncodeLiteral(s, 0, in[0]);
  if (rc != kCodecOk) return rc;
  rc = EncodeLiteral(s, in[0] & 0x7Fu, in[1]);
  if (rc != kCodecOk) return rc;
  s.position = s.block_start + 2;
  while (s.position < s.block_end) {
    rc = EncodeLiteral(s, s.position[-1] & 0x7Fu, *s.position);
    if (rc != kCodecOk) return rc;
    ++s.position;
    rc = PackPrediction(s);
    if (rc != kCodecOk) return rc;
  }
  rc = EncodeLiteral(s, s.block_end[-1] & 0x7Fu, kEndSymbol);
  if (rc != kCodecOk) return rc;
  if (s.bit_count != 0) {  // the last bits, filled up with zeros
    if (s.stream == s.stream_end) return kOutputFull;
    *s.stream++ = static_cast<std::uint8_t>(s.bits << (8 - s.bit_count));
    s.bit_count = 0;
  }
  return kCodecOk;
}

// ---- expanding ----

// The expander's bit input, held in locals while a code is read and stored back into the
// state afterwards. Up to 8 input bytes are loaded at a time; bits are read from the most
// significant down.
struct BitReader {
  explicit BitReader(JobCodecState& s)
      : state(s), bits(s.bits), count(s.bit_count), stream(s.stream), end(s.stream_end) {}
  ~BitReader() {
    state.bits = bits;
    state.bit_count = count;
    state.stream = stream;
  }
  // Gives the next bit, or -1 when the input is exhausted.
  int Get() {
    if (count == 0) {
      const std::size_t left = static_cast<std::size_t>(end - stream);
      if (left == 0) return -1;
      const std::size_t n = left < 8 ? left : 8;
      bits = 0;
      for (std::size_t i = 0; i < n; ++i) bits = (bits << 8) | stream[i];
      stream += n;
      count = static_cast<unsigned>(8 * n);
    }
    --count;
    return static_cast<int>((bits >> count) & 1);
  }
  JobCodecState& state;
  std::uint64_t bits;
  unsigned count;
  std::uint8_t* stream;
  std::uint8_t* const end;
};

// Walks a tree from the root by the input bits to a leaf (a node number of at least
// `internal`); splays at it. Gives the leaf, or -1 when the input ends inside the code.
inline int DecodeLeaf(JobCodecState& s, std::uint16_t* up, std::uint16_t (*child)[2], unsigned internal) {
  unsigned node = 0;
  {
    BitReader in(s);
    while (node < internal) {
      int bit = in.Get();
      if (bit < 0) return -1;
      node = child[node][bit];
    }
  }
  for (unsigned a = node;;) {
    const unsigned up_a = up[a];
    const unsigned c = up_a >> 1;
    if (c == 0) break;
    const unsigned up_c = up[c];
    const unsigned d = up_c >> 1;
    SplayStep(up, child, a, up_a & 1, c, up_c & 1, d);
    a = d;
    if (a == 0) break;
  }
  return static_cast<int>(node);
}

inline int DecodeLiteral(JobCodecState& s, unsigned tree) {
  ReadyLiteralTree(s, tree);
  int leaf = DecodeLeaf(s, s.literal_up[tree], s.literal_child[tree], kLiteralInternal);
  return leaf < 0 ? -1 : leaf - kLiteralInternal;
}

inline int DecodeLength(JobCodecState& s) {
  int leaf = DecodeLeaf(s, s.length_up, s.length_child, kLengthInternal);
  return leaf < 0 ? -1 : leaf - kLengthInternal;
}

// Copies `n` bytes from the earlier `q` to `p` as a byte-by-byte copy would: a source
// that overlaps the copy repeats. Eight at a time when the source lies at least eight back.
inline void CopyMatch(std::uint8_t* p, const std::uint8_t* q, int n) {
  int i = 0;
  if (p - q >= 8) {
    for (; i + 8 <= n; i += 8) std::memcpy(p + i, q + i, 8);
  }
  for (; i < n; ++i) p[i] = q[i];
}

// The expander's side of PackPrediction: reads the match lengths and copies the bytes
// one at a time, so that a match overlapping its source repeats it.
inline bool ExpandPrediction(JobCodecState& s) {
  Prediction m = Predict(s);
  if (!m.source) return true;
  std::uint8_t* p = s.position;
  const std::uint8_t* q = m.source;
  int first = -1;
  for (;;) {
    int n = DecodeLength(s);
    if (n < 0) return false;
    if (first < 0) first = n;
    if (s.block_end - p < n) return false;
    CopyMatch(p, q, n);
    p += n;
    q += n;
    if (n < kMaxLengthPiece) break;
  }
  CloseOrMoveSlot(s, m, first);
  s.position = p;
  return true;
}

}  // namespace

// Stored blocks are not plain copies: byte i (1..255) is written as 2^i in GF(2^8) modulo
// 0x12D and 0 as itself. Existing job files depend on it, so the table is part of the format.
void InitCodecTables(JobCodecState& state) {
  unsigned v = 1;
  state.substitution[0] = 0;
  state.inverse_substitution[0] = 0;
  for (unsigned i = 1; i <= 255; ++i) {
    v *= 2;
    if (v >= 256) v ^= 0x12D;
    state.substitution[i] = static_cast<std::uint8_t>(v);
    state.inverse_substitution[v] = static_cast<std::uint8_t>(i);
  }
}

int CompressJobData(const std::uint8_t* input, std::uint8_t* output, std::uint16_t length, std::uint16_t& output_length,
                    JobCodecState& state) {
  if (length > kCodecBlockSize) return kCodecMalformed;
  if (length > 2) {
    ResetModel(state);
    state.bits = 0;
    state.bit_count = 0;
    // The packer only reads through these pointers.
    state.block_start = const_cast<std::uint8_t*>(input);
    state.position = state.block_start;
    state.block_end = state.block_start + length;
    state.stream = output + kCodecHeaderSize;
    // A payload of `length` bytes or more ends up stored, so coding may stop as soon as
    // one more byte would reach that; the bytes written are the same up to that point.
    state.stream_end = output + kCodecHeaderSize + (length - 1);
    int rc = PackBlock(state);
    if (rc == kCodecCodeTooLong) return rc;
    std::size_t payload =
        rc == kOutputFull ? kCodecBlockSize : static_cast<std::size_t>(state.stream - output) - kCodecHeaderSize;
    if (payload < length) {
      output[0] = static_cast<std::uint8_t>(payload >> 8);
      output[1] = static_cast<std::uint8_t>(payload & 0xFF);
      output_length = static_cast<std::uint16_t>(payload + kCodecHeaderSize);
      return kCodecOk;
    }
  }
  // Stored: the header carries bit 15 and the length (0 standing for 32,768).
  unsigned header = (length | kStoredBlockFlag) & 0xFFFFu;
  output[0] = static_cast<std::uint8_t>(header >> 8);
  output[1] = static_cast<std::uint8_t>(header & 0xFF);
  const std::uint8_t* sub = state.substitution;
  for (std::size_t i = 0; i < length; ++i) output[kCodecHeaderSize + i] = sub[input[i]];
  output_length = static_cast<std::uint16_t>(length + kCodecHeaderSize);
  return kCodecOk;
}

int ExpandJobData(const std::uint8_t* input, std::uint8_t* output, std::uint16_t input_length,
                  std::uint16_t& output_length, bool stored, JobCodecState& state) {
  if (stored) {
    if (input_length > kCodecBlockSize) return kCodecMalformed;
    const std::uint8_t* inv = state.inverse_substitution;
    for (std::size_t i = 0; i < input_length; ++i) output[i] = inv[input[i]];
    output_length = input_length;
    return kCodecOk;
  }
  ResetModel(state);
  state.bits = 0;
  state.bit_count = 0;
  // The expander only reads through these pointers.
  state.stream = const_cast<std::uint8_t*>(input);
  state.stream_end = state.stream + input_length;
  state.block_start = output;
  state.position = output;
  state.block_end = output + kCodecBlockSize;

  int sym = DecodeLiteral(state, 0);
  if (sym < 0 || sym == kEndSymbol) return kCodecMalformed;
  *state.position++ = static_cast<std::uint8_t>(sym);
  sym = DecodeLiteral(state, output[0] & 0x7Fu);
  if (sym < 0 || sym == kEndSymbol) return kCodecMalformed;
  *state.position++ = static_cast<std::uint8_t>(sym);
  for (;;) {
    sym = DecodeLiteral(state, state.position[-1] & 0x7Fu);
    if (sym < 0) return kCodecMalformed;
    if (sym == kEndSymbol) break;
    if (state.position == state.block_end) return kCodecMalformed;
    *state.position++ = static_cast<std::uint8_t>(sym);
    if (!ExpandPrediction(state)) return kCodecMalformed;
  }
  // Bytes loaded but not begun count as left over, as do bytes not loaded.
  if (state.stream - state.bit_count / 8 != state.stream_end) return kCodecMalformed;
  output_length = static_cast<std::uint16_t>(state.position - state.block_start);
  return kCodecOk;
}

}  // namespace zv::jobdoc
