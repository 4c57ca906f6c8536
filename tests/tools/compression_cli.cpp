// Runs the compression coders over standard input for the oracle tests:
//   compression_cli encode|decode zlib|deflate|gzip < input > output
// Exits 0 with the result on standard output, or 1 with the result code on
// standard error.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string_view>
#include <vector>

#include "runtime/io/compression_framing.h"
#include "runtime/io/deflate.h"
#include "runtime/io/inflate.h"

using namespace kiv::compress;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: compression_cli encode|decode zlib|deflate|gzip\n";
    return 2;
  }
  const std::string_view action = argv[1], method = argv[2];
  std::ios::sync_with_stdio(false);
  const std::vector<uint8_t> input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  ByteBuffer out;
  Result result = Result::invalid;
  if (action == "encode") {
    uint64_t length = deflate_bound(input.size()) + gzip_overhead;
    if (!out.resize(length)) return 1;
    if (method == "zlib") result = zlib_encode(out.data(), length, input);
    else if (method == "deflate") result = deflate(out.data(), length, input);
    else if (method == "gzip") result = gzip_encode(out.data(), length, input);
    (void)out.resize(length);
  } else if (action == "decode") {
    if (method == "zlib") result = zlib_decode_append(out, input, 0);
    else if (method == "deflate") result = inflate_append(out, input, 0).result;
    else if (method == "gzip") result = gzip_decode_append(out, input);
  }
  if (result != Result::done) {
    std::cerr << "result " << static_cast<int>(result) << "\n";
    return 1;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
