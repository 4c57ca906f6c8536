#include "runtime/datatypes/date.h"

#include <cmath>
#include <string>
#include <string_view>

#include "runtime/core/error_raise.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_settings.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/eval/random.h"
#include "runtime/mold.h"

namespace kiv::date {
namespace {

constexpr double day_seconds = 86400.0;

int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days from 1 March of year 0 to 1 March of year y.
int64_t year_start(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

enum Field : int {
  f_date = 1, f_year, f_month, f_day, f_zone, f_time, f_hour, f_minute, f_second, f_weekday, f_yearday, f_timezone,
  f_week, f_isoweek,
};

[[noreturn]] void raise_limit() { error::raise(error_id::script::type_limit, datatype::make(TypeId::date)); }

// A date taken apart: its day number, whether it has a time, the local time
// of day and the zone code.
struct Parts {
  int64_t day;
  bool has_time;
  double local;
  uint32_t zone;
};

uint32_t packed(const Cell& date) { return date.w1; }
int32_t year_of(uint32_t word) { return static_cast<int32_t>(word) >> 17; }
int32_t month_of(uint32_t word) { return static_cast<int32_t>((word >> 12) & 0xF); }
int32_t day_of(uint32_t word) { return static_cast<int32_t>((word >> 7) & 0x1F); }
bool has_time_of(uint32_t word) { return (word & 0x10000) != 0; }
uint32_t zone_of(uint32_t word) { return word & 0x7F; }
double stored_time(const Cell& date) { return cell::get_double(date); }

int64_t day_number(const Cell& date) {
  const uint32_t word = packed(date);
  return to_days(year_of(word), month_of(word), day_of(word));
}

Parts parts_of(const Cell& date) {
  const uint32_t word = packed(date);
  const bool timed = has_time_of(word);
  return {day_number(date), timed, timed ? stored_time(date) + zone_seconds(zone_of(word)) : 0.0, zone_of(word)};
}

Cell build(const Parts& parts) { return make_from_days(parts.day, parts.has_time, parts.local, parts.zone); }

// Replaces `target` by `made`, keeping the header flags of `target`.
void store(Cell& target, const Cell& made) {
  const uint32_t flags = target.header & ~cell::type_mask;
  target = made;
  target.header |= flags;
}

int64_t january_first(int64_t year) { return to_days(year, 1, 1); }

// Monday of ISO week 1 of `year`.
int64_t iso_week_one(int64_t year) {
  const int64_t j = january_first(year);
  const int64_t w = floor_mod(j + 2, 7);
  return w < 4 ? j - w : j + 7 - w;
}

int32_t weekday_of(int64_t day) { return static_cast<int32_t>(floor_mod(day + 2, 7) + 1); }

int32_t iso_week(int64_t year, int64_t day) {
  const int64_t s = iso_week_one(year);
  if (day < s) {
    const int64_t w = floor_mod(january_first(year) + 2, 7);  // 4 Friday, 5 Saturday, 6 Sunday
    if (w == 4) return 53;
    if (w == 5) return leap_year(year - 1) ? 53 : 52;
    return 52;
  }
  if (day >= iso_week_one(year + 1)) return 1;
  return static_cast<int32_t>((day - s) / 7 + 1);
}

// Days of the first (Sunday-based) week that lie before 1 January.
int64_t days_before_first_week(int64_t year) { return floor_mod(january_first(year) + 3, 7); }

int32_t sunday_week(int64_t year, int64_t day) {
  const int64_t f = days_before_first_week(year);
  const int64_t e = day - january_first(year) + 1;
  if (e <= 7 - f) return 1;
  return static_cast<int32_t>((e + f - 1) / 7 + 1);
}

// The zone code a zone! setter value gives: whole hours (an integer!,
// their signed remainder by 16) or a time! (taken modulo 16 hours, to the
// quarter hour below).
uint32_t zone_from_value(const Cell& value) {
  if (cell::is(value, TypeId::integer)) return zone_code((integer::get(value) % 16) * 60);
  if (!cell::is(value, TypeId::time)) error::raise(error_id::script::invalid_arg, value);
  const double t = std::fmod(time_::get(value), 16.0 * 3600.0);
  if (!std::isfinite(t)) error::raise(error_id::script::invalid_arg, value);
  const auto minutes = static_cast<int32_t>(std::trunc(t / 60.0));
  const int32_t magnitude = (minutes < 0 ? -minutes : minutes) / 15 * 15;
  return zone_code(minutes < 0 ? -magnitude : magnitude);
}

int32_t integer_value(const Cell& value) {
  if (!cell::is(value, TypeId::integer)) error::raise(error_id::script::invalid_arg, value);
  return integer::get(value);
}

// The date with field `field` set to `value`.
Cell with_field(const Cell& date, int field, const Cell& value) {
  Parts parts = parts_of(date);
  const uint32_t word = packed(date);
  const int64_t year = year_of(word);
  const int32_t month = month_of(word);
  switch (field) {
    case f_date: {
      if (!cell::is(value, TypeId::date)) error::raise(error_id::script::invalid_arg, value);
      Cell made = date;
      made.w1 = (packed(value) & ~0x7Fu) | zone_of(word);
      return made;
    }
    case f_year:
      parts.day = to_days(integer_value(value), month, day_of(word));
      break;
    case f_month: {
      const int64_t m = integer_value(value) - 1;
      parts.day = to_days(year + floor_div(m, 12), static_cast<int32_t>(floor_mod(m, 12) + 1), day_of(word));
      break;
    }
    case f_day:
      parts.day = to_days(year, month, 1) - 1 + integer_value(value);
      break;
    case f_zone:
      parts.zone = zone_from_value(value);
      if (!parts.has_time) parts.local = 0.0;
      parts.has_time = true;
      break;
    case f_timezone: {
      const double stored = parts.has_time ? stored_time(date) : 0.0;
      parts.zone = zone_from_value(value);
      parts.local = stored + zone_seconds(parts.zone);
      parts.has_time = true;
      break;
    }
    case f_time:
      if (cell::is(value, TypeId::none)) {
        parts.has_time = false;
        parts.local = 0.0;
        break;
      }
      if (!cell::is(value, TypeId::time)) error::raise(error_id::script::invalid_arg, value);
      parts.has_time = true;
      parts.local = time_::get(value);
      break;
    // The clock fields are those of the local time, as they read.
    case f_hour:
    case f_minute:
    case f_second:
      parts.local = time_::set_field(parts.local, field - f_hour + 1, value);
      parts.has_time = true;
      break;
    case f_weekday:
      parts.day += (integer_value(value) - 1) - (weekday_of(parts.day) - 1);
      break;
    case f_yearday:
      parts.day = january_first(year) + integer_value(value) - 1;
      break;
    case f_week: {
      const int64_t w = integer_value(value);
      const int64_t j = january_first(year);
      parts.day = w <= 1 ? j : j + 7 * w - days_before_first_week(year) - 7;
      break;
    }
    case f_isoweek:
      parts.day = iso_week_one(year) + 7 * (static_cast<int64_t>(integer_value(value)) - 1);
      break;
    default:
      break;
  }
  return build(parts);
}

// The field a selector names, or 0.
int selected_field(const Cell& selector) {
  if (cell::is(selector, TypeId::integer)) {
    const int32_t index = integer::get(selector);
    return index >= 1 && index <= 14 ? index : 0;
  }
  if (!type_traits::is_any_word(cell::type_of(selector))) return 0;
  struct Named {
    std::string_view name;
    int field;
  };
  static constexpr Named names[] = {
      {"date", f_date},       {"year", f_year},         {"month", f_month},     {"day", f_day},
      {"zone", f_zone},       {"time", f_time},         {"hour", f_hour},       {"minute", f_minute},
      {"second", f_second},   {"weekday", f_weekday},   {"yearday", f_yearday}, {"julian", f_yearday},
      {"timezone", f_timezone}, {"week", f_week},       {"isoweek", f_isoweek},
  };
  const std::string_view name = symbol::spelling(selector.w2);
  for (const Named& named : names)
    if (symbol::equal_caseless(name, named.name)) return named.field;
  return 0;
}

// --- block spec ---------------------------------------------------------

[[noreturn]] void raise_bad_to(const Cell& spec) {
  error::raise(error_id::script::bad_to_arg, datatype::make(TypeId::date), spec);
}

// What a block spec holds once read.
struct Spec {
  int64_t numbers[3] = {0, 0, 0};  // first number, month, third number
  int64_t hour = 0, minute = 0;
  double second = 0.0;
  double time = 0.0;                // a time! element (states 4-7)
  int64_t zone_hours = 0, zone_minutes = 0;
  double zone_time = 0.0;           // a zone given as time! (states 5, 11)
  int state = 0;
  uint32_t count = 0;
};

Spec read_spec(const Cell& block) {
  Spec spec;
  spec.count = block::count(block);
  if (spec.count < 3) raise_bad_to(block);
  for (uint32_t i = 0; i < spec.count; ++i) {
    const Cell item = *block::at(block, i);
    const TypeId type = cell::type_of(item);
    const bool is_int = type == TypeId::integer;
    const int64_t n = is_int ? integer::get(item) : 0;
    int next = -1;
    switch (spec.state) {
      case 0: case 1: case 2:
        if (is_int) spec.numbers[spec.state] = n, next = spec.state + 1;
        break;
      case 3:
        if (is_int) spec.hour = n, next = 8;
        else if (type == TypeId::time) spec.time = time_::get(item), next = 4;
        break;
      case 4: case 10:
        if (is_int) spec.zone_hours = n, next = spec.state + 2;
        else if (type == TypeId::time) spec.zone_time = time_::get(item), next = spec.state + 1;
        break;
      case 6: case 12:
        if (is_int) spec.zone_minutes = n, next = spec.state + 1;
        break;
      case 8:
        if (is_int) spec.minute = n, next = 9;
        break;
      case 9:
        if (is_int) spec.second = static_cast<double>(n), next = 10;
        else if (type == TypeId::float_) spec.second = float_::get(item), next = 10;
        break;
      default:
        break;
    }
    if (next < 0) raise_bad_to(block);
    spec.state = next;
  }
  return spec;
}

// The date a block spec describes; with `validate` every field
// must be in its range (make), without it they normalise (to).
Cell from_spec(const Cell& block, bool validate) {
  const Spec spec = read_spec(block);
  int64_t day = spec.numbers[0];
  int64_t year = spec.numbers[2];
  if (day >= 100 && day > year) std::swap(day, year);
  const int64_t month = spec.numbers[1];

  // The zone: from a time! element, or hours and minutes.
  int64_t zone_hours = spec.zone_hours;
  int64_t zone_minutes = spec.zone_minutes;
  if (spec.state == 5 || spec.state == 11) {
    if (!std::isfinite(spec.zone_time) || std::fabs(spec.zone_time) >= 16.0 * 3600.0) raise_bad_to(block);
    zone_hours = static_cast<int64_t>(time_::hours(spec.zone_time));
    zone_minutes = time_::minutes(spec.zone_time);
  }
  const bool zone_negative = zone_hours < 0 || (zone_hours == 0 && zone_minutes < 0);
  const int64_t hours_magnitude = zone_hours < 0 ? -zone_hours : zone_hours;
  const int64_t minutes_magnitude = zone_minutes < 0 ? -zone_minutes : zone_minutes;
  // Zones run to 15:45; the minutes count in whole quarters of an hour.
  if (hours_magnitude * 60 + minutes_magnitude > 15 * 60 + 45) raise_bad_to(block);
  const int64_t zone_magnitude = hours_magnitude * 60 + minutes_magnitude / 15 * 15;
  const uint32_t zone = zone_code(static_cast<int32_t>(zone_negative ? -zone_magnitude : zone_magnitude));

  double time = 0.0;
  if (spec.state >= 8) time = static_cast<double>(spec.hour * 3600 + spec.minute * 60) + spec.second;
  else if (spec.state >= 4) time = spec.time;

  if (validate) {
    bool good = month >= 1 && month <= 12 && day >= 1 && year >= min_year && year <= max_year;
    good = good && day <= to_days(year + (month == 12), month == 12 ? 1 : static_cast<int32_t>(month) + 1, 1) - to_days(year, static_cast<int32_t>(month), 1);
    if (spec.state >= 8) good = good && spec.hour >= 0 && spec.hour < 24 && spec.minute >= 0 && spec.minute < 60 && spec.second >= 0.0 && spec.second < 60.0;
    else if (spec.state >= 4) good = good && time >= 0.0 && time < day_seconds;
    if (spec.state == 6 || spec.state == 7 || spec.state == 12 || spec.state == 13)
      good = good && zone_minutes >= 0 && zone_minutes < 60;
    if (!good) raise_bad_to(block);
  }
  // The month normalises first, as the month setter does; then the day.
  const int64_t m = month - 1;
  const int64_t first_of_month = to_days(year + floor_div(m, 12), static_cast<int32_t>(floor_mod(m, 12) + 1), 1);
  if (!std::isfinite(time)) raise_bad_to(block);
  return make_from_days(first_of_month - 1 + day, spec.count > 3, time, zone);
}

// --- actions -----------------------------------------------------------------

void to_value(Val result, Val spec, TypeId) {
  const TypeId from = cell::type_of(*spec);
  if (from == TypeId::date) {
    *result = *spec;
    return;
  }
  if (type_traits::is_any_list(from)) {
    *result = from_spec(*spec, false);
    return;
  }
  if (from == TypeId::integer) {
    *result = make_from_days(epoch_day, true, static_cast<double>(integer::get(*spec)), 0);
    return;
  }
  raise_bad_to(*spec);
}

void make_value(Val result, Val spec, TypeId) {
  const TypeId from = cell::type_of(*spec);
  if (from == TypeId::date) {
    *result = *spec;
    return;
  }
  if (!type_traits::is_any_list(from)) raise_bad_to(*spec);
  *result = from_spec(*spec, true);
}

void random_value(Val value, bool seed, bool secure, bool) {
  if (seed) {
    const double t = stored_time(*value);
    const uint32_t whole = std::isfinite(t) && std::fabs(t) < 2147483648.0 ? static_cast<uint32_t>(static_cast<int32_t>(t)) : 0;
    random::mt_seed(packed(*value) + whole);
    *value = unset::make();
    return;
  }
  Parts parts = parts_of(*value);
  const int32_t n = static_cast<int32_t>(parts.day);
  parts.day = n > 0 ? random::int_range(secure, n) - 1 : n < 0 ? random::int_range(secure, n) + 1 : 0;
  if (parts.has_time) {
    parts.zone = random::next31(secure) & 0x7F;
    parts.local = static_cast<double>(random::next31(secure) % 3600) * 24.0;
  }
  store(*value, build(parts));
}

// The month's name as system/locale/months gives it, cut to 3 characters;
// the built-in English names when there is no system object yet.
std::string month_name(int32_t month) {
  static constexpr std::string_view builtin[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const Cell months = system_settings::lookup({"locale", "months"});
  if (cell::is(months, TypeId::none)) return std::string(builtin[(month - 1) % 12]);
  if (!cell::is(months, TypeId::block) || block::count(months) < static_cast<uint32_t>(month))
    error::raise(error_id::script::invalid_months);
  const Cell entry = *block::at(months, static_cast<uint32_t>(month - 1));
  if (!cell::is(entry, TypeId::string)) error::raise(error_id::script::invalid_months);
  const std::string name = string::to_utf8(entry);
  // Three characters, not three bytes.
  size_t end = 0;
  for (int chars = 0; chars < 3 && end < name.size(); ++chars) {
    ++end;
    while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) ++end;
  }
  return name.substr(0, end);
}

void append_padded(std::string& out, int64_t number, int width) {
  const std::string digits = std::to_string(number);
  if (static_cast<int>(digits.size()) < width) out.append(static_cast<size_t>(width) - digits.size(), '0');
  out += digits;
}

std::string text_of(const Cell& date) {
  const uint32_t word = packed(date);
  const int32_t year = year_of(word);
  const char separator = year < 0 ? '/' : '-';
  std::string out = std::to_string(day_of(word));
  out += separator;
  out += month_name(month_of(word));
  out += separator;
  if (year < 0) out += '-';
  append_padded(out, year < 0 ? -static_cast<int64_t>(year) : year, 4);
  if (!has_time_of(word)) return out;
  const uint32_t zone = zone_of(word);
  out += '/';
  out += time_::text(stored_time(date) + zone_seconds(zone));
  if (zone != 0) {
    out += (zone & 0x40) != 0 ? '-' : '+';
    append_padded(out, (zone >> 2) & 0xF, 2);
    out += ':';
    append_padded(out, (zone & 3) * 15, 2);
  }
  return out;
}

int32_t form(Val value, Val out, int32_t part) { return mold::emit_utf8(out, text_of(*value), part); }
int32_t mold_value(Val value, Val out, const MoldOptions&, int32_t part) { return form(value, out, part); }

void eval_path(PathStep& step) {
  const int field = selected_field(*step.selector);
  if (field == 0) error::raise(error_id::script::invalid_path, step.path, *step.selector);
  if (!step.new_value) {
    *step.value = get_field(*step.value, field);
    return;
  }
  store(*step.value, with_field(*step.value, field, *step.new_value));
}

void pick(Val value, Val index, int32_t) {
  const int field = selected_field(*index);
  if (field == 0) error::raise(error_id::script::out_of_range, *index);
  *value = get_field(*value, field);
}

// Year, month and day, without the has-time bit: the key dates order by.
int32_t date_key(const Cell& date) { return (static_cast<int32_t>(packed(date)) >> 7) & ~0x200; }

int compare(const Cell& a, const Cell& b, CmpOp op) {
  if (!cell::is(b, TypeId::date)) return -2;
  const int32_t key_a = date_key(a);
  const int32_t key_b = date_key(b);
  const double ta = stored_time(a);
  const double tb = stored_time(b);
  if (op == CmpOp::same) return key_a == key_b && a.w2 == b.w2 && a.w3 == b.w3 ? 0 : 1;
  if (key_a == key_b && float_::almost_equal(ta, tb)) return 0;
  if (is_equality(op)) return 1;
  if (key_a != key_b) return key_a < key_b ? -1 : 1;
  return ta < tb ? -1 : 1;
}

// The date moved by a count of days or a time!; `sign` is 1 or -1.
void shift(Val date, const Cell& amount, int sign) {
  Parts parts = parts_of(*date);
  if (cell::is(amount, TypeId::integer)) {
    parts.day += sign * static_cast<int64_t>(integer::get(amount));
  } else if (cell::is(amount, TypeId::time)) {
    parts.has_time = true;
    parts.local += sign * time_::get(amount);
  } else {
    error::raise(error_id::script::invalid_type, datatype::make(cell::type_of(amount)));
  }
  store(*date, build(parts));
}

void add(Val left, Val right) {
  if (cell::is(*right, TypeId::date)) integer::raise_not_related(TypeId::date, "add");
  shift(left, *right, 1);
}

// date - date is the count of days between them: the difference of the day
// numbers, less one when the difference of the stored times, read in the
// first date's zone, falls before midnight.
void subtract(Val left, Val right) {
  if (!cell::is(*right, TypeId::date)) {
    shift(left, *right, -1);
    return;
  }
  int64_t days = day_number(*left) - day_number(*right);
  const double t = stored_time(*left) - stored_time(*right) + zone_seconds(zone_of(packed(*left)));
  days += static_cast<int64_t>(std::floor(t / day_seconds));
  *left = integer::make(static_cast<int32_t>(days));
}

}  // namespace

int64_t to_days(int64_t year, int32_t month, int64_t day) {
  const int64_t m = (month + 9) % 12;  // 0 March ... 11 February
  return year_start(year - m / 10) + (m * 306 + 5) / 10 + (day - 1);
}

Ymd from_days(int64_t g) {
  auto y = static_cast<int64_t>(std::floor((10000.0 * static_cast<double>(g) + 14780.0) / 3652425.0));
  int64_t ddd = g - year_start(y);
  if (ddd < 0) {
    --y;
    ddd = g - year_start(y);
  }
  const int64_t mi = (100 * ddd + 52) / 3060;
  return {y + (mi + 2) / 12, static_cast<int32_t>((mi + 2) % 12 + 1), static_cast<int32_t>(ddd - (mi * 306 + 5) / 10 + 1)};
}

bool leap_year(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t zone_code(int32_t offset_minutes) {
  const int32_t magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  if (magnitude > 15 * 60 + 45) error::raise(error_id::script::out_of_range, time_::make(offset_minutes * 60.0));
  const uint32_t code = (static_cast<uint32_t>(magnitude / 60) << 2) | static_cast<uint32_t>(magnitude % 60 / 15);
  return code != 0 && offset_minutes < 0 ? code | 0x40 : code;
}

int32_t zone_seconds(uint32_t zone) {
  const auto seconds = static_cast<int32_t>(((zone >> 2) & 0xF) * 3600 + (zone & 3) * 900);
  return (zone & 0x40) != 0 ? -seconds : seconds;
}

Cell make_from_days(int64_t day_number, bool has_time, double local_time, uint32_t zone) {
  double stored = 0.0;
  if (has_time) {
    if (!std::isfinite(local_time)) raise_limit();
    const double carry = std::floor(local_time / day_seconds);
    if (std::fabs(carry) > 1e7) raise_limit();
    day_number += static_cast<int64_t>(carry);
    stored = local_time - carry * day_seconds - zone_seconds(zone);
  }
  if (day_number < to_days(min_year, 1, 1) || day_number > to_days(max_year, 12, 31)) raise_limit();
  const Ymd ymd = from_days(day_number);
  const uint32_t word = (static_cast<uint32_t>(ymd.year) << 17) | (has_time ? 0x10000u : 0u) |
                        (static_cast<uint32_t>(ymd.month) << 12) | (static_cast<uint32_t>(ymd.day) << 7) | (zone & 0x7F);
  Cell date{cell::header(TypeId::date), word, 0, 0};
  cell::set_double(date, stored);
  return date;
}

Cell make(int64_t year, int32_t month, int32_t day, bool has_time, double local_time, uint32_t zone) {
  if (year < min_year || year > max_year) raise_limit();
  return make_from_days(to_days(year, month, day), has_time, local_time, zone);
}

void set_isoweek(Cell& date, int32_t week) { store(date, with_field(date, f_isoweek, integer::make(week))); }
void set_weekday(Cell& date, int32_t weekday) { store(date, with_field(date, f_weekday, integer::make(weekday))); }
void set_yearday(Cell& date, int32_t yearday) { store(date, with_field(date, f_yearday, integer::make(yearday))); }

Cell get_field(const Cell& date, int field) {
  const uint32_t word = packed(date);
  const Parts parts = parts_of(date);
  switch (field) {
    case f_date: return make(year_of(word), month_of(word), day_of(word), false, 0.0, 0);
    case f_year: return integer::make(year_of(word));
    case f_month: return integer::make(month_of(word));
    case f_day: return integer::make(day_of(word));
    case f_zone:
    case f_timezone: return parts.has_time ? time_::make(zone_seconds(parts.zone)) : none::make();
    case f_time: return parts.has_time ? time_::make(parts.local) : none::make();
    case f_hour:
    case f_minute:
    case f_second: return time_::get_field(parts.local, field - f_hour + 1);
    case f_weekday: return integer::make(weekday_of(parts.day));
    case f_yearday: return integer::make(static_cast<int32_t>(parts.day - january_first(year_of(word)) + 1));
    case f_week: return integer::make(sunday_week(year_of(word), parts.day));
    default: return integer::make(iso_week(year_of(word), parts.day));
  }
}

double to_epoch(const Cell& date) {
  return static_cast<double>(day_number(date) - epoch_day) * day_seconds + std::trunc(stored_time(date) + 0.5);
}

void difference(Val left, Val right) {
  const double days = static_cast<double>(day_number(*left) - day_number(*right));
  *left = time_::make(days * day_seconds + (stored_time(*left) - stored_time(*right)));
}

void add_time_to_date(Val left, Val right) {
  const Cell time = *left;
  *left = *right;
  shift(left, time, 1);
}

void add_days_to_date(Val left, Val right) {
  const Cell days = *left;
  *left = *right;
  shift(left, days, 1);
}

void register_types() {
  datatype::register_type({TypeId::date, TypeId::none_type, "date!",
                           {.make = make_value,
                            .random = random_value,
                            .to = to_value,
                            .form = form,
                            .mold = mold_value,
                            .eval_path = eval_path,
                            .compare = compare,
                            .add = add,
                            .subtract = subtract,
                            .pick = pick}});
}

}  // namespace kiv::date
