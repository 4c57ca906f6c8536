#include "runtime/datatypes/file_io.h"

#include <cmath>
#include <ctime>
#include <string>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/lexer.h"
#include "runtime/mold.h"
#include "runtime/os_files.h"

namespace kiv::file_io {
namespace {

namespace files = os::files;

[[noreturn]] void cannot_open(Val file) { error::raise(error_id::access::cannot_open, *file); }

Cell refinement_word(std::string_view name) {
  return word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
}

// Whether the path names a directory by its form: it ends with "/", or it
// is "." or "..", or ends with "/." or "/..".
bool dir_path(const std::string& path) {
  if (path.empty()) return false;
  if (path.back() == '/') return true;
  return path == "." || path == ".." || path.ends_with("/.") || path.ends_with("/..");
}

// A count or offset of read: an integer, or a float cut to one. Absent: -1.
int64_t byte_count(const std::optional<Val>& given, std::string_view refinement) {
  if (!given) return -1;
  const Cell value = **given;
  if (cell::is(value, TypeId::integer)) return cell::get_int32(value);
  if (cell::is(value, TypeId::float_)) {
    const double number = cell::get_double(value);
    if (std::isfinite(number) && std::fabs(number) < 9.0e15) return static_cast<int64_t>(number);
  }
  error::raise(error_id::script::invalid_refine_arg, refinement_word(refinement), value);
}

// Pushes a new file! of a name the system gave (its bytes kept when not
// UTF-8).
Val push_file_of_name(std::string_view name) {
  const std::u32string code_points = file::from_os_bytes(name);
  Val text = string::push_new(static_cast<uint32_t>(code_points.size()));
  for (const char32_t code_point : code_points) string::append_char(text, code_point);
  cell::set_type(*text, TypeId::file);
  return text;
}

void read_dir(Val target, const std::string& path) {
  const files::Listing listing = files::list_dir(path);
  if (listing.error != 0) cannot_open(target);
  Val names = block::push_new(static_cast<uint32_t>(listing.names.size()));
  for (const std::string& name : listing.names) {
    Val file = push_file_of_name(name);  // held while the block grows
    block::append(names, *file);
    stack::pop(1);
  }
  *target = *names;
  stack::pop(1);
}

// The lines of text: each LF ends a line, less a CR just before it; the
// bytes after the last LF, when there are any, make the last line.
Cell lines_of(const std::string& bytes) {
  Val lines = block::push_new(16);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    const size_t next = end == std::string::npos ? bytes.size() : end + 1;
    if (end == std::string::npos) end = bytes.size();
    else if (end > start && bytes[end - 1] == '\r') --end;
    Val line = stack::push(string::load(std::string_view(bytes).substr(start, end - start), string::Encoding::utf8));
    block::append(lines, *line);
    stack::pop(1);
    start = next;
  }
  const Cell made = *lines;
  stack::pop(1);
  return made;
}

void read(Val target, const ReadOptions& options) {
  if (options.as) error::raise(error_id::internal::not_done);
  const std::string path = file::os_path(*target);
  if (dir_path(path)) return read_dir(target, path);
  const int64_t part = byte_count(options.part, "part");
  const int64_t seek = byte_count(options.seek, "seek");
  files::ReadResult result = files::read_file(path, seek, part);
  if (result.error != 0) cannot_open(target);
  if (options.binary) *target = binary::make(result.bytes);
  else if (options.lines) *target = lines_of(result.bytes);
  else *target = string::load(result.bytes, string::Encoding::utf8);
}

// The bytes `write` sends for one value: a string's UTF-8 (at most `part`
// characters), a binary's bytes (at most `part`), any other value molded.
std::string bytes_of(Val value, int64_t part) {
  if (cell::is(*value, TypeId::binary)) {
    std::string bytes = binary::bytes_from_index(*value);
    if (part >= 0 && static_cast<uint64_t>(part) < bytes.size()) bytes.resize(static_cast<size_t>(part));
    return bytes;
  }
  Val text = value;
  if (!cell::is(*value, TypeId::string)) {
    text = string::push_new(32);
    mold::mold_value(value, text, {}, 0x7FFFFFFF);
  }
  Cell cut = *text;
  if (part >= 0 && part < string::length(cut)) {
    // Only the first `part` characters: the UTF-8 of a shortened view.
    const std::u32string kept = [&] {
      std::u32string chars;
      const uint32_t from = series::index_of(cut);
      for (uint32_t i = 0; i < part; ++i) chars.push_back(string::char_at(series::node_of(cut), from + i));
      return chars;
    }();
    Val shorter = string::push_new(static_cast<uint32_t>(kept.size()));
    for (const char32_t c : kept) string::append_char(shorter, c);
    cut = *shorter;
  }
  return string::to_utf8(cut);
}

void write(Val target, Val data, const WriteOptions& options) {
  if (options.allow || options.as) error::raise(error_id::internal::not_done);
  int64_t part = -1;
  if (options.part) {
    if (!cell::is(**options.part, TypeId::integer))
      error::raise(error_id::script::invalid_refine_arg, refinement_word("part"), **options.part);
    part = cell::get_int32(**options.part);
    if (part < 0) {
      *target = integer::make(-1);
      return;
    }
  }
  const int64_t seek = byte_count(options.seek, "seek");
  const uint32_t depth = stack::depth();
  std::string bytes;
  if (options.lines && cell::is(*data, TypeId::block)) {
    const uint32_t count = block::count(*data);
    for (uint32_t i = 0; i < count; ++i) {
      Val item = stack::push(*block::at(*data, i));
      bytes += bytes_of(item, -1);
      bytes += '\n';
      stack::drop_to(depth);
    }
  } else {
    bytes = bytes_of(data, part);
    if (options.lines) bytes += '\n';
  }
  stack::drop_to(depth);
  const files::WriteMode mode = options.append ? files::WriteMode::append
                                : seek >= 0    ? files::WriteMode::at_offset
                                               : files::WriteMode::replace;
  if (files::write_file(file::os_path(*target), bytes, mode, seek) != 0) cannot_open(target);
  *target = bytes.size() <= 0x7FFFFFFF ? integer::make(static_cast<int32_t>(bytes.size())) : none::make();
}

// An object of name, size, date and type over system/standard/file-info,
// or of those four fields when the system object has none.
Val push_file_info() {
  const char* source =
      "either all [value? 'system object? system object? system/standard object? system/standard/file-info]"
      " [make system/standard/file-info []] [make object! [name: size: date: type: none]]";
  Val code = lexer::scan(source);
  if (interpreter::eval_block(*code, false) != Flow::normal) runtime::throw_pending();
  const Cell made = *stack::last();
  stack::pop(2);
  return stack::push(made);
}

void set_field(Val object, std::string_view name, const Cell& value) {
  const int32_t index = object::find_field(*object, symbol::make(name));
  if (index >= 0) *context::slot(object->w1, static_cast<uint32_t>(index)) = value;
}

// A modification time as a date! with its time, in the local zone.
Cell local_date(int64_t seconds, int32_t nanoseconds) {
  const time_t moment = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&moment, &local) == nullptr) return none::make();
  // Zones past the date's +-15:45 do not occur; a whole-quarter offset is
  // what the date stores.
  const int32_t offset_minutes = static_cast<int32_t>(local.tm_gmtoff / 60);
  if (offset_minutes < -(15 * 60 + 45) || offset_minutes > 15 * 60 + 45) return none::make();
  const int64_t local_seconds = seconds + offset_minutes * 60;
  const int64_t day = local_seconds >= 0 ? local_seconds / 86400 : -((-local_seconds + 86399) / 86400);
  const double time_of_day = static_cast<double>(local_seconds - day * 86400) + nanoseconds / 1e9;
  return date::make_from_days(date::epoch_day + day, true, time_of_day, date::zone_code(offset_minutes));
}

