// Runtime start-up and shutdown.
#pragma once

namespace kiv::runtime {

// Brings every runtime module up, once, in a fixed order: each step relies
// on the ones before it.
void init();

// Releases the memory manager's frames and every tracked block.
void shutdown();

// What the process runs once the runtime is up (the console): it gets the
// command line's arguments after the program name and answers the exit
// status.
using Program = int (*)(int argc, const char* const* argv);

// The whole life of the process: platform start, `init`, then `program`,
// then the normal end (status 0, or the program's status). Never returns.
[[noreturn]] void top_level_body(int argc, const char* const* argv, Program program);

// Runs `top_level_body` on a thread with a large machine stack, so that
// deep recursion in Kiv code ends in a catchable error long before the
// stack runs out. Never returns.
[[noreturn]] void start(int argc, const char* const* argv, Program program);

}  // namespace kiv::runtime
