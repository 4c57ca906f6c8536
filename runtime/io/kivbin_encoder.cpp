// The KIVBIN encoder. Both layouts take the same decisions; the places
// where their bytes differ ask `fixed_`.
#include "runtime/io/kivbin_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "runtime/core/error_raise.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/hashtable.h"
#include "runtime/io/kivbin_format.h"
#include "generated/error_ids.h"

namespace kiv::kivbin {
namespace {

// Encoding reads cells in place and allocates no series until the output
// binary is made, so raw pointers into buffers stay valid throughout.
class Encoder {
 public:
  explicit Encoder(bool fixed) : fixed_(fixed) {}

  std::vector<uint8_t> run(const Cell& value) {
    write(value);
    return fixed_ ? assemble_fixed() : assemble();
  }

 private:
  // A record's header: compact, a prefix 0xC1 for a reference and a typed
  // header byte with `flag` in bit 6; fixed, a header word with `bits`,
  // the reference bit and the new-line marker of the value being written.
  void typed(TypeId type, bool flag = false, uint32_t bits = 0, bool reference = false) {
    if (fixed_) {
      uint32_t word = uint32_t(type) | bits | (reference ? fixed::reference : 0);
      if (new_line_) word |= fixed::new_line;
      new_line_ = false;
      put_word(records_, word);
      return;
    }
    if (reference) records_.push_back(byte::reference);
    records_.push_back(uint8_t(uint8_t(type) | (flag ? byte::type_flag : 0)));
  }

  void put_unsigned(uint32_t value) {
    if (fixed_) put_word(records_, value);
    else put_varint(records_, value);
  }

  void put_signed(int32_t value) {
    if (fixed_) put_word(records_, uint32_t(value));
    else put_svarint(records_, value);
  }

  // Byte data; the fixed layout pads it with zeros to a multiple of 4.
  void put_bytes(const uint8_t* from, const uint8_t* to) {
    records_.insert(records_.end(), from, to);
    if (fixed_)
      while (records_.size() % 4 != 0) records_.push_back(0);
  }

  // One level down into a container, whose records count from 0.
  void push_level(NodeId key) {
    descend();
    paths_.emplace(key, level_);
  }

  void descend() {
    if (level_.size() >= max_depth) error::raise(error_id::internal::too_deep);
    level_.push_back(counter_);
  }