void query(Val target) {
  const files::Facts facts = files::query(file::os_path(*target));
  if (facts.error != 0) {
    *target = none::make();
    return;
  }
  const uint32_t depth = stack::depth();
  Val info = push_file_info();
  set_field(info, "name", *target);
  Cell size{cell::header(TypeId::integer), 0, static_cast<uint32_t>(facts.size), 0};
  if (facts.size > 0x7FFFFFFF) {
    size = Cell{cell::header(TypeId::float_), 0, 0, 0};
    cell::set_double(size, static_cast<double>(facts.size));
  }
  set_field(info, "size", size);
  set_field(info, "date", local_date(facts.modified_seconds, facts.modified_nanoseconds));
  set_field(info, "type", word::make(TypeId::word, no_node, symbol::make(facts.directory ? "dir" : "file"), word::unresolved));
  *target = *info;
  stack::drop_to(depth);
}

void delete_file(Val target) {
  const std::string path = file::os_path(*target);
  *target = logic::make(files::remove(path, dir_path(path)) == 0);
}

void rename(Val from, Val to) {
  *from = logic::make(files::rename(file::os_path(*from), file::os_path(*to)) == 0);
}

}  // namespace

Cell lines_to_block(const std::string& bytes) { return lines_of(bytes); }

void register_actions() {
  datatype::supply_actions(TypeId::file,
                           {.delete_ = delete_file, .query = query, .read = read, .rename = rename, .write = write});
}

}  // namespace kiv::file_io
