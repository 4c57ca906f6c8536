// The clipboard below the script level: the file-list and bitmap forms
// other programs exchange, and a host that is busy or cannot give its
// data (which scripts cannot arrange on the process's own clipboard).
#include "runtime/io/clipboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/io/clipboard_bitmap.h"
#include "runtime/io/clipboard_host.h"
#include "tests/runtime/runtime_fixture.h"

namespace kiv::clipboard {
namespace {

// ---- file lists ----

TEST(ClipboardUriList, EncodesEachPathAsAFileUriEndedByCrLf) {
  EXPECT_EQ(encode_uri_list({"/tmp/a b/%x.txt", "/t\xC3\xA9/\xFF"}),
            "file:///tmp/a%20b/%25x.txt\r\nfile:///t%C3%A9/%FF\r\n");
  EXPECT_EQ(encode_uri_list({}), "");
}

TEST(ClipboardUriList, DecodesLocalFilesInOrderAndSkipsTheRest) {
  const std::string list =
      "# a comment\r\n"
      "file:///tmp/a%20b\r\n"
      "http://example.org/x\r\n"
      "file://otherhost/share/y\r\n"
      "FILE://localhost/tmp/c\n"
      "\r\n"
      "file:///tmp/100%zz\n"
      "file:///tmp/nul%00byte\r\n"
      "file:///tmp/last";
  EXPECT_EQ(decode_uri_list(list), (std::vector<std::string>{"/tmp/a b", "/tmp/c", "/tmp/100%zz", "/tmp/last"}));
}

TEST(ClipboardUriList, RoundTripsAnyBytesButNul) {
  std::string every_byte = "/";
  for (int c = 1; c < 256; ++c) every_byte += static_cast<char>(c);
  const std::vector<std::string> paths = {every_byte, "/plain"};
  EXPECT_EQ(decode_uri_list(encode_uri_list(paths)), paths);
}

// ---- bitmaps ----

uint32_t u32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

Pixels two_by_two() { return {2, 2, {0x80FF0000, 0xFF00FF00, 0x000000FF, 0x12345678}}; }

TEST(ClipboardBitmap, WritesATopDownV5HeaderThenThePixels) {
  const std::string file = encode_bmp_v5(two_by_two());
  ASSERT_EQ(file.size(), 14u + 124u + 16u);
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(u32(file, 2), file.size());
  EXPECT_EQ(u32(file, 10), 138u);  // the pixels follow the headers
  const size_t info = 14;
  EXPECT_EQ(u32(file, info), 124u);
  EXPECT_EQ(u32(file, info + 4), 2u);
  EXPECT_EQ(static_cast<int32_t>(u32(file, info + 8)), -2);  // rows top to bottom
  EXPECT_EQ(u32(file, info + 12), 1u | 32u << 16);           // planes, bits
  EXPECT_EQ(u32(file, info + 16), 3u);                       // bit fields
  EXPECT_EQ(u32(file, info + 20), 16u);
  EXPECT_EQ(u32(file, info + 40), 0x00FF0000u);
  EXPECT_EQ(u32(file, info + 44), 0x0000FF00u);
  EXPECT_EQ(u32(file, info + 48), 0x000000FFu);
  EXPECT_EQ(u32(file, info + 52), 0xFF000000u);
  EXPECT_EQ(u32(file, info + 56), 0x57696E20u);
  EXPECT_EQ(u32(file, info + 108), 4u);
  EXPECT_EQ(u32(file, 138), 0x80FF0000u);
  EXPECT_EQ(u32(file, 150), 0x12345678u);
}

TEST(ClipboardBitmap, ReadsBackWhatItWrites) {
  const std::optional<Pixels> read = decode_bmp_v5(encode_bmp_v5(two_by_two()));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->width, 2u);
  EXPECT_EQ(read->height, 2u);
  EXPECT_EQ(read->argb, two_by_two().argb);
}

TEST(ClipboardBitmap, TurnsRowsStoredBottomUpTheRightWayUp) {
  std::string file = encode_bmp_v5(two_by_two());
  file.replace(14 + 8, 4, std::string("\x02\0\0\0", 4));  // height +2: bottom-up
  const std::optional<Pixels> read = decode_bmp_v5(file);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->argb, (std::vector<uint32_t>{0x000000FF, 0x12345678, 0x80FF0000, 0xFF00FF00}));
}

