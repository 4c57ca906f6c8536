#include "runtime/init.h"

#include <cfenv>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <csignal>

#include "runtime/callbacks.h"
#include "runtime/console_output.h"
#include "runtime/core/collector.h"
#include "runtime/core/exits.h"
#include "runtime/core/gc_safety.h"
#include "runtime/core/handles.h"
#include "runtime/core/memory.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/stack.h"
#include "runtime/core/state.h"
#include "runtime/core/tracked_memory.h"
#include "runtime/datatypes/all_types.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error_catalog.h"
#include "runtime/eval/base_routines.h"
#include "runtime/eval/base_words.h"
#include "runtime/eval/call_stack.h"
#include "runtime/eval/fast_paths.h"
#include "runtime/eval/interpreter.h"
#include "runtime/eval/natives.h"
#include "runtime/eval/parse.h"
#include "runtime/eval/random.h"
#include "runtime/eval/trace.h"
#include "runtime/hashtable.h"
#include "runtime/keywords.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"
#include "runtime/root_block.h"
#include "runtime/slot_table.h"

namespace kiv::runtime {
namespace {

// Machine stack of the thread that runs Kiv code. Pages are committed only
// when touched, so the size costs address space, not memory. AddressSanitizer
// clears what a thrown exception leaves of the stack only on stacks of at
// most 64 MB (a larger one keeps stale poison, and later calls trip on it),
// so the sanitizer build gets less room to recurse.
#ifdef KIV_SANITIZED
constexpr size_t kiv_thread_stack = size_t{48} << 20;
#else
constexpr size_t kiv_thread_stack = size_t{256} << 20;
#endif

struct StartArguments {
  int argc;
  const char* const* argv;
  Program program;
};

void* kiv_thread(void* raw) {
  const auto* arguments = static_cast<StartArguments*>(raw);
  top_level_body(arguments->argc, arguments->argv, arguments->program);
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

// Each step relies on the ones before it.
void init() {
  state.boot_flag = true;       // words made now are kept by the root block
  callbacks::init();            // output-hook lists
  platform_init();              // output layer
  random::init();
  roots::clear_permanent();     // permanent roots of a runtime started before
  memory::init();
  handles::init();              // external handle table
  hashtable::init();            // the collector traces tables through it
  datatypes::register_all();    // type and action tables, parents first
  memory::add_first_frames();   // first node and series frames
  root_block::init();                 // root block
  stack::init();                // argument stack
  symbol::init();               // symbol table and its index
  context::init_global();
  intern_type_names();          // datatype names, in type-id order
  kw::init();                   // the runtime's keyword words
  ownership::init();
  stack::init_calls();          // call stack
  error_catalog::load();        // before anything can raise an error
  error_value::init();          // the standard error and the trace options
  interpreter::init();
  natives::init();
  parse::init();                // keywords and the frame stack
  action_entries::init();
  fast_paths::init();           // before any user code can rebind the actions' words
  base_words::init();
  action_entries::init_operators();
  base_routines::add_all();
  routine::define("builtin");   // the library reaches the routines through it
  trace::init();                // event words, after the natives' own
  slot_table::init();           // value slot table
  collector::init();            // collector state, KIV_GC
}

void shutdown() {
  memory::release_all();
  memory::free_all();
}

void top_level_body(int argc, const char* const* argv, Program program) {
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
    const int status = program(argc - 1, argv + 1);
    if (status != 0) {
      // A failed program (a script's error) ends the process with its
      // status, without a runtime error report.
      output::flush();
      std::exit(status);
    }
  } catch (const Unwind& unwind) {
    state.pending = unwind.code;
    top_handler();
  } catch (const std::bad_alloc&) {
    fatal(error_out_of_memory, reinterpret_cast<uintptr_t>(&top_level_body));
  }
  fatal(error_quiet, 0);  // the normal end: tracked blocks freed, status 0
}

void start(int argc, const char* const* argv, Program program) {
  StartArguments arguments{argc, argv, program};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kiv_thread_stack);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, kiv_thread, &arguments) != 0) {
    // No big stack to be had: run on this one, with less room to recurse.
    top_level_body(argc, argv, program);
  }
  pthread_attr_destroy(&attributes);
  // The Kiv thread ends the process itself; this thread only waits. It
  // takes no Ctrl-C: the signal goes to the Kiv thread, whose waiting
  // read it cuts short.
  sigset_t keyboard;
  sigemptyset(&keyboard);
  sigaddset(&keyboard, SIGINT);
  pthread_sigmask(SIG_BLOCK, &keyboard, nullptr);
  pthread_join(thread, nullptr);
  fatal(error_quiet, 0);
}

}  // namespace kiv::runtime
