// The runtime's LZ77 bit-stream format: decoder and encoder.
#include "runtime/core/lz.h"

#include <algorithm>
#include <cstring>

namespace kiv::lz {
namespace {

uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
         uint32_t(p[3]) << 24;
}

void store32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = uint8_t(v);
  out[at + 1] = uint8_t(v >> 8);
  out[at + 2] = uint8_t(v >> 16);
  out[at + 3] = uint8_t(v >> 24);
}

// Reads bits least significant first from [pos, end). Running out of
// input is a failure, remembered in `failed`; reads then give zeros.
class BitReader {
 public:
  BitReader(const uint8_t* pos, const uint8_t* end) : pos_(pos), end_(end) {}

  uint32_t bits(int n) {
    while (count_ < n) {
      if (pos_ == end_) {
        failed = true;
        return 0;
      }
      buffer_ |= uint64_t(*pos_++) << count_;
      count_ += 8;
    }
    const uint32_t v = uint32_t(buffer_ & ((uint64_t(1) << n) - 1));
    buffer_ >>= n;
    count_ -= n;
    return v;
  }

  // The next chunk starts at the byte after the last one read from.
  const uint8_t* position() const { return pos_; }

  bool failed = false;

 private:
  const uint8_t* pos_;
  const uint8_t* end_;
  uint64_t buffer_ = 0;
  int count_ = 0;
};

uint32_t read_length(BitReader& in) {
  static constexpr struct { uint32_t base; int bits; } steps[] = {
      {0, 2}, {4, 2}, {8, 2}, {12, 3}, {20, 5}};
  for (const auto& step : steps)
    if (in.bits(1)) return step.base + in.bits(step.bits);
  return 52 + in.bits(9);
}

uint32_t read_distance(BitReader& in) {
  const uint32_t k = in.bits(4);
  if (k == 0) return in.bits(3);
  const int j = int(k) + 2;
  return (1u << j) + in.bits(j);
}