// Headers that do not describe the bytes there, or another pixel format,
// give nothing (and read nothing past the end: the sanitizer build checks).
TEST(ClipboardBitmap, RefusesWhatItCannotTakeWhole) {
  const std::string good = encode_bmp_v5(two_by_two());
  const auto with = [&](size_t at, uint32_t value) {
    std::string file = good;
    for (int i = 0; i < 4; ++i) file[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
    return file;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"cut short", good.substr(0, good.size() - 1)},
      {"only the headers", good.substr(0, 138)},
      {"no info header", good.substr(0, 20)},
      {"wider than its bytes", with(14 + 4, 70000)},
      {"taller than its bytes", with(14 + 8, 0xFFFF0000)},
      {"a zero width", with(14 + 4, 0)},
      {"a header longer than the file", with(14, 0x7FFFFFFF)},
      {"pixels said to start past the end", with(10, 0xFFFFFFF0)},
      {"pixels said to start inside the headers", with(10, 20)},
      {"24 bits", with(14 + 12, 1u | 24u << 16)},
      {"no bit fields", with(14 + 16, 0)},
      {"another red mask", with(14 + 40, 0x000000FF)},
      {"no alpha", with(14 + 52, 0)},
      {"not a BMP", "XY" + good.substr(2)},
  };
  for (const auto& [name, file] : cases) EXPECT_FALSE(decode_bmp_v5(file).has_value()) << name;
}

// ---- hosts that are busy or cannot give their data ----

class BusyHost final : public Host {
 public:
  bool refuse_open = true;
  bool unreadable = false;
  int opens = 0, pumps = 0, closes = 0, replaces = 0;
  bool open() override {
    ++opens;
    return !refuse_open;
  }
  void close() override { ++closes; }
  void pump() override { ++pumps; }
  Fetched fetch(std::string_view type) override {
    if (unreadable && type == files_type) return {Fetched::State::unreadable, {}};
    return {};
  }
  bool replace(std::vector<Item>) override {
    ++replaces;
    return true;
  }
};

class ClipboardHost : public testing::RuntimeTest {
 protected:
  void TearDown() override {
    set_host(nullptr);
    RuntimeTest::TearDown();
  }
  BusyHost busy;
};

bool is_false(const Cell& value) { return cell::is(value, TypeId::logic) && !logic::is_true(value); }

TEST_F(ClipboardHost, ABusyClipboardIsTriedThreeTimesThenReadsFalse) {
  set_host(&busy);
  EXPECT_TRUE(is_false(read()));
  EXPECT_EQ(busy.opens, 3);
  EXPECT_EQ(busy.pumps, 3);
  EXPECT_EQ(busy.closes, 0);
}

TEST_F(ClipboardHost, ABusyClipboardTakesNoWrite) {
  set_host(&busy);
  Val text = string::push_new(4);
  string::append_utf8(text, "text");
  EXPECT_FALSE(write(text));
  EXPECT_EQ(busy.opens, 3);
  EXPECT_EQ(busy.replaces, 0);
}

TEST_F(ClipboardHost, DataThatCannotBeReadGivesFalseAndTheClipboardBack) {
  busy.refuse_open = false;
  busy.unreadable = true;
  set_host(&busy);
  EXPECT_TRUE(is_false(read()));
  EXPECT_EQ(busy.opens, 1);
  EXPECT_EQ(busy.closes, 1);
}

// ---- images, on a host that shows what it holds ----

