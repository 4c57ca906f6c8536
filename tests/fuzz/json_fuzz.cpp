// The JSON reader over text from outside. A value it reads is written by
// the JSON writer, plain and in the pretty ASCII-only layout, and each text
// must read as a value of the same mold, but for one loss the writer means
// to make: a number too large for a float reads as an infinity, which JSON
// cannot write, so it is written as null.
#include <string>
#include <string_view>

#include "runtime/core/stack.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/json_decoder.h"
#include "runtime/io/json_encoder.h"
#include "tests/fuzz/fuzz_runtime.h"
#include "tests/fuzz/mold_text.h"

using namespace kiv;

namespace {

// The mold with each infinity spelled as none is.
std::string mold_as_written(const Cell& value) {
  static const std::string none = fuzz::mold_text(Cell{cell::header(TypeId::none), 0, 0, 0});
  std::string text = fuzz::mold_text(value);
  for (const std::string_view infinity : {"-1.#INF", "1.#INF"}) {
    for (size_t at = text.find(infinity); at != std::string::npos; at = text.find(infinity, at))
      text.replace(at, infinity.size(), none);
  }
  return text;
}

void round_trip(Val first, const json::EmitOptions& options, const char* layout) {
  const std::string expected = mold_as_written(*first);
  Val text = stack::push_slot();
  // The reader's depth limit is the writer's: what it read must write.
  if (!fuzz::run([&] { *text = json::encode(first, options); }))
    fuzz::fail(std::string("a value read does not write: ") + layout);
  Val second = stack::push_slot();
  json::Failure failure;
  bool read = false;
  if (!fuzz::run([&] { read = json::decode(text, second, failure); }) || !read)
    fuzz::fail(std::string("written JSON does not read: ") + layout + "\n" + string::to_utf8(*text));
  if (mold_as_written(*second) != expected)
    fuzz::fail(std::string("the round trip changes the value: ") + layout + "\n" + string::to_utf8(*text));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::start_runtime();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);  // loading allocates
  fuzz::run([&] {
    Val input = stack::push(string::load(bytes, string::Encoding::utf8));
    Val first = stack::push_slot();
    json::Failure failure;
    if (!json::decode(input, first, failure)) {
      if (failure.mark > string::length(*input) || failure.line_start > failure.mark)
        fuzz::fail("the failure points past the text");
      return;
    }
    json::EmitOptions pretty;
    pretty.pretty = true;
    pretty.indent = U"\t";
    pretty.ascii = true;
    round_trip(first, {}, "plain");
    round_trip(first, pretty, "pretty ascii");
  });
  return 0;
}
