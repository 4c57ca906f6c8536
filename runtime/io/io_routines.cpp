#include "runtime/io/io_routines.h"

#include "runtime/io/clipboard.h"
#include "runtime/io/http_actions.h"
#include "runtime/io/image_routines.h"
#include "runtime/io/json_routines.h"
#include "runtime/io/kivbin_routines.h"

namespace kiv::io_routines {

void add_all() {
  kivbin::add_routines();
  clipboard::add_routines();
  http_actions::install();
  json::add_routines();
  image_routines::add_routines();
}

}  // namespace kiv::io_routines
