#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/image_record.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/imaging/bitmap.h"
#include "runtime/imaging/codecs.h"
#include "runtime/console_output.h"
#include "runtime/mold.h"
#include "runtime/os_files.h"
#include "runtime/ownership.h"

namespace kiv::image {
namespace {

using image_os::Bitmap;
using ownership::Change;
using ownership::ChangeReport;

// ---- cells and bitmaps ----

Cell make_cell(NodeId record, uint32_t width, uint32_t height) {
  return Cell{cell::header(TypeId::image), 0, record, image_os::size_word(width, height)};
}

// A new image! holding `bitmap`; a null bitmap gives an image of the given
// size without pixels. May collect.
Cell from_bitmap(std::unique_ptr<Bitmap> bitmap, uint32_t width = 0, uint32_t height = 0) {
  if (!bitmap || bitmap->count() == 0) return make_cell(no_node, width, height);
  width = bitmap->width;
  height = bitmap->height;
  const NodeId record = image_os::make_node(std::move(bitmap));
  return make_cell(record, width, height);
}

// The bitmap of an image, or null for one without pixels. Valid until the
// collector runs.
Bitmap* bitmap_of(const Cell& image) {
  const NodeId record = series::node_of(image);
  return record == no_node ? nullptr : &image_os::bitmap_of(record);
}

uint32_t head_of(const Cell& image) { return std::min(image.w1, pixel_count(image)); }

// A change notification for an image that has pixels (only those can have
// an owner).
struct ImageChange {
  std::optional<ChangeReport> report;
  ImageChange(Val image, uint32_t index, std::optional<Val> value) {
    if (series::node_of(*image) == no_node) return;
    if (value) report.emplace(image, Change::change, index, 1, *value);
    else report.emplace(image, Change::change, index, 1);
  }
  void done(Val image, uint32_t index, uint32_t count) {
    if (report) report->done(index, count);
    if (series::node_of(*image) != no_node) image_os::mark_changed(series::node_of(*image));
  }
};

[[noreturn]] void invalid_arg(const Cell& value) { error::raise(error_id::script::invalid_arg, value); }

[[noreturn]] void invalid_refine(std::string_view name, const Cell& value) {
  const Cell refinement = word::make(TypeId::refinement, no_node, symbol::make(name), word::unresolved);
  error::raise(error_id::script::invalid_refine_arg, refinement, value);
}

// ---- positions ----

struct Position {
  uint32_t index;     // clamped to 0..width x height
  bool out_of_range;
};

// The pixel index a position names (an integer, or a pair), from the head,
// counted from `base` (1 or 0).
Position index_of(const Cell& image, const Cell& position, int base) {
  const int64_t width = width_of(image), height = height_of(image), count = pixel_count(image);
  int64_t e = 0;
  bool out = false;
  if (cell::is(position, TypeId::integer)) {
    e = integer::get(position);
  } else if (cell::is(position, TypeId::pair)) {
    const int64_t x = pair::x_of(position), y = pair::y_of(position);
    e = base == 1 && y > 0 ? x + width * (y - 1) : x + width * y;
    out = base == 1 ? (x <= 0 || y <= 0 || x > width || y > height) : (x < 0 || y < 0 || x >= width || y >= height);
  } else {
    invalid_arg(position);
  }
  int64_t index = e + head_of(image) - base;
  if (base == 1 && e <= 0) ++index;
  out = out || e == 0 || index < 0 || index >= count;
  return {static_cast<uint32_t>(std::clamp<int64_t>(index, 0, count)), out};
}

// ---- pixels and colours ----

uint32_t channel(uint32_t pixel, int shift) { return (pixel >> shift) & 0xFF; }

void write_pixel(Val image, uint32_t index, uint32_t pixel, Val value) {
  ImageChange change(image, index, value);
  bitmap_of(*image)->pixels[index] = pixel;
  change.done(image, index, 1);
}

// ---- bulk views ----

Mode mode_named(std::string_view name, bool* found) {
  *found = true;
  if (symbol::equal_caseless(name, "alpha")) return Mode::alpha;
  if (symbol::equal_caseless(name, "rgb")) return Mode::rgb;
  if (symbol::equal_caseless(name, "argb")) return Mode::argb;
  *found = false;
  return Mode::argb;
}

// ---- make and to ----

// A new image of the given size; with a fill colour every pixel takes it,
// else pixel after pixel takes the next RGB triplet (white once they run
// out) and A = 255 - the next alpha byte (opaque once they run out).
Cell make_filled(int64_t width, int64_t height, const Cell* fill, const std::string* rgb, const std::string* alpha) {
  width = std::max<int64_t>(width, 0);
  height = std::max<int64_t>(height, 0);
  if (width > image_os::max_side || height > image_os::max_side) error::raise(error_id::internal::no_memory);
  const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  if (w == 0 || h == 0) return make_cell(no_node, w, h);
  auto bitmap = image_os::new_bitmap(w, h, fill ? tuple_to_pixel(*fill) : 0xFFFFFFFFu);
  if (!fill) {
    const size_t triplets = rgb ? rgb->size() / 3 : 0;
    const size_t alphas = alpha ? alpha->size() : 0;
    for (size_t i = 0; i < bitmap->pixels.size(); ++i) {
      uint32_t pixel = 0x00FFFFFF;
      if (i < triplets) {
        const auto* p = reinterpret_cast<const uint8_t*>(rgb->data() + i * 3);
        pixel = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
      }
      const uint32_t a = i < alphas ? 255u - static_cast<uint8_t>((*alpha)[i]) : 255u;
      bitmap->pixels[i] = a << 24 | pixel;
    }
  }
  return from_bitmap(std::move(bitmap));
}

Cell copy_image(const Cell& image);

void to_value(Val result, Val spec, TypeId) {
  if (cell::is(*spec, TypeId::image)) {
    *result = copy_image(*spec);
    return;
  }
  // An object would be a face to capture; there is no window system to
  // capture it from here.
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::image), *spec);
}

