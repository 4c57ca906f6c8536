#include "runtime/eval/base_routines_system.h"

#include <cerrno>
#include <fstream>
#include <string>
#include <string_view>
#include <algorithm>
#include <optional>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "build_info.h"
#include "runtime/console_output.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series_type.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/native_args.h"
#include "runtime/mold.h"
#include "runtime/os.h"

namespace kiv::base_routines {
namespace {

using native_args::answer;
using native_args::arg;

// ---- files and directories ----

// The local path of a file! argument (POSIX: its text, from its index), or
// nothing when the system cannot take it (a NUL inside).
// The bytes of a path for the system's calls (raw bytes of names that are
// not UTF-8 included); none for a path with a NUL, which no call can take.
std::optional<std::string> local_path(const Cell& file) {
  std::string path = file::os_path(file);
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

// The current directory in local form, ending with "/".
Flow get_current_dir() {
  std::string directory = os::current_dir();
  if (directory.empty() || directory.back() != '/') directory += '/';
  Val text = string::push_new(static_cast<uint32_t>(directory.size()));
  string::append_utf8(text, directory);
  return answer(*text);
}

Flow set_current_dir() {
  const std::optional<std::string> path = local_path(*arg(0));
  if (!path || !os::set_current_dir(path->c_str())) error::raise(error_id::access::cannot_open, *arg(0));
  return answer(*arg(0));
}

Flow create_dir() {
  const std::optional<std::string> path = local_path(*arg(0));
  if (!path || ::mkdir(path->c_str(), 0777) != 0) error::raise(error_id::access::no_create, *arg(0));
  return answer(*arg(0));
}

Flow exists_q() {
  const std::optional<std::string> path = local_path(*arg(0));
  struct stat info {};
  return answer(logic::make(path && ::stat(path->c_str(), &info) == 0));
}

// ---- the OS description ----

// PRETTY_NAME of /etc/os-release without its quotes, or "Linux".
std::string distribution_name() {
  std::ifstream file("/etc/os-release");
  std::string line;
  constexpr std::string_view key = "PRETTY_NAME=";
  while (std::getline(file, line)) {
    if (!line.starts_with(key)) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (!value.empty()) return value;
  }
  return "Linux";
}

std::string_view architecture(std::string_view machine) {
  if (machine == "x86_64") return "x86-64";
  if (machine == "aarch64" || machine == "arm64") return "ARM64";
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
  if (machine.starts_with("arm")) return "ARM";
  if (machine == "ia64") return "IA-64";
  return "Unknown";
}

// The leading decimal number of `text` from `at` (0 when there is none),
// capped at `limit`; `at` moves past it.
uint32_t read_number(std::string_view text, size_t& at, uint32_t limit) {
  uint32_t value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    value = std::min(limit, value * 10 + static_cast<uint32_t>(text[at] - '0'));
    ++at;
  }
  return value;
}

void add_field(Val object, std::string_view name, const Cell& value) {
  const uint32_t symbol = word::intern(name).w2;
  const uint32_t index = context::add_symbol(object->w1, symbol, false);
  *context::slot(object->w1, index) = value;
}

// name: the distribution; arch: the machine word; version: the kernel's
// major.minor.patch; build: the number after the kernel release's first
// "-" (the distribution's build of that kernel), else 0.
Flow os_info() {
  struct utsname system {};
  ::uname(&system);
  const std::string release = system.release;
  size_t at = 0;
  uint8_t version[3] = {};
  for (int i = 0; i < 3; ++i) {
    version[i] = static_cast<uint8_t>(read_number(release, at, 255));
    if (at < release.size() && release[at] == '.') ++at;
  }
  const size_t dash = release.find('-');
  size_t build_at = dash == std::string::npos ? release.size() : dash + 1;
  const auto build = static_cast<int32_t>(read_number(release, build_at, 0x7FFFFFFF));

  Val object = object::push_new(4);
  Val name = string::push_new(32);
  string::append_utf8(name, distribution_name());
  add_field(object, "name", *name);
  stack::pop(1);
  add_field(object, "arch", word::unbound(architecture(system.machine)));
  Cell tuple{cell::header(TypeId::tuple) | (3u << 19), 0, 0, 0};
  auto* bytes = reinterpret_cast<uint8_t*>(&tuple.w1);
  for (const uint8_t byte : version) *bytes++ = byte;
  add_field(object, "version", tuple);
  add_field(object, "build", integer::make(build));
  return answer(*object);
}

// ---- UTF-8 in binaries ----

// Characters between two positions of one binary: each sequence counted
// once, by its lead byte, and never stepped past `pos` or the tail. `pos`
// before `start` counts 0; two different buffers are refused.
Flow count_chars() {
  const Cell start = *arg(0);
  const Cell pos = *arg(1);
  if (series::node_of(start) != series::node_of(pos)) error::raise(error_id::script::invalid_arg, pos);
  const uint32_t from = series_type::head(start);
  const uint32_t to = std::min(series_type::head(pos), series_type::total(start));
  const auto* bytes = reinterpret_cast<const uint8_t*>(memory::buffer(series::node_of(start))->head_ptr());
  int32_t count = 0;
  for (uint32_t at = from; at < to; ++count) {
    const uint8_t lead = bytes[at];
    const uint32_t size = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    at += std::min(size, to - at);
  }
  return answer(integer::make(count));
}

// ---- standard output ----

// A string as UTF-8 (line ends as they are), a binary's bytes as they are,
// any other value molded.
Flow write_stdout() {
  Val data = arg(0);
  std::string text;
  if (cell::is(*data, TypeId::string)) {
    text = string::to_utf8(*data);
  } else if (cell::is(*data, TypeId::binary)) {
    text = binary::bytes_from_index(*data);
  } else {
    Val out = string::push_new(64);
    mold::mold_value(data, out, {}, 1 << 30);
    text = string::to_utf8(*out);
  }
  output::flush();
  if (!os::write_all(STDOUT_FILENO, text.data(), text.size())) output::standard_output_failed(errno);
  return answer(unset::make());
}

// ---- the build ----

// build-info: [build-seconds git-seconds commit message], the seconds
// since 1970 in UTC; the git fields none when the build had no checkout.
Flow build_info() {
  Val block = block::push_new(4);
  const auto append_text = [&](std::string_view text) {
    Val value = string::push_new(static_cast<uint32_t>(text.size()));
    string::append_utf8(value, text);
    block::append(block, *value);
    stack::pop(1);
  };
  const auto seconds = [](int64_t value) { return integer::make(static_cast<int32_t>(value)); };
  block::append(block, seconds(build_info::build_seconds));
  if (build_info::git_seconds < 0) {
    for (int i = 0; i < 3; ++i) block::append(block, none::make());
  } else {
    block::append(block, seconds(build_info::git_seconds));
    append_text(build_info::git_commit);
    append_text(build_info::git_message);
  }
  return answer(*block);
}

// ---- the float formatter's switches ----

// float-switch 'pretty? flag, float-switch 'full? flag; other names change
// nothing.
Flow float_switch() {
  const std::string_view name = symbol::spelling(symbol::resolve(arg(0)->w2));
  const bool on = logic::is_true(*arg(1));
  if (name == "pretty?") float_::options().pretty = on ? float_text::Pretty::on : float_text::Pretty::off;
  else if (name == "full?") float_::options().full = on;
  return answer(unset::make());
}

}  // namespace

void add_system() {
  routine::add("get-current-dir", R"~("Returns the platform's current directory for the process")~", get_current_dir);
  routine::add("set-current-dir", R"~("Sets the platform's current process directory" path [file!])~",
               set_current_dir);
  routine::add("create-dir", R"~("Create the given directory" path [file!])~", create_dir);
  routine::add("exists?", R"~("Returns TRUE if the file exists" path [file!] return: [logic!])~", exists_q);
  routine::add("os-info", R"~("Returns detailed operating system version information")~", os_info);
}

void add_count_chars() {
  routine::add("count-chars", R"~("Count UTF-8 encoded characters between two positions in a binary series"
                   start [binary!] pos [binary!] return: [integer!])~", count_chars);
}

void add_stdout() {
  routine::add("write-stdout", R"~("Write data to STDOUT" data [any-type!])~", write_stdout);
}

void add_system_switches() {
  routine::add("build-info", R"~("Internal Use Only: when the program was built, and from which commit" return: [block!])~",
               build_info);
  routine::add("float-switch", R"~("Internal Use Only: sets a switch of the float formatter" name [word!] on [any-type!])~",
               float_switch);
}

}  // namespace kiv::base_routines