// Decodes one chunk of `length` bytes onto the end of `out`.
bool decode_chunk(BitReader& in, uint32_t length, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.resize(start + length);
  uint8_t* chunk = out.data() + start;
  uint32_t at = 0;
  while (at < length) {
    if (in.bits(1) == 0) {
      chunk[at++] = uint8_t(in.bits(8));
    } else {
      const uint32_t n = read_length(in) + min_copy;
      const uint32_t d = read_distance(in) + 1;
      if (in.failed || d > at || n > length - at) return false;
      for (uint32_t i = 0; i < n; ++i, ++at) chunk[at] = chunk[at - d];
    }
    if (in.failed) return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> block) {
  if (block.size() < 8) return std::nullopt;
  const uint32_t payload = load32(block.data());
  const uint32_t expected = load32(block.data() + 4);
  if (payload > block.size() - 8) return std::nullopt;
  const uint8_t* const body = block.data() + 8;
  const uint8_t* const end = body + payload;
  std::vector<uint8_t> out;
  const uint8_t* pos = body;
  while (size_t(pos - body) < payload) {
    if (end - pos < 4) return std::nullopt;
    const uint32_t length = load32(pos);
    pos += 4;
    if (length < 1 || length > max_chunk) return std::nullopt;
    if (length > expected - std::min<size_t>(expected, out.size()) ||
        out.size() > expected)
      return std::nullopt;
    BitReader in(pos, end);
    if (!decode_chunk(in, length, out)) return std::nullopt;
    pos = in.position();
  }
  return out;
}

namespace {

// Writes bits least significant first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

  void bits(uint32_t v, int n) {
    buffer_ |= uint64_t(v) << count_;
    count_ += n;
    while (count_ >= 8) {
      out_.push_back(uint8_t(buffer_));
      buffer_ >>= 8;
      count_ -= 8;
    }
  }

  void flush() {
    if (count_ > 0) out_.push_back(uint8_t(buffer_));
    buffer_ = 0;
    count_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t buffer_ = 0;
  int count_ = 0;
};

void write_copy(BitWriter& out, uint32_t length, uint32_t distance) {
  out.bits(1, 1);
  const uint32_t n = length - min_copy;
  static constexpr struct { uint32_t limit; uint32_t base; int prefix; int bits; }
      steps[] = {{4, 0, 1, 2}, {8, 4, 2, 2}, {12, 8, 3, 2}, {20, 12, 4, 3},
                 {52, 20, 5, 5}};
  bool written = false;
  for (const auto& step : steps) {
    if (n < step.limit) {
      out.bits(1u << (step.prefix - 1), step.prefix);  // 0...0 then 1
      out.bits(n - step.base, step.bits);
      written = true;
      break;
    }
  }
  if (!written) {
    out.bits(0, 5);
    out.bits(n - 52, 9);
  }
  const uint32_t b = distance - 1;
  if (b < 8) {
    out.bits(0, 4);
    out.bits(b, 3);
  } else {
    int j = 31 - __builtin_clz(b);
    out.bits(uint32_t(j - 2), 4);
    out.bits(b - (1u << j), j);
  }
}

// Match finding over one chunk: a table of the latest position per 19-bit
// hash of 3 bytes, and chains of earlier positions per 20-bit hash of 4
// bytes, at most 256 long, within the reach of a distance.
class Matcher {
 public:
  Matcher()
      : head3_(1u << 19), head4_(1u << 20), chain_(max_distance) {}

  void reset() {
    std::fill(head3_.begin(), head3_.end(), -1);
    std::fill(head4_.begin(), head4_.end(), -1);
  }

  struct Match { uint32_t length = 0; uint32_t distance = 0; };

  Match find(const uint8_t* data, uint32_t at, uint32_t size) const {
    Match best;
    if (size - at < min_copy) return best;
    const uint32_t limit = std::min(max_copy, size - at);
    consider(data, at, head3_[hash3(data + at)], limit, best);
    if (size - at >= 4) {
      int32_t candidate = head4_[hash4(data + at)];
      for (int steps = 0; steps < 256 && candidate >= 0; ++steps) {
        if (at - uint32_t(candidate) > max_distance) break;
        consider(data, at, candidate, limit, best);
        candidate = chain_[uint32_t(candidate) & (max_distance - 1)];
      }
    }
    // A short match far back costs more bits than three literals.
    if (best.length == min_copy && best.distance > 65536) best = {};
    return best;
  }

  void insert(const uint8_t* data, uint32_t at, uint32_t size) {
    if (size - at < min_copy) return;
    head3_[hash3(data + at)] = int32_t(at);
    if (size - at < 4) return;
    const uint32_t h = hash4(data + at);
    chain_[at & (max_distance - 1)] = head4_[h];
    head4_[h] = int32_t(at);
  }

 private:
  static uint32_t hash3(const uint8_t* p) {
    return ((uint32_t(p[0]) << 14) + (uint32_t(p[1]) << 7) + p[2]) & 0x7FFFF;
  }
  static uint32_t hash4(const uint8_t* p) {
    uint32_t h = 0;
    for (int i = 0; i < 4; ++i) h = ((h << 5) + p[i]) & 0xFFFFF;
    return h;
  }

  // A farther candidate must beat the best by more than a penalty that
  // grows with how much farther it reaches.
  static void consider(const uint8_t* data, uint32_t at, int32_t candidate,
                       uint32_t limit, Match& best) {
    if (candidate < 0 || uint32_t(candidate) >= at) return;
    const uint32_t distance = at - uint32_t(candidate);
    if (distance > max_distance) return;
    uint32_t length = 0;
    while (length < limit && data[candidate + length] == data[at + length])
      ++length;
    if (length < min_copy) return;
    uint32_t penalty = 0;
    if (best.length != 0)
      for (uint32_t t = distance / 16; t > best.distance; t /= 8) ++penalty;
    if (best.length == 0 || length > best.length + penalty)
      best = {length, distance};
  }

  std::vector<int32_t> head3_;
  std::vector<int32_t> head4_;
  std::vector<int32_t> chain_;
};

}  // namespace

std::optional<std::vector<uint8_t>> compress(std::span<const uint8_t> data) {
  if (data.size() <= 127 || data.size() > 0xFFFFFFFFu) return std::nullopt;
  std::vector<uint8_t> out(8);
  Matcher matcher;
  BitWriter bits(out);
  for (size_t base = 0; base < data.size(); base += max_chunk) {
    const uint32_t size = uint32_t(std::min<size_t>(max_chunk, data.size() - base));
    const uint8_t* chunk = data.data() + base;
    const size_t length_at = out.size();
    out.resize(out.size() + 4);
    store32(out, length_at, size);
    matcher.reset();
    uint32_t at = 0;
    while (at < size) {
      const auto match = matcher.find(chunk, at, size);
      if (match.length == 0) {
        bits.bits(0, 1);
        bits.bits(chunk[at], 8);
        matcher.insert(chunk, at, size);
        ++at;
        continue;
      }
      write_copy(bits, match.length, match.distance);
      for (uint32_t i = 0; i < match.length; ++i) matcher.insert(chunk, at + i, size);
      at += match.length;
    }
    // Padded to a whole byte only: the decoder starts the next chunk on the
    // byte after the last one it took bits from.
    bits.flush();
    if (out.size() >= data.size()) return std::nullopt;
  }
  store32(out, 0, uint32_t(out.size() - 8));
  store32(out, 4, uint32_t(data.size()));
  return out;
}

}  // namespace kiv::lz
