// The program's entry point: the runtime starts, the script library and
// the console's Kiv code are defined, then the console runs.
#include <vector>

#include "console/cli_console.h"
#include "console/terminal_routines.h"
#include "runtime/embedded.h"
#include "runtime/eval/library_loader.h"
#include "runtime/init.h"
#include "runtime/datatypes/none.h"
#include "runtime/io/io_routines.h"
#include "runtime/io/kivbin_decoder.h"

namespace {

// The library's files come packed by the build (cmake/Embed.cmake).
void unpack(std::string_view packed, kiv::Val into) {
  kiv::kivbin::decode({reinterpret_cast<const uint8_t*>(packed.data()), packed.size()}, into, kiv::none::make());
}

int run(int argc, const char* const* argv) {
  kiv::io_routines::add_all();  // the routines above the runtime's own layer
  kiv::console::add_terminal_routines();
  // One pass, so that the console's code reaches its routines through
  // `builtin` as the library does.
  std::vector<kiv::embedded::Source> sources;
  for (const auto& source : kiv::embedded::library_sources()) sources.push_back(source);
  for (const auto& source : kiv::embedded::console_sources()) sources.push_back(source);
  kiv::library_loader::run(sources, &unpack);
  return kiv::console::run_cli(argc, argv);
}

}  // namespace

int main(int argc, char** argv) { kiv::runtime::start(argc, argv, &run); }
