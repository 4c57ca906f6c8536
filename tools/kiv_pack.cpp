// kiv-pack SCRIPT OUTPUT: packs a script of the library for the executable.
//
// The executable runs its library at every start. Lexing the library's
// text took a third of the start-up time, so the build lexes each file
// once, here, and writes its values as a compact KIVBIN file, which the
// executable embeds and decodes instead (runtime/eval/library_loader.cpp).
// Before writing, the values are decoded back and compared with the
// lexer's, so that a file the executable embeds always stands for its text.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/core/exits.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/eval/script.h"
#include "runtime/init.h"
#include "runtime/io/kivbin_decoder.h"
#include "runtime/io/kivbin_encoder.h"
#include "runtime/mold.h"
#include "runtime/platform.h"

namespace {

using namespace kiv;

std::string molded(Val value) {
  Val out = string::push_new(1024);
  mold::mold_value(value, out, MoldOptions{.all = true}, 1 << 30);
  std::string text = string::to_utf8(*out);
  stack::pop(1);
  return text;
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "kiv-pack: %s\n", why.c_str());
  std::exit(1);
}

// The packed bytes of the script `path`, checked.
std::vector<uint8_t> pack(const std::string& path) {
  const std::string text = script::read_file(path);
  Val code = script::load(text);
  Cell whole = *code;
  whole.w1 = 0;  // from the header on: the loader skips it as load does
  std::vector<uint8_t> bytes = kivbin::encode_compact(whole);

  Val decoded = block::push_new(1);
  kivbin::decode(bytes, decoded, none::make());
  if (block::count(*decoded) != 1) fail(path + ": the packed file does not hold one block");
  Val back = stack::push(*block::at(*decoded, 0));
  script::skip_header(back);
  if (molded(back) != molded(code)) fail(path + ": the packed values differ from the lexed ones");
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kiv-pack SCRIPT OUTPUT\n");
    return 2;
  }
  runtime::state = runtime::State{};
  runtime::record_stack_bounds();
  runtime::init();
  runtime::state.boot_flag = false;
  std::vector<uint8_t> bytes;
  try {
    bytes = pack(argv[1]);
  } catch (const Unwind&) {
    fail(std::string(argv[1]) + ": the script does not load");
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fail(std::string("cannot write ") + argv[2]);
  return 0;
}
