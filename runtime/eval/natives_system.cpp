// The natives that talk to the system and the front end of processes.
// compress and decompress live in runtime/io/natives_compression.cpp.
//
// Where a native's work belongs to an engine not built yet (the desktop's
// "open"), it checks its arguments as its callers will rely on and then
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
#include "runtime/datatypes/date.h"
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
// time of day to the fraction of a second. The date and the time of day
// come from one reading of the clock.
Flow native_now(const int32_t* refinements) {
  using enum NowRefinement;
  int selectors = 0;
  for (const NowRefinement which : {year, month, day, time, zone, date, weekday, yearday, precise})
    selectors += used(refinements, which) ? 1 : 0;
  const bool precise_time = used(refinements, time) && used(refinements, precise);
  if (selectors > 1 && !(selectors == 2 && precise_time)) error::raise(error_id::script::bad_refines);

  const os::Moment now = os::now_moment(used(refinements, utc));
  if (used(refinements, date)) return answer(date::make(now.year, now.month, now.day, false, 0.0, 0));
  double seconds = now.hour * 3600.0 + now.minute * 60.0 + now.second;
  if (used(refinements, precise)) seconds += static_cast<double>(now.nanoseconds) * 1e-9;
  const Cell today = date::make(now.year, now.month, now.day, true, seconds, date::zone_code(now.offset_minutes));
  struct Selector {
    NowRefinement refinement;
    int field;
  };
  static constexpr Selector fields[] = {{year, 2}, {month, 3}, {day, 4}, {time, 6}, {zone, 5}, {weekday, 10}, {yearday, 11}};
  for (const Selector& selector : fields)
    if (used(refinements, selector.refinement)) return answer(date::get_field(today, selector.field));
  return answer(today);
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

}  // namespace kiv::natives
