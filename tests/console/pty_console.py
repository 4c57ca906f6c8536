#!/usr/bin/env python3
"""The console at a terminal, driven through a pseudo-terminal.

usage: pty_console.py KIV

Checks line editing and its habits: the prompt and the continuation cue,
history recall (also from the history file of an earlier session), Tab
completion through kiv-complete-input, Ctrl-C at the prompt, in a running
evaluation and in a script run by `do`, a prompt given as a function,
Ctrl-D, and Ctrl-C ending a script with status 130.
"""
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import time

KIV = sys.argv[1]
failures = []


class Session:
    def __init__(self, state_dir):
        env = dict(os.environ, XDG_STATE_HOME=state_dir, HOME=state_dir, TERM="xterm", LANG="C.UTF-8")
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(KIV, [KIV, "--cli"], env)
        self.seen = b""

    def until(self, wanted, timeout=30.0):
        """Reads until `wanted` appears after what earlier calls took."""
        end = time.time() + timeout
        while time.time() < end:
            at = self.seen.find(wanted)
            if at >= 0:
                taken = self.seen[: at + len(wanted)]
                self.seen = self.seen[at + len(wanted):]
                return taken
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if ready:
                try:
                    data = os.read(self.fd, 4096)
                except OSError:
                    break
                if not data:
                    break
                self.seen += data
        raise TimeoutError(f"never saw {wanted!r}; last output {self.seen[-300:]!r}")

    def send(self, keys):
        os.write(self.fd, keys)

    def status(self, timeout=30.0):
        """Waits for the process to end; kills it if it does not in time."""
        end = time.time() + timeout
        while time.time() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                return os.waitstatus_to_exitcode(status)
            time.sleep(0.05)
        self.kill()
        raise TimeoutError(f"the process did not end; last output {self.seen[-300:]!r}")

    def kill(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        except (ProcessLookupError, ChildProcessError):
            pass


def check(name, condition, detail=""):
    if not condition:
        failures.append(f"{name} {detail}")


def run_steps(session, steps):
    """Runs the steps in order; after a failed one the rest would only wait
    for output that cannot come, so the session is ended there."""
    for name, action in steps:
        try:
            action()
        except TimeoutError as error:
            failures.append(f"{name}: {error}")
            session.kill()
            return


with tempfile.TemporaryDirectory() as state:
    s = Session(state)

    def prompt_and_results():
        s.until(b"Type HELP for starting information.")
        s.until(b">> ")
        s.send(b"1 + 2\r")
        s.until(b"== 3\r\n>> ")

    def continuation_cue():
        s.send(b"[\r")
        s.until(b"[    ")
        s.send(b"4]\r")
        out = s.until(b">> ")
        check("an open block is evaluated once closed", b"== [" in out, repr(out))

    def history_recall():
        s.send(b"10 * 10\r")
        s.until(b"== 100\r\n>> ")
        s.send(b"\x1b[A\r")  # up: the line just entered
        s.until(b"== 100\r\n>> ")
        s.send(b"\x1b[A\x1b[A\x1b[A\x1b[A\r")  # four up: back to 1 + 2 ([ and 4] came between)
        s.until(b"== 3\r\n>> ")

    def interrupt_at_prompt():
        s.send(b"[\r")
        s.until(b"[    ")
        s.send(b"\x03")
        s.until(b"(escape)\r\n>> ")
        s.send(b"5\r")
        s.until(b"== 5\r\n>> ")

    def interrupt_evaluation():
        # Each loop prints first, so Ctrl-C is sent only once it runs: sent
        # before the line is read, it would be taken as a key by the editor.
        s.send(b'print "looping" forever []\r')
        s.until(b"looping\r\n")
        s.send(b"\x03")
        s.until(b"(escape)\r\n>> ")
        s.send(b'n: 0 print "counting" while [true] [n: n + 1]\r')
        s.until(b"counting\r\n")
        time.sleep(0.2)
        s.send(b"\x03")
        s.until(b"(escape)\r\n>> ")
        s.send(b"n > 0\r")
        s.until(b"== true\r\n>> ")

    def tab_completion():
        # The library's completer: a path, then a word with candidates.
        s.send(b"system/opt\t\r")  # the line is redrawn from the cursor
        s.until(b"ions\r\n== make object!")
        s.until(b">> ")
        s.send(b"pri\t")
        s.until(b"print")
        s.send(b"\x15")
        s.until(b">> ")
        # A stand-in completer with the console-mode answer of the real one:
        # the new line positioned at its caret, then the candidates.
        s.send(b'kiv-complete-input: func [str console?] [either "pri" = head str '
               b'[reduce [tail copy "prin" "prin" "print"]] [reduce [tail copy "print 7"]]]\r')
        s.until(b"== func")
        s.until(b">> ")
        s.send(b"pri\t")
        out = s.until(b"prin print")
        check("several candidates are listed", b"prin print" in out, repr(out))
        s.send(b"\x15")  # Ctrl-U: the line is cleared
        s.send(b"x\t\r")
        s.until(b"7\r\n>> ")

    def interrupt_script():
        # A script stopped inside `do` gives back the folder, the script
        # object and the source files it took.
        folder = os.path.join(state, "scripts")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "loop.kiv"), "w") as f:
            f.write('Kiv []\nprint "in the script"\nforever []\n')
        s.send(b"here: what-dir top: system/script\r")
        s.until(b"\r\n>> ")
        s.send(b"do %" + folder.encode() + b"/loop.kiv\r")
        s.until(b"in the script\r\n")
        s.send(b"\x03")
        s.until(b"(escape)\r\n>> ")
        s.send(b"reduce [here = what-dir  same? top system/script  empty? system/state/source-files]\r")
        s.until(b"== [true true true]\r\n>> ")

    def own_prompt():
        # The prompt is evaluated before each line: a function's text.
        s.send(b'n: 0 system/console/prompt: does [n: n + 1 rejoin ["#" n "> "]]\r')
        s.until(b"#1> ")
        s.send(b"6 * 7\r")
        s.until(b"== 42\r\n#2> ")
        s.send(b'system/console/prompt: ">> "\r')
        s.until(b'== ">> "\r\n>> ')

    def end_of_input():
        s.send(b"\x04")
        check("Ctrl-D on an empty line ends with status 0", s.status() == 0)

    run_steps(s, [("prompt and results", prompt_and_results), ("continuation cue", continuation_cue),
                  ("history recall", history_recall), ("Ctrl-C at the prompt", interrupt_at_prompt),
                  ("Ctrl-C in an evaluation", interrupt_evaluation), ("Ctrl-C in a script", interrupt_script), ("a prompt of the user's", own_prompt),
                  ("Tab completion", tab_completion), ("Ctrl-D", end_of_input)])

    # The history outlives the session, in the XDG state folder.
    history_file = os.path.join(state, "kiv", "history")
    check("the history is kept in the state folder", os.path.exists(history_file))
    s = Session(state)

    def history_from_file():
        s.until(b">> ")
        s.send(b"\x1b[A")
        s.until(b"print 7")  # the last line entered before
        s.send(b"\r")
        s.until(b"7\r\n>> ")
        s.send(b"\x04")
        check("the second session ends with status 0", s.status() == 0)

    run_steps(s, [("history from the file", history_from_file)])

# Ctrl-C in a script ends the process with status 130.
with tempfile.NamedTemporaryFile("w", suffix=".kiv", delete=False) as script:
    script.write('Kiv []\nprint "started"\nforever []\n')
try:
    child = subprocess.Popen([KIV, "--cli", script.name], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    ready, _, _ = select.select([child.stdout], [], [], 30)
    first = child.stdout.readline() if ready else b"(nothing in 30 s)"
    child.send_signal(signal.SIGINT)
    try:
        status = child.wait(timeout=30)
    except subprocess.TimeoutExpired:
        child.kill()
        status = child.wait()
    check("a script runs until Ctrl-C", first == b"started\n", repr(first))
    check("Ctrl-C ends a script with status 130", status == 130, f"status {status}")
finally:
    os.unlink(script.name)

if failures:
    print("\n".join("FAIL: " + failure for failure in failures))
    sys.exit(1)
print("terminal behaviour as expected")
