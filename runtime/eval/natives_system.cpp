// The natives that talk to the system and the front end of processes.
// compress and decompress live in runtime/io/natives_compression.cpp.
//
// Where the value a native answers is of a datatype the runtime cannot
// make yet (date!, time!, map!), or its work belongs to an engine not built
// yet (process launching, the desktop's "open"), it checks its arguments as its callers will rely on and then
// raises internal/not-done: it never answers something else in their place.
#include "runtime/eval/natives_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>
#include <string_view>

#include "runtime/core/cell.h"
#include "runtime/core/error_raise.h"
#include "runtime/core/series.h"
#include "runtime/core/stack.h"
#include "runtime/core/type_traits.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/native_args.h"
#include "runtime/os.h"

namespace kiv::natives {
namespace {

using namespace native_args;

[[noreturn]] void not_done() { error::raise(error_id::internal::not_done); }

// The fields of a packed date word (os::now_date).
struct DateFields {
  int year, month, day;
};

DateFields unpack_date(uint32_t packed) {
  return {static_cast<int>(packed >> 17), static_cast<int>((packed >> 12) & 0xF), static_cast<int>((packed >> 7) & 0x1F)};
}

// The offset from UTC in minutes of a packed date's 7-bit zone: hours in
// bits 2-5, their sign in bit 6, quarter hours in bits 0-1.
int zone_minutes(uint32_t packed) {
  const int hours = static_cast<int>((packed >> 2) & 0x0F);
  const int minutes = hours * 60 + static_cast<int>(packed & 0x3) * 15;
  return (packed & 0x40) != 0 ? -minutes : minutes;
}

Cell time_value(double seconds) {
  Cell time{cell::header(TypeId::time), 0, 0, 0};
  cell::set_double(time, seconds);
  return time;
}

// 1 for Monday ... 7 for Sunday.
int weekday_of(const DateFields& date) {
  using namespace std::chrono;
  const year_month_day ymd{year{date.year}, month{static_cast<unsigned>(date.month)}, day{static_cast<unsigned>(date.day)}};
  return static_cast<int>(weekday{sys_days{ymd}}.iso_encoding());
}

// 1 for the first of January.
int yearday_of(const DateFields& date) {
  using namespace std::chrono;
  const sys_days today{year_month_day{year{date.year}, month{static_cast<unsigned>(date.month)}, day{static_cast<unsigned>(date.day)}}};
  const sys_days new_year{year_month_day{year{date.year}, January, day{1}}};
  return static_cast<int>((today - new_year).count()) + 1;
}

}  // namespace

// The environment as a map! of strings, names to values.
Flow native_list_env(const int32_t*) {
  const auto variables = os::environment();
  Val pairs = block::push_new(static_cast<uint32_t>(2 * variables.size()));
  for (const auto& [name, value] : variables) {
    for (const std::string* text : {&name, &value}) {
      Val item = string::push_new(static_cast<uint32_t>(text->size()));
      string::append_utf8(item, *text);
      block::append(pairs, *item);
      stack::pop(1);
    }
  }
  Val result = stack::push(none::make());
  map::make_from_block(result, pairs);
  return answer(*result);
}

enum class NowRefinement { year, month, day, time, zone, date, weekday, yearday, precise, utc };

// One selector at most, /precise counting as one, but /time/precise is the
// time of day to the fraction of a second. The fields and the time of day
// are answered now; the whole date waits for date!.
Flow native_now(const int32_t* refinements) {
  using enum NowRefinement;
  int selectors = 0;
  for (const NowRefinement which : {year, month, day, time, zone, date, weekday, yearday, precise})
    selectors += used(refinements, which) ? 1 : 0;
  const bool precise_time = used(refinements, time) && used(refinements, precise);
  if (selectors > 1 && !(selectors == 2 && precise_time)) error::raise(error_id::script::bad_refines);

  const uint32_t packed = os::now_date(used(refinements, utc));
  const DateFields today = unpack_date(packed);
  const double offset = zone_minutes(packed) * 60.0;
  if (used(refinements, zone)) return answer(time_value(offset));
  if (used(refinements, time)) {
    const double local = std::fmod(os::now_seconds(used(refinements, precise)) + offset + 86400.0, 86400.0);
    return answer(time_value(local));
  }
  if (used(refinements, year)) return answer(integer::make(today.year));
  if (used(refinements, month)) return answer(integer::make(today.month));
  if (used(refinements, day)) return answer(integer::make(today.day));
  if (used(refinements, weekday)) return answer(integer::make(weekday_of(today)));
  if (used(refinements, yearday)) return answer(integer::make(yearday_of(today)));
  not_done();  // a date!
}

// The file is opened, as reading it would: one that cannot be read has no
// size to tell, and neither has a directory. Opening does not wait (a FIFO
// with no writer would block), and a path with NUL in it names no file the
// system can reach. A size past the integer range is answered as a float!
// rather than cut short.
Flow native_size_q(const int32_t*) {
  const std::string path = file::os_path(*arg(0));
  if (path.empty() || path.back() == '/' || path.find('\0') != std::string::npos) return answer(none::make());
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return answer(none::make());
  struct stat facts {};
  const bool known = ::fstat(fd, &facts) == 0 && !S_ISDIR(facts.st_mode);
  ::close(fd);
  if (!known) return answer(none::make());
  if (facts.st_size <= 0x7FFFFFFF) return answer(integer::make(static_cast<int32_t>(facts.st_size)));
  Cell big{cell::header(TypeId::float_), 0, 0, 0};
  cell::set_double(big, static_cast<double>(facts.st_size));
  return answer(big);
}

Flow native_browse(const int32_t*) { not_done(); }

// An empty command runs nothing and succeeds at once.
Flow native_call(const int32_t*) {
  const Cell command = *arg(0);
  if (cell::is(command, TypeId::string) && series::length_from(command) == 0) return answer(integer::make(0));
  not_done();  // launching the process
}

}  // namespace kiv::natives