void make_value(Val result, Val spec, TypeId type) {
  if (cell::is(*spec, TypeId::pair)) {
    *result = make_filled(pair::x_of(*spec), pair::y_of(*spec), nullptr, nullptr, nullptr);
    return;
  }
  if (!cell::is(*spec, TypeId::block)) {
    to_value(result, spec, type);
    return;
  }
  const uint32_t count = block::count(*spec);
  if (count == 0) {
    if (!cell::is(*result, TypeId::image)) invalid_arg(*spec);
    *result = copy_image(*result);
    return;
  }
  const Cell size = *block::at(*spec, 0);
  if (!cell::is(size, TypeId::pair)) invalid_arg(*spec);
  std::optional<Cell> fill;
  std::optional<std::string> rgb, alpha;
  if (count > 1) {
    const Cell second = *block::at(*spec, 1);
    if (cell::is(second, TypeId::binary)) rgb = binary::bytes_from_index(second);
    else if (cell::is(second, TypeId::tuple)) fill = second;
    else invalid_arg(*spec);
  }
  if (count > 2) {
    const Cell third = *block::at(*spec, 2);
    if (!cell::is(third, TypeId::binary)) invalid_arg(*spec);
    alpha = binary::bytes_from_index(third);
  }
  *result = make_filled(pair::x_of(size), pair::y_of(size), fill ? &*fill : nullptr, rgb ? &*rgb : nullptr,
                        alpha ? &*alpha : nullptr);
}

// ---- form and mold ----

constexpr char hex_digits[] = "0123456789ABCDEF";

void put_hex(std::string& text, uint32_t byte) {
  text += hex_digits[(byte >> 4) & 15];
  text += hex_digits[byte & 15];
}

