#include "runtime/eval/script.h"

#include <fstream>
#include <sstream>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/lexer.h"

namespace kiv::script {

size_t find_header(std::string_view text) {
  for (size_t at = text.find("Kiv"); at != std::string_view::npos; at = text.find("Kiv", at + 1)) {
    size_t i = at + 3;
    if (text.substr(i, 7) == "/System") i += 7;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
    if (i < text.size() && text[i] == '[') return at;
  }
  return std::string_view::npos;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    Val name = string::push_new(static_cast<uint32_t>(path.size()));
    string::append_utf8(name, path);
    error::raise(error_id::access::cannot_open, *name);
  }
  std::stringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

Val load(std::string_view text) {
  const size_t header = find_header(text);
  if (header == std::string_view::npos) error::raise(error_id::syntax::no_header);
  Val code = lexer::scan(text.substr(header));
  skip_header(code);
  return code;
}

void skip_header(Val code) {
  const bool has_header = cell::is(*code, TypeId::block) && series::index_of(*code) == 0 &&
                          block::count(*code) >= 2 && cell::is(*block::at(*code, 0), TypeId::word) &&
                          symbol::spelling(block::at(*code, 0)->w2) == "Kiv" &&
                          cell::is(*block::at(*code, 1), TypeId::block);
  if (!has_header) error::raise(error_id::syntax::no_header);
  code->w1 += 2;
}

}  // namespace kiv::script
