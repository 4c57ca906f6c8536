// The DEFLATE writer's exact stream, the decoder against valid and hostile
// input, and the zlib and gzip framings. Python's zlib and the gzip tool
// check the same code from outside (tests/tools/compression_oracle.py).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/io/compression_framing.h"
#include "runtime/io/deflate.h"
#include "runtime/io/inflate.h"

namespace kiv::compress {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

Bytes random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes out(size);
  for (uint8_t& byte : out) byte = static_cast<uint8_t>(generator());
  return out;
}

Bytes deflated(const Bytes& input) {
  uint64_t length = deflate_bound(input.size());
  Bytes out(length);
  EXPECT_EQ(deflate(out.data(), length, input), Result::done);
  out.resize(length);
  return out;
}

struct Decoded {
  Result result;
  Bytes bytes;
};

Bytes copy_of(const ByteBuffer& buffer) { return {buffer.begin(), buffer.end()}; }

Decoded inflated(const Bytes& stream) {
  ByteBuffer out;
  const Inflated result = inflate_append(out, stream, 0);
  return {result.result, copy_of(out)};
}

// The inputs every round trip goes over.
std::vector<std::pair<std::string, Bytes>> round_trip_inputs() {
  Bytes all_values(256);
  for (int i = 0; i < 256; ++i) all_values[i] = static_cast<uint8_t>(i);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i * 7 % 113) + " of some text, ";
  // A block repeated at the window's edge: 32,767 and 32,768 bytes back.
  Bytes edge = random_bytes(40000, 7);
  std::copy_n(edge.begin(), 300, edge.begin() + 32767);
  std::copy_n(edge.begin() + 1000, 300, edge.begin() + 1000 + 32768);
  return {{"empty", {}},
          {"one byte", {0x41}},
          {"all byte values", all_values},
          {"1 MB of zeros", Bytes(1 << 20, 0)},
          {"1 MB random", random_bytes(1 << 20, 1)},
          {"text", bytes_of(text)},
          {"window edge", edge}};
}

TEST(Deflate, FixedStreamBytes) {
  // An empty input is the block header, the end code and padding; ten equal
  // bytes are three literals and one match of 7 at distance 1.
  EXPECT_EQ(deflated({}), (Bytes{0x03, 0x00}));
  EXPECT_EQ(deflated(bytes_of("aaaaaaaaaa")), (Bytes{0x4B, 0x4C, 0x4C, 0x84, 0x02, 0x00}));
  EXPECT_EQ(inflated(deflated(bytes_of("aaaaaaaaaa"))).bytes, bytes_of("aaaaaaaaaa"));
}

TEST(Deflate, FirstThreeBytesAreLiterals) {
  // "abcabc" could match at distance 3 from the fourth byte on, but no match
  // ends the first three; every byte of "abc" is then a literal, and the
  // repeat costs one match: header 3 + 3 x 8 + 7 + 5 + end code 7 = 46 bits.
  EXPECT_EQ(deflated(bytes_of("abcabc")).size(), 6u);
  EXPECT_EQ(deflated(bytes_of("abcxyz")).size(), 8u);  // six literals: 58 bits
}

TEST(Deflate, MatchesStayInsideTheWindow) {
  // 16 bytes, zeros, the same 16 bytes again. The zeros go out as long
  // matches filed under one bucket, so the first copy's position stays in
  // the table: 32,767 bytes back it is a match, 32,768 back it is not.
  auto stream = [](size_t distance) {
    Bytes input(distance + 16, 0);
    const Bytes head = random_bytes(16, 5);
    std::copy(head.begin(), head.end(), input.begin());
    std::copy(head.begin(), head.end(), input.begin() + static_cast<ptrdiff_t>(distance));
    const Bytes out = deflated(input);
    EXPECT_TRUE(inflated(out).bytes == input);
    return out.size();
  };
  EXPECT_LT(stream(32767) + 10, stream(32768));
  EXPECT_LT(stream(32000) + 10, stream(32768));
}

