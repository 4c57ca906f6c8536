// Reading a reply's header lines and decoding its text by its charset.
#include "runtime/io/http_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv::http {
namespace {

std::vector<std::pair<std::string, std::string>> pairs_of(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const HeaderLine& line : header_lines(text)) pairs.emplace_back(line.name, line.value);
  return pairs;
}

TEST(HttpReplyHeaders, SplitsNameAndValueAtTheFirstColon) {
  const std::string text =
      "Content-Type: text/plain\r\n"
      "X-Tight:value\r\n"
      "X-Tabbed:\t \tspaced  \r\n"
      "Location: http://host:8080/a?b=c:d\r\n"
      "no colon here\r\n"
      ": no name\r\n"
      "X-Empty:\r\n"
      "Last: without its line end";
  EXPECT_EQ(pairs_of(text), (std::vector<std::pair<std::string, std::string>>{
                                {"Content-Type", "text/plain"},
                                {"X-Tight", "value"},
                                {"X-Tabbed", "spaced  "},
                                {"Location", "http://host:8080/a?b=c:d"},
                                {"X-Empty", ""},
                                {"Last", "without its line end"},
                            }));
  EXPECT_TRUE(header_lines("").empty());
}

TEST(HttpReplyHeaders, NamesMatchWithoutCase) {
  EXPECT_TRUE(same_name("Content-Type", "content-TYPE"));
  EXPECT_FALSE(same_name("Content-Type", "Content-Typ"));
}

TEST(HttpReplyCharset, IsTheParameterOfTheContentType) {
  const auto charset = [](std::string_view text) { return charset_of(header_lines(text)); };
  EXPECT_EQ(charset("Content-Type: text/html; charset=ISO-8859-1\r\n"), "iso-8859-1");
  EXPECT_EQ(charset("content-type: text/html;charset=\"Windows-1252\"; format=flowed\r\n"), "windows-1252");
  EXPECT_EQ(charset("Content-Type: text/html\r\nX-Charset: charset=latin1\r\n"), "");
  EXPECT_EQ(charset("X-Other: 1\r\n"), "");
}

TEST(HttpReplyCharset, TextIsDecodedToUtf8) {
  EXPECT_EQ(text_to_utf8("caf\xE9", "iso-8859-1"), "caf\xC3\xA9");
  EXPECT_EQ(text_to_utf8("\x80", "windows-1252"), "\xE2\x82\xAC");
  EXPECT_EQ(text_to_utf8(std::string("a\0\xAC\x20", 4), "utf-16le"), "a\xE2\x82\xAC");
  EXPECT_EQ(text_to_utf8("caf\xC3\xA9", "utf-8"), "caf\xC3\xA9");
  EXPECT_EQ(text_to_utf8("caf\xE9", ""), "caf\xE9");
  // A charset the system does not know, or bytes it does not fit: the
  // bytes as they came.
  EXPECT_EQ(text_to_utf8("caf\xE9", "no-such-charset"), "caf\xE9");
  EXPECT_EQ(text_to_utf8("odd", "utf-16le"), "odd");
}

TEST(HttpReplyCharset, TheOutputGrowsAsItNeeds) {
  const std::string euros(100000, '\x80');
  const std::string decoded = text_to_utf8(euros, "windows-1252");
  ASSERT_EQ(decoded.size(), 300000u);
  EXPECT_EQ(decoded.substr(299997), "\xE2\x82\xAC");
}

}  // namespace
}  // namespace kiv::http
