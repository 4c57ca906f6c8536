// The KIVBIN decoder, compact layout.
#include "runtime/io/kivbin_decoder.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/lz.h"
#include "runtime/core/memory.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/kivbin_format.h"
#include "generated/error_ids.h"

namespace kiv::kivbin {
namespace {

// Nesting deeper than this is taken for hostile data.
constexpr int max_depth = 1000;

bool is_block_type(TypeId type) {
  switch (type) {
    case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
    case TypeId::set_path: case TypeId::get_path: case TypeId::hash:
      return true;
    default:
      return false;
  }
}

bool is_string_type(TypeId type) {
  switch (type) {
    case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
    case TypeId::email: case TypeId::ref:
      return true;
    default:
      return false;
  }
}

bool is_refused(TypeId type) {
  return type == TypeId::routine || type == TypeId::triple || type == TypeId::handle ||
         type == TypeId::port || type == TypeId::event;
}

// Whether a record of `type` may take the data of the cell a path reached:
// the same kind of buffer (cells, text, bytes) and the same extra tables.
bool may_share(TypeId type, TypeId found) {
  if (type == TypeId::hash || type == TypeId::map || type == TypeId::bitset ||
      type == TypeId::binary)
    return found == type;
  if (is_block_type(type)) return is_block_type(found);
  if (is_string_type(type)) return is_string_type(found);
  return false;
}

class Decoder {
 public:
  Decoder(const uint8_t* data, const uint8_t* start, const uint8_t* end, NodeId root)
      : data_(data), pos_(start), end_(end), root_(root) {}

  void compact() {
    varint();  // root count: not used
    const uint32_t section = varint();
    if (flags_symbols) read_symbols();
    if (section > size_t(end_ - pos_)) fail();
    const uint8_t* section_end = pos_ + section;
    end_ = section_end;
    while (pos_ < section_end) record(root_, 0);
  }

  bool flags_symbols = false;

 private:
  [[noreturn]] void fail() const { fail_at(pos_); }
  [[noreturn]] void fail_at(const uint8_t* at) const {
    error::raise(error_id::script::kb_invalid_record, integer::make(int32_t(at - data_ + 1)));
  }

  uint8_t byte() {
    if (pos_ >= end_) fail();
    return *pos_++;
  }

  uint32_t varint() {
    uint32_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      const uint8_t b = byte();
      if (shift == 28 && (b & 0xF0) != 0) fail_at(pos_ - 1);
      value |= uint32_t(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return value;
    }
    return value;  // not reached: the fifth byte has no bit 7
  }

  int32_t svarint() { return unzigzag(varint()); }

  uint32_t word32() {
    if (end_ - pos_ < 4) fail();
    uint32_t v;
    std::memcpy(&v, pos_, 4);
    pos_ += 4;
    return v;
  }

  // A count of things each at least `size` bytes long must fit in what is
  // left, so no allocation outgrows the data.
  uint32_t count(uint64_t size = 1) {
    const uint8_t* at = pos_;
    const uint32_t n = varint();
    if (uint64_t(n) * size > uint64_t(end_ - pos_)) fail_at(at);
    return n;
  }

  void read_symbols() {
    const uint32_t n = count(4);
    const uint32_t names_size = varint();
    if (names_size > size_t(end_ - pos_) - size_t(n) * 4) fail();
    const uint8_t* offsets = pos_;
    pos_ += size_t(n) * 4;
    const uint8_t* names = pos_;
    if (names_size > 0 && names[names_size - 1] != 0) fail_at(names + names_size - 1);
    pos_ += names_size;
    symbols_.assign(n, 0);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t offset;
      std::memcpy(&offset, offsets + 4 * size_t(i), 4);
      if (offset >= names_size) fail_at(offsets + 4 * size_t(i));
      const auto* name = reinterpret_cast<const char*>(names + offset);
      symbols_[i] = symbol::make(std::string_view(name, std::strlen(name)));
    }
  }

  uint32_t symbol_ref() {
    const uint8_t* at = pos_;
    const uint32_t i = varint();
    if (i >= symbols_.size()) fail_at(at);
    return symbols_[i];
  }