int32_t mold_image(Val value, Val out, const MoldOptions& options, int32_t part, bool molding) {
  const Cell image = *value;
  const int32_t level = options.indent + (molding ? 1 : 0);
  std::string text;
  if (!options.only) text += "make image! [";
  text += std::to_string(width_of(image)) + "x" + std::to_string(height_of(image));
  part = mold::emit(out, text, part);
  text.clear();
  const Bitmap* bitmap = bitmap_of(image);
  const uint32_t head = head_of(image), count = pixel_count(image);
  if (!bitmap) {
    part = mold::emit(out, " #{}", part);
    if (!options.only) part = mold::emit(out, "]", part);
    return part;
  }
  // The text is built whole (no allocation while the bitmap is read), then
  // cut where the /part budget ran out.
  std::vector<size_t> ends;  // the text's length after each pixel
  const auto line_break = [&](int32_t levels) {
    text += '\n';
    text.append(static_cast<size_t>(std::max(levels, 0)) * 4, ' ');
  };
  // Pixels taking more than 30 bytes of memory (8 or more) start on a
  // line of their own.
  const uint32_t shown = count - head;
  const bool long_form = !options.flat && uint64_t{shown} * 4 > 30;
  text += " #{";
  if (long_form) line_break(level);
  bool translucent = false;
  for (uint32_t i = 0; i < shown; ++i) {
    const uint32_t pixel = bitmap->pixels[head + i];
    put_hex(text, channel(pixel, 16));
    put_hex(text, channel(pixel, 8));
    put_hex(text, channel(pixel, 0));
    translucent = translucent || (pixel >> 24) < 255;
    if ((i + 1) % 10 == 0 && !options.flat) line_break(i + 1 < shown ? level : level - 1);
    ends.push_back(text.size());
  }
  if (long_form && shown % 10 != 0) line_break(level - 1);
  text += '}';
  // The alpha block covers the same pixels as the colours, so that the
  // text makes the same image back.
  if (translucent) {
    text += " #{";
    if (!options.flat) line_break(level);
    for (uint32_t i = 0; i < shown; ++i) {
      put_hex(text, 255 - (bitmap->pixels[head + i] >> 24));
      if (!options.flat && ((i + 1) % 10 == 0 || i + 1 == shown)) line_break(i + 1 < shown ? level : level - 1);
      ends.push_back(text.size());
    }
    text += '}';
  }
  if (!options.only) text += ']';
  // The budget is checked after every pixel.
  size_t cut = text.size();
  const size_t budget = part > 0 ? static_cast<size_t>(part) : 0;
  for (size_t end : ends)
    if (end >= budget) {
      cut = end;
      break;
    }
  return mold::emit(out, std::string_view(text).substr(0, cut), part);
}

int32_t form(Val value, Val out, int32_t part) { return mold_image(value, out, MoldOptions{}, part, false); }

int32_t mold_value(Val value, Val out, const MoldOptions& options, int32_t part) {
  return mold_image(value, out, options, part, true);
}

// ---- path access ----

void pick(Val series, Val index, int32_t);
void poke(Val series, Val index, int32_t, Val value);

void eval_path(PathStep& step) {
  const Cell selector = *step.selector;
  if (cell::is(selector, TypeId::integer) || cell::is(selector, TypeId::pair)) {
    if (step.new_value) {
      Val new_value = stack::push(*step.new_value);
      poke(step.value, step.selector, 0, new_value);
      stack::pop(1);
    } else {
      pick(step.value, step.selector, 0);
    }
    return;
  }
  if (!cell::is(selector, TypeId::word)) error::raise(error_id::script::invalid_path, step.path, selector);
  const std::string_view name = symbol::spelling(selector.w2);
  if (symbol::equal_caseless(name, "size")) {
    if (step.new_value) error::raise(error_id::script::invalid_path, step.path, selector);
    *step.value = pair::make(static_cast<int32_t>(width_of(*step.value)), static_cast<int32_t>(height_of(*step.value)));
    return;
  }
  bool found = false;
  const Mode mode = mode_named(name, &found);
  if (!found) error::raise(error_id::script::invalid_path, step.path, selector);
  if (step.new_value) {
    Val new_value = stack::push(*step.new_value);
    set_pixels(step.value, new_value, mode);
    *step.value = *new_value;
    stack::pop(1);
  } else {
    *step.value = to_binary(*step.value, mode);
  }
}

// ---- compare ----

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::image)) return -2;
  const bool same_position = series::node_of(a) == series::node_of(b) && a.w1 == b.w1;
  switch (op) {
    case CmpOp::same:
      return same_position ? 0 : -1;
    case CmpOp::equal:
    case CmpOp::not_equal:
    case CmpOp::strict_equal:
    case CmpOp::sort:
    case CmpOp::case_sort:
    case CmpOp::lookup:
      break;
    default:
      return -2;
  }
  if (same_position) return 0;
  const uint32_t count_a = pixel_count(a), count_b = pixel_count(b);
  if (count_a != count_b) return count_a < count_b ? -1 : 1;
  const Bitmap* x = bitmap_of(a);
  const Bitmap* y = bitmap_of(b);
  if (!x || !y || count_a == 0) return 0;
  const int order = std::memcmp(x->pixels.data(), y->pixels.data(), size_t{count_a} * 4);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// ---- positions ----

