#include "runtime/io/kivbin_routines.h"

#include <string_view>
#include <vector>

#include "runtime/core/series.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/routine.h"
#include "runtime/eval/native_args.h"
#include "runtime/io/kivbin_decoder.h"
#include "runtime/io/kivbin_encoder.h"

namespace kiv::kivbin {
namespace {

using native_args::answer;
using native_args::arg;

Flow as_binary(const std::vector<uint8_t>& bytes) {
  return answer(binary::make(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

Flow encode() { return as_binary(encode_fixed(*arg(0))); }
Flow encode_cp() { return as_binary(encode_compact(*arg(0))); }

// The bytes are copied out first: decoding allocates, and the binary's
// buffer may move.
Flow decode_data() {
  const Cell data = *arg(0);
  const SeriesBuf* buf = memory::buffer(series::node_of(data));
  const uint32_t from = std::min(series::index_of(data), buf->length());
  const std::vector<uint8_t> bytes(buf->head_ptr() + from, buf->tail_ptr());
  Val result = block::push_new(1);
  decode(bytes, result, data);
  return answer(*result);
}

}  // namespace

void add_routines() {
  routine::add("kivbin-encode", R"~("Internal Use Only: a value as KIVBIN of the fixed layout" value [any-type!] return: [binary!])~",
               encode);
  routine::add("kivbin-encode-cp", R"~("Internal Use Only: a value as compact KIVBIN" value [any-type!] return: [binary!])~",
               encode_cp);
  routine::add("kivbin-decode", R"~("Internal Use Only: the values of KIVBIN data" data [binary!] return: [block!])~",
               decode_data);
}

}  // namespace kiv::kivbin
