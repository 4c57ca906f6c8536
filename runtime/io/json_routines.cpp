#include "runtime/io/json_routines.h"

#include <string>

#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/native_args.h"
#include "runtime/io/json_decoder.h"
#include "runtime/io/json_encoder.h"

namespace kiv::json {
namespace {

using native_args::answer;
using native_args::arg;

// [true value] for valid JSON; else [false mark line column too-deep?],
// the mark an offset in characters from the input's index.
Flow decode_text() {
  Rooted<Cell> value;
  Failure failure;
  const bool ok = decode(arg(0), value.val(), failure);
  Val out = block::push_new(5);
  block::append(out, logic::make(ok));
  if (ok) {
    block::append(out, value.get());
  } else {
    block::append(out, integer::make(static_cast<int32_t>(failure.mark)));
    block::append(out, integer::make(static_cast<int32_t>(failure.line)));
    block::append(out, integer::make(static_cast<int32_t>(failure.mark - failure.line_start)));
    block::append(out, logic::make(failure.too_deep));
  }
  return answer(*out);
}

Flow encode_value() {
  EmitOptions options;
  const Cell indent = *arg(1);
  if (cell::is(indent, TypeId::string)) {
    options.pretty = true;
    const NodeId node = series::node_of(indent);
    const uint32_t count = memory::buffer(node)->length();
    for (uint32_t i = std::min(series::index_of(indent), count); i < count; ++i)
      options.indent.push_back(string::char_at(node, i));
  }
  options.ascii = cell::is(*arg(2), TypeId::logic) && arg(2)->w1 != 0;
  return answer(encode(arg(0), options));
}

}  // namespace

void add_routines() {
  routine::add("json-decode",
               R"~("Internal Use Only: the value of JSON text, or where reading stopped" input [string!] return: [block!])~",
               decode_text);
  routine::add("json-encode",
               R"~("Internal Use Only: a value as JSON text" data [any-type!] indent [string! none!] ascii [logic!] return: [string!])~",
               encode_value);
}

}  // namespace kiv::json