// Holds items as the desktop's clipboard would, for another program to
// read them or to have put them there.
class HoldingHost final : public Host {
 public:
  std::vector<Item> items;
  bool open() override { return true; }
  void close() override {}
  Fetched fetch(std::string_view type) override {
    for (const Item& item : items) {
      if (item.type == type) return {Fetched::State::present, item.bytes};
    }
    return {};
  }
  bool replace(std::vector<Item> given) override {
    items = std::move(given);
    return true;
  }
};

class ClipboardImages : public testing::RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    set_host(&holding);
  }
  void TearDown() override {
    set_host(nullptr);
    RuntimeTest::TearDown();
  }
  HoldingHost holding;
};

// Opaque pixels, so that every format keeps them.
const std::vector<uint32_t> three_by_one = {0xFF102030, 0xFFFFFFFF, 0xFF000000};

std::vector<uint32_t> pixels_read(const Cell& value) {
  if (!cell::is(value, TypeId::image)) return {};
  const uint32_t* words = image::pixels_of(value);
  return words ? std::vector<uint32_t>(words, words + image::pixel_count(value)) : std::vector<uint32_t>{};
}

TEST_F(ClipboardImages, AnImageGoesOnAsPngThenAsABitmap) {
  testing::Held img(image::from_memory(3, 1, 0, three_by_one.data()));
  ASSERT_TRUE(write(img));
  ASSERT_EQ(holding.items.size(), 2u);
  EXPECT_EQ(holding.items[0].type, png_type);
  EXPECT_EQ(holding.items[0].bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(holding.items[1].type, bmp_type);
  const std::optional<Pixels> bitmap = decode_bmp_v5(holding.items[1].bytes);
  ASSERT_TRUE(bitmap.has_value());
  EXPECT_EQ(bitmap->argb, three_by_one);
  EXPECT_EQ(pixels_read(read()), three_by_one);
}

// What other programs put there: each image form alone reads as the image.
TEST_F(ClipboardImages, EachImageFormAloneReadsAsTheImage) {
  testing::Held img(image::from_memory(3, 1, 0, three_by_one.data()));
  const std::pair<std::string_view, int32_t> forms[] = {{png_type, 1}, {gif_type, 2}, {jpeg_type, 3}};
  for (const auto& [type, format] : forms) {
    const std::optional<Cell> encoded = image::encode(*img, format);
    ASSERT_TRUE(encoded.has_value()) << type;
    holding.items = {{std::string(type), binary::bytes_from_index(*encoded)}};
    const Cell value = read();
    ASSERT_TRUE(cell::is(value, TypeId::image)) << type;
    EXPECT_EQ(image::width_of(value), 3u) << type;
    if (type != jpeg_type) {
      EXPECT_EQ(pixels_read(value), three_by_one) << type;
    }
  }
  holding.items = {{std::string(bmp_type), encode_bmp_v5({3, 1, three_by_one})}};
  EXPECT_EQ(pixels_read(read()), three_by_one);
}

// A PNG is taken before a bitmap that says otherwise.
TEST_F(ClipboardImages, ReadingPrefersThePng) {
  testing::Held img(image::from_memory(3, 1, 0, three_by_one.data()));
  const std::optional<Cell> png = image::encode(*img, 1);
  ASSERT_TRUE(png.has_value());
  holding.items = {{std::string(bmp_type), encode_bmp_v5({1, 1, {0xFF0000FF}})},
                   {std::string(png_type), binary::bytes_from_index(*png)}};
  EXPECT_EQ(pixels_read(read()), three_by_one);
}

TEST_F(ClipboardImages, AnImageOfNoPixelsEmptiesTheClipboard) {
  holding.items = {{std::string(text_type), "old"}};
  testing::Held empty(image::from_memory(0, 0, 0, nullptr));
  EXPECT_TRUE(write(empty));
  EXPECT_TRUE(holding.items.empty());
  EXPECT_TRUE(cell::is(read(), TypeId::none));
}

}  // namespace
}  // namespace kiv::clipboard
