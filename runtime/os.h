// The thin layer between the runtime and the operating system: the current
// directory, environment, writing to a descriptor, sleeping, and the clock.
//
// Paths and environment strings are UTF-8 (bytes as the system keeps them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kiv::os {

std::string current_dir();
bool set_current_dir(const char* path);

// Sets a variable; a null value removes it.
bool set_env(const char* name, const char* value);
std::optional<std::string> get_env(const char* name);
// Every variable of the process environment as (name, value), in the
// environment's order. A name ends at the first "=" after its first
// character, so a leading "=" belongs to it.
std::vector<std::pair<std::string, std::string>> environment();

// Milliseconds slept for a wait of `seconds`: at least 1, truncated.
// Writes all `length` bytes, retrying after an interruption or a partial
// write. False when the system refuses (errno says why).
bool write_all(int fd, const char* data, size_t length);

int64_t sleep_millis(double seconds);
void sleep(double seconds);

// Seconds since midnight UTC; with `precise`, with the fraction of the
// current second.
double now_seconds(bool precise);

// Today's date as a packed date word: year << 17 | month << 12 | day << 7 |
// zone. With `utc` the zone is 0; otherwise the local date and zone.
uint32_t now_date(bool utc);

// The 7-bit zone code of an offset from UTC in minutes: hours (magnitude in
// bits 2-5, sign in bit 6) and quarter hours in bits 0-1.
uint32_t zone_code(int offset_minutes);
uint32_t pack_date(int year, int month, int day, uint32_t zone);

// The current moment read once from the clock: the local (or, with
// `utc`, the UTC) calendar date and time of day, the nanoseconds of the
// second and the local offset from UTC in minutes (0 with `utc`). Date and
// time come from the same clock reading, so they never straddle midnight.
struct Moment {
  int year, month, day, hour, minute, second;
  long nanoseconds;
  int offset_minutes;
};
Moment now_moment(bool utc);

// When this executable was built, as "d-Mon-yyyy/hh:mm:ss".
const char* build_date();

}  // namespace kiv::os
