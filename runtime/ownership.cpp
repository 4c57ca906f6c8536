#include "runtime/ownership.h"


namespace kiv::ownership {

bool notify(const Cell&, Change, bool, const Cell&, uint32_t, uint32_t) {
  // Owners are recorded by objects taking ownership of their fields' series;
  // until objects exist no series has an owner to tell.
  return false;
}

ChangeReport::ChangeReport(Val series, Change change, uint32_t index, uint32_t count)
    : series_(series), change_(change), owned_(notify(*series, change, false, *series, index, count)) {}

void ChangeReport::done(uint32_t index, uint32_t count) {
  if (owned_) notify(*series_, change_, true, *series_, index, count);
}

}  // namespace kiv::ownership
