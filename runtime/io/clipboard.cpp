#include "runtime/io/clipboard.h"

#include <time.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/exits.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/native_args.h"
#include "runtime/io/clipboard_bitmap.h"
#include "runtime/io/clipboard_host.h"
#include "runtime/os.h"

namespace kiv::clipboard {
namespace {

using native_args::answer;
using native_args::arg;

constexpr int open_tries = 3;

// The host taken for one read or write, given back on every path.
class Opened {
 public:
  Opened() {
    for (int attempt = 0; attempt < open_tries && !open_; ++attempt) {
      if (attempt > 0) {
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
      }
      open_ = host().open();
      if (!open_) host().pump();
    }
  }
  ~Opened() {
    if (open_) host().close();
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  explicit operator bool() const { return open_; }

 private:
  bool open_ = false;
};

// ---- images ----

constexpr int32_t png_format = 1;  // image::encode's code for PNG

// An image goes on the clipboard as PNG and as a 32-bit bitmap, for the
// programs that read only one of them.
// An image of no pixels gives nothing, so writing it empties the clipboard
// (an empty PNG item would read back as data no decoder takes).
std::vector<Item> image_items(Val image) {
  std::vector<Item> items;
  if (image::pixel_count(*image) == 0) return items;
  if (const std::optional<Cell> png = image::encode(*image, png_format)) {
    items.push_back({std::string(png_type), binary::bytes_from_index(*png)});
  }
  if (const uint32_t* words = image::pixels_of(*image)) {
    Pixels pixels;
    pixels.width = image::width_of(*image);
    pixels.height = image::height_of(*image);
    pixels.argb.assign(words, words + static_cast<size_t>(pixels.width) * pixels.height);
    items.push_back({std::string(bmp_type), encode_bmp_v5(pixels)});
  }
  return items;
}

// An image from the encoded bytes of an image file (PNG, JPEG, GIF, or a
// bitmap the clipboard reader does not know).
Cell image_of(std::string_view, const std::string& bytes) {
  Val binary = stack::push(binary::make(bytes));
  const Cell image = image::load_binary(binary);
  stack::pop(1);
  return image;
}

Cell image_of_pixels(const Pixels& pixels) {
  return image::from_memory(pixels.width, pixels.height, 0, pixels.argb.data());
}

// ---- reading ----

// What a read found, taken out while the clipboard was open; the values
// are made after it is given back.
struct Found {
  enum class Kind { failed, nothing, text, files, encoded_image, bitmap } kind = Kind::nothing;
  std::string type;
  std::string bytes;
};

Found take() {
  const Opened opened;
  if (!opened) return {Found::Kind::failed, {}, {}};
  const std::pair<std::string_view, Found::Kind> order[] = {
      {text_type, Found::Kind::text},          {files_type, Found::Kind::files},
      {png_type, Found::Kind::encoded_image},  {jpeg_type, Found::Kind::encoded_image},
      {gif_type, Found::Kind::encoded_image},  {bmp_type, Found::Kind::bitmap},
  };
  for (const auto& [type, kind] : order) {
    Fetched fetched = host().fetch(type);
    if (fetched.state == Fetched::State::unreadable) return {Found::Kind::failed, {}, {}};
    if (fetched.state == Fetched::State::present) return {kind, std::string(type), std::move(fetched.bytes)};
  }
  return {};
}

// The library's to-kiv-file of a name, or the name as a file! while the
// library is not there. Runs Kiv code.
Cell kiv_file(Val name) {
  const int32_t index = context::find_symbol(context::global(), symbol::make("to-kiv-file"), true);
  const Cell function = index < 0 ? none::make() : *context::slot(context::global(), static_cast<uint32_t>(index));
  if (!cell::is(function, TypeId::function)) {
    Cell file = *name;
    cell::set_type(file, TypeId::file);
    return file;
  }
  const uint32_t depth = stack::depth();
  Val callee = stack::push(function);
  const Cell arguments[] = {*name};
  stack::mark_function(word::unbound("to-kiv-file"), callee->w1, stack::frame::function);
  interpreter::push_arguments(*callee, arguments);
  if (interpreter::call_function(*callee) != Flow::normal) runtime::throw_pending();
  const Cell result = *stack::ArgStack::result();
  stack::pop_frame();
  stack::drop_to(depth);
  return result;
}

Cell file_block(const std::string& list) {
  const std::vector<std::string> paths = decode_uri_list(list);
  Val files = block::push_new(static_cast<uint32_t>(paths.size()));
  for (const std::string& path : paths) {
    const std::u32string code_points = file::from_os_bytes(path);
    Val name = string::push_new(static_cast<uint32_t>(code_points.size()));
    for (const char32_t code_point : code_points) string::append_char(name, code_point);
    Val file = stack::push(kiv_file(name));
    block::append(files, *file);
    stack::pop(2);
  }
  const Cell made = *files;
  stack::pop(1);
  return made;
}

Cell text_of(const std::string& bytes) {
  // Text from other programs may be malformed: such bytes read as U+FFFD.
  Val text = string::push_new(static_cast<uint32_t>(bytes.size()));
  string::append_utf8(text, bytes);
  const Cell made = *text;
  stack::pop(1);
  return made;
}

// ---- writing ----

// The absolute local path (bytes) of a file! or string! in a file list.
std::string absolute_path(const Cell& path) {
  std::string bytes = file::os_path(path);
  if (bytes.find('\0') != std::string::npos) error::raise(error_id::script::invalid_arg, path);
  if (!bytes.starts_with('/')) {
    std::string directory = os::current_dir();
    if (directory.empty() || directory.back() != '/') directory += '/';
    bytes.insert(0, directory);
  }
  return bytes;
}

Item file_list(Val block) {
  std::vector<std::string> paths;
  const uint32_t count = block::count(*block);
  for (uint32_t i = 0; i < count; ++i) {
    const Cell path = *block::at(*block, i);
    if (!cell::is(path, TypeId::file) && !cell::is(path, TypeId::string))
      error::raise(error_id::script::invalid_arg, path);
    paths.push_back(absolute_path(path));
  }
  return {std::string(files_type), encode_uri_list(paths)};
}

Flow read_clipboard() { return answer(read()); }

Flow write_clipboard() { return answer(logic::make(write(arg(0)))); }

}  // namespace

Cell read() {
  const Found found = take();
  switch (found.kind) {
    case Found::Kind::failed:
      return logic::make(false);
    case Found::Kind::nothing:
      return none::make();
    case Found::Kind::text:
      return text_of(found.bytes);
    case Found::Kind::files:
      return file_block(found.bytes);
    case Found::Kind::encoded_image:
      return image_of(found.type, found.bytes);
    case Found::Kind::bitmap: {
      // A bitmap of another pixel format goes to the image decoders whole.
      const std::optional<Pixels> pixels = decode_bmp_v5(found.bytes);
      return pixels ? image_of_pixels(*pixels) : image_of(found.type, found.bytes);
    }
  }
  return none::make();
}

bool write(Val data) {
  std::vector<Item> items;
  switch (cell::type_of(*data)) {
    case TypeId::string:
      items.push_back({std::string(text_type), string::to_utf8(*data)});
      break;
    case TypeId::block:
      items.push_back(file_list(data));
      break;
    case TypeId::image:
      items = image_items(data);
      break;
    case TypeId::none:
      break;
    default:
      error::raise(error_id::script::invalid_arg, *data);
  }
  const Opened opened;
  if (!opened) return false;
  return host().replace(std::move(items));
}

void add_routines() {
  routine::add("read-clipboard", R"~("Return the contents of the system clipboard"
                   return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")~",
               read_clipboard);
  routine::add("write-clipboard", R"~("Write content to the system clipboard"
                   data [any-type!] "string!, block! of files!, an image! or none!"
                   return: [logic!] "indicates success")~", write_clipboard);
}

}  // namespace kiv::clipboard