  void write(const Cell& value) {
    if (cell::has_new_line(value)) {
      if (fixed_) new_line_ = true;  // taken by the record's header word
      else records_.push_back(byte::new_line);
    }
    const TypeId type = cell::type_of(value);
    switch (type) {
      case TypeId::unset: case TypeId::none:
        typed(type);
        break;
      case TypeId::datatype:
        typed(type);
        put_unsigned(value.w1);
        break;
      case TypeId::logic:
        if (fixed_) {
          typed(type);
          put_word(records_, value.w1 ? 1 : 0);
        } else {
          records_.push_back(value.w1 ? byte::true_ : byte::false_);
        }
        break;
      case TypeId::integer: {
        const int32_t n = cell::get_int32(value);
        if (n >= 0 && n <= 63 && !fixed_) {
          records_.push_back(uint8_t(byte::small_int + n));
        } else {
          typed(type);
          put_signed(n);
        }
        break;
      }
      case TypeId::char_:
        typed(type);
        put_unsigned(value.w2);
        break;
      case TypeId::float_: case TypeId::time: case TypeId::percent:
        write_number(value, type);
        break;
      case TypeId::typeset: {
        if (fixed_) {
          typed(type);
          for (const uint32_t w : {value.w1, value.w2, value.w3}) put_word(records_, w);
          break;
        }
        uint8_t map[12];
        std::memcpy(map, &value.w1, 12);
        uint8_t length = 12;
        while (length > 0 && map[length - 1] == 0) --length;
        typed(type);
        records_.push_back(length);
        records_.insert(records_.end(), map, map + length);
        break;
      }
      case TypeId::pair:
        typed(type);
        put_signed(int32_t(value.w2));
        put_signed(int32_t(value.w3));
        break;
      case TypeId::point2d: case TypeId::point3d:
        typed(type);
        put_word(records_, value.w1);
        put_word(records_, value.w2);
        if (type == TypeId::point3d) put_word(records_, value.w3);
        break;
      case TypeId::tuple: {
        const uint8_t length = uint8_t((value.header >> tuple_length_shift) & 0xF);
        if (fixed_) {  // the length in the header, then all 12 bytes
          typed(type, false, uint32_t(length) << fixed::unit_shift);
          uint8_t bytes[12] = {};
          std::memcpy(bytes, &value.w1, std::min<size_t>(length, 12));
          records_.insert(records_.end(), bytes, bytes + 12);
          break;
        }
        typed(type, length != 3);
        if (length != 3) records_.push_back(length);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&value.w1);
        records_.insert(records_.end(), bytes, bytes + length);
        break;
      }
      case TypeId::date: {
        // Fixed: the time double always follows, 0 for a date alone.
        const bool has_time = (value.w1 & date_has_time) != 0;
        typed(type, has_time);
        put_word(records_, value.w1);
        if (has_time || fixed_) {
          put_word(records_, has_time ? value.w2 : 0);
          put_word(records_, has_time ? value.w3 : 0);
        }
        break;
      }
      case TypeId::money: {
        const bool negative = (value.header & money_negative) != 0;
        typed(type, negative, negative ? fixed::negative : 0);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&value.w1);
        records_.insert(records_.end(), bytes, bytes + 12);
        break;
      }
      case TypeId::issue:
        typed(type);
        put_unsigned(symbol_index(value.w2));
        break;
      case TypeId::object: case TypeId::function:
        write_owner(value);
        break;
      case TypeId::error:
        write_error(value);
        break;
      case TypeId::native: case TypeId::action:
        // The spec block takes the native's own place in the container:
        // its path is the native's, and the counter steps back so that the
        // two count as one record. A block record whose path reaches the
        // native shares the spec; a path step into the native counts the
        // spec's cells.
        typed(type);
        put_unsigned(value.w1);
        write(series::make(TypeId::block, value.w2));
        --counter_;
        break;
      case TypeId::op: {
        const TypeId wrapped = cell::op_wrapped_type(value);
        if (wrapped == TypeId::routine) error::raise(error_id::access::no_codec, value);
        typed(type, false, uint32_t(wrapped) << fixed::wrapped_shift);
        Cell function = value;
        function.header = cell::header(wrapped);
        write(function);
        --counter_;
        break;
      }
      default:
        if (is_word_type(type)) {
          write_word(value, type);
        } else if (is_series_record(type)) {
          write_series(value, type);
        } else {
          error::raise(error_id::access::no_codec, value);
        }
    }
    ++counter_;
  }

  void write_number(const Cell& value, TypeId type) {
    if (fixed_) {  // always the double, 8-byte aligned in the record section
      if (records_.size() % 8 != 0) put_word(records_, 0);
      typed(type);
      put_word(records_, value.w2);
      put_word(records_, value.w3);
      return;
    }
    const double number = cell::get_double(value);
    const bool negative_zero = number == 0 && std::signbit(number);
    if (type == TypeId::percent) {
      if (number >= -21474836.0 && number <= 21474836.0 && !negative_zero) {
        const double scaled = number * 100;
        const auto n = int32_t(number < 0 ? scaled - 0.5 : scaled + 0.5);
        if (double(n) / 100 == number) {
          typed(type, true);
          put_svarint(records_, n);
          return;
        }
      }
    } else if (number >= -2147483000.0 && number <= 2147483000.0 && number == std::trunc(number) &&
               !negative_zero) {
      typed(type, true);
      put_svarint(records_, int32_t(number));
      return;
    }
    typed(type);
    put_word(records_, value.w2);
    put_word(records_, value.w3);
  }

