// The KIVBIN decoder: both layouts share the record model, and one reader
// serves both; the few places where the bytes differ ask `fixed_`.
#include "runtime/io/kivbin_decoder.h"

#include <algorithm>
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
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/lexer.h"
#include "runtime/eval/natives.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/kivbin_format.h"
#include "runtime/unicode.h"
#include "generated/error_ids.h"

namespace kiv::kivbin {
namespace {


// A function value's metadata block: the body, then four unset cells.
constexpr uint32_t function_metadata_cells = 5;

bool is_refused(TypeId type) {
  return type == TypeId::routine || type == TypeId::triple || type == TypeId::handle ||
         type == TypeId::port || type == TypeId::event;
}

// Whether a record of `type` may take the data of the cell a path reached:
// the same kind of buffer (cells, text, bytes) and the same extra tables.
bool may_share(TypeId type, TypeId found) {
  if (type == TypeId::hash || type == TypeId::map || type == TypeId::bitset ||
      type == TypeId::binary || type == TypeId::vector || type == TypeId::image)
    return found == type;
  // A native, action, operator or function holds its spec block's node
  // where a block holds its own: the block a path to one of them reaches
  // is that spec.
  if (is_block_type(type))
    return is_block_type(found) || found == TypeId::native || found == TypeId::action || found == TypeId::op ||
           found == TypeId::function;
  if (is_string_type(type)) return is_string_type(found);
  return false;
}

// Whether a native's spec from the data lays out the arguments that its
// entry reads: the same cells in the same order as the spec the entry was
// made with, doc strings left out; words by spelling, type blocks alike.
// An entry trusts its spec's argument count and types, so a spec that
// differs is refused rather than called.
bool same_arguments(NodeId spec, NodeId expected) {
  const SeriesBuf* a = memory::buffer(spec);
  const SeriesBuf* b = memory::buffer(expected);
  const auto* x = reinterpret_cast<const Cell*>(a->head_ptr());
  const auto* y = reinterpret_cast<const Cell*>(b->head_ptr());
  const uint32_t na = a->length(), nb = b->length();
  uint32_t i = 0, j = 0;
  for (;;) {
    while (i < na && cell::is(x[i], TypeId::string)) ++i;
    while (j < nb && cell::is(y[j], TypeId::string)) ++j;
    if (i == na || j == nb) return i == na && j == nb;
    const Cell& got = x[i++];
    const Cell& wanted = y[j++];
    const TypeId type = cell::type_of(wanted);
    if (cell::type_of(got) != type) return false;
    if (is_word_type(type)) {
      if (got.w2 != wanted.w2) return false;
    } else if (is_block_type(type)) {
      if (!same_arguments(series::node_of(got), series::node_of(wanted))) return false;
    } else if (got.w1 != wanted.w1 || got.w2 != wanted.w2 || got.w3 != wanted.w3) {
      return false;
    }
  }
}

class Decoder {
 public:
  Decoder(const uint8_t* data, const uint8_t* start, const uint8_t* end, NodeId root, bool fixed)
      : data_(data), pos_(start), end_(end), root_(root), fixed_(fixed) {}

  void body() {
    field();  // root count: not used
    const uint8_t* section_at = pos_;
    const uint32_t section = field();
    if (flags_symbols) read_symbols();
    if (section > size_t(end_ - pos_)) fail_at(section_at);
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

  // An integer of the layout: a varint, or a 32-bit word.
  uint32_t field() { return fixed_ ? word32() : varint(); }
  int32_t sfield() { return fixed_ ? int32_t(word32()) : svarint(); }

  // The fewest bytes a record or a symbol reference takes.
  uint64_t least_record() const { return fixed_ ? 4 : 1; }

  // Zero bytes that bring byte data to a multiple of 4 (fixed layout).
  void skip_padding(uint64_t bytes) {
    if (!fixed_) return;
    const size_t pad = size_t((4 - bytes % 4) % 4);
    if (size_t(end_ - pos_) < pad) fail();
    pos_ += pad;
  }

  void check_fits(uint64_t n, uint64_t size, const uint8_t* at) const {
    if (n * size > uint64_t(end_ - pos_)) fail_at(at);
  }

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
    const uint32_t n = field();
    check_fits(n, size, at);
    return n;
  }

