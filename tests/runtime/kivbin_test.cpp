// KIVBIN files kept under tests/fixtures: the values written by this
// version must keep loading to the same mold, re-encode to the same bytes,
// and every truncated or bit-flipped variant of the seed corpus must be
// refused with an error (never a crash: the sanitizer build runs these).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "runtime/core/lz.h"
#include "runtime/datatypes/block.h"
#include "runtime/io/kivbin_decoder.h"
#include "runtime/io/kivbin_encoder.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv {
namespace {

using testing::Held;
using testing::molded;
using testing::raised_error;

const std::filesystem::path fixtures = KIV_FIXTURES_DIR;

std::vector<uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string read_text(const std::filesystem::path& path) {
  const auto bytes = read_file(path);
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

class Kivbin : public testing::RuntimeTest {
 protected:
  // Decodes into a new block; answers the error code, or 0.
  uint16_t decode(const std::vector<uint8_t>& data, Cell* first = nullptr) {
    return raised_error([&] {
      Held block(block::make_new(1));
      kivbin::decode(data, block, none_cell);
      if (first != nullptr && block::count(*block) > 0) *first = *block::at(*block, 0);
    });
  }
  const Cell none_cell{cell::header(TypeId::none), 0, 0, 0};
};

TEST_F(Kivbin, FixturesKeepLoading) {
  const struct {
    const char* mold;
    std::vector<const char*> files;
  } sets[] = {{"values.mold", {"values.kivbin", "values-compressed.kivbin", "values-fixed.kivbin"}},
              {"more.mold", {"more.kivbin", "more-fixed.kivbin"}}};
  for (const auto& set : sets) {
    const std::string expected = read_text(fixtures / "kivbin" / set.mold);
    for (const char* name : set.files) {
      Cell value{};
      ASSERT_EQ(decode(read_file(fixtures / "kivbin" / name), &value), 0) << name;
      Held held(value);
      EXPECT_EQ(molded(held), expected) << name;
    }
  }
}

// A compressed body (flag bit 2) holds either layout: the fixture's bytes
// after the flags byte, packed as one LZ block, decode to the same value.
TEST_F(Kivbin, CompressedBodiesOfBothLayoutsDecode) {
  const std::string expected = read_text(fixtures / "kivbin" / "values.mold");
  for (const char* name : {"values.kivbin", "values-fixed.kivbin"}) {
    const auto data = read_file(fixtures / "kivbin" / name);
    ASSERT_GT(data.size(), 8u);
    const auto packed = lz::compress(std::span<const uint8_t>(data).subspan(8));
    ASSERT_TRUE(packed) << name;
    std::vector<uint8_t> file(8 + packed->size());
    std::copy(data.begin(), data.begin() + 8, file.begin());
    std::copy(packed->begin(), packed->end(), file.begin() + 8);
    file[7] |= 2;
    Cell value{};
    ASSERT_EQ(decode(file, &value), 0) << name;
    Held held(value);
    EXPECT_EQ(molded(held), expected) << name;
  }
}

// Encoding what was decoded gives a file that decodes to the same value
// again. (Not the same bytes: a decoded object is a class of its own, and
// the class id is written.)
TEST_F(Kivbin, DecodedFixtureEncodesAgain) {
  const struct {
    const char* name;
    std::vector<uint8_t> (*encode)(const Cell&);
  } layouts[] = {{"values.kivbin", kivbin::encode_compact}, {"values-fixed.kivbin", kivbin::encode_fixed}};
  for (const auto& layout : layouts) {
    const auto data = read_file(fixtures / "kivbin" / layout.name);
    Cell value{};
    ASSERT_EQ(decode(data, &value), 0) << layout.name;
    Held held(value);
    const auto again = layout.encode(held);
    EXPECT_EQ(again.size(), data.size()) << layout.name;
    Cell back{};
    ASSERT_EQ(decode(again, &back), 0) << layout.name;
    Held held_back(back);
    EXPECT_EQ(molded(held_back), read_text(fixtures / "kivbin" / "values.mold")) << layout.name;
  }
}

// Every truncation is refused; every single-bit flip is refused or read
// as some other value.
TEST_F(Kivbin, DamagedCorpusFilesGiveErrors) {
  const uint16_t invalid_data = error_id::script::invalid_data.value;
  const uint16_t invalid_record = error_id::script::kb_invalid_record.value;
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fixtures / "kivbin-corpus")) {
    ++files;
    const auto data = read_file(entry.path());
    ASSERT_EQ(decode(data), 0) << entry.path() << " is a good seed";
    for (size_t size = 0; size < data.size(); ++size) {
      const std::vector<uint8_t> cut(data.begin(), data.begin() + ptrdiff_t(size));
      const uint16_t code = decode(cut);
      EXPECT_TRUE(code == invalid_data || code == invalid_record) << entry.path() << " cut to " << size << ": " << code;
    }
    for (size_t at = 0; at < data.size(); ++at) {
      auto flipped = data;
      flipped[at] ^= uint8_t(1u << (at % 8));
      const uint16_t code = decode(flipped);
      EXPECT_TRUE(code == 0 || code >= 100) << entry.path() << " flipped at " << at << ": " << code;
    }
  }
  EXPECT_GT(files, 0u);
}

