// date!: a day of the proleptic Gregorian calendar, with an optional time
// of day and time zone.
//
// Cell layout: header 47; w1 the packed date word; w2-w3 the stored time,
// an IEEE double of seconds, low word first.
//
// Packed date word:
//   bits 31-17  year, signed (-16384 to 16383)
//   bit  16     has-time: the value carries a time of day and a zone
//   bits 15-12  month 1-12
//   bits 11-7   day 1-31
//   bits 6-0    zone: bit 6 the sign (west of UTC), bits 5-2 whole hours,
//               bits 1-0 quarter hours; offsets run from -15:45 to +15:45
//
// Year, month and day are the local date. The stored time is the local
// time less the zone offset; after every operation the local time of day
// (stored time + offset) lies in [0, 86400). A date without time has
// has-time 0 and stored time 0.0.
//
// Day numbers count days from 1 March of year 0 (1 January 1970 is day
// 719468). The calendar arithmetic uses floor division throughout, so that
// it is the same proleptic calendar before year 0 as after it. A result
// whose year leaves the 15 bits of the packed word raises
// script/type-limit (date!): dates never wrap.
#pragma once

#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/core/gc_safety.h"
#include "runtime/datatypes/actions.h"

namespace kiv::date {

inline constexpr int32_t min_year = -16384;
inline constexpr int32_t max_year = 16383;
inline constexpr int64_t epoch_day = 719468;  // 1 January 1970

// The day number of a calendar date; a day of 0 is the day before the first
// of the month (and larger days run into the next months).
int64_t to_days(int64_t year, int32_t month, int64_t day);
struct Ymd {
  int64_t year;
  int32_t month;
  int32_t day;
};
Ymd from_days(int64_t day_number);
bool leap_year(int64_t year);

// The zone code of an offset in minutes: quarters of an hour, the sign of
// the whole offset. Raises script/out-of-range (the offset as a time!) past
// +-15:45.
uint32_t zone_code(int32_t offset_minutes);
// The offset of a zone code in seconds.
int32_t zone_seconds(uint32_t zone);

// A date! cell of a local date and, with `has_time`, a local time of day
// (seconds; whole days carry into the date) in the zone `zone`. Raises
// script/type-limit for a year out of range.
Cell make(int64_t year, int32_t month, int32_t day, bool has_time, double local_time, uint32_t zone);
// The same from a day number.
Cell make_from_days(int64_t day_number, bool has_time, double local_time, uint32_t zone);

// Moves the date to the ISO week `week` (its Monday), then to `weekday`
// (1 Monday ... 7 Sunday) of that week; or to the day `yearday` of its year.
void set_isoweek(Cell& date, int32_t week);
void set_weekday(Cell& date, int32_t weekday);
void set_yearday(Cell& date, int32_t yearday);

// Field 1-14 of the date (date, year, month, day, zone, time, hour, minute,
// second, weekday, yearday, timezone, week, isoweek).
Cell get_field(const Cell& date, int field);

// Seconds since 1 January 1970 UTC (to integer!).
double to_epoch(const Cell& date);

// `left` - `right` as a time! into `left` (the difference native).
void difference(Val left, Val right);

// time! + date!: the date plus the time, into `left`.
void add_time_to_date(Val left, Val right);
// integer! + date!: the date plus that many days, into `left`.
void add_days_to_date(Val left, Val right);

void register_types();

}  // namespace kiv::date