TEST(Deflate, CapacityTooSmallReportsTheFullLength) {
  const Bytes input = bytes_of("to be or not to be, that is the question");
  const Bytes full = deflated(input);
  for (const uint64_t capacity : {uint64_t{0}, uint64_t{1}, uint64_t{full.size() - 1}}) {
    Bytes out(full.size(), 0xEE);
    uint64_t length = capacity;
    EXPECT_EQ(deflate(out.data(), length, input), Result::too_small);
    EXPECT_EQ(length, full.size());
    // What fitted is the stream's start, and nothing past the capacity.
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<ptrdiff_t>(capacity), full.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(capacity), out.end(), [](uint8_t b) { return b == 0xEE; }));
  }
}

TEST(Deflate, RoundTrips) {
  for (const auto& [name, input] : round_trip_inputs()) {
    const Bytes stream = deflated(input);
    EXPECT_LE(stream.size(), deflate_bound(input.size())) << name;
    const Decoded back = inflated(stream);
    EXPECT_EQ(back.result, Result::done) << name;
    EXPECT_TRUE(back.bytes == input) << name;
  }
}

TEST(Inflate, SmallStreams) {
  struct Case {
    const char* name;
    Bytes stream;
    Bytes output;
  };
  const Case cases[] = {
      {"one empty fixed block", {0x03, 0x00}, {}},
      // A stored block with LEN 0, not final, then a final stored "hi".
      {"stored LEN 0 then more", {0x00, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0x02, 0x00, 0xFD, 0xFF, 'h', 'i'}, bytes_of("hi")},
      // Literal 'A' then length 10 at distance 1.
      {"distance 1 repeats", {0x73, 0x44, 0x00, 0x00}, Bytes(11, 'A')},
      {"bytes after the final block are ignored", {0x03, 0x00, 0xFF, 0xFF}, {}},
  };
  for (const Case& c : cases) {
    const Decoded decoded = inflated(c.stream);
    EXPECT_EQ(decoded.result, Result::done) << c.name;
    EXPECT_EQ(decoded.bytes, c.output) << c.name;
  }
}

TEST(Inflate, CapacityZeroMeasures) {
  const Bytes input = bytes_of(std::string(5000, 'x') + "tail");
  const Bytes stream = deflated(input);
  uint64_t length = 0;
  EXPECT_EQ(inflate(nullptr, length, stream), Result::too_small);
  EXPECT_EQ(length, input.size());
  // A capacity that ends inside a match stores the output's start.
  Bytes out(100);
  length = out.size();
  EXPECT_EQ(inflate(out.data(), length, stream), Result::too_small);
  EXPECT_EQ(length, input.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), input.begin()));
}

TEST(Inflate, OutputLimit) {
  ByteBuffer out;
  const Bytes stream = deflated(Bytes(100000, 0));
  EXPECT_EQ(inflate_append(out, stream, 0, 99999).result, Result::too_large);
  EXPECT_LE(out.size(), 100000u);
  out = ByteBuffer();
  EXPECT_EQ(inflate_append(out, stream, 0, 100000).result, Result::done);
  EXPECT_EQ(out.size(), 100000u);
}

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every prefix of a valid stream and every single-bit change of it ends in
// a result, under the sanitizers with no bad access; a cut stream is never
// taken for a whole one. One stream of ours (a fixed block) and one with
// dynamic code tables from the corpus.
TEST(Inflate, TruncatedAndFlippedStreams) {
  const Bytes ours = deflated(bytes_of("Truncate me at every byte, then flip every bit; truncate me again."));
  const Bytes dynamic = read_file(std::filesystem::path(KIV_INFLATE_CORPUS) / "ok-dynamic.deflate");
  ASSERT_FALSE(dynamic.empty());
  for (const Bytes& stream : {ours, dynamic}) {
    for (size_t cut = 0; cut < stream.size(); ++cut) {
      const Decoded decoded = inflated(Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)));
      EXPECT_NE(decoded.result, Result::done) << "cut at " << cut;
    }
    for (size_t bit = 0; bit < stream.size() * 8; ++bit) {
      Bytes flipped = stream;
      flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      (void)inflated(flipped);
      uint64_t length = 16;
      Bytes small(16);
      (void)inflate(small.data(), length, flipped);
    }
  }
}