void at(Val series, Val position) { series->w1 = index_of(*series, *position, 1).index; }
void skip(Val series, Val offset) { series->w1 = index_of(*series, *offset, 0).index; }
void next(Val series) {
  if (series->w1 + 1 <= pixel_count(*series)) ++series->w1;
}
void to_tail(Val series) { series->w1 = pixel_count(*series); }
bool at_tail(Val series) { return series->w1 >= pixel_count(*series); }
int32_t length_of(Val series) { return static_cast<int32_t>(pixel_count(*series)); }

void pick(Val series, Val index, int32_t) {
  const Position position = index_of(*series, *index, 1);
  *series = position.out_of_range ? none::make() : pixel_at(*series, position.index);
}

void poke(Val series, Val index, int32_t, Val value) {
  const Position position = index_of(*series, *index, 1);
  if (position.out_of_range) error::raise(error_id::script::out_of_range, *index);
  if (!cell::is(*value, TypeId::tuple)) invalid_arg(*value);
  write_pixel(series, position.index, tuple_to_pixel(*value), value);
  *series = *value;
}

// ---- copy and change ----

// The column and row of the head.
struct Point {
  int64_t x, y;
};
Point head_point(const Cell& image) {
  const uint32_t width = std::max<uint32_t>(width_of(image), 1);
  return {head_of(image) % width, head_of(image) / width};
}

Cell copy_image(const Cell& image) {
  const Bitmap* bitmap = bitmap_of(image);
  if (!bitmap) return make_cell(no_node, width_of(image), height_of(image));
  if (head_of(image) >= pixel_count(image)) return make_cell(no_node, 0, 0);
  const Point at = head_point(image);
  return from_bitmap(image_os::clip(*bitmap, at.x, at.y, bitmap->width - at.x, bitmap->height - at.y));
}

void copy(Val value, std::optional<Val> part, bool, std::optional<Val>) {
  if (!part) {
    *value = copy_image(*value);
    return;
  }
  const Cell image = *value;
  const Cell limit = **part;
  const Bitmap* bitmap = bitmap_of(image);
  const bool inside = bitmap && head_of(image) < pixel_count(image);
  const Point at = head_point(image);
  if (cell::is(limit, TypeId::pair)) {
    const int64_t w = pair::x_of(limit), h = pair::y_of(limit);
    *value = inside && w > 0 && h > 0 ? from_bitmap(image_os::clip(*bitmap, at.x, at.y, w, h)) : make_cell(no_node, 0, 0);
    return;
  }
  if (cell::is(limit, TypeId::image) && series::node_of(limit) == series::node_of(image)) {
    // The rectangle between the two positions: the lower index gives the
    // top-left corner, the other the corner just past the bottom-right.
    const Point other = head_point(limit);
    const bool other_first = head_of(limit) < head_of(image);
    const Point from = other_first ? other : at, to = other_first ? at : other;
    const int64_t left = std::min(from.x, to.x), right = std::max(from.x, to.x);
    *value = bitmap ? from_bitmap(image_os::clip(*bitmap, left, from.y, right - left, to.y - from.y))
                    : make_cell(no_node, 0, 0);
    return;
  }
  if (cell::is(limit, TypeId::integer)) error::raise(error_id::internal::not_done);
  invalid_refine("part", limit);
}

void change(Val series, Val value, int32_t part, bool, int32_t dup) {
  if (part != -1 || dup != 1) error::raise(error_id::internal::not_done);
  const uint32_t count = pixel_count(*series), head = head_of(*series);
  if (cell::is(*value, TypeId::tuple)) {
    if (head >= count) return;
    write_pixel(series, head, tuple_to_pixel(*value), value);
    series->w1 = head + 1;
    return;
  }
  if (!cell::is(*value, TypeId::image)) error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(*value)));
  if (head >= count) return;
  const Bitmap* source_bitmap = bitmap_of(*value);
  if (!source_bitmap) return;
  // A copy of the source when it is this very image: the rows may overlap.
  const Bitmap source = *source_bitmap;
  const Point at = head_point(*series);
  ImageChange report(series, head, value);
  Bitmap& target = *bitmap_of(*series);
  const int64_t rows = std::min<int64_t>(source.height, target.height - at.y);
  const int64_t columns = std::min<int64_t>(source.width, target.width - at.x);
  image_os::copy_rect(source, 0, 0, source.width, source.height, target, at.x, at.y);
  const uint64_t last = static_cast<uint64_t>(at.y + rows - 1) * target.width + static_cast<uint64_t>(at.x + columns);
  report.done(series, head, static_cast<uint32_t>(last - head));
  series->w1 = static_cast<uint32_t>(std::min<uint64_t>(last, count));
}

}  // namespace