  // The symbol table; its offsets are 4-byte words in both layouts.
  void read_symbols() {
    const uint32_t n = count(4);
    const uint32_t names_size = field();
    const size_t left = size_t(end_ - pos_);
    if (size_t(n) * 4 > left || names_size > left - size_t(n) * 4) fail();
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
      const std::string_view spelling(name, std::strlen(name));
      if (!valid_name(spelling)) fail_at(names + offset);
      symbols_[i] = symbol::make(spelling);
    }
  }

  // A word's spelling: not empty, strict UTF-8.
  static bool valid_name(std::string_view name) {
    if (name.empty()) return false;
    for (size_t at = 0; at < name.size();) {
      uint32_t code_point;
      const int length = unicode::decode_utf8_strict(name.substr(at), code_point);
      if (length <= 0) return false;
      at += size_t(length);
    }
    return true;
  }

  uint32_t symbol_ref() {
    const uint8_t* at = pos_;
    const uint32_t i = field();
    if (i >= symbols_.size()) fail_at(at);
    return symbols_[i];
  }

  // The global word of the symbol a field names, made once per decoding
  // (the symbols of code repeat: a lookup in the global context each time
  // cost as much as the rest of the decoding).
  Cell global_word() {
    const uint8_t* at = pos_;
    const uint32_t i = field();
    if (i >= symbols_.size()) fail_at(at);
    if (global_words_.size() < symbols_.size()) global_words_.resize(symbols_.size());
    Cell& word = global_words_[i];
    if (word.header == 0) word = word::intern_symbol(symbols_[i]);  // no word cell has header 0
    return word;
  }

  // Appends one record's value to the cell series `container`.
  void record(NodeId container, int depth) {
    if (depth > int(max_depth)) fail();
    if (fixed_) fixed_record(container, depth);
    else compact_record(container, depth);
  }

  // A type id a record may carry (logic! only in the fixed layout), or 0.
  TypeId record_type(uint32_t id, const uint8_t* header_at) const {
    if (id == 0 || id > uint32_t(TypeId::event) || (id == uint32_t(TypeId::logic) && !fixed_) ||
        id == uint32_t(TypeId::symbol) || id == uint32_t(TypeId::series))
      fail_at(header_at);
    const auto type = TypeId(id);
    if (is_refused(type)) error::raise(error_id::access::no_codec, datatype::make(type));
    if (!datatype::is_registered(type)) fail_at(header_at);  // a type this build lacks
    return type;
  }

  static bool may_refer(TypeId type) {
    return is_series_record(type) || is_word_type(type) || type == TypeId::object || type == TypeId::function;
  }

  static void finish(NodeId container, uint32_t slot, Cell value, bool new_line) {
    if (new_line) value.header |= cell::new_line_flag;
    else cell::clear_new_line(value);
    cell_at(container, slot) = value;
  }

  // A header word (after any padding words), then the payload. The flag
  // the compact layout keeps in bit 6 comes from the header's own bits.
  void fixed_record(NodeId container, int depth) {
    uint32_t word = word32();
    while (word == 0) word = word32();
    const uint8_t* header_at = pos_ - 4;
    const uint32_t slot = memory::buffer(container)->length();
    series::append_slot(container);
    const uint32_t id = word & fixed::type_mask;
    Cell value{};
    if (id == fixed::reference_type) {
      value = resolve(path_indexes());
    } else {
      const TypeId type = record_type(id, header_at);
      const bool reference = (word & fixed::reference) != 0 && may_refer(type);
      bool flag = false;
      if (type == TypeId::bitset) flag = (word & fixed::complemented) != 0;
      else if (type == TypeId::object) flag = (word & fixed::handlers) != 0;
      else if (type == TypeId::money) flag = (word & fixed::negative) != 0;
      else if (is_word_type(type)) flag = (word & fixed::global) == 0;  // bound
      header_word_ = word;
      header_at_ = header_at;
      value = typed(type, flag, reference, container, slot, depth, header_at);
    }
    finish(container, slot, value, (word & fixed::new_line) != 0);
  }

  void compact_record(NodeId container, int depth) {
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
      else if (b == byte::copy) value = resolve(path());
      else fail_at(header_at);
    } else {
      uint32_t id = b & byte::type_mask;
      if (id == byte::type_escape) id = varint();
      const bool flag = (b & byte::type_flag) != 0;
      const TypeId type = record_type(id, header_at);
      value = typed(type, flag, reference, container, slot, depth, header_at);
    }
    finish(container, slot, value, new_line);
  }

