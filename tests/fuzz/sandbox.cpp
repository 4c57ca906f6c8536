#include "tests/fuzz/sandbox.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/core/state.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"

namespace kiv::fuzz {

void unset_os_words() {
  static const char* const names[] = {
      "call", "browse", "wait", "quit", "q", "quit-return", "halt", "set-env", "do-file", "write", "delete",
      "rename", "make-dir", "create-dir", "change-dir", "set-current-dir", "save", "read", "open", "close",
      "query", "write-clipboard", "read-clipboard", "ask", "input", "write-stdout", "recycle", "do-thru",
      "read-thru", "load-thru", "path-thru", "exists-thru?", "flip-exe-flag", "launch", "script",
  };
  for (const char* name : names) {
    const int32_t index = context::find_symbol(context::global(), symbol::make(name), false);
    if (index >= 0) *context::slot(context::global(), uint32_t(index)) = unset::make();
  }
}

namespace {

#define DENY(nr) BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (nr), 0, 1), BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM)

constexpr uint32_t write_flags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

uint32_t arg_offset(int index) { return uint32_t(offsetof(seccomp_data, args) + sizeof(uint64_t) * size_t(index)); }

}  // namespace

void install_syscall_filter() {
#if defined(__x86_64__)
  std::vector<sock_filter> filter = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, uint32_t(offsetof(seccomp_data, arch))),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, uint32_t(offsetof(seccomp_data, nr))),
  };
  for (const long nr : {SYS_execve, SYS_execveat, SYS_fork, SYS_vfork, SYS_unlink, SYS_unlinkat, SYS_rename,
                        SYS_renameat, SYS_renameat2, SYS_rmdir, SYS_mkdir, SYS_mkdirat, SYS_link, SYS_linkat,
                        SYS_symlink, SYS_symlinkat, SYS_truncate, SYS_chmod, SYS_fchmodat, SYS_chown,
                        SYS_fchownat, SYS_lchown, SYS_creat, SYS_socket, SYS_socketpair, SYS_mknod,
                        SYS_mknodat, SYS_chdir, SYS_ptrace}) {
    const sock_filter deny[] = {DENY(uint32_t(nr))};
    filter.insert(filter.end(), std::begin(deny), std::end(deny));
  }
  // clone3 gives way to clone, whose flags can be read: threads only.
  const sock_filter rest[] = {
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg_offset(0)),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 9, 8),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),  // not reached
      // open (flags in argument 1) and openat (argument 2): reading only.
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_open, 0, 2),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg_offset(1)),
      BPF_JUMP(BPF_JMP | BPF_JA, 2, 0, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 4),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg_offset(2)),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, write_flags, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  filter.insert(filter.end(), std::begin(rest), std::end(rest));
  sock_fprog program{uint16_t(filter.size()), filter.data()};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    std::perror("seccomp");
    std::abort();  // never run input code without the sandbox
  }
#else
#error "the fuzz sandbox has a system call filter for x86-64 only"
#endif
}

namespace {

uintptr_t saved_stack_low = 0;

void on_alarm(int) { runtime::state.stack_low = runtime::state.stack_high; }

}  // namespace

void arm_step_limit(uint32_t milliseconds) {
  saved_stack_low = runtime::state.stack_low;
  struct sigaction action {};
  action.sa_handler = on_alarm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGVTALRM, &action, nullptr);
  itimerval timer{};
  timer.it_value.tv_sec = milliseconds / 1000;
  timer.it_value.tv_usec = suseconds_t(milliseconds % 1000) * 1000;
  setitimer(ITIMER_VIRTUAL, &timer, nullptr);
}

void disarm_step_limit() {
  itimerval timer{};
  setitimer(ITIMER_VIRTUAL, &timer, nullptr);
  runtime::state.stack_low = saved_stack_low;
}

}  // namespace kiv::fuzz