  // A word bound to an object's or a function's context names it by the
  // path of its first record, or writes it inline the first time. Other
  // words are written as global: their spelling binds them again.
  void write_word(const Cell& word, TypeId type) {
    const NodeId context = word.w1;
    const Cell* owner = nullptr;
    if (context != no_node && context != context::global()) {
      const Cell& self = context::self_cell(context);
      if (cell::is(self, TypeId::object) || cell::is(self, TypeId::function)) owner = &self;
    }
    if (owner == nullptr) {
      typed(type, false, fixed::global);
      put_unsigned(symbol_index(word.w2));
      if (fixed_) put_signed(-1);  // the spelling binds it again
      return;
    }
    const int32_t index = word.w3 == 0xFFFFFFFF ? -1 : int32_t(word.w3);
    const auto seen = paths_.find(context);
    typed(type, true, 0, seen != paths_.end());
    put_unsigned(symbol_index(word.w2));
    put_signed(index);
    if (seen != paths_.end()) {
      put_path(seen->second);
      return;
    }
    const Cell copy = *owner;
    write_owner_payload(copy);
  }

  // Compact: the path follows inline; fixed: as a reference record.
  void put_path(const std::vector<uint32_t>& path) {
    if (fixed_) put_word(records_, fixed::reference_type);
    put_unsigned(uint32_t(path.size()));
    for (const uint32_t index : path) put_unsigned(index);
  }

  // object! and function!, keyed by their context.
  void write_owner(const Cell& value) {
    const auto seen = paths_.find(value.w1);
    if (seen != paths_.end()) {
      typed(cell::type_of(value), false, 0, true);
      put_path(seen->second);
      return;
    }
    write_owner_payload(value);
  }

  // The header, then an object's class, handlers and context, or a
  // function's slot counts, context, spec block and body, one level down.
  void write_owner_payload(const Cell& value) {
    const TypeId type = cell::type_of(value);
    const bool handlers = type == TypeId::object && value.w3 != no_node;
    typed(type, handlers, handlers ? fixed::handlers : 0);
    push_level(value.w1);
    const uint32_t saved = counter_;
    counter_ = 0;
    if (type == TypeId::object) {
      put_signed(int32_t(value.w2));
      if (handlers) {
        const auto* record = reinterpret_cast<const Cell*>(memory::buffer(value.w3)->head_ptr());
        put_signed(int32_t(record[0].w2));
        put_signed(int32_t(record[1].w2));
      }
      write_context(value.w1);
    } else {
      const Cell body = function::metadata(value, 0);
      put_unsigned(memory::buffer(value.w2)->length());
      put_unsigned(cell::is(body, TypeId::block) ? memory::buffer(series::node_of(body))->length() : 0);
      write_context(value.w1);
      counter_ = 0;
      write(series::make(TypeId::block, value.w2));
      write(body);
    }
    counter_ = saved;
    level_.pop_back();
  }

  void write_context(NodeId context) {
    const Cell header = context::context_cell(context);
    const uint32_t count = context::word_count(context);
    const bool on_stack = context::values_on_stack(context);
    bool values = false;
    if (!on_stack && context::has_values(context))
      for (uint32_t i = 0; i < count && !values; ++i)
        values = !cell::is(*context::slot(context, i), TypeId::unset);
    const uint32_t kind = uint32_t(context::kind_of(context)) & context_flag::kind_mask;
    const bool maker = (header.header & context::flag::object_made) != 0;
    if (fixed_) {
      put_word(records_, uint32_t(TypeId::context) | kind << fixed::kind_shift | (maker ? fixed::maker : 0) |
                             (on_stack ? fixed::on_stack : 0) | (values ? fixed::values : 0));
    } else {
      uint8_t flags = uint8_t(kind);
      if (on_stack) flags |= context_flag::on_stack;
      if (maker) flags |= context_flag::maker;
      if (values) flags |= context_flag::values;
      typed(TypeId::context);
      records_.push_back(flags);
    }
    put_unsigned(count);
    for (uint32_t i = 0; i < count; ++i) put_unsigned(symbol_index(context::word_at(context, i).w2));
    if (values)
      for (uint32_t i = 0; i < count; ++i) write(*context::slot(context, i));
  }

