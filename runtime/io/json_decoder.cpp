#include "runtime/io/json_decoder.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/lexer.h"
#include "runtime/float_text.h"
#include "runtime/unicode.h"

namespace kiv::json {
namespace {

// A new string! of `count` code points, in the narrowest unit that holds
// the widest of them. May collect.
Cell make_text(const char32_t* points, size_t count, char32_t widest) {
  const uint32_t unit = string::unit_to_store(widest);
  const uint32_t n = static_cast<uint32_t>(count);
  const NodeId node = memory::new_series(n == 0 ? 1 : n, unit);
  SeriesBuf* buf = memory::buffer(node);
  uint8_t* at = buf->data();
  switch (unit) {
    case 1:
      for (size_t i = 0; i < count; ++i) at[i] = static_cast<uint8_t>(points[i]);
      break;
    case 2:
      for (size_t i = 0; i < count; ++i) {
        const uint16_t u = static_cast<uint16_t>(points[i]);
        std::memcpy(at + i * 2, &u, 2);
      }
      break;
    default:
      std::memcpy(at, points, count * 4);
      break;
  }
  buf->tail = n * unit;
  return series::make(TypeId::string, node);
}

// The characters a word may not hold (the lexer's delimiters), and a key's
// first character may be none of them, nor a digit or an apostrophe.
bool is_delimiter(char32_t c) {
  switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')':
    case '{': case '}': case '"': case '#': case '%': case '$': case '@': case ':':
    case ';': case '\n': case 0xA0: case ' ': case '\t': case '\r': case '<': case '>':
      return true;
    default:
      return false;
  }
}

bool looks_like_word(std::u32string_view key) {
  if (key.empty()) return false;
  const char32_t first = key[0];
  if (is_delimiter(first) || (first >= '0' && first <= '9') || first == '\'') return false;
  return std::none_of(key.begin() + 1, key.end(), is_delimiter);
}

bool is_hex(char32_t c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

uint32_t hex_value(char32_t c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }

// What reading a value did: failed, read a whole value, or opened a
// container whose first value comes next.
enum class Read : uint8_t { failed, done, opened };

struct Level {
  bool object;
};

// One reading of one text. `T` is the input's unit (1, 2 or 4 bytes).
template <class T>
class Reader {
 public:
  Reader(const T* text, size_t length, Failure& failure) : p_(text), begin_(text), end_(text + length), failure_(failure) {}

  bool run(Val result) {
    Rooted<Cell> open(block::make_new(16));  // the open containers, innermost last
    open_ = &open;
    skip_ws();
    bool value_next = true;
    for (;;) {
      if (value_next) {
        const Read read = read_value(result);
        if (read == Read::failed) return false;
        value_next = read == Read::opened;
        continue;
      }
      // A value has just been read (and its trailing white space).
      if (levels_.empty()) {
        return p_ == end_;
      }
      const bool object = levels_.back().object;
      if (at(',')) {
        ++p_;
        skip_ws();
        if (object && !read_name()) return false;
        value_next = true;
      } else if (at(object ? '}' : ']')) {
        ++p_;
        close(result);
        mark();
        skip_ws();
      } else {
        return false;
      }
    }
  }

 private:
  // Whether the character at the reading position is `c`.
  bool at(char32_t c) const { return p_ != end_ && static_cast<char32_t>(*p_) == c; }

  uint32_t offset(const T* at) const { return static_cast<uint32_t>(at - begin_); }
  void mark() { failure_.mark = offset(p_); }

  void skip_ws() {
    while (p_ != end_) {
      const char32_t c = *p_;
      if (c == ' ' || c == '\t' || c == '\r') {
        ++p_;
      } else if (c == '\n') {
        ++p_;
        ++failure_.line;
        failure_.line_start = offset(p_);
        mark();
      } else {
        break;
      }
    }
  }

  bool keyword(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (static_cast<char32_t>(p_[i]) != static_cast<unsigned char>(word[i])) return false;
    p_ += word.size();
    return true;
  }

  // Reads one value at the reading position (white space before it is
  // read already). A scalar is added to the innermost container (or
  // becomes the result); "[" and "{" open a container, and for an object
  // its first name, when there is one. After a scalar or an empty
  // container, the trailing white space is read.
  Read read_value(Val result) {
    if (p_ == end_) return Read::failed;
    Cell value;
    switch (static_cast<char32_t>(*p_)) {
      case 't':
        if (!keyword("true")) return Read::failed;
        value = logic::make(true);
        break;
      case 'f':
        if (!keyword("false")) return Read::failed;
        value = logic::make(false);
        break;
      case 'n':
        if (!keyword("null")) return Read::failed;
        value = none::make();
        break;
      case '"':
        if (!read_string(value)) return Read::failed;
        break;
      case '[':
      case '{':
        return open(result);
      default:
        if (!read_number(value)) return Read::failed;
        break;
    }
    add(result, value);
    mark();
    skip_ws();
    return Read::done;
  }

  // Adds a value to the innermost container, or makes it the result.
  // `value` may be a new series: rooted while the container grows.
  void add(Val result, const Cell& value) {
    if (levels_.empty()) {
      *result = value;
      return;
    }
    Rooted<Cell> held(value);
    Rooted<Cell> container(*block::at(open_->get(), block::count(open_->get()) - 1));
    block::append(container.val(), held.get());
  }

  Read open(Val result) {
    const bool object = static_cast<char32_t>(*p_) == '{';
    ++p_;
    if (levels_.size() >= max_depth) {
      failure_.too_deep = true;
      return Read::failed;
    }
    {
      // Objects side by side tend to have the same keys: room for as many
      // pairs as the last one had.
      Rooted<Cell> fresh(block::make_new(object ? object_cells_ : 8));
      block::append(open_->val(), fresh.get());
    }
    levels_.push_back(Level{object});
    skip_ws();
    if (at(object ? '}' : ']')) {
      ++p_;
      close(result);
      mark();
      skip_ws();
      return Read::done;
    }
    if (object && !read_name()) return Read::failed;
    return Read::opened;
  }

  // Closes the innermost container: an object's pairs become a map!. The
  // container is added to its parent, or becomes the result. May collect.
  void close(Val result) {
    const bool object = levels_.back().object;
    levels_.pop_back();
    const NodeId node = series::node_of(open_->get());
    SeriesBuf* buf = memory::buffer(node);
    Rooted<Cell> done(*reinterpret_cast<Cell*>(buf->tail_ptr() - sizeof(Cell)));
    buf->tail -= sizeof(Cell);
    if (object) {
      object_cells_ = std::max<uint32_t>(block::count(done.get()), 2);
      Rooted<Cell> made;
      map::adopt_block(made.val(), done.val());
      done = made.get();
    }
    add(result, done.get());
  }

  // A string literal from its opening quote: any characters but the quote,
  // the backslash and the controls, and the escapes \" \\ \/ \b \f \n \r \t
  // and \u with 4 hex digits. Answers false when the literal does not
  // match; the escapes are decoded once it does.
  bool scan_literal(const T*& start, const T*& stop, bool& escaped) {
    const T* q = p_ + 1;
    start = q;
    escaped = false;
    for (;;) {
      if (q == end_) return false;
      const char32_t c = *q;
      if (c == '"') break;
      if (c < 0x20) return false;
      if (c != '\\') {
        ++q;
        continue;
      }
      escaped = true;
      if (++q == end_) return false;
      switch (static_cast<char32_t>(*q)) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
          ++q;
          break;
        case 'u':
          if (end_ - q < 5) return false;
          for (int i = 1; i <= 4; ++i)
            if (!is_hex(q[i])) return false;
          q += 5;
          break;
        default:
          return false;
      }
    }
    stop = q;
    p_ = q + 1;
    return true;
  }

  // Decodes the escapes of a matched literal into scratch_. A high
  // surrogate must be followed by an escaped low surrogate; otherwise
  // script/invalid-data is raised with the literal's text.
  char32_t unescape(const T* q, const T* stop) {
    scratch_.clear();
    char32_t widest = 0;
    while (q != stop) {
      char32_t c = *q++;
      if (c == '\\') {
        const char32_t e = *q++;
        switch (e) {
          case 'b': c = 8; break;
          case 'f': c = 12; break;
          case 'n': c = '\n'; break;
          case 'r': c = '\r'; break;
          case 't': c = '\t'; break;
          case 'u':
            c = read_hex4(q);
            q += 4;
            if (c >= 0xD800 && c <= 0xDBFF) {
              if (stop - q < 6 || q[0] != '\\' || q[1] != 'u' || !hex4_at(q + 2)) bad_surrogate(stop);
              const char32_t low = read_hex4(q + 2);
              if (low < 0xDC00 || low > 0xDFFF) bad_surrogate(stop);
              c = 0x10000 + (c - 0xD800) * 1024 + (low - 0xDC00);
              q += 6;
            }
            break;
          default: c = e; break;  // the quote, the backslash and the slash
        }
      }
      widest = std::max(widest, c);
      scratch_.push_back(c);
    }
    return widest;
  }

  static bool hex4_at(const T* q) { return is_hex(q[0]) && is_hex(q[1]) && is_hex(q[2]) && is_hex(q[3]); }
  static char32_t read_hex4(const T* q) {
    return static_cast<char32_t>(hex_value(q[0]) << 12 | hex_value(q[1]) << 8 | hex_value(q[2]) << 4 | hex_value(q[3]));
  }

  // The literal's text, as written between its quotes, goes with the error.
  [[noreturn]] void bad_surrogate(const T* stop) {
    const T* start = literal_start_;
    scratch_.assign(start, stop);
    char32_t widest = 0;
    for (char32_t c : scratch_) widest = std::max(widest, c);
    Rooted<Cell> text(make_text(scratch_.data(), scratch_.size(), widest));
    error::raise(error_id::script::invalid_data, text.get());
  }

  bool read_literal(bool& escaped) {
    const T* stop = nullptr;
    if (!scan_literal(literal_start_, stop, escaped)) return false;
    if (escaped) {
      widest_ = unescape(literal_start_, stop);
    } else {
      scratch_.assign(literal_start_, stop);
      widest_ = 0;
      for (char32_t c : scratch_) widest_ = std::max(widest_, c);
    }
    return true;
  }

  bool read_string(Cell& value) {
    bool escaped = false;
    if (!read_literal(escaped)) return false;
    value = make_text(scratch_.data(), scratch_.size(), widest_);
    return true;
  }

  // A name and its colon: white space, a string literal, white space, ":".
  // The key goes into the object's block as a word! when its text reads as
  // one word, else as a string!.
  bool read_name() {
    if (!at('"')) return false;
    bool escaped = false;
    if (!read_literal(escaped)) return false;
    Rooted<Cell> key(key_of());
    skip_ws();
    if (!at(':')) return false;
    ++p_;
    mark();
    Rooted<Cell> container(*block::at(open_->get(), block::count(open_->get()) - 1));
    block::append(container.val(), key.get());
    skip_ws();
    return true;
  }

  Cell key_of() {
    const std::u32string_view text(scratch_);
    if (looks_like_word(text)) {
      auto found = words_.find(scratch_);
      if (found != words_.end()) {
        if (!cell::is(found->second, TypeId::none)) return found->second;
        return make_text(scratch_.data(), scratch_.size(), widest_);
      }
      std::string utf8;
      char bytes[4];
      for (char32_t c : text) utf8.append(bytes, static_cast<size_t>(unicode::encode_utf8_char(c, bytes)));
      Cell word = none::make();
      Rooted<Cell> out;
      lexer::Options options;
      options.mode = lexer::Mode::scan;
      options.one = true;
      const lexer::Result scanned = lexer::scan_utf8(out.val(), utf8, options);
      if (scanned.type == static_cast<int32_t>(TypeId::word) && scanned.consumed == static_cast<int64_t>(utf8.size()))
        word = word::intern(utf8);
      words_.emplace(scratch_, word);
      if (!cell::is(word, TypeId::none)) return word;
    }
    return make_text(scratch_.data(), scratch_.size(), widest_);
  }

  // A number: an optional minus, an integer part without leading zeros, an
  // optional fraction, an optional exponent. Integers that fit 32 bits are
  // integer!, the other numbers float!.
  bool read_number(Cell& value) {
    const T* q = p_;
    if (q != end_ && *q == '-') ++q;
    if (q == end_ || !is_digit(*q)) return false;
    if (*q == '0') {
      ++q;
    } else {
      while (q != end_ && is_digit(*q)) ++q;
    }
    bool whole = true;
    if (end_ - q >= 2 && *q == '.' && is_digit(q[1])) {
      whole = false;
      q += 2;
      while (q != end_ && is_digit(*q)) ++q;
    }
    if (q != end_ && (*q == 'e' || *q == 'E')) {
      const T* e = q + 1;
      if (e != end_ && (*e == '+' || *e == '-')) ++e;
      if (e != end_ && is_digit(*e)) {
        whole = false;
        q = e;
        while (q != end_ && is_digit(*q)) ++q;
      }
    }
    number_text_.assign(p_, q);
    p_ = q;
    if (whole && number_text_.size() <= 11) {
      int64_t n = 0;
      for (char c : number_text_)
        if (c != '-') n = n * 10 + (c - '0');
      if (number_text_[0] == '-') n = -n;
      if (n >= INT32_MIN && n <= INT32_MAX) {
        value = integer::make(static_cast<int32_t>(n));
        return true;
      }
    }
    value = float_::make(float_text::parse(number_text_).value);
    return true;
  }

  const T* p_;
  const T* begin_;
  const T* end_;
  Failure& failure_;
  Rooted<Cell>* open_ = nullptr;
  std::vector<Level> levels_;
  uint32_t object_cells_ = 16;
  std::u32string scratch_;
  char32_t widest_ = 0;
  const T* literal_start_ = nullptr;
  std::string number_text_;
  std::unordered_map<std::u32string, Cell> words_;
};

}  // namespace

bool decode(Val input, Val result, Failure& failure) {
  failure = Failure{};
  // The text is copied out: reading allocates, and the buffer may move.
  const SeriesBuf* buf = memory::buffer(series::node_of(*input));
  const uint32_t unit = buf->unit();
  const uint32_t count = buf->length();
  const uint32_t from = std::min(series::index_of(*input), count);
  const uint8_t* head = buf->head_ptr() + static_cast<size_t>(from) * unit;
  const size_t length = count - from;
  *result = none::make();
  switch (unit) {
    case 1: {
      const std::vector<uint8_t> text(head, head + length);
      return Reader<uint8_t>(text.data(), length, failure).run(result);
    }
    case 2: {
      std::vector<uint16_t> text(length);
      std::memcpy(text.data(), head, length * 2);
      return Reader<uint16_t>(text.data(), length, failure).run(result);
    }
    default: {
      std::vector<uint32_t> text(length);
      std::memcpy(text.data(), head, length * 4);
      return Reader<uint32_t>(text.data(), length, failure).run(result);
    }
  }
}

}  // namespace kiv::json