Cell pixel_to_tuple(uint32_t pixel) {
  tuple::Bytes bytes{};
  bytes[0] = static_cast<uint8_t>(channel(pixel, 16));
  bytes[1] = static_cast<uint8_t>(channel(pixel, 8));
  bytes[2] = static_cast<uint8_t>(channel(pixel, 0));
  bytes[3] = static_cast<uint8_t>(255 - (pixel >> 24));
  return tuple::make(bytes, 4);
}

uint32_t tuple_to_pixel(const Cell& value) {
  const tuple::Bytes bytes = tuple::bytes_of(value);
  const uint32_t a = tuple::count_of(value) >= 4 ? 255u - bytes[3] : 255u;
  return a << 24 | uint32_t{bytes[0]} << 16 | uint32_t{bytes[1]} << 8 | bytes[2];
}

Cell pixel_at(const Cell& image, uint32_t index) {
  const Bitmap* bitmap = bitmap_of(image);
  if (!bitmap || index >= pixel_count(image)) return none::make();
  return pixel_to_tuple(bitmap->pixels[index]);
}

Cell to_binary(const Cell& image, Mode mode) {
  std::string bytes;
  if (const Bitmap* bitmap = bitmap_of(image)) {
    const size_t per_pixel = mode == Mode::alpha ? 1 : mode == Mode::rgb ? 3 : 4;
    bytes.reserve(bitmap->pixels.size() * per_pixel);
    for (uint32_t pixel : bitmap->pixels) {
      switch (mode) {
        case Mode::alpha:
          bytes += static_cast<char>(255 - (pixel >> 24));
          break;
        case Mode::rgb:
          bytes += static_cast<char>(channel(pixel, 16));
          bytes += static_cast<char>(channel(pixel, 8));
          bytes += static_cast<char>(channel(pixel, 0));
          break;
        case Mode::argb:
          bytes.append(reinterpret_cast<const char*>(&pixel), 4);  // as it lies in memory: B, G, R, A
          break;
      }
    }
  }
  return binary::make(bytes);
}

void set_pixels(Val image, Val source, Mode mode) {
  const TypeId type = cell::type_of(*source);
  if (type != TypeId::binary && type != TypeId::tuple && type != TypeId::integer) invalid_arg(*source);
  const std::string bytes = type == TypeId::binary ? binary::bytes_from_index(*source) : std::string();
  const uint32_t head = head_of(*image);
  ImageChange report(image, head, source);
  Bitmap* bitmap = bitmap_of(*image);
  if (!bitmap) return;
  std::vector<uint32_t>& pixels = bitmap->pixels;
  const auto byte_at = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
  if (type == TypeId::binary) {
    switch (mode) {
      case Mode::alpha:
        for (size_t i = 0; i < std::min(bytes.size(), pixels.size()); ++i)
          pixels[i] = (255 - byte_at(i)) << 24 | (pixels[i] & 0xFFFFFF);
        break;
      case Mode::rgb:
        for (size_t i = 0; i < std::min(bytes.size() / 3, pixels.size()); ++i)
          pixels[i] = (pixels[i] & 0xFF000000u) | byte_at(i * 3) << 16 | byte_at(i * 3 + 1) << 8 | byte_at(i * 3 + 2);
        break;
      case Mode::argb:
        std::memcpy(pixels.data(), bytes.data(), std::min(bytes.size(), pixels.size() * 4));
        break;
    }
  } else {
    // A tuple or an integer sets every pixel. An integer is read as a pixel
    // word 0xAARRGGBB (its low byte alone for the alpha view).
    uint32_t colour = 0, transparency = 0;
    if (type == TypeId::tuple) {
      colour = tuple_to_pixel(*source);
      transparency = tuple::bytes_of(*source)[0];
    } else {
      colour = static_cast<uint32_t>(integer::get(*source));
      transparency = colour & 0xFF;
    }
    for (uint32_t& pixel : pixels) {
      switch (mode) {
        case Mode::alpha: pixel = (255 - transparency) << 24 | (pixel & 0xFFFFFF); break;
        case Mode::rgb: pixel = (pixel & 0xFF000000u) | (colour & 0xFFFFFF); break;
        case Mode::argb: pixel = colour; break;
      }
    }
  }
  report.done(image, head, pixel_count(*image) - head);
}

