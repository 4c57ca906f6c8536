#include "runtime/os_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <utility>

extern char** environ;

namespace kiv::os::process {
namespace {

// A descriptor we own; closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Both ends of a new pipe, each closed on exec (the child gets its end
// through dup2, which clears the flag on the copy).
std::optional<std::pair<Fd, Fd>> make_pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  return std::pair{Fd(ends[0]), Fd(ends[1])};
}

Fd open_file(const std::string& path, int flags) {
  if (path.find('\0') != std::string::npos) return Fd();
  int fd;
  do fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  return Fd(fd);
}

// The descriptors of one standard stream: the child's end (what it gets as
// fd 0, 1 or 2; invalid to inherit ours) and, for a pipe, our end.
struct Stream {
  Fd child;
  Fd ours;
};

// Sets up stdin. False when the file or pipe cannot be made.
bool prepare_input(const Input& input, Stream& stream) {
  switch (input.from) {
    case InputFrom::parent: return true;
    case InputFrom::file:
      stream.child = open_file(input.path, O_RDONLY);
      return stream.child.valid();
    case InputFrom::data: {
      auto ends = make_pipe();
      if (!ends) return false;
      stream.child = std::move(ends->first);
      stream.ours = std::move(ends->second);
      return true;
    }
  }
  return false;
}

// Sets up stdout or stderr. A file that cannot be opened fails the call:
// the output would be lost while the call reported success.
bool prepare_output(const Output& output, Stream& stream) {
  switch (output.to) {
    case OutputTo::parent: return true;
    case OutputTo::null:
      stream.child = open_file("/dev/null", O_WRONLY);
      return stream.child.valid();
    case OutputTo::file:
      stream.child = open_file(output.path, O_WRONLY | O_CREAT | O_APPEND);
      return stream.child.valid();
    case OutputTo::capture: {
      auto ends = make_pipe();
      if (!ends) return false;
      stream.ours = std::move(ends->first);
      stream.child = std::move(ends->second);
      return true;
    }
  }
  return false;
}

// The argv array posix_spawn takes, pointing into `arguments`.
std::vector<char*> argv_of(std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

std::vector<std::string> shell_arguments(const std::string& command) { return {"/bin/sh", "-c", command}; }

// Starts the child with its streams in place. Answers the errno of a
// failed start, 0 on success.
int spawn(std::vector<std::string> arguments, Stream (&streams)[3], pid_t& pid) {
  for (const std::string& argument : arguments)
    if (argument.find('\0') != std::string::npos) return EINVAL;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  for (int target = 0; target < 3; ++target)
    if (streams[target].child.valid()) posix_spawn_file_actions_adddup2(&actions, streams[target].child.get(), target);
  // The child starts with no signal blocked (we block SIGPIPE while we feed
  // it) and with the default action for the signals a shell expects.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal_number : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGCHLD}) sigaddset(&defaults, signal_number);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv = argv_of(arguments);
  const int failure = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failure;
}

// SIGPIPE blocked for this thread while we write into a child's stdin: a
// child that stops reading gives EPIPE instead of ending the runtime. A
// SIGPIPE raised meanwhile is taken off the pending set before the mask
// comes back, unless one was pending before.
class PipeSignalBlock {
 public:
  PipeSignalBlock() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_only, &saved_);
  }
  ~PipeSignalBlock() {
    if (!was_pending_) {
      sigset_t pipe_only;
      sigemptyset(&pipe_only);
      sigaddset(&pipe_only, SIGPIPE);
      const timespec no_wait{0, 0};
      while (sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  PipeSignalBlock(const PipeSignalBlock&) = delete;
  PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

 private:
  sigset_t saved_{};
  bool was_pending_ = false;
};

// Feeds `input` to the child and drains both outputs, all at once, until
// every pipe of ours is closed. An error on one pipe closes that pipe only.
void exchange(Stream (&streams)[3], const std::string& input, std::string& out, std::string& err) {
  PipeSignalBlock block;
  Fd& feed = streams[0].ours;
  size_t fed = 0;
  if (feed.valid()) {
    if (input.empty()) feed.close();  // the child sees the end of its input at once
    else ::fcntl(feed.get(), F_SETFL, ::fcntl(feed.get(), F_GETFL) | O_NONBLOCK);
  }
  std::string* sinks[3] = {nullptr, &out, &err};
  char chunk[65536];
  for (;;) {
    pollfd polled[3];
    int which[3];
    nfds_t count = 0;
    for (int i = 0; i < 3; ++i) {
      if (!streams[i].ours.valid()) continue;
      polled[count] = {streams[i].ours.get(), static_cast<short>(i == 0 ? POLLOUT : POLLIN), 0};
      which[count++] = i;
    }
    if (count == 0) return;
    if (::poll(polled, count, -1) < 0) {
      if (errno == EINTR) continue;
      for (Stream& stream : streams) stream.ours.close();
      return;
    }
    for (nfds_t k = 0; k < count; ++k) {
      if (polled[k].revents == 0) continue;
      Fd& fd = streams[which[k]].ours;
      if (which[k] == 0) {
        const ssize_t written = ::write(fd.get(), input.data() + fed, input.size() - fed);
        if (written > 0) fed += static_cast<size_t>(written);
        else if (written < 0 && errno != EINTR && errno != EAGAIN) fd.close();  // EPIPE: it stopped reading
        if (fed == input.size()) fd.close();
        continue;
      }
      const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
      if (got > 0) sinks[which[k]]->append(chunk, static_cast<size_t>(got));
      else if (got == 0 || (errno != EINTR && errno != EAGAIN)) fd.close();
    }
  }
}

int64_t exit_status(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Children started without waiting, to be reaped later.
std::vector<pid_t>& unwaited() {
  static std::vector<pid_t> children;
  return children;
}

}  // namespace

std::vector<std::string> split_command(const std::string& command) {
  std::vector<std::string> arguments;
  size_t at = 0;
  const size_t end = command.size();
  for (;;) {
    while (at < end && (command[at] == ' ' || command[at] == '\t')) ++at;
    if (at == end) return arguments;
    std::string argument;
    bool quoted = false;
    while (at < end && (quoted || (command[at] != ' ' && command[at] != '\t'))) {
      if (command[at] == '\\') {
        size_t run = 0;
        while (at < end && command[at] == '\\') ++run, ++at;
        if (at < end && command[at] == '"') {
          argument.append(run / 2, '\\');
          if (run % 2 == 1) {
            argument += '"';
            ++at;
          }
        } else {
          argument.append(run, '\\');
        }
      } else if (command[at] == '"') {
        if (quoted && at + 1 < end && command[at + 1] == '"') {
          argument += '"';
          at += 2;
        } else {
          quoted = !quoted;
          ++at;
        }
      } else {
        argument += command[at++];
      }
    }
    arguments.push_back(std::move(argument));
  }
}

void reap() {
  auto& children = unwaited();
  std::erase_if(children, [](pid_t pid) {
    int status;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    return done == pid || (done < 0 && errno == ECHILD);
  });
}

Result run(Request& request) {
  reap();
  Result result;
  Stream streams[3];
  if (!prepare_input(request.input, streams[0]) || !prepare_output(request.output, streams[1]) ||
      !prepare_output(request.error, streams[2]))
    return result;
  const bool redirected = request.input.from != InputFrom::parent || request.output.to == OutputTo::file ||
                          request.output.to == OutputTo::capture || request.error.to == OutputTo::file ||
                          request.error.to == OutputTo::capture;
  const bool wait = request.wait || redirected;

  pid_t pid = 0;
  result.shell_ran = request.shell;
  int failure = 0;
  if (request.shell) {
    failure = spawn(shell_arguments(request.command), streams, pid);
  } else {
    std::vector<std::string> arguments = split_command(request.command);
    failure = arguments.empty() ? ENOENT : spawn(std::move(arguments), streams, pid);
    if (failure == ENOENT) {
      // Not a program we can find: perhaps something the shell knows.
      result.shell_ran = true;
      failure = spawn(shell_arguments(request.command), streams, pid);
    }
  }
  if (failure != 0) return result;

  for (Stream& stream : streams) stream.child.close();
  exchange(streams, request.input.data, request.output.captured, request.error.captured);
  if (wait) {
    result.value = exit_status(pid);
  } else {
    unwaited().push_back(pid);
    result.value = pid;
  }
  return result;
}

}  // namespace kiv::os::process
