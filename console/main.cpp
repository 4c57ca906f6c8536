// The program's entry point: the runtime starts, the script library and
// the console's Kiv code are defined, then the console runs.
#include <vector>

#include "console/cli_console.h"
#include "console/terminal_routines.h"
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
  kiv::clipboard::add_routines();
  kiv::http_actions::install();
  kiv::json::add_routines();
  kiv::image_routines::add_routines();
  kiv::console::add_terminal_routines();
  // One pass, so that the console's code reaches its routines through
  // `builtin` as the library does.
  std::vector<kiv::embedded::Source> sources;
  for (const auto& source : kiv::embedded::library_sources()) sources.push_back(source);
  for (const auto& source : kiv::embedded::console_sources()) sources.push_back(source);
  kiv::library_loader::run(sources);
  return kiv::console::run_cli(argc, argv);
}

}  // namespace

int main(int argc, char** argv) { kiv::runtime::start(argc, argv, &run); }
