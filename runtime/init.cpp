#include "runtime/init.h"

#include <cfenv>
#include <cstdlib>
#include <new>
#include <pthread.h>

#include "console/cli_console.h"
#include "runtime/callbacks.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/all_types.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/eval/base_routines.h"
#include "runtime/eval/base_words.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives.h"
#include "runtime/eval/random.h"
#include "runtime/eval/stack.h"
#include "runtime/memory.h"
#include "runtime/slot_table.h"
#include "runtime/exits.h"
#include "runtime/gc_safety.h"
#include "runtime/handles.h"
#include "runtime/keywords.h"
#include "runtime/ownership.h"
#include "runtime/root_block.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"
#include "runtime/state.h"
#include "runtime/tracked_memory.h"

namespace kiv::runtime {
namespace {

// Machine stack of the thread that runs Kiv code. Pages are committed only
// when touched, so the size costs address space, not memory.
constexpr size_t kiv_thread_stack = size_t{256} << 20;

struct StartArguments {
  int argc;
  const char* const* argv;
};

void* kiv_thread(void* raw) {
  const auto* arguments = static_cast<StartArguments*>(raw);
  top_level_body(arguments->argc, arguments->argv);
}

// Each registered type's name becomes a global word, in type-id order.
void intern_type_names() {
  for (int id = 1; id <= static_cast<int>(datatype::highest()); ++id) {
    const auto type = static_cast<TypeId>(id);
    if (!datatype::is_registered(type)) continue;
    datatype::set_symbol(type, word::intern(datatype::info(type).name).w2);
  }
}

}  // namespace

void init() {
  state.boot_flag = true;                 // 1. boot flag
  callbacks::init();                      // 2. output-hook lists
  platform_init();                        // 3. platform: output layer
  random::init();                         // 4. random generator
  roots::clear_permanent();               // (a runtime started again)
  memory::init();                         // 5. memory manager
  handles::init();                        // 6. external handle table
  // 7. type table and action table: emptied by the registrations below
  datatypes::register_all();              // 8. datatypes, parents first
  // 9. generic action entry points
  memory::add_first_frames();             // 10. first node and series frames
  root::init();                           // 11. root block, argument stack,
  stack::init();                          //     symbol table and its index
  symbol::init();                         //     (call stack: with the evaluator)
  context::init_global();                 // 12. global context
  // 13. case-mapping tables
  intern_type_names();                    // 15. datatype names in type-id order
  kw::init();                             // 16. runtime keyword words
  // 17. natives table: made once the lexer and interpreter are up (26)
  // 18. parse engine work blocks
  ownership::init();                      // 19. ownership table
  // 20. checksum method words
  // 21. compression method words
  // 22. OS services
  stack::init_calls();                    // 23. evaluation stacks
  // 24. lexer tables
  // 25. boot data (the library is embedded as source: nothing to decode)
  error_catalog::load();                  //     but the error catalogue
  interpreter::init();                    // 26. interpreter, then the
  natives::init();                        //     natives, actions, base words
  actions::init();                        //     and operators
  base_words::init();
  actions::init_operators();
  base_routines::add_all();
  routine::define_all();
  slot_table::init();                     // 27. value slot table
  collector::init();                      // 28. collector state
}

void shutdown() {
  memory::release_all();
  memory::free_all();
}

void top_level_body(int argc, const char* const* argv) {
  // Processor and state: default floating-point environment (round to
  // nearest, every exception masked), an empty tracked list.
  std::fesetenv(FE_DFL_ENV);
  state = State{};
  memory::tracked_list();

  platform_start(argc, argv);
  try {
    init();
    // Words of the library interned, then the collector switched on.
    state.collector_on = true;
    state.boot_flag = false;
    // The library and the system object run here, then the console.
    const int status = console::run_cli(argc - 1, argv + 1);
    if (status != 0) {
      // A script's failure ends the process with its status, without a
      // runtime error report.
      output::flush();
      std::exit(status);
    }
  } catch (const Unwind& unwind) {
    state.pending = unwind.code;
    top_handler();
  } catch (const std::bad_alloc&) {
    error(error_out_of_memory, reinterpret_cast<uintptr_t>(&top_level_body));
  }
  error(error_quiet, 0);  // the normal end: tracked blocks freed, status 0
}

void start(int argc, const char* const* argv) {
  StartArguments arguments{argc, argv};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kiv_thread_stack);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, kiv_thread, &arguments) != 0) {
    // No big stack to be had: run on this one, with less room to recurse.
    top_level_body(argc, argv);
  }
  pthread_attr_destroy(&attributes);
  // The Kiv thread ends the process itself; this thread only waits.
  pthread_join(thread, nullptr);
  error(error_quiet, 0);
}

}  // namespace kiv::runtime
