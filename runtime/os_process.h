// Launching other programs: the POSIX half of `call`.
//
// A child is started with posix_spawn. Its standard streams each come from
// the parent, the null device, a file or a pipe of ours. When we hold pipes,
// one poll loop feeds the input and drains both outputs together, so a child
// that fills its stderr pipe while we still feed it or read its stdout never
// blocks either side.
//
// Paths, commands and captured bytes are byte strings (UTF-8 on this system);
// nothing here knows Kiv values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::os::process {

enum class InputFrom { parent, data, file };
enum class OutputTo { null, parent, file, capture };

struct Input {
  InputFrom from = InputFrom::parent;
  std::string data;  // for `data`
  std::string path;  // for `file`
};

struct Output {
  OutputTo to = OutputTo::null;
  std::string path;      // for `file`: the output is added to the file's end
  std::string captured;  // for `capture`: filled by `run`
};

struct Request {
  std::string command;
  bool shell = false;  // run through "/bin/sh -c"
  bool wait = false;   // wait for the exit status (forced by any pipe or file)
  Input input;
  Output output;
  Output error;
};

struct Result {
  // -1 when a file, a pipe or the process could not be made; the exit
  // status after a wait (128 + the signal's number for a child that a
  // signal ended); otherwise the child's process id.
  int64_t value = -1;
  bool shell_ran = false;  // the command went through the shell
};

// Splits a command line into arguments: blanks (space, tab) separate them;
// double quotes group; a run of n backslashes before a double quote gives
// n/2 backslashes, and the quote is literal when n is odd; backslashes
// elsewhere are plain characters; "" inside quotes is one literal quote.
std::vector<std::string> split_command(const std::string& command);

// Runs the request. When the program cannot be found, the command is run
// once more through the shell, which reports that itself (status 127). A
// child that is not waited for is reaped by a later `run` or `reap`.
Result run(Request& request);

// Collects the exit status of children that ended and that nobody waited
// for, so they do not linger as zombies.
void reap();

}  // namespace kiv::os::process
