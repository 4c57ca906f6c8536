// Times the compression coders on a file, the way compress and decompress
// use them:
//   compression_bench decode-zlib FILE [runs [OUT]]   zlib stream -> bytes
//   compression_bench encode-zlib FILE [runs [OUT]]   bytes -> zlib stream
// OUT, when given, gets the output of the last run.
// Prints the best processor time of the runs in seconds and the output size.
// bench/compression.py runs it beside Python's zlib on the same data.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>
#include <string_view>
#include <vector>

#include "runtime/io/compression_framing.h"
#include "runtime/io/deflate.h"

using namespace kiv::compress;

// Processor time, not wall time: on a shared machine other loads stretch
// the wall clock of both sides unevenly.
double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: compression_bench decode-zlib|encode-zlib FILE [runs]\n");
    return 2;
  }
  const std::string_view action = argv[1];
  std::ifstream file(argv[2], std::ios::binary);
  const std::vector<uint8_t> input{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  double best = 1e9;
  size_t size = 0;
  ByteBuffer last;
  for (int run = 0; run < runs; ++run) {
    const double start = cpu_seconds();
    ByteBuffer out;
    Result result = Result::invalid;
    if (action == "decode-zlib") {
      result = zlib_decode_append(out, input, 0);
    } else {
      // As compress does: a first buffer of the input's size + 32.
      uint64_t length = input.size() + 32;
      if (!out.resize(length)) return 1;
      result = zlib_encode(out.data(), length, input);
      if (result == Result::too_small) {
        if (!out.resize(length)) return 1;
        result = zlib_encode(out.data(), length, input);
      }
      (void)out.resize(length);
    }
    const double seconds = cpu_seconds() - start;
    if (result != Result::done) {
      std::fprintf(stderr, "result %d\n", static_cast<int>(result));
      return 1;
    }
    best = std::min(best, seconds);
    size = out.size();
    last = std::move(out);
  }
  if (argc > 4) {
    std::ofstream(argv[4], std::ios::binary).write(reinterpret_cast<const char*>(last.data()), static_cast<std::streamsize>(last.size()));
  }
  std::printf("%.4f %zu\n", best, size);
  return 0;
}