  // The code, then the fields from arg1 to stack; paths reach the fields
  // from arg1 on.
  void write_error(const Cell& error) {
    typed(TypeId::error);
    push_level(error.w1);
    const uint32_t saved = counter_;
    counter_ = 0;
    put_unsigned(uint32_t(cell::get_int32(*context::slot(error.w1, 0))));
    for (uint32_t field = 3; field <= 8; ++field) write(*context::slot(error.w1, field));
    counter_ = saved;
    level_.pop_back();
  }

  // A series met before is a reference to its first record's path; else
  // its path is remembered and its data written one level down.
  void write_series(const Cell& value, TypeId type) {
    const NodeId node = series::node_of(value);
    const bool has_head = type != TypeId::map && type != TypeId::bitset;
    const uint32_t head = has_head ? series::index_of(value) : 0;
    const bool flag = type == TypeId::bitset ? (memory::buffer(node)->flags & bitset::not_flag) != 0
                                             : head != 0;
    uint32_t bits = 0;  // fixed header: unit size, complemented bitset
    if (is_string_type(type) || type == TypeId::vector || type == TypeId::binary)
      bits = memory::buffer(node)->unit() << fixed::unit_shift;
    else if (type == TypeId::bitset && flag)
      bits = fixed::complemented;
    // An image of zero width or height has no node: nothing to share, so
    // it is written out each time it is met.
    const bool keyed = node != no_node;
    const auto seen = keyed ? paths_.find(node) : paths_.end();
    typed(type, flag, bits, seen != paths_.end());
    // Compact: the head only when not 0; fixed: always.
    if (has_head && (head != 0 || fixed_)) put_unsigned(head);
    if (seen != paths_.end()) {
      put_path(seen->second);
      return;
    }
    if (keyed) push_level(node);
    else descend();
    const uint32_t saved = counter_;
    counter_ = 0;
    vector_type_ = value.w3;
    if (type == TypeId::image) write_image_data(value);
    else write_series_data(node, type);
    counter_ = saved;
    level_.pop_back();
  }

  // The size (fixed: the size word; compact: width and height), then the
  // pixel words as the image exports them, 0xAARRGGBB, little-endian.
  void write_image_data(const Cell& value) {
    if (fixed_) {
      put_word(records_, value.w3);
    } else {
      put_varint(records_, image::width_of(value));
      put_varint(records_, image::height_of(value));
    }
    const uint32_t* pixels = image::pixels_of(value);
    if (pixels == nullptr) return;
    const uint32_t count = image::pixel_count(value);
    for (uint32_t i = 0; i < count; ++i) put_word(records_, pixels[i]);
  }