  // Appends one record's value to the cell series `container`.
  void record(NodeId container, int depth) {
    if (depth > max_depth) fail();
    bool new_line = false;
    bool reference = false;
    uint8_t b = byte();
    for (;; b = byte()) {
      if (b == byte::new_line) new_line = true;
      else if (b == byte::reference) reference = true;
      else if (b == byte::set_value) fail_at(pos_ - 1);  // boot data only
      else break;
    }
    const uint8_t* header_at = pos_ - 1;
    const uint32_t slot = memory::buffer(container)->length();
    series::append_slot(container);
    Cell value{};
    if (b >= 0x80) {
      if (reference) fail_at(header_at);
      if (b < 0xC0) value = integer::make(b - byte::small_int);
      else if (b == byte::true_ || b == byte::false_) value = logic::make(b == byte::true_);
      else if (b == byte::copy) value = resolve(path(), false);
      else fail_at(header_at);
    } else {
      uint32_t id = b & byte::type_mask;
      if (id == byte::type_escape) id = varint();
      const bool flag = (b & byte::type_flag) != 0;
      if (id == 0 || id > uint32_t(TypeId::event) || id == uint32_t(TypeId::logic) ||
          id == uint32_t(TypeId::symbol) || id == uint32_t(TypeId::series))
        fail_at(header_at);
      const auto type = TypeId(id);
      if (is_refused(type)) error::raise(error_id::access::no_codec, datatype::make(type));
      value = typed(type, flag, reference, container, slot, depth, header_at);
    }
    if (new_line) value.header |= cell::new_line_flag;
    else cell::clear_new_line(value);
    cell_at(container, slot) = value;
  }

  static Cell& cell_at(NodeId node, uint32_t index) {
    return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr())[index];
  }

  Cell typed(TypeId type, bool flag, bool reference, NodeId container, uint32_t slot, int depth,
             const uint8_t* header_at) {
    const bool series_like = is_block_type(type) || is_string_type(type) || type == TypeId::binary ||
                             type == TypeId::bitset || type == TypeId::map;
    if (reference && !series_like) fail_at(header_at);
    switch (type) {
      case TypeId::unset: case TypeId::none:
        return Cell{cell::header(type), 0, 0, 0};
      case TypeId::datatype: {
        const uint8_t* at = pos_;
        const uint32_t id = varint();
        if (id == 0 || id > uint32_t(TypeId::event)) fail_at(at);
        return datatype::make(TypeId(id));
      }
      case TypeId::integer:
        return integer::make(svarint());
      case TypeId::char_: {
        const uint8_t* at = pos_;
        const uint32_t code = varint();
        if (code > 0x10FFFF) fail_at(at);
        return Cell{cell::header(type), 0, code, 0};
      }
      case TypeId::float_: case TypeId::percent: case TypeId::time: {
        Cell number{cell::header(type), 0, 0, 0};
        if (flag) {
          const int32_t n = svarint();
          cell::set_double(number, type == TypeId::percent ? n / 100.0 : double(n));
        } else {
          number.w2 = word32();
          number.w3 = word32();
        }
        return number;
      }
      case TypeId::typeset: {
        const uint8_t* at = pos_;
        const uint8_t length = byte();
        if (length > 12 || end_ - pos_ < length) fail_at(at);
        Cell set{cell::header(type), 0, 0, 0};
        std::memcpy(&set.w1, pos_, length);
        pos_ += length;
        return set;
      }
      case TypeId::issue:
        return word::make(type, no_node, symbol_ref(), 0xFFFFFFFF);
      case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
      case TypeId::refinement: {
        if (flag) fail_at(header_at);  // words of other contexts are not read yet
        Cell word = word::make_global(symbol_ref());
        return cell::set_type(word, type);
      }
      default:
        if (series_like) return series(type, flag, reference, container, slot, depth);
        fail_at(header_at);
    }
  }

  std::vector<uint32_t> path() {
    const uint8_t* at = pos_;
    const uint32_t n = varint();
    if (n == 0 || n > max_path || n > size_t(end_ - pos_)) fail_at(at);
    std::vector<uint32_t> indexes(n);
    for (auto& index : indexes) index = varint();
    return indexes;
  }

  // The cell that a path reaches from the root block.
  Cell resolve(const std::vector<uint32_t>& indexes, bool for_series) {
    const uint8_t* at = pos_;
    NodeId node = root_;
    Cell found{};
    for (size_t step = 0; step < indexes.size(); ++step) {
      if (step > 0) {
        const TypeId type = cell::type_of(found);
        if (!is_block_type(type) && type != TypeId::map) fail_at(at);
        node = series::node_of(found);
      }
      // Indexes count cells from the buffer's first one, whatever the head.
      if (indexes[step] >= memory::buffer(node)->length()) fail_at(at);
      found = cell_at(node, indexes[step]);
    }
    const TypeId type = cell::type_of(found);
    if (!(is_block_type(type) || is_string_type(type) || type == TypeId::binary ||
          type == TypeId::bitset || type == TypeId::map))
      fail_at(at);
    (void)for_series;
    return found;
  }

