#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "runtime/callbacks.h"
#include "runtime/console_output.h"
#include "runtime/typed_print.h"

namespace kiv {
namespace {

// Captures what the runtime writes to its output descriptor.
class CapturedOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe2(fds_, O_NONBLOCK), 0);
    output::init(fds_[1]);
    callbacks::init();
  }
  void TearDown() override {
    output::init(STDOUT_FILENO);
    ::close(fds_[0]);
    ::close(fds_[1]);
    callbacks::init();
  }
  std::string written() {
    output::flush();
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fds_[0], chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    return text;
  }
  int fds_[2] = {-1, -1};
};

std::vector<std::string> g_low_level;
std::vector<std::string> g_events;

void record_text(const char* text, int32_t length, int flag) {
  EXPECT_EQ(flag, 0);
  g_low_level.emplace_back(text, static_cast<size_t>(length));
}
void hook_a(const Cell& value, bool newline) {
  g_events.push_back("a" + std::to_string(value.w1) + (newline ? "\\n" : ""));
}
void hook_b(const Cell& value, bool) { g_events.push_back("b" + std::to_string(value.w1)); }

TEST_F(CapturedOutput, StringsAreWrittenAsUtf8WithEscapesUnchanged) {
  const uint8_t latin1[] = {'a', 0xE9, 0x1B, '[', '3', '1', 'm'};
  output::print_string(latin1, sizeof latin1, 1, true);
  const uint16_t ucs2[] = {0x20AC, 0x1B, '[', '0', 'm'};
  output::print_string(ucs2, sizeof ucs2, 2, false);
  const uint32_t ucs4[] = {0x1F600, 'z'};
  output::print_string(ucs4, sizeof ucs4, 4, true);
  EXPECT_EQ(written(), "a\xC3\xA9\x1B[31m\n\xE2\x82\xAC\x1B[0m\xF0\x9F\x98\x80z\n");
}

TEST_F(CapturedOutput, LongStringsArriveWhole) {
  std::vector<uint16_t> text(5000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint16_t>(0x3B1 + i % 20);  // 2-byte UTF-8
  output::print_string(text.data(), text.size() * 2, 2, false);
  const std::string out = written();
  ASSERT_EQ(out.size(), 10000u);
  EXPECT_EQ(out.substr(0, 2), "\xCE\xB1");
}

TEST_F(CapturedOutput, NumbersAndCStringsReachTheLowLevelHooks) {
  g_low_level.clear();
  callbacks::register_hooks(nullptr, record_text);
  output::print_cstring("n=");
  output::print_integer(-42);
  output::print_hex_byte(0x5);
  output::print_hex_word(0xBEEF);
  output::print_float(0.1);
  output::print_float32(1.5f);
  EXPECT_EQ(written(), "n=-42050000BEEF0.11.5");
  EXPECT_EQ(g_low_level, (std::vector<std::string>{"n=", "-42", "05", "0000BEEF", "0.1", "1.5"}));
}

TEST_F(CapturedOutput, TypedPrintWritesValuesBackToBack) {
  runtime::print_line("x", 12, true, 'c', 2.5);
  runtime::print(false, static_cast<unsigned>(7));
  EXPECT_EQ(written(), "x12truec2.5\nfalse7");
}

TEST_F(CapturedOutput, CharacterLiterals) {
  for (uint8_t c : {uint8_t{'a'}, uint8_t{0}, uint8_t{9}, uint8_t{10}, uint8_t{1}, uint8_t{0xE9}})
    output::print_char_literal(c);
  EXPECT_EQ(written(), "#\"a\"#\"^@\"#\"^-\"#\"^/\"#\"^A\"#\"^(E9)\"");
}

TEST_F(CapturedOutput, PrintHooksRunInOrderAndListsGrowByFive) {
  g_events.clear();
  callbacks::register_hooks(hook_a, nullptr);
  callbacks::register_hooks(hook_b, record_text);
  EXPECT_EQ(callbacks::print_hook_count(), 2u);
  EXPECT_EQ(callbacks::text_hook_count(), 1u);
  callbacks::run_first(Cell{0, 7, 0, 0}, true);
  callbacks::run_first(Cell{0, 8, 0, 0}, false);
  EXPECT_EQ(g_events, (std::vector<std::string>{"a7\\n", "b7", "a8", "b8"}));

  for (int i = 0; i < 3; ++i) callbacks::register_hooks(hook_b, nullptr);
  EXPECT_EQ(callbacks::print_hook_capacity(), 5u);
  callbacks::register_hooks(hook_a, nullptr);  // the sixth
  EXPECT_EQ(callbacks::print_hook_count(), 6u);
  EXPECT_EQ(callbacks::print_hook_capacity(), 10u);

  callbacks::unregister_hooks(hook_a, nullptr);  // the first one only
  g_events.clear();
  callbacks::run_first(Cell{0, 1, 0, 0}, false);
  EXPECT_EQ(g_events, (std::vector<std::string>{"b1", "b1", "b1", "b1", "a1"}));
  callbacks::unregister_hooks(nullptr, [](const char*, int32_t, int) {});  // absent: no change
  EXPECT_EQ(callbacks::text_hook_count(), 1u);
}

}  // namespace
}  // namespace kiv