  void write_series_data(NodeId node, TypeId type) {
    const SeriesBuf* buf = memory::buffer(node);
    if (is_block_type(type)) {
      const uint32_t count = buf->length();
      put_unsigned(count);
      for (uint32_t i = 0; i < count; ++i)
        write(reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr())[i]);
    } else if (type == TypeId::map) {
      const uint32_t cells = buf->length();
      const auto* pairs = reinterpret_cast<const Cell*>(buf->head_ptr());
      uint32_t live = 0;
      for (uint32_t i = 0; i + 1 < cells; i += 2)
        if (!hashtable::is_removed(pairs[i + 1])) live += 2;
      put_unsigned(live);
      for (uint32_t i = 0; i + 1 < cells; i += 2) {
        const Cell* cells_now = reinterpret_cast<const Cell*>(memory::buffer(node)->head_ptr());
        if (hashtable::is_removed(cells_now[i + 1])) continue;
        write(cells_now[i]);
        write(cells_now[i + 1]);
      }
    } else if (type == TypeId::vector) {
      if (fixed_) {
        put_word(records_, buf->length());
        put_word(records_, vector_type_);
      } else {
        records_.push_back(uint8_t((vector_type_ << 2) + vector_unit_code(buf->unit())));
        put_varint(records_, buf->length());
      }
      put_bytes(buf->head_ptr(), buf->tail_ptr());
    } else if (is_string_type(type)) {
      put_unsigned(fixed_ ? buf->length() : (buf->length() << 2) + unit_code(buf->unit()));
      put_bytes(buf->head_ptr(), buf->tail_ptr());
    } else {  // binary!, bitset!
      put_unsigned(buf->used_bytes());
      put_bytes(buf->head_ptr(), buf->tail_ptr());
    }
  }

  uint32_t symbol_index(uint32_t symbol) {
    for (uint32_t i = 0; i < symbols_.size(); ++i)
      if (symbols_[i] == symbol) return i;
    symbols_.push_back(symbol);
    const std::string_view name = symbol::spelling(symbol);
    offsets_.push_back(uint32_t(names_.size()));
    names_.insert(names_.end(), name.begin(), name.end());
    names_.push_back(0);
    return uint32_t(symbols_.size() - 1);
  }

  std::vector<uint8_t> assemble() const {
    std::vector<uint8_t> out(magic, magic + 6);
    out.push_back(version);
    out.push_back(symbols_.empty() ? flag::compact : flag::compact | flag::symbols);
    put_varint(out, 1);
    put_varint(out, uint32_t(records_.size()));
    if (!symbols_.empty()) {
      put_varint(out, uint32_t(symbols_.size()));
      put_varint(out, uint32_t(names_.size()));
      for (const uint32_t offset : offsets_) put_word(out, offset);
      out.insert(out.end(), names_.begin(), names_.end());
    }
    out.insert(out.end(), records_.begin(), records_.end());
    return out;
  }

  // Fixed layout: the header block, then the symbol table with each name
  // padded to 8 bytes, then the records.
  std::vector<uint8_t> assemble_fixed() const {
    std::vector<uint8_t> names;
    std::vector<uint32_t> offsets;
    for (const uint32_t symbol : symbols_) {
      offsets.push_back(uint32_t(names.size()));
      const std::string_view name = symbol::spelling(symbol);
      names.insert(names.end(), name.begin(), name.end());
      do names.push_back(0);
      while (names.size() % 8 != 0);
    }
    std::vector<uint8_t> out(magic, magic + 6);
    out.push_back(version);
    out.push_back(symbols_.empty() ? 0 : flag::symbols);
    put_word(out, 1);
    put_word(out, uint32_t(records_.size()));
    if (!symbols_.empty()) {
      put_word(out, uint32_t(symbols_.size()));
      put_word(out, uint32_t(names.size()));
      for (const uint32_t offset : offsets) put_word(out, offset);
      out.insert(out.end(), names.begin(), names.end());
    }
    out.insert(out.end(), records_.begin(), records_.end());
    return out;
  }

  const bool fixed_;
  bool new_line_ = false;  // fixed layout: the marker for the next header word
  std::vector<uint8_t> records_;
  std::vector<uint32_t> symbols_;
  std::vector<uint32_t> offsets_;
  std::vector<uint8_t> names_;
  uint32_t counter_ = 0;
  uint32_t vector_type_ = 0;  // a vector's element type, for its data
  std::vector<uint32_t> level_;
  std::unordered_map<NodeId, std::vector<uint32_t>> paths_;
};

}  // namespace

std::vector<uint8_t> encode_compact(const Cell& value) { return Encoder(false).run(value); }

std::vector<uint8_t> encode_fixed(const Cell& value) { return Encoder(true).run(value); }

}  // namespace kiv::kivbin
