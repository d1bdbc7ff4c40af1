"""Runs the real kestrad-user binary in a temporary directory and captures what it
prints, its exit status and what it sent to the system log."""

import os
import shutil
import subprocess
import tempfile
import unittest
from dataclasses import dataclass, field

LOG_ERR = 3
NSS_WRAPPER = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so"
PAM_WRAPPER = "/usr/lib/x86_64-linux-gnu/libpam_wrapper.so"
PAM_WRAPPER_MODULES = "/usr/lib/x86_64-linux-gnu/pam_wrapper"


def binary():
    return os.environ["KESTRAD_USER"]


def syslog_preload():
    return os.environ["KESTRAD_SYSLOG_PRELOAD"]


@dataclass
class Result:
    stdout: str
    stderr: str
    status: int
    log: list = field(default_factory=list)


class Sandbox:
    """A temporary directory holding the files of one test, removed afterwards."""

    def __init__(self):
        self.path = os.path.realpath(tempfile.mkdtemp(prefix="kestrad-e2e-"))
        self.log_path = os.path.join(self.path, "syslog.txt")
        self.preload = [syslog_preload()]
        self.env = {}

    def cleanup(self):
        for root, dirs, _ in os.walk(self.path):
            for d in dirs:
                try:
                    os.chmod(os.path.join(root, d), 0o700)
                except OSError:
                    pass
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.path, name)

    def write(self, name, content, mode=None):
        target = self.file(name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        data = content.encode() if isinstance(content, str) else content
        with open(target, "wb") as out:
            out.write(data)
        if mode is not None:
            os.chmod(target, mode)
        return target

    def read(self, name):
        with open(self.file(name), "rb") as source:
            return source.read().decode("utf-8", "surrogateescape")

    def mkdir(self, name):
        target = self.file(name)
        os.makedirs(target, exist_ok=True)
        return target

    def use_accounts(self, passwd, group):
        """Serve getpwnam/getgrnam from files of the test's own through nss_wrapper."""
        self.env["NSS_WRAPPER_PASSWD"] = self.write("passwd", passwd)
        self.env["NSS_WRAPPER_GROUP"] = self.write("group", group)
        if NSS_WRAPPER not in self.preload:
            self.preload.append(NSS_WRAPPER)

    def environment(self, extra=None):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "LANG": "C",
            "HOME": self.path,
            "KESTRAD_SYSLOG_FILE": self.log_path,
            "LD_PRELOAD": " ".join(self.preload),
            # The wrappers' deep binding does not mix with the sanitizer runtime.
            "NSS_WRAPPER_DISABLE_DEEPBIND": "1",
            "PAM_WRAPPER_DISABLE_DEEPBIND": "1",
            # pam_wrapper of this release reads its switch under this name.
            "UID_WRAPPER_DISABLE_DEEPBIND": "1",
        }
        # The sanitizer build reads its options from the environment.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        env.update(self.env)
        if extra:
            env.update(extra)
        return env

    def take_log(self):
        """The messages logged since the last call; every one must be at LOG_ERR."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, "rb") as source:
            # Only the newline ends a record: a message may hold other control characters.
            lines = source.read().decode("utf-8", "surrogateescape").split("\n")[:-1]
        os.unlink(self.log_path)
        messages = []
        for line in lines:
            priority, _, message = line.partition("\t")
            if int(priority) != LOG_ERR:
                raise AssertionError(f"logged at priority {priority}: {message}")
            messages.append(message)
        return messages

    def run(self, *args, stdin=b"", env=None, argv0=None):
        """Runs the tool with standard input from a pipe (no terminal)."""
        argv = [argv0 or binary(), *args]
        completed = subprocess.run(
            argv,
            executable=binary(),
            input=stdin if isinstance(stdin, bytes) else stdin.encode(),
            capture_output=True,
            cwd=self.path,
            env=self.environment(env),
            timeout=60,
            start_new_session=True,
        )
        return Result(
            completed.stdout.decode("utf-8", "surrogateescape"),
            completed.stderr.decode("utf-8", "surrogateescape"),
            completed.returncode,
            self.take_log(),
        )


class SandboxTest(unittest.TestCase):
    """A test case with a fresh sandbox per test."""

    def setUp(self):
        self.box = Sandbox()
        self.addCleanup(self.box.cleanup)

    def conf(self, text, name="kestrad.conf"):
        return self.box.write(name, text)
