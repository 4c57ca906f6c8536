// Reading an HTTP reply's header text and body text, in plain C++ terms:
// the header lines by name, the charset that the Content-Type names, and
// the conversion of a text body from that charset to UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv::http {

struct HeaderLine {
  std::string_view name, value;
};

// The "name: value" lines of header text, in order. A value starts after
// the colon and the blanks that follow it (a reply may send none), and
// ends at the line's CR; lines without a name are skipped. The views point
// into `text`.
std::vector<HeaderLine> header_lines(std::string_view text);

// Whether two header names are the same (ASCII case does not count).
bool same_name(std::string_view a, std::string_view b);

// The charset that the last Content-Type line names, lower-cased, without
// quotes; "" when none does.
std::string charset_of(const std::vector<HeaderLine>& lines);

// Text in `charset` as UTF-8. The bytes come back as they are when the
// charset is UTF-8 or empty, unknown to the system, or does not fit them.
std::string text_to_utf8(const std::string& bytes, const std::string& charset);

}  // namespace kiv::http
