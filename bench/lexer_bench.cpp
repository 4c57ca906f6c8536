// Lexing speed: scans a few megabytes of generated Kiv source and prints
// the rate in MB/s (best of five runs).
#include <chrono>
#include <cstdio>
#include <string>

#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/eval/lexer.h"
#include "runtime/init.h"
#include "runtime/platform.h"

namespace {

// Mixed code: words of every kind, numbers, strings, blocks, paths.
std::string generated_source(size_t bytes) {
  const char* lines[] = {
      "total: total + price * quantity ; a comment\n",
      "if all [x > 10 y <= 20.5] [print [\"over\" x/1 :y 'z]]\n",
      "data: [name \"Ada\" age 36 tags [#one #two] ratio 12.5% when 3-Jan-2026]\n",
      "point: 10x20 color: 255.128.0 cost: $12.50 mail: user@example.org\n",
      "f: func [a [integer!] /with b] [either with [a + b] [a * 2]]\n",
      "s: {a long string with \"quotes\" and ^/ escapes} url: http://example.org/a?b=c\n",
      "bin: #{DEADBEEF} file: %dir/file.txt tag: <b> char: #\"x\" time: 12:30:45\n",
  };
  std::string text;
  for (size_t i = 0; text.size() < bytes; ++i) text += lines[i % (sizeof lines / sizeof *lines)];
  return text;
}

}  // namespace

int main() {
  kiv::runtime::record_stack_bounds();
  kiv::runtime::init();
  kiv::runtime::state.boot_flag = false;
  const std::string source = generated_source(5u << 20);
  double best = 0;
  for (int run = 0; run < 5; ++run) {
    const uint32_t depth = kiv::stack::depth();
    const auto start = std::chrono::steady_clock::now();
    kiv::lexer::scan(source);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    kiv::stack::drop_to(depth);
    const double rate = static_cast<double>(source.size()) / (1 << 20) / took.count();
    if (rate > best) best = rate;
  }
  std::printf("lexing %.1f MB of source: %.1f MB/s\n", static_cast<double>(source.size()) / (1 << 20), best);
  return 0;
}