  Cell series(TypeId type, bool flag, bool reference, NodeId container, uint32_t slot, int depth) {
    const bool has_head = type != TypeId::map && type != TypeId::bitset;
    const uint32_t head = has_head && flag ? varint() : 0;
    if (reference) {
      const uint8_t* at = pos_;
      Cell shared = resolve(path(), true);
      if (!may_share(type, cell::type_of(shared))) fail_at(at);
      shared.header = cell::header(type);
      if (has_head) shared.w1 = head;
      if (type != TypeId::hash && type != TypeId::map) shared.w3 = 0;
      return shared;
    }
    if (is_block_type(type) || type == TypeId::map) {
      const uint32_t n = count();
      if (type == TypeId::map && n % 2 != 0) fail();
      // The block goes into its slot first, so that what is decoded into
      // it stays reachable and paths can find it.
      Cell block = block::make_new(n, type == TypeId::map ? TypeId::block : type);
      block.w1 = head;
      cell_at(container, slot) = block;
      const NodeId node = series::node_of(block);
      for (uint32_t i = 0; i < n; ++i) record(node, depth + 1);
      if (type == TypeId::hash) return with_table(cell_at(container, slot), true);
      if (type == TypeId::map) return with_table(cell_at(container, slot), false);
      return cell_at(container, slot);
    }
    if (is_string_type(type)) {
      const uint8_t* at = pos_;
      const uint32_t code = varint();
      if ((code & 3) == 3) fail_at(at);
      const uint32_t unit = 1u << (code & 3);
      const uint32_t length = code >> 2;
      if (uint64_t(length) * unit > uint64_t(end_ - pos_)) fail_at(at);
      return bytes_series(type, memory::new_unit_series(length, unit), length * unit, head);
    }
    const uint32_t length = count();
    Cell made = bytes_series(type, memory::new_byte_series(length), length, head);
    if (type == TypeId::bitset && flag) memory::buffer(series::node_of(made))->flags |= bitset::not_flag;
    return made;
  }

  Cell bytes_series(TypeId type, NodeId node, uint32_t bytes, uint32_t head) {
    SeriesBuf* buf = memory::buffer(node);
    if (bytes > 0) std::memcpy(buf->head_ptr(), pos_, bytes);
    buf->tail = buf->head + bytes;
    pos_ += bytes;
    return series::make(type, node, head);
  }

  // A hash! or map! over the decoded cells, with its table built.
  static Cell with_table(const Cell& block, bool hash) {
    const uint32_t depth = stack::depth();
    Val cells = stack::push(block);
    Cell result;
    if (hash) {
      cells->header = cell::header(TypeId::hash);
      hash::attach_table(cells);
      result = *cells;
    } else {
      cells->w1 = 0;
      Val map_value = stack::push_slot();
      map::make_from_block(map_value, cells);
      result = *map_value;
    }
    stack::drop_to(depth);
    return result;
  }

  const uint8_t* data_;
  const uint8_t* pos_;
  const uint8_t* end_;
  NodeId root_;
  std::vector<uint32_t> symbols_;
};

}  // namespace

void decode(std::span<const uint8_t> data, Val destination, const Cell& source) {
  if (data.size() < header_size || std::memcmp(data.data(), magic, 6) != 0)
    error::raise(error_id::script::invalid_data, source);
  const uint8_t flags = data[7];
  std::optional<std::vector<uint8_t>> unpacked;
  const uint8_t* body = data.data() + header_size;
  const uint8_t* end = data.data() + data.size();
  const uint8_t* origin = data.data();
  if (flags & flag::compressed) {
    unpacked = lz::decompress(data.subspan(header_size));
    if (!unpacked) error::raise(error_id::script::invalid_data, source);
    // Positions in errors count from the start of the decompressed body.
    body = unpacked->data();
    end = body + unpacked->size();
    origin = body;
  }
  if (!(flags & flag::compact)) {
    if (end - body < 8) error::raise(error_id::script::invalid_data, source);
    error::raise(error_id::script::kb_invalid_record, integer::make(int32_t(body - origin + 1)));
  }
  Decoder decoder(origin, body, end, series::node_of(*destination));
  decoder.flags_symbols = (flags & flag::symbols) != 0;
  decoder.compact();
}

}  // namespace kiv::kivbin