bool known_format(const uint8_t* data, size_t size) { return image_codecs::recognise(data, size).has_value(); }

Cell load_binary(Val data) {
  const std::string bytes = binary::bytes_from_index(*data);
  const auto* start = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto format = image_codecs::recognise(start, bytes.size());
  if (!format) return none::make();
  auto bitmap = image_codecs::decode(*format, start, bytes.size());
  if (!bitmap) error::raise(error_id::access::bad_media);
  return from_bitmap(std::move(bitmap));
}

Cell load_file(Val file) {
  const os::files::ReadResult read = os::files::read_file(file::os_path(*file), -1, -1);
  if (read.error != 0) error::raise(error_id::access::cannot_open, *file);
  const auto* start = reinterpret_cast<const uint8_t*>(read.bytes.data());
  auto format = image_codecs::recognise(start, read.bytes.size());
  // A file is opened by what it holds, and GIF87a is a GIF too.
  if (!format && read.bytes.compare(0, 6, "GIF87a") == 0) format = image_codecs::Format::gif;
  std::unique_ptr<Bitmap> bitmap = format ? image_codecs::decode(*format, start, read.bytes.size()) : nullptr;
  if (!bitmap) error::raise(error_id::access::cannot_open, *file);
  return from_bitmap(std::move(bitmap));
}

Cell decode(Val data) {
  if (cell::is(*data, TypeId::binary)) return load_binary(data);
  if (!type_traits::is_any_string(cell::type_of(*data))) invalid_arg(*data);
  return load_file(data);
}

std::optional<Cell> encode(const Cell& image, int32_t format) {
  if (image.w3 == 0) error::raise(error_id::access::bad_media);
  if (format < 0 || format >= image_codecs::format_count) {
    output::print_cstring("Cannot find image encoder\n");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  if (const Bitmap* bitmap = bitmap_of(image)) {
    if (!image_codecs::encode(static_cast<image_codecs::Format>(format), *bitmap, bytes))
      error::raise(error_id::access::bad_media);
  }
  return binary::make(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Cell from_memory(uint32_t width, uint32_t height, size_t stride, const void* address) {
  if (width == 0 || height == 0) return make_filled(width, height, nullptr, nullptr, nullptr);
  auto bitmap = image_os::new_bitmap(width, height, 0);
  if (stride == 0) stride = size_t{width} * 4;
  for (uint32_t row = 0; row < height; ++row)
    std::memcpy(bitmap->pixels.data() + size_t{row} * width, static_cast<const uint8_t*>(address) + row * stride,
                size_t{width} * 4);
  return from_bitmap(std::move(bitmap));
}

const uint32_t* pixels_of(const Cell& image) {
  const Bitmap* bitmap = bitmap_of(image);
  return bitmap ? bitmap->pixels.data() : nullptr;
}

Cell resized(const Cell& image, uint32_t width, uint32_t height) {
  const Bitmap* bitmap = bitmap_of(image);
  if (!bitmap) return make_cell(no_node, width, height);
  return from_bitmap(image_os::resize(*bitmap, width, height), width, height);
}

void register_types() {
  image_os::init();
  ActionSlots slots;
  slots.make = make_value;
  slots.to = to_value;
  slots.form = form;
  slots.mold = mold_value;
  slots.eval_path = eval_path;
  slots.compare = compare;
  slots.at = at;
  slots.back = inherit;
  slots.change = change;
  slots.copy = copy;
  slots.head = inherit;
  slots.head_q = inherit;
  slots.index_q = inherit;
  slots.length_q = length_of;
  slots.next = next;
  slots.pick = pick;
  slots.poke = poke;
  slots.skip = skip;
  slots.tail = to_tail;
  slots.tail_q = at_tail;
  slots.modify = inherit;
  datatype::register_type({TypeId::image, TypeId::series, "image!", slots});
}

}  // namespace kiv::image