// Too deep for the decoder: refused before the machine stack runs out.
TEST_F(Kivbin, DeepNestingIsRefused) {
  std::vector<uint8_t> data = {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1};
  std::vector<uint8_t> records;
  for (int i = 0; i < 100000; ++i) records.insert(records.end(), {0x05, 0x01});
  records.push_back(0x80);
  uint32_t size = uint32_t(records.size());
  while (size >= 0x80) {
    data.push_back(uint8_t(size | 0x80));
    size >>= 7;
  }
  data.push_back(uint8_t(size));
  data.insert(data.end(), records.begin(), records.end());
  EXPECT_EQ(decode(data), error_id::script::kb_invalid_record.value);
}

// A count that claims more than the data holds is refused before anything
// of that size is made.
TEST_F(Kivbin, CountsAreBoundedByTheData) {
  const std::vector<std::vector<uint8_t>> cases = {
      {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 6, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x07},  // block of 2^31 cells
      {'K', 'I', 'V', 'B', 'I', 'N', 2, 1, 1, 6, 0x07, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F},  // string of 2^30 wide units
      {'K', 'I', 'V', 'B', 'I', 'N', 2, 5, 1, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0, 0x80},  // 2^32-1 symbols
  };
  for (const auto& data : cases) EXPECT_EQ(decode(data), error_id::script::kb_invalid_record.value);
  // The same in the fixed layout: a count is bounded by 4 bytes a record
  // or symbol, by the unit size for data.
  const auto fixed_file = [](std::initializer_list<uint8_t> body) {
    std::vector<uint8_t> data = {'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0};
    for (const uint8_t b : body) data.push_back(b);
    return data;
  };
  const std::vector<std::vector<uint8_t>> fixed_cases = {
      fixed_file({20, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0}),  // 3 cells in 8 bytes
      fixed_file({12, 0, 0, 0, 7, 4, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x3F}),              // 2^30 wide units
      fixed_file({16, 0, 0, 0, 0x23, 8, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x1F, 12, 0, 0, 0}),  // 2^29 doubles
      fixed_file({13, 0, 0, 0, 0x29, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0xAB}),                  // no padding
      fixed_file({12, 0, 0, 0, 0x28, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 3, 0, 0, 0}),            // 2^31-1 map cells
  };
  for (const auto& data : fixed_cases) EXPECT_EQ(decode(data), error_id::script::kb_invalid_record.value);
  // A compressed body whose stated size is huge but whose chunks are not.
  std::vector<uint8_t> huge = {'K', 'I', 'V', 'B', 'I', 'N', 2, 3, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(decode(huge), error_id::script::kb_invalid_record.value);
}

}  // namespace
}  // namespace kiv
