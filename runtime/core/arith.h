// Small arithmetic helpers of the runtime.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <numbers>

namespace kiv {

// `value` rounded up to a multiple of `alignment` (a power of two).
constexpr size_t align_up(size_t value, size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

// The smallest multiple of `alignment` (a power of two) above `value`: moves
// on even when `value` is already aligned.
constexpr size_t align_past(size_t value, size_t alignment) {
  return (value + alignment) & ~(alignment - 1);
}

inline bool cstrings_equal(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

namespace math {

// How `degrees_to_radians` folds an angle into the range the trigonometric
// functions want.
enum class AngleFold {
  shift_half_turn = 0,  // beyond +-90: move by 180 towards 0
  none = 1,             // keep -180..180
  mirror = 2,           // beyond +-90: reflect about +-90 (x becomes 180 - x)
};

// The angle reduced to -180..180 degrees, folded into -90..90 as `fold`
// says, in radians. Reducing first keeps the result exact for large angles.
inline double degrees_to_radians(double angle, AngleFold fold) {
  double x = std::fmod(angle, 360.0);
  if (x > 180.0 || x < -180.0) x += x >= 0.0 ? -360.0 : 360.0;
  if (x > 90.0 || x < -90.0) {
    if (fold == AngleFold::shift_half_turn) x += x >= 0.0 ? -180.0 : 180.0;
    else if (fold == AngleFold::mirror) x = x >= 0.0 ? 180.0 - x : -180.0 - x;
  }
  return x * std::numbers::pi / 180.0;
}

}  // namespace math
}  // namespace kiv
