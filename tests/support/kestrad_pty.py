"""Runs the real kestrad-user binary on a pseudo-terminal that is its controlling
terminal, as an administrator at a keyboard would: the test waits for each prompt,
types an answer and sees exactly what the terminal shows, echo included."""

import os
import pty
import select
import time

from kestrad_e2e import Result, binary

CONTROL_D = b"\x04"


class PtyRun:
    """One run of the tool; its standard input, output and error are the terminal."""

    def __init__(self, box, *args, env=None):
        self.box = box
        environment = box.environment(env)
        pid, fd = pty.fork()
        if pid == 0:
            try:
                os.chdir(box.path)
                os.execve(binary(), [binary(), *args], environment)
            finally:
                os._exit(127)
        self.pid = pid
        self.fd = fd
        self.raw = b""
        self.consumed = 0

    def _read(self, timeout):
        """Appends what the terminal shows within the timeout; False once the tool has
        closed the terminal."""
        ready, _, _ = select.select([self.fd], [], [], max(timeout, 0))
        if not ready:
            return True
        try:
            data = os.read(self.fd, 4096)
        except OSError:  # EIO: no process holds the terminal any more
            data = b""
        self.raw += data
        return bool(data)

    def screen(self):
        """Everything the terminal showed, with its line ends as a program writes them."""
        return self.raw.decode("utf-8", "surrogateescape").replace("\r\n", "\n")

    def expect(self, text, timeout=20):
        """Waits until text appears after what earlier calls consumed and returns what
        the terminal showed before it."""
        wanted = text.encode()
        deadline = time.monotonic() + timeout
        while True:
            shown = self.raw.replace(b"\r\n", b"\n")
            index = shown.find(wanted, self.consumed)
            if index >= 0:
                before = shown[self.consumed:index]
                self.consumed = index + len(wanted)
                return before.decode("utf-8", "surrogateescape")
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no {text!r} on the terminal; it shows {self.screen()!r}")
            if not self._read(remaining):
                raise AssertionError(f"the tool ended before {text!r}; the terminal shows {self.screen()!r}")

    def type(self, text):
        os.write(self.fd, text.encode())

    def end_input(self):
        """Control-D at the start of a line: the end of the input."""
        os.write(self.fd, CONTROL_D)

    def finish(self, timeout=30):
        """Waits for the tool to end; its screen, exit status and log."""
        deadline = time.monotonic() + timeout
        while self._read(deadline - time.monotonic()):
            if time.monotonic() >= deadline:
                self.kill()
                raise AssertionError(f"the tool did not end; the terminal shows {self.screen()!r}")
        os.close(self.fd)
        self.fd = None
        _, status = os.waitpid(self.pid, 0)
        self.pid = None
        return Result(self.screen(), "", os.waitstatus_to_exitcode(status), self.box.take_log())

    def kill(self):
        """Ends a run that a failed test left behind."""
        if self.pid is not None:
            try:
                os.kill(self.pid, 9)
                os.waitpid(self.pid, 0)
            except (ProcessLookupError, ChildProcessError):
                pass
            self.pid = None
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None
