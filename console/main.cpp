// The program's entry point: the runtime starts, the script library is
// defined, then the console runs.
#include "console/cli_console.h"
#include "runtime/embedded.h"
#include "runtime/eval/library_loader.h"
#include "runtime/init.h"
#include "runtime/io/clipboard.h"
#include "runtime/io/http_actions.h"
#include "runtime/io/image_routines.h"
#include "runtime/io/json_routines.h"
#include "runtime/io/kivbin_routines.h"

namespace {

int run(int argc, const char* const* argv) {
  kiv::kivbin::add_routines();  // the routines above the runtime's own layer
  kiv::image_routines::add_routines();
  kiv::clipboard::add_routines();
  kiv::http_actions::install();
  kiv::json::add_routines();
  kiv::library_loader::run(kiv::embedded::library_sources());
  return kiv::console::run_cli(argc, argv);
}

}  // namespace

int main(int argc, char** argv) { kiv::runtime::start(argc, argv, &run); }