  static Cell& cell_at(NodeId node, uint32_t index) {
    return reinterpret_cast<Cell*>(memory::buffer(node)->head_ptr())[index];
  }

  Cell typed(TypeId type, bool flag, bool reference, NodeId container, uint32_t slot, int depth,
             const uint8_t* header_at) {
    const bool series_like = is_series_record(type);
    if (reference && !may_refer(type)) fail_at(header_at);
    switch (type) {
      case TypeId::unset: case TypeId::none:
        return Cell{cell::header(type), 0, 0, 0};
      case TypeId::datatype: {
        const uint8_t* at = pos_;
        const uint32_t id = field();
        if (id == 0 || id > uint32_t(TypeId::event) || !datatype::is_registered(TypeId(id))) fail_at(at);
        return datatype::make(TypeId(id));
      }
      case TypeId::logic:  // fixed layout only
        return logic::make(word32() != 0);
      case TypeId::integer:
        return integer::make(sfield());
      case TypeId::char_: {
        const uint8_t* at = pos_;
        const uint32_t code = field();
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
        const uint8_t length = fixed_ ? 12 : byte();
        if (length > 12 || end_ - pos_ < length) fail_at(at);
        Cell set{cell::header(type), 0, 0, 0};
        std::memcpy(&set.w1, pos_, length);
        pos_ += length;
        return set;
      }
      case TypeId::pair: {
        Cell pair{cell::header(type), 0, 0, 0};
        pair.w2 = uint32_t(sfield());
        pair.w3 = uint32_t(sfield());
        return pair;
      }
      case TypeId::point2d: case TypeId::point3d: {
        Cell point{cell::header(type), word32(), word32(), 0};
        if (type == TypeId::point3d) point.w3 = word32();
        return point;
      }
      case TypeId::tuple: {
        // Fixed: the length in the header word, and always 12 bytes.
        const uint8_t* at = fixed_ ? header_at : pos_;
        const uint32_t length = fixed_ ? (header_word_ >> fixed::unit_shift) & 0xFF : flag ? byte() : 3;
        const uint32_t stored = fixed_ ? 12 : length;
        if (length < 3 || length > 12 || size_t(end_ - pos_) < stored) fail_at(at);
        Cell tuple{cell::header(type) | (length << tuple_length_shift), 0, 0, 0};
        std::memcpy(&tuple.w1, pos_, length);
        pos_ += stored;
        return tuple;
      }
      case TypeId::date: {
        // Fixed: the time double is always there, and read only when the
        // date word says the date has a time.
        const uint8_t* at = pos_;
        Cell date{cell::header(type), word32(), 0, 0};
        const bool has_time = (date.w1 & date_has_time) != 0;
        const uint32_t month = (date.w1 >> 12) & 0xF;
        const uint32_t day = (date.w1 >> 7) & 0x1F;
        if ((!fixed_ && flag != has_time) || month < 1 || month > 12 || day < 1) fail_at(at);
        if (fixed_ && !has_time) {
          word32();
          word32();
        } else if (has_time) {
          date.w2 = word32();
          date.w3 = word32();
        }
        return date;
      }
      case TypeId::money: {
        const uint8_t* at = pos_;
        if (end_ - pos_ < 12) fail();
        Cell money{cell::header(type) | (flag ? money_negative : 0), 0, 0, 0};
        std::memcpy(&money.w1, pos_, 12);
        for (int i = 1; i < 12; ++i)  // two decimal digits a byte
          if ((pos_[i] >> 4) > 9 || (pos_[i] & 0xF) > 9) fail_at(at + i);
        pos_ += 12;
        return money;
      }
      case TypeId::issue:
        return word::make(type, no_node, symbol_ref(), 0xFFFFFFFF);
      case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
      case TypeId::refinement: {
        if (!flag) {
          // Bound as the lexer binds the word of the same spelling.
          Cell word = global_word();
          if (fixed_) sfield();  // the word index: the spelling binds it again
          return cell::set_type(word, type);
        }
        return bound_word(type, reference, container, slot, depth);
      }
      case TypeId::object: case TypeId::function:
        if (reference) {
          const uint8_t* at = pos_;
          // The path may reach the object itself, or a word that brought
          // its context first: the owner is the context's self value.
          const NodeId ctx = context_of(resolve(path()));
          if (ctx == no_node) fail_at(at);
          const Cell owner = context::self_cell(ctx);
          if (cell::type_of(owner) != type || !whole(owner)) fail_at(at);
          return owner;
        }
        return owner(type, flag, container, slot, depth);
      case TypeId::context: {
        pos_ = header_at;  // the context block starts with this header
        const NodeId ctx = context_block(context::Kind::object, false);
        const Cell object = object::make(ctx, object::new_class_id(), no_node);
        context::self_cell(ctx) = object;
        cell_at(container, slot) = object;
        context_values(ctx, depth);
        return cell_at(container, slot);
      }
      case TypeId::native: case TypeId::action: {
        const uint8_t* at = pos_;
        const uint32_t index = field();
        // Calls go straight to the entry: an index without one is refused.
        const bool known = type == TypeId::native ? natives::entry(index) != nullptr
                                                  : action_entries::entry(index) != nullptr;
        if (!known) fail_at(at);
        const Cell spec = sub_record(depth);
        if (!cell::is(spec, TypeId::block)) fail_at(at);
        const uint32_t base = stack::depth();
        Val spec_value = stack::push(spec);
        Val expected = lexer::scan(type == TypeId::native ? natives::spec_text(index)
                                                          : action_entries::spec_text(index));
        if (!same_arguments(series::node_of(*spec_value), series::node_of(*expected))) {
          stack::drop_to(base);
          fail_at(at);
        }
        const Cell made = native::make(type, index, spec_value);
        stack::drop_to(base);
        return made;
      }
      case TypeId::op: {
        const uint8_t* at = pos_;
        const uint32_t stated = (header_word_ >> fixed::wrapped_shift) & 0xFF;
        const Cell wrapped = sub_record(depth);
        const TypeId kind = cell::type_of(wrapped);
        if (kind != TypeId::function && kind != TypeId::native && kind != TypeId::action) fail_at(at);
        if (fixed_ && stated != uint32_t(kind)) fail_at(header_at);
        return native::make_op(wrapped);  // checks the two arguments an operator takes
      }
      case TypeId::error:
        return error_record(container, slot, depth);
      default:
        if (series_like) return series(type, flag, reference, container, slot, depth);
        fail_at(header_at);
    }
  }

