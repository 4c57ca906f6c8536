// compress and decompress: the natives over the DEFLATE coder and its zlib
// and gzip framings.
//
// The coders never allocate: they work on C++ buffers here, and the result
// becomes a binary! only once it is complete, so no series moves under them.
//
// compress follows the coders' sizing contract: a first attempt into a
// buffer of the input's length + 32 bytes and, when the stream needs more,
// a second one of the size it reported. decompress decodes in one pass into
// a buffer that grows as the output does, starting from the size the caller
// gives (/size) or the gzip trailer names, so the data is decoded once, not
// measured and decoded again. The output is bounded by the largest series
// length, and a size from the data is believed only as far as the input can
// back it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/error_raise.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/native_args.h"
#include "runtime/eval/natives_system.h"
#include "runtime/io/compression_framing.h"
#include "runtime/io/deflate.h"
#include "runtime/io/inflate.h"

namespace kiv::natives {
namespace {

using namespace native_args;
using compress::Result;

enum class Method { zlib, deflate, gzip };

// The method a word names, whatever the case of its letters; any other
// word raises script/invalid-arg with it.
Method method_of(const Cell& word) {
  const std::string_view name = symbol::spelling(word.w2);
  if (symbol::equal_caseless(name, "zlib")) return Method::zlib;
  if (symbol::equal_caseless(name, "deflate")) return Method::deflate;
  if (symbol::equal_caseless(name, "gzip")) return Method::gzip;
  error::raise(error_id::script::invalid_arg, word);
}

std::span<const uint8_t> view(const std::string& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

Result encode(Method method, std::vector<uint8_t>& out, uint64_t& length, std::span<const uint8_t> input) {
  switch (method) {
    case Method::zlib: return compress::zlib_encode(out.data(), length, input);
    case Method::deflate: return compress::deflate(out.data(), length, input);
    case Method::gzip: return compress::gzip_encode(out.data(), length, input);
  }
  return Result::invalid;
}

Flow answer_bytes(std::span<const uint8_t> bytes) {
  return answer(binary::make({reinterpret_cast<const char*>(bytes.data()), bytes.size()}));
}

}  // namespace

enum class DecompressRefinement { size };

// A text is compressed as its UTF-8 from its index, a binary from its
// index.
Flow native_compress(const int32_t*) {
  const Method method = method_of(*arg(1));
  const Cell data = *arg(0);
  const std::string input = cell::is(data, TypeId::binary) ? binary::bytes_from_index(data) : string::to_utf8(data);
  uint64_t length = input.size() + 32;
  std::vector<uint8_t> out;
  Result result = Result::too_small;
  for (int attempt = 0; attempt < 2 && result == Result::too_small; ++attempt) {
    if (length > compress::max_output) break;
    out.resize(static_cast<size_t>(length));
    result = encode(method, out, length, view(input));
  }
  if (result != Result::done) error::raise(error_id::script::invalid_data, *arg(1));
  out.resize(static_cast<size_t>(length));
  return answer_bytes(out);
}

// /size only sizes the first buffer, and only when it is larger than the
// input (as a measured size would be); gzip data names its own.
Flow native_decompress(const int32_t* refinements) {
  const Method method = method_of(*arg(1));
  const std::string input = binary::bytes_from_index(*arg(0));
  uint64_t hint = 0;
  if (const auto size = refinement_if_used(refinements, DecompressRefinement::size)) {
    const int64_t given = cell::get_int32(**size);
    if (given > static_cast<int64_t>(input.size())) hint = static_cast<uint64_t>(given);
  }
  // DEFLATE expands at most 1,032 times: room beyond that is never needed.
  hint = std::min<uint64_t>(hint, input.size() * uint64_t{1032});

  compress::ByteBuffer out;
  Result result = Result::invalid;
  switch (method) {
    case Method::zlib: result = compress::zlib_decode_append(out, view(input), hint); break;
    case Method::deflate: result = compress::inflate_append(out, view(input), hint).result; break;
    case Method::gzip: result = compress::gzip_decode_append(out, view(input)); break;
  }
  if (result != Result::done) error::raise(error_id::script::invalid_data, *arg(1));
  return answer_bytes(out.view());
}

}  // namespace kiv::natives