TEST(Framing, ZlibAndGzipHeaders) {
  uint64_t length = 64;
  Bytes out(64);
  EXPECT_EQ(zlib_encode(out.data(), length, {}), Result::done);
  out.resize(length);
  EXPECT_EQ(out, (Bytes{0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));

  out.assign(64, 0);
  length = 64;
  EXPECT_EQ(gzip_encode(out.data(), length, bytes_of("a")), Result::done);
  EXPECT_EQ(length, 3u + 18u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04}));

  // Below the framing's minimum: invalid, with the input length + framing.
  length = 5;
  EXPECT_EQ(zlib_encode(out.data(), length, bytes_of("abc")), Result::invalid);
  EXPECT_EQ(length, 9u);
  length = 17;
  EXPECT_EQ(gzip_encode(out.data(), length, bytes_of("abc")), Result::invalid);
  EXPECT_EQ(length, 21u);
  // Room for the stream but not the trailer.
  length = 2 + 5 + 3;
  EXPECT_EQ(zlib_encode(out.data(), length, bytes_of("abc")), Result::too_small);
  EXPECT_EQ(length, 2u + 5u + 4u);
}

TEST(Framing, GzipInputIsCopiedAsItIs) {
  const Bytes already = {0x1F, 0x8B, 0x08, 0x01, 0x02};
  Bytes out(16);
  uint64_t length = out.size();
  EXPECT_EQ(gzip_encode(out.data(), length, already), Result::done);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<ptrdiff_t>(length)), already);
}

TEST(Framing, FixedCapacityDecodersMeasureThenDecode) {
  const Bytes input = bytes_of(std::string(3000, 'z') + "end");
  for (const bool gzip : {false, true}) {
    Bytes framed(input.size() + 64);
    uint64_t length = framed.size();
    ASSERT_EQ((gzip ? gzip_encode : zlib_encode)(framed.data(), length, input), Result::done);
    framed.resize(length);
    auto decode = gzip ? gzip_decode : zlib_decode;
    length = 0;
    EXPECT_EQ(decode(nullptr, length, framed), Result::too_small) << gzip;
    EXPECT_EQ(length, input.size());
    Bytes out(length);
    EXPECT_EQ(decode(out.data(), length, framed), Result::done) << gzip;
    EXPECT_EQ(out, input);
  }
}

// The seed corpus: "ok-" streams decode to their .out file, "bad-" ones are
// refused, by the framing their suffix names.
TEST(Framing, Corpus) {
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KIV_INFLATE_CORPUS)) {
    const std::string name = entry.path().filename().string();
    const std::string suffix = entry.path().extension().string();
    if (suffix == ".out") continue;
    const Bytes data = read_file(entry.path());
    ByteBuffer out;
    Result result = Result::invalid;
    if (suffix == ".deflate") result = inflate_append(out, data, 0).result;
    else if (suffix == ".zlib") result = zlib_decode_append(out, data, 0);
    else if (suffix == ".gz") result = gzip_decode_append(out, data);
    else ADD_FAILURE() << "unknown suffix: " << name;
    if (name.starts_with("ok-")) {
      EXPECT_EQ(result, Result::done) << name;
      std::filesystem::path expected = entry.path();
      EXPECT_TRUE(copy_of(out) == read_file(expected.replace_extension(".out"))) << name;
    } else {
      EXPECT_NE(result, Result::done) << name;
    }
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace kiv::compress