  // One record decoded on its own, outside any container a path can reach
  // (a native's spec block, an op's function).
  Cell sub_record(int depth) {
    const uint32_t base = stack::depth();
    Val scratch = block::push_new(1);
    record(series::node_of(*scratch), depth + 1);
    const Cell value = cell_at(series::node_of(*scratch), 0);
    stack::drop_to(base);
    return value;
  }

  // A context block: its header byte, flags, count and words. The values
  // that may follow are read by `context_values`, once the context's
  // owner is where paths can find it.
  NodeId context_block(context::Kind expected, bool on_stack_expected) {
    const uint8_t* at = pos_;
    bool on_stack = false;
    bool values = false;
    bool maker = false;
    if (fixed_) {
      const uint32_t header = word32();
      if ((header & fixed::type_mask) != uint32_t(TypeId::context)) fail_at(at);
      on_stack = (header & fixed::on_stack) != 0;
      values = (header & fixed::values) != 0;
      maker = (header & fixed::maker) != 0;
    } else {
      if ((byte() & byte::type_mask) != uint8_t(TypeId::context)) fail_at(at);
      const uint8_t flags = byte();
      on_stack = (flags & context_flag::on_stack) != 0;
      values = (flags & context_flag::values) != 0;
      maker = (flags & context_flag::maker) != 0;
      ++at;  // a wrong flag byte is reported at itself
    }
    if (on_stack != on_stack_expected) fail_at(at);
    values_follow_ = values && !on_stack;
    const uint32_t count = this->count(least_record());
    context::Options options;
    options.kind = expected;
    options.values_on_stack = on_stack;
    options.object_made = maker;
    Rooted<NodeId> ctx(context::make(count, options));
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* symbol_at = pos_;
      bool added = false;
      context::add_symbol(ctx.get(), symbol_ref(), false, &added);
      if (!added) fail_at(symbol_at);  // a name twice
    }
    return ctx.get();  // the caller names it from a cell before it allocates
  }

  // The values of a stored context, decoded straight into its value
  // series, so that a path reaches each value as soon as it is there.
  void context_values(NodeId ctx, int depth) {
    if (!values_follow_) return;
    values_follow_ = false;
    const uint32_t count = context::word_count(ctx);
    const NodeId values = context::context_cell(ctx).w2;
    SeriesBuf* buf = memory::buffer(values);
    buf->tail = buf->head;
    for (uint32_t i = 0; i < count; ++i) record(values, depth + 1);
  }

  // Whether slot `index` of a stored context holds a value yet.
  static bool filled(NodeId ctx, uint32_t index) {
    return index < memory::buffer(context::context_cell(ctx).w2)->length();
  }

  // An object's class, handlers, context and values, or a function, put in
  // `slot` of `container` as soon as its context exists.
  Cell owner(TypeId type, bool flag, NodeId container, uint32_t slot, int depth) {
    if (type == TypeId::object) {
      sfield();  // the class id: a decoded object is a class of its own
      NodeId record = no_node;
      int32_t descriptors[2] = {0, 0};
      if (flag) {
        descriptors[0] = sfield();
        descriptors[1] = sfield();
      }
      const NodeId ctx = context_block(context::Kind::object, false);
      place_pending(ctx);
      cell_at(container, slot) = object::make(ctx, object::new_class_id(), no_node);
      if (flag) {
        const uint32_t base = stack::depth();
        Val handlers = block::push_new(2);
        for (const int32_t descriptor : descriptors)
          block::append(handlers, Cell{cell::header(TypeId::pair), 0, uint32_t(descriptor), 0});
        record = series::node_of(*handlers);
        cell_at(container, slot).w3 = record;
        stack::drop_to(base);
      }
      context::self_cell(ctx) = cell_at(container, slot);
      context_values(ctx, depth);
      return cell_at(container, slot);
    }
    return function_record(container, slot, depth);
  }

  // A function's context, spec block and body. Its cell is in its slot
  // from the start, so that words of the body can name it by path.
  Cell function_record(NodeId container, uint32_t slot, int depth) {
    count();  // slot counts to reserve: the records below size the blocks
    count();
    const uint8_t* at = pos_;
    Rooted<NodeId> rooted(context_block(context::Kind::function, true));
    const NodeId ctx = rooted.get();
    place_pending(ctx);
    const uint32_t base = stack::depth();
    Val metadata = block::push_new(function_metadata_cells);
    for (uint32_t i = 0; i < function_metadata_cells; ++i) block::append(metadata, unset::make());
    Val placeholder = block::push_new(1);
    cell_at(container, slot) =
        Cell{cell::header(TypeId::function), ctx, series::node_of(*placeholder), series::node_of(*metadata)};
    context::self_cell(ctx) = cell_at(container, slot);
    stack::drop_to(base);  // reachable from the slot from now on
    // Until its spec is in, the function is not whole: a reference to it
    // from inside its spec is refused (see `whole`).
    unfinished_.push_back(ctx);
    const Cell spec = sub_record(depth);
    if (!cell::is(spec, TypeId::block)) fail_at(at);
    cell_at(container, slot).w2 = series::node_of(spec);
    // The context must hold the spec block's words, as calls fill
    // their values from it.
    const uint32_t flags = function::validate_spec(spec);
    const NodeId check = context::make_from_words(series::node_of(spec), 0,
                                                  {.values_on_stack = true, .kind = context::Kind::function});
    if (context::word_count(check) != context::word_count(ctx)) fail_at(at);
    for (uint32_t i = 0; i < context::word_count(ctx); ++i)
      if (context::word_at(check, i).w2 != context::word_at(ctx, i).w2) fail_at(at);
    cell_at(container, slot).header |= flags;
    context::self_cell(ctx) = cell_at(container, slot);
    unfinished_.pop_back();
    // The body may hold the function itself: copies made now share its
    // metadata block, where the body goes once it is read.
    const Cell body = sub_record(depth);
    if (!cell::is(body, TypeId::block)) fail_at(at);
    reinterpret_cast<Cell*>(memory::buffer(cell_at(container, slot).w3)->head_ptr())[function::meta::body] = body;
    return cell_at(container, slot);
  }

  // Whether a cell a reference reached is a whole value: not a function
  // whose spec is still being read.
  bool whole(const Cell& found) const {
    const TypeId type = cell::type_of(found);
    if (type != TypeId::function && !(type == TypeId::op && cell::op_wrapped_type(found) == TypeId::function))
      return true;
    return std::find(unfinished_.begin(), unfinished_.end(), NodeId(found.w1)) == unfinished_.end();
  }

  // A word whose owner is read inline takes its slot as soon as the
  // owner's context exists, so that paths through it reach the values.
  struct PendingWord {
    NodeId container;
    uint32_t slot;
    TypeId type;
    uint32_t symbol;
    int32_t stored;
    const uint8_t* at;
  };

  void place_pending(NodeId ctx) {
    if (!pending_) return;
    const PendingWord word = *pending_;
    pending_.reset();
    cell_at(word.container, word.slot) = bind(word.type, ctx, word.symbol, word.stored, word.at);
  }

  Cell error_record(NodeId container, uint32_t slot, int depth) {
    const uint8_t* at = pos_;
    const uint32_t code = field();
    if (code > 0x7FFFFFFF) fail_at(at);
    cell_at(container, slot) = error_value::make_from_code(int32_t(code));
    const NodeId ctx = cell_at(container, slot).w1;
    for (uint32_t field = error_value::arg1; field <= error_value::stack; ++field) {
      const Cell value = sub_record(depth);
      *context::slot(ctx, field) = value;
    }
    return cell_at(container, slot);
  }

  // A word bound to the context of an object or function that follows
  // inline (read, then dropped), or that a path reaches.
  Cell bound_word(TypeId type, bool reference, NodeId container, uint32_t slot, int depth) {
    const uint32_t symbol = symbol_ref();
    const uint8_t* at = pos_;
    const int32_t stored = sfield();
    if (reference) {
      const Cell found = resolve(path());
      const NodeId ctx = context_of(found);
      if (ctx == no_node) fail_at(at);
      return bind(type, ctx, symbol, stored, at);
    }
    const uint8_t* header_at = pos_;
    const uint32_t header = fixed_ ? word32() : byte();
    const auto owner_id = header & (fixed_ ? fixed::type_mask : byte::type_mask);
    if (owner_id != uint32_t(TypeId::object) && owner_id != uint32_t(TypeId::function)) fail_at(header_at);
    const auto owner_type = TypeId(owner_id);
    const bool owner_flag = fixed_ ? (header & fixed::handlers) != 0 : (header & byte::type_flag) != 0;
    const uint32_t base = stack::depth();
    Val scratch = block::push_new(1);
    const NodeId scratch_node = series::node_of(*scratch);
    series::append_slot(scratch_node);
    pending_ = PendingWord{container, slot, type, symbol, stored, at};
    owner(owner_type, owner_flag, scratch_node, 0, depth);
    stack::drop_to(base);
    return cell_at(container, slot);
  }

  Cell bind(TypeId type, NodeId ctx, uint32_t symbol, int32_t stored, const uint8_t* at) {
    uint32_t index;
    if (stored == -1) {
      const int32_t found = context::find_symbol(ctx, symbol, true);
      if (found < 0) fail_at(at);
      index = uint32_t(found);
    } else {
      if (stored < 0 || uint32_t(stored) >= context::word_count(ctx)) fail_at(at);
      index = uint32_t(stored);
    }
    return word::make(type, ctx, symbol, index);
  }

  static NodeId context_of(const Cell& found) {
    switch (cell::type_of(found)) {
      case TypeId::object: case TypeId::function: case TypeId::error:
        return found.w1;
      case TypeId::op:
        return cell::op_wrapped_type(found) == TypeId::function ? found.w1 : no_node;
      case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
      case TypeId::refinement:
        return found.w1 != context::global() ? found.w1 : no_node;
      default:
        return no_node;
    }
  }

  // The path of a record with a reference: inline in the compact layout,
  // a reference record of its own in the fixed layout.
  std::vector<uint32_t> path() {
    if (fixed_) {
      const uint8_t* at = pos_;
      if (word32() != fixed::reference_type) fail_at(at);
    }
    return path_indexes();
  }

  // A path's indexes; a path that leads nowhere is reported at its count.
  std::vector<uint32_t> path_indexes() {
    const uint8_t* at = pos_;
    path_at_ = at;
    const uint32_t n = field();
    if (n == 0 || n > max_path || uint64_t(n) * least_record() > uint64_t(end_ - pos_)) fail_at(at);
    std::vector<uint32_t> indexes(n);
    for (auto& index : indexes) index = field();
    return indexes;
  }

  // The cell that a path reaches from the root block.
  Cell resolve(const std::vector<uint32_t>& indexes) {
    const uint8_t* at = path_at_;
    Cell found = series::make(TypeId::block, root_);
    for (const uint32_t index : indexes) {
      const std::optional<Cell> next = step(found, index);
      if (!next) fail_at(at);
      found = *next;
    }
    if (!whole(found)) fail_at(at);
    switch (cell::type_of(found)) {
      case TypeId::unset: case TypeId::none: case TypeId::datatype: case TypeId::logic:
      case TypeId::char_: case TypeId::integer: case TypeId::float_: case TypeId::percent:
      case TypeId::time: case TypeId::typeset: case TypeId::issue: case TypeId::pair:
      case TypeId::tuple: case TypeId::date: case TypeId::money: case TypeId::point2d:
      case TypeId::point3d: case TypeId::context:
        fail_at(at);
      default:
        return found;
    }
  }

  // The cell at `index` inside `container`, if it holds one there.
  static std::optional<Cell> step(const Cell& container, uint32_t index) {
    const TypeId type = cell::type_of(container);
    if (is_block_type(type) || type == TypeId::map) {
      const NodeId node = series::node_of(container);
      if (index >= memory::buffer(node)->length()) return std::nullopt;
      return cell_at(node, index);  // from the buffer's first cell, whatever the head
    }
    switch (type) {
      case TypeId::object:
        return context_slot(container.w1, index);
      case TypeId::error:
        if (index > error_value::stack - error_value::arg1) return std::nullopt;
        return *context::slot(container.w1, error_value::arg1 + index);
      case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
      case TypeId::refinement: {
        const NodeId ctx = container.w1;
        if (ctx == no_node) return std::nullopt;
        if (!context::values_on_stack(ctx)) return context_slot(ctx, index);
        const Cell& owner = context::self_cell(ctx);
        if (!cell::is(owner, TypeId::function)) return std::nullopt;
        return step(owner, index);
      }
      case TypeId::function: case TypeId::op:
        if (type == TypeId::op && cell::op_wrapped_type(container) != TypeId::function) {
          if (index != 0) return std::nullopt;
          return series::make(TypeId::block, container.w2);
        }
        if (index == 0) return series::make(TypeId::block, container.w2);
        if (index == 1 && type == TypeId::function) return function::metadata(container, function::meta::body);
        return std::nullopt;
      case TypeId::native: case TypeId::action: {
        // A step into a native or an action counts the cells of its spec.
        const NodeId spec = container.w2;
        if (index >= memory::buffer(spec)->length()) return std::nullopt;
        return cell_at(spec, index);
      }
      default:
        return std::nullopt;
    }
  }

  static std::optional<Cell> context_slot(NodeId ctx, uint32_t index) {
    if (!context::has_values(ctx) || index >= context::word_count(ctx) || !filled(ctx, index)) return std::nullopt;
    return *context::slot(ctx, index);
  }

  Cell series(TypeId type, bool flag, bool reference, NodeId container, uint32_t slot, int depth) {
    const bool has_head = type != TypeId::map && type != TypeId::bitset;
    const uint32_t head = has_head && (flag || fixed_) ? field() : 0;
    if (reference) {
      const uint8_t* at = pos_;
      Cell shared = resolve(path());
      if (!may_share(type, cell::type_of(shared))) fail_at(at);
      shared.header = cell::header(type);
      if (has_head) shared.w1 = head;
      if (type != TypeId::hash && type != TypeId::map && type != TypeId::vector && type != TypeId::image)
        shared.w3 = 0;
      return shared;
    }
    if (is_block_type(type) || type == TypeId::map) {
      const uint32_t n = count(least_record());
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
    if (type == TypeId::vector) return vector(head);
    if (type == TypeId::image) return image_series(head);
    if (is_string_type(type)) {
      const uint8_t* at = pos_;
      uint32_t unit = 0;
      uint32_t length = 0;
      if (fixed_) {
        unit = (header_word_ >> fixed::unit_shift) & 0xFF;
        if (unit != 1 && unit != 2 && unit != 4) fail_at(header_at_);
        length = field();
      } else {
        const uint32_t code = varint();
        if ((code & 3) == 3) fail_at(at);
        unit = 1u << (code & 3);
        length = code >> 2;
      }
      check_fits(length, unit, at);
      if (unit == 4)
        for (uint32_t i = 0; i < length; ++i) {
          uint32_t code_point;
          std::memcpy(&code_point, pos_ + 4 * size_t(i), 4);
          if (code_point > 0x10FFFF) fail_at(pos_ + 4 * size_t(i));
        }
      return bytes_series(type, memory::new_unit_series(length, unit), length * unit, head);
    }
    const uint32_t length = count();
    Cell made = bytes_series(type, memory::new_byte_series(length), length, head);
    if (type == TypeId::bitset && flag) memory::buffer(series::node_of(made))->flags |= bitset::not_flag;
    return made;
  }

  // Elements of one type and size: char! and integer! of 1, 2 or 4 bytes,
  // float! of 4 or 8, percent! of 8.
  // Compact: a byte of type and unit code, then the count. Fixed: the unit
  // size in the header word, the count, then the element type.
  Cell vector(uint32_t head) {
    const uint8_t* at = pos_;
    uint32_t element_id = 0;
    uint32_t unit = 0;
    uint32_t length = 0;
    if (fixed_) {
      unit = (header_word_ >> fixed::unit_shift) & 0xFF;
      length = field();
      element_id = field();
    } else {
      const uint8_t kind = byte();
      element_id = kind >> 2;
      unit = 1u << (kind & 3);
    }
    bool valid = false;
    switch (element_id) {
      case uint32_t(TypeId::char_): case uint32_t(TypeId::integer): valid = unit == 1 || unit == 2 || unit == 4; break;
      case uint32_t(TypeId::float_): valid = unit == 4 || unit == 8; break;
      case uint32_t(TypeId::percent): valid = unit == 8; break;
      default: break;
    }
    if (!valid) fail_at(fixed_ ? header_at_ : at);
    const auto element = TypeId(element_id);
    if (fixed_) check_fits(length, unit, at);
    else length = count(unit);
    Cell made = bytes_series(TypeId::vector, memory::new_unit_series(length, unit), length * unit, head);
    made.w3 = uint32_t(element);
    return made;
  }

  // Compact: varint width and height; fixed: the size word. Then width x
  // height pixel words, which must all be there before any is allocated.
  Cell image_series(uint32_t head) {
    const uint8_t* at = pos_;
    uint32_t width = 0;
    uint32_t height = 0;
    if (fixed_) {
      const uint32_t size = word32();
      width = size & max_image_side;
      height = size >> 16;
    } else {
      width = varint();
      height = varint();
      if (width > max_image_side || height > max_image_side) fail_at(at);
    }
    const uint64_t pixels = uint64_t(width) * height;
    check_fits(pixels, 4, at);
    Cell made = image::from_memory(width, height, 0, pos_);
    pos_ += size_t(pixels) * 4;
    made.w1 = head;
    return made;
  }

  Cell bytes_series(TypeId type, NodeId node, uint32_t bytes, uint32_t head) {
    SeriesBuf* buf = memory::buffer(node);
    if (bytes > 0) std::memcpy(buf->head_ptr(), pos_, bytes);
    buf->tail = buf->head + bytes;
    pos_ += bytes;
    skip_padding(bytes);
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
  std::vector<Cell> global_words_;  // by symbol: see global_word
  bool fixed_;
  uint32_t header_word_ = 0;  // fixed layout: the header of the record being read
  const uint8_t* header_at_ = nullptr;
  bool values_follow_ = false;
  const uint8_t* path_at_ = nullptr;
  std::optional<PendingWord> pending_;
  std::vector<NodeId> unfinished_;  // contexts of functions whose spec is being read
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
  const bool fixed = (flags & flag::compact) == 0;
  if (fixed && end - body < 8) error::raise(error_id::script::invalid_data, source);
  Decoder decoder(origin, body, end, series::node_of(*destination), fixed);
  decoder.flags_symbols = (flags & flag::symbols) != 0;
  decoder.body();
}

}  // namespace kiv::kivbin
