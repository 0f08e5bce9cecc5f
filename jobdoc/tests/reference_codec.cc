// The job data coder exactly as it was before it was tuned and before documents were
// packed by several workers: kept to check that the tuned coder gives the same bytes and to
// measure it against in bench/jobdoc. Not for use outside tests and benchmarks.
#include "jobdoc/tests/reference_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zv::jobdoc::reference {
namespace {

constexpr int kLiteralInternal = 256;  // internal nodes 0..255, leaves 256..512
constexpr int kLengthInternal = 31;    // internal nodes 0..30, leaves 31..62
constexpr int kEndSymbol = 256;
constexpr int kMaxLengthRun = 31;
constexpr int kMaxCodeBits = 256;
constexpr int kOutputFull = 2;

// The initial shape of one literal tree and of the length tree: left child of node i is
// 2i+1, right child 2i+2, parent of node i is (i-1)/2. Built once and copied per block.
struct InitialTrees {
  std::uint8_t literal_up[513];
  std::uint16_t literal_left[256];
  std::uint16_t literal_right[256];
  std::uint8_t length_up[64];
  std::uint8_t length_left[32];
  std::uint8_t length_right[32];

  InitialTrees() {
    literal_up[0] = 0;
    for (int i = 1; i <= 512; ++i) literal_up[i] = static_cast<std::uint8_t>((i - 1) / 2);
    for (int i = 0; i < 256; ++i) {
      literal_left[i] = static_cast<std::uint16_t>(2 * i + 1);
      literal_right[i] = static_cast<std::uint16_t>(2 * i + 2);
    }
    // The length tree's set-up also writes links for node 31 (children) and node 63
    // (parent); they are never used but belong to the initial state.
    length_up[0] = 0;
    for (int i = 1; i < 64; ++i) length_up[i] = static_cast<std::uint8_t>((i - 1) / 2);
    for (int i = 0; i < 32; ++i) {
      length_left[i] = static_cast<std::uint8_t>(2 * i + 1);
      length_right[i] = static_cast<std::uint8_t>(2 * i + 2);
    }
  }
};

const InitialTrees& Initial() {
  static const InitialTrees trees;
  return trees;
}

void ResetModel(State& s) {
  const InitialTrees& t = Initial();
  for (int i = 0; i < 128; ++i) {
    std::memcpy(s.literal_up[i], t.literal_up, sizeof t.literal_up);
    std::memcpy(s.literal_left[i], t.literal_left, sizeof t.literal_left);
    std::memcpy(s.literal_right[i], t.literal_right, sizeof t.literal_right);
  }
  std::memcpy(s.length_up, t.length_up, sizeof t.length_up);
  std::memcpy(s.length_left, t.length_left, sizeof t.length_left);
  std::memcpy(s.length_right, t.length_right, sizeof t.length_right);
  std::memset(s.prediction, 0, sizeof s.prediction);
}

// Moves leaf `a` up: it takes its uncle's place and the uncle takes its place, then the
// same is done from the grandparent on, until the root is reached.
template <typename Up, typename Link>
inline void Splay(Up* up, Link* left, Link* right, unsigned a) {
  for (;;) {
    unsigned c = up[a];
    if (c == 0) return;
    unsigned d = up[c];
    unsigned b = left[d];
    if (b == c) {
      b = right[d];
      right[d] = static_cast<Link>(a);
    } else {
      left[d] = static_cast<Link>(a);
    }
    if (left[c] == a) {
      left[c] = static_cast<Link>(b);
    } else {
      right[c] = static_cast<Link>(b);
    }
    up[a] = static_cast<Up>(d);
    up[b] = static_cast<Up>(c);
    a = d;
    if (a == 0) return;
  }
}

// ---- packing ----

// The packer's bit output, held in locals while a code is written and stored back into
// the state afterwards (the state fields would otherwise be reloaded for every bit).
struct BitWriter {
  explicit BitWriter(State& s) : state(s), accumulator(s.bit_accumulator), stream(s.stream), end(s.stream_end) {}
  ~BitWriter() {
    state.bit_accumulator = accumulator;
    state.stream = stream;
  }
  // Writes one bit; gives false (output full) when a completed byte has no room.
  bool Put(unsigned bit) {
    accumulator = static_cast<std::uint16_t>(accumulator | bit);
    if (static_cast<std::int16_t>(accumulator) < 0) {
      if (stream == end) return false;
      *stream++ = static_cast<std::uint8_t>(accumulator & 0xFF);
      accumulator = 0x0100;
    } else {
      accumulator = static_cast<std::uint16_t>(accumulator << 1);
    }
    return true;
  }
  State& state;
  std::uint16_t accumulator;
  std::uint8_t* stream;
  std::uint8_t* const end;
};

// Codes the leaf `leaf` of a tree: its path from the root, root side first; then splays.
template <typename Up, typename Link>
inline int EncodeLeaf(State& s, Up* up, Link* left, Link* right, unsigned leaf) {
  std::array<std::uint8_t, kMaxCodeBits> bits;
  int count = 0;
  unsigned node = leaf;
  while (node != 0) {
    unsigned parent = up[node];
    if (count == kMaxCodeBits) return kCodecCodeTooLong;
    bits[count++] = right[parent] == node ? 1 : 0;
    node = parent;
  }
  {
    BitWriter out(s);
    while (count > 0) {
      if (!out.Put(bits[--count])) return kOutputFull;
    }
  }
  Splay(up, left, right, leaf);
  return kCodecOk;
}

inline int EncodeLiteral(State& s, unsigned tree, unsigned symbol) {
  return EncodeLeaf(s, s.literal_up[tree], s.literal_left[tree], s.literal_right[tree], kLiteralInternal + symbol);
}

inline int EncodeLength(State& s, unsigned symbol) {
  return EncodeLeaf(s, s.length_up, s.length_left, s.length_right, kLengthInternal + symbol);
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
inline Prediction Predict(State& s) {
  Prediction m;
  const std::uint8_t* p = s.position;
  m.slot = Hash(p);
  const std::uint16_t e = s.prediction[m.slot];
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

// After a match: a first length run of 0 after two differing bytes closes the slot for
// the rest of the block; otherwise the slot takes the position the match was coded at.
inline void CloseOrMoveSlot(State& s, const Prediction& m, int first_run) {
  s.prediction[m.slot] = (first_run == 0 && m.pair_differs) ? 1 : m.position;
}

// Runs after each literal from the third on: when the slot of the current position names
// an earlier position whose two preceding bytes agree, codes how far the bytes from there
// repeat at the current position and steps over them.
inline int PackPrediction(State& s) {
  Prediction m = Predict(s);
  if (!m.source) return kCodecOk;
  std::uint8_t* p = s.position;
  const std::uint8_t* q = m.source;
  int first = -1;
  for (;;) {
    std::ptrdiff_t remain = s.block_end - p;
    int limit = remain >= kMaxLengthRun ? kMaxLengthRun : static_cast<int>(remain);
    int n = 0;
    while (n < limit && q[n] == p[n]) ++n;
    int rc = EncodeLength(s, static_cast<unsigned>(n));
    if (rc != kCodecOk) return rc;
    if (first < 0) first = n;
    p += n;
    q += n;
    if (n < kMaxLengthRun) break;
  }
  CloseOrMoveSlot(s, m, first);
  s.position = p;
  return kCodecOk;
}

// Codes the whole block; gives kCodecOk, kOutputFull or kCodecCodeTooLong.
int PackBlock(State& s) {
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
  if (s.bit_accumulator != 0x0100) {
    while (static_cast<std::int16_t>(s.bit_accumulator) >= 0) {
      s.bit_accumulator = static_cast<std::uint16_t>(s.bit_accumulator << 1);
    }
    if (s.stream == s.stream_end) return kOutputFull;
    *s.stream++ = static_cast<std::uint8_t>(s.bit_accumulator & 0xFF);
  }
  return kCodecOk;
}

// ---- expanding ----

// The expander's bit input, held in locals while a code is read and stored back into the
// state afterwards. Bits are read from the most significant down.
struct BitReader {
  explicit BitReader(State& s)
      : state(s), bits_left(s.bits_left), current(s.current_byte), stream(s.stream), end(s.stream_end) {}
  ~BitReader() {
    state.bits_left = bits_left;
    state.current_byte = current;
    state.stream = stream;
  }
  // Gives the next bit, or -1 when the input is exhausted.
  int Get() {
    if (bits_left == 0) {
      if (stream == end) return -1;
      current = *stream++;
      bits_left = 7;
    } else {
      --bits_left;
    }
    return (current >> bits_left) & 1;
  }
  State& state;
  unsigned bits_left;
  std::uint8_t current;
  std::uint8_t* stream;
  std::uint8_t* const end;
};

// Walks a tree from the root by the input bits to a leaf (a node number of at least
// `internal`); splays at it. Gives the leaf, or -1 when the input ends inside the code.
template <typename Up, typename Link>
inline int DecodeLeaf(State& s, Up* up, Link* left, Link* right, unsigned internal) {
  unsigned node = 0;
  {
    BitReader in(s);
    while (node < internal) {
      int bit = in.Get();
      if (bit < 0) return -1;
      node = bit ? right[node] : left[node];
    }
  }
  Splay(up, left, right, node);
  return static_cast<int>(node);
}

inline int DecodeLiteral(State& s, unsigned tree) {
  int leaf = DecodeLeaf(s, s.literal_up[tree], s.literal_left[tree], s.literal_right[tree], kLiteralInternal);
  return leaf < 0 ? -1 : leaf - kLiteralInternal;
}

inline int DecodeLength(State& s) {
  int leaf = DecodeLeaf(s, s.length_up, s.length_left, s.length_right, kLengthInternal);
  return leaf < 0 ? -1 : leaf - kLengthInternal;
}

// The expander's side of PackPrediction: reads the match lengths and copies the bytes
// one at a time, so that a match overlapping its source repeats it.
inline bool ExpandPrediction(State& s) {
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
    for (int i = 0; i < n; ++i) *p++ = *q++;
    if (n < kMaxLengthRun) break;
  }
  CloseOrMoveSlot(s, m, first);
  s.position = p;
  return true;
}

}  // namespace

void InitTables(State& state) {
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

int Compress(const std::uint8_t* input, std::uint8_t* output, std::uint16_t length, std::uint16_t& output_length,
             State& state) {
  if (length > kCodecBlockSize) return kCodecMalformed;
  if (length > 2) {
    ResetModel(state);
    state.bit_accumulator = 0x0100;
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

int Expand(const std::uint8_t* input, std::uint8_t* output, std::uint16_t input_length, std::uint16_t& output_length,
           bool stored, State& state) {
  if (stored) {
    if (input_length > kCodecBlockSize) return kCodecMalformed;
    const std::uint8_t* inv = state.inverse_substitution;
    for (std::size_t i = 0; i < input_length; ++i) output[i] = inv[input[i]];
    output_length = input_length;
    return kCodecOk;
  }
  ResetModel(state);
  state.bits_left = 0;
  state.current_byte = 0;
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
  if (state.stream != state.stream_end) return kCodecMalformed;
  output_length = static_cast<std::uint16_t>(state.position - state.block_start);
  return kCodecOk;
}

std::vector<std::uint8_t> PackImage(std::span<const std::uint8_t> image, State& state) {
  std::vector<std::uint8_t> out;
  out.reserve(5 + (image.size() + kCodecBlockSize - 1) / kCodecBlockSize * kCodecOutputSize);
  std::uint32_t n = static_cast<std::uint32_t>(image.size());
  out.push_back(2);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  for (std::size_t at = 0; at < image.size(); at += kCodecBlockSize) {
    std::size_t len = std::min(kCodecBlockSize, image.size() - at);
    std::size_t base = out.size();
    out.resize(base + kCodecOutputSize);
    std::uint16_t written = 0;
    if (Compress(image.data() + at, out.data() + base, static_cast<std::uint16_t>(len), written, state) != kCodecOk) {
      return {};
    }
    out.resize(base + written);
  }
  return out;
}

bool UnpackImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& image, State& state) {
  if (file.size() < 5) return false;
  std::size_t size =
      std::size_t(file[1]) | (std::size_t(file[2]) << 8) | (std::size_t(file[3]) << 16) | (std::size_t(file[4]) << 24);
  image.assign(std::max<std::size_t>(size, 65536), 0);
  std::array<std::uint8_t, kCodecBlockSize> scratch;
  std::size_t at = 5, total = 0;
  while (total < size) {
    if (file.size() - at < 2) return false;
    unsigned h = (unsigned(file[at]) << 8) | file[at + 1];
    std::size_t payload = (h & 0x7FFFu) == 0 ? kCodecBlockSize : (h & 0x7FFFu);
    if (file.size() - at - 2 < payload) return false;
    std::uint16_t produced = 0;
    if (Expand(file.data() + at + 2, scratch.data(), static_cast<std::uint16_t>(payload), produced,
               (h & kStoredBlockFlag) != 0, state) != kCodecOk ||
        produced > size - total) {
      return false;
    }
    std::memcpy(image.data() + total, scratch.data(), produced);
    total += produced;
    at += 2 + payload;
  }
  image.resize(size);
  return true;
}

}  // namespace zv::jobdoc::reference
