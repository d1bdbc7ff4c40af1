"""End-to-end tests of -a, -e and -d: the real binary on a pseudo-terminal and with
standard input from a pipe, on a text user file in a temporary directory."""

import os
import re
import resource
import signal
import stat
import subprocess
import unittest

from kestrad_e2e import SandboxTest, Result, binary, syslog_preload
from kestrad_pty import PtyRun

HASH = re.compile(r"(\$1\$[./0-9A-Za-z]{8})\$[./0-9A-Za-z]{22}")
ALICE = "alice:users:/home/alice:$1$aaaaaaaa$0123456789012345678901\n"
CAROL = "carol:users:/home/carol:$1$cccccccc$0123456789012345678901\n"


def fault_preload():
    """The preload that makes memory or crypt fail, built beside the syslog capture."""
    path = os.path.join(os.path.dirname(syslog_preload()), "fault_inject.so")
    if not os.path.exists(path):
        raise AssertionError(f"{path} is missing: build the fault_inject target")
    return path


def md5_crypt(password, salt):
    """The MD5-crypt hash of an independent implementation."""
    return subprocess.run(["openssl", "passwd", "-1", "-salt", salt, password],
                          capture_output=True, text=True, check=True).stdout.strip()


class MaintenanceTest(SandboxTest):

    def setUp(self):
        super().setUp()
        self.users = self.box.file("users")
        self.config = self.conf(f"VirtualUserAuthConfig {self.users}\n")

    # Helpers

    def tool(self, *args, stdin=b"", env=None):
        """A run without a terminal: standard input is a pipe, as in a script."""
        return self.box.run("-s", self.config, *args, stdin=stdin, env=env)

    def terminal(self, *args, env=None):
        run = PtyRun(self.box, "-s", self.config, *args, env=env)
        self.addCleanup(run.kill)
        return run

    def write_users(self, content, mode=0o644):
        self.box.write("users", content, mode)

    def users_file(self):
        return self.box.read("users")

    def leftovers(self):
        """Files beside the user file other than the test's own and the lock."""
        return sorted(set(os.listdir(self.box.path)) - {"kestrad.conf", "users", "users.lock", "syslog.txt"})

    def assert_record(self, line, name, group, home, password):
        prefix = f"{name}:{group}:{home}:"
        self.assertTrue(line.startswith(prefix), line)
        stored = line[len(prefix):]
        match = HASH.fullmatch(stored)
        self.assertIsNotNone(match, stored)
        self.assertEqual(md5_crypt(password, match.group(1)[3:]), stored)

    def assert_untouched(self, before):
        if before is None:
            self.assertFalse(os.path.exists(self.users))
        else:
            self.assertEqual(self.users_file(), before)
        self.assertEqual(self.leftovers(), [])

    # On a terminal

    def test_add_on_a_terminal_asks_twice_without_echo(self):
        run = self.terminal("-a", "bob")
        run.expect("Group name: ")
        run.type("staff\n")
        run.expect("Home: ")
        run.type("/home/bob\n")
        run.expect("Enter password: ")
        run.type("first-try\n")
        run.expect("Enter password again: ")
        run.type("second-try\n")
        run.expect("Passwords did not match!\n")
        run.expect("Enter password: ")
        run.type("s3cret pass\n")
        run.expect("Enter password again: ")
        run.type("s3cret pass\n")
        result = run.finish()
        # The group and home are echoed as typed; of the passwords only the newline
        # that the reader writes in place of the silent one.
        self.assertEqual(result.stdout,
                         "Group name: staff\nHome: /home/bob\n"
                         "Enter password: \nEnter password again: \nPasswords did not match!\n"
                         "Enter password: \nEnter password again: \nUser [bob] is add.\n")
        self.assertEqual(result.status, 0)
        self.assertEqual(result.log, [f"textuser.c (69) Failed to open {self.users}. (No such file or directory)"])
        lines = self.users_file().split("\n")
        self.assertEqual(len(lines), 2)
        self.assertEqual(lines[1], "")
        self.assert_record(lines[0], "bob", "staff", "/home/bob", "s3cret pass")
        self.assertEqual(stat.S_IMODE(os.stat(self.users).st_mode), 0o600)
        self.assertEqual(self.leftovers(), [])

    def test_edit_on_a_terminal_keeps_the_place_of_the_line(self):
        self.write_users(ALICE + "bob:old:/old:$1$oldoldol$0123456789012345678901\n" + CAROL)
        run = self.terminal("-e", "bob")
        for prompt, answer in [("Group name: ", "  staff \n"), ("Home: ", "/srv/bob\n"),
                               ("Enter password: ", "pw\n"), ("Enter password again: ", "pw\n")]:
            run.expect(prompt)
            run.type(answer)
        result = run.finish()
        self.assertEqual(result.stdout.splitlines()[-1], "User [bob] is update.")
        self.assertNotIn("pw", result.stdout)
        self.assertEqual(result.status, 0)
        self.assertEqual(result.log, [])
        lines = self.users_file().splitlines(keepends=True)
        self.assertEqual([lines[0], lines[2]], [ALICE, CAROL])
        self.assert_record(lines[1].rstrip("\n"), "bob", "staff", "/srv/bob", "pw")
        self.assertEqual(stat.S_IMODE(os.stat(self.users).st_mode), 0o600)

    def test_end_of_input_at_a_password_prompt_writes_nothing(self):
        for answers in ([], ["pw\n"]):
            with self.subTest(passwords_typed=len(answers)):
                self.write_users(ALICE)
                run = self.terminal("-a", "bob")
                run.expect("Group name: ")
                run.type("staff\n")
                run.expect("Home: ")
                run.type("/home/bob\n")
                for prompt, answer in zip(["Enter password: "], answers):
                    run.expect(prompt)
                    run.type(answer)
                run.expect("Enter password again: " if answers else "Enter password: ")
                run.end_input()
                result = run.finish()
                self.assertEqual(result.status, 255)
                self.assertNotIn("User [bob]", result.stdout)
                self.assert_untouched(ALICE)

    # Without a terminal

    def test_scripted_add_edit_and_delete(self):
        self.write_users(ALICE)
        added = self.tool("-a", "bob", stdin="staff\n/home/bob\nsecret\nsecret\n")
        self.assertEqual((added.stdout, added.stderr, added.status),
                         ("Group name: Home: User [bob] is add.\n", "Enter password: Enter password again: ", 0))
        self.assertEqual(added.log, [])
        lines = self.users_file().splitlines()
        self.assertEqual(lines[0] + "\n", ALICE)
        self.assert_record(lines[1], "bob", "staff", "/home/bob", "secret")

        edited = self.tool("-e", "bob", stdin="wheel\n/root/bob\nother\nwrong\nother\nother\n")
        self.assertEqual(edited.stdout, "Group name: Home: Passwords did not match!\nUser [bob] is update.\n")
        self.assertEqual(edited.status, 0)
        lines = self.users_file().splitlines()
        self.assertEqual(len(lines), 2)
        self.assert_record(lines[1], "bob", "wheel", "/root/bob", "other")

        deleted = self.tool("-d", "bob")
        self.assertEqual((deleted.stdout, deleted.status, deleted.log), ("", 0, []))
        self.assertEqual(self.users_file(), ALICE)
        self.assertEqual(stat.S_IMODE(os.stat(self.users).st_mode), 0o600)

    def test_field_prompts_refuse_colon_and_hash_and_trim(self):
        result = self.tool("-a", "bob", stdin="staff:x\nst#ff\n:#\n  staff \t\n   \npw\npw\n")
        self.assertEqual(result.stdout,
                         "Group name: Colon is not a valid charactor.\n"
                         "Group name: # is not a valid charactor.\n"
                         "Group name: Colon is not a valid charactor.\n"
                         "Group name: Home: User [bob] is add.\n")
        self.assertEqual(result.status, 0)
        self.assert_record(self.users_file().rstrip("\n"), "bob", "staff", "", "pw")

    def test_end_of_input_at_a_field_prompt_writes_nothing(self):
        cases = [
            ("", "Group name: Failed to get group.\n"),
            ("staff\n", "Group name: Home: Failed to get group.\n"),
            ("staff\n/home/bob\n", "Group name: Home: "),
            ("staff\n/home/bob\npw\n", "Group name: Home: "),
        ]
        self.write_users(ALICE)
        for stdin, stdout in cases:
            with self.subTest(stdin=stdin):
                result = self.tool("-a", "bob", stdin=stdin)
                self.assertEqual((result.stdout, result.status), (stdout, 255))
                self.assert_untouched(ALICE)

    def test_users_that_are_there_or_not(self):
        before = ALICE + "bob:old:/old:$1$oldoldol$0123456789012345678901\n"
        self.write_users(before)
        cases = [
            (["-a", "bob"], "User [bob] already exists.\n"),
            (["-e", "zed"], "Failed to find user [zed].\n"),
            (["-e", "a:b"], "Failed to find user [a:b].\n"),
            (["-d", "zed"], "User [zed] does not exist.\n\n"),
            (["-d", "Bob"], "User [Bob] does not exist.\n\n"),
        ]
        for args, stdout in cases:
            with self.subTest(args=args):
                result = self.tool(*args, stdin="staff\n/home\npw\npw\n")
                self.assertEqual((result.stdout, result.stderr, result.status), (stdout, "", 255))
                self.assert_untouched(before)

    def test_a_missing_file_for_edit_and_delete(self):
        for args, stdout in [(["-e", "bob"], "Failed to find user [bob].\n"),
                             (["-d", "bob"], "User [bob] does not exist.\n\n")]:
            with self.subTest(args=args):
                result = self.tool(*args)
                self.assertEqual((result.stdout, result.status), (stdout, 255))
                self.assertEqual(result.log,
                                 [f"textuser.c (69) Failed to open {self.users}. (No such file or directory)"])
                self.assert_untouched(None)

    def test_add_refuses_names_that_break_the_line(self):
        self.write_users(ALICE)
        cases = [
            ("bo\nb", "User name can't contain control characters.\n"),
            ("bob\n", "User name can't contain control characters.\n"),
            ("bo\tb", "User name can't contain control characters.\n"),
            ("bo\rb", "User name can't contain control characters.\n"),
            ("bob\x7f", "User name can't contain control characters.\n"),
            ("\x1b[31mbob", "User name can't contain control characters.\n"),
            ("bo:b", "User name can't contains # or :\n"),
            ("#bob", "User name can't contains # or :\n"),
            ("", "User name can't be empty or begin or end with a blank.\n"),
            (" alice", "User name can't be empty or begin or end with a blank.\n"),
            ("bob ", "User name can't be empty or begin or end with a blank.\n"),
        ]
        for name, stdout in cases:
            with self.subTest(name=name):
                result = self.tool("-a", name, stdin="staff\n/home\npw\npw\n")
                self.assertEqual((result.stdout, result.status), (stdout, 255))
                self.assert_untouched(ALICE)

    def test_the_lines_a_login_finds_are_the_lines_changed(self):
        # The lookup trims the name field, so these lines are bob's for logins.
        loose = " bob :old:/old:$1$oldoldol$0123456789012345678901\n"
        self.write_users(ALICE + loose + CAROL + "\tbob:older:/older:x\n")
        edited = self.tool("-e", "bob", stdin="staff\n/home/bob\npw\npw\n")
        self.assertEqual(edited.stdout, "Group name: Home: User [bob] is update.\n")
        self.assertEqual(edited.log, ["Skip redundant user bob"])
        lines = self.users_file().splitlines(keepends=True)
        self.assertEqual(len(lines), 3)
        self.assertEqual([lines[0], lines[2]], [ALICE, CAROL])
        self.assert_record(lines[1].rstrip("\n"), "bob", "staff", "/home/bob", "pw")

        self.write_users(ALICE + loose + CAROL)
        deleted = self.tool("-d", "bob")
        self.assertEqual((deleted.stdout, deleted.status, deleted.log), ("", 0, []))
        self.assertEqual(self.users_file(), ALICE + CAROL)

    def test_delete_removes_every_line_of_the_user(self):
        self.write_users("# virtual users\nbob:1:/1:h1\n" + ALICE + "bobby:b:/b:hb\nbob:2:/2:h2\n\n" + CAROL)
        result = self.tool("-d", "bob")
        self.assertEqual((result.stdout, result.status), ("", 0))
        self.assertEqual(result.log, ["Skip redundant user bob"])
        self.assertEqual(self.users_file(), "# virtual users\n" + ALICE + "bobby:b:/b:hb\n\n" + CAROL)

    def test_add_after_a_last_line_without_newline(self):
        self.write_users(ALICE + "carol:users:/home/carol:$1$cccccccc$0123456789012345678901")
        result = self.tool("-a", "bob", stdin="staff\n/home/bob\npw\npw\n")
        self.assertEqual(result.status, 0)
        lines = self.users_file().split("\n")
        self.assertEqual(lines[:2], [ALICE.rstrip("\n"), CAROL.rstrip("\n")])
        self.assert_record(lines[2], "bob", "staff", "/home/bob", "pw")
        self.assertEqual(lines[3:], [""])
        # The last user still logs in: his line and hash are whole.
        self.assertEqual(self.tool("-a", "carol").stdout, "User [carol] already exists.\n")

    # Faults

    def test_a_file_that_cannot_be_replaced_stays_as_it_was(self):
        before = ALICE + "bob:old:/old:x\n"
        self.write_users(before)
        if subprocess.run(["chattr", "+i", self.users], capture_output=True).returncode != 0:
            self.skipTest("no immutable files here")
        self.addCleanup(subprocess.run, ["chattr", "-i", self.users], capture_output=True)
        cases = [
            (["-a", "carol"], "Group name: Home: Failed to add user.\n"),
            (["-e", "bob"], "Group name: Home: Failed to update user.\n"),
            (["-d", "bob"], "Failed to delete user [bob].\n\n"),
        ]
        for args, stdout in cases:
            with self.subTest(args=args):
                result = self.tool(*args, stdin="staff\n/home\npw\npw\n")
                self.assertEqual((result.stdout, result.status), (stdout, 255))
                self.assertEqual(result.log, [f"textuser.c (240) {self.users}: Operation not permitted"])
                self.assert_untouched(before)

    def run_limited(self, args, stdin, file_size):
        """A run whose files cannot grow past file_size bytes, as on a full disk."""
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, resource.RLIM_INFINITY))
        completed = subprocess.run([binary(), "-s", self.config, *args], input=stdin.encode(),
                                   capture_output=True, cwd=self.box.path, env=self.box.environment(),
                                   timeout=60, start_new_session=True, preexec_fn=limit)
        return Result(completed.stdout.decode(), completed.stderr.decode(), completed.returncode,
                      self.box.take_log())

    def test_a_full_disk_keeps_the_old_file(self):
        before = "".join(f"user{i}:users:/home/user{i}:$1$abcdefgh$0123456789012345678901\n" for i in range(3000))
        self.write_users(before)
        cases = [
            (["-a", "bob"], "Group name: Home: Failed to add user.\n"),
            (["-e", "user2999"], "Group name: Home: Failed to update user.\n"),
            (["-d", "user0"], "Failed to delete user [user0].\n\n"),
        ]
        for args, stdout in cases:
            with self.subTest(args=args):
                result = self.run_limited(args, "staff\n/home\npw\npw\n", 64 * 1024)
                self.assertEqual((result.stdout, result.status), (stdout, 255))
                self.assertEqual(result.log, [f"textuser.c (240) {self.users}: File too large"])
                self.assert_untouched(before)

    def test_a_taken_working_file_name_is_never_written_through(self):
        victim = self.box.write("victim", "precious\n")
        for kind in ("stale file", "symbolic link"):
            with self.subTest(kind=kind):
                self.write_users(ALICE)
                users = self.users

                def plant():
                    # The working file is named after the tool's process id, which this
                    # child keeps across exec.
                    work = f"{users}.{os.getpid()}"
                    if kind == "stale file":
                        with open(work, "w") as stale:
                            stale.write("stale\n")
                    else:
                        os.symlink(victim, work)

                process = subprocess.Popen([binary(), "-s", self.config, "-a", "bob"], stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.box.path,
                                           env=self.box.environment(), start_new_session=True, preexec_fn=plant)
                stdout, _ = process.communicate(b"staff\n/home/bob\npw\npw\n", timeout=60)
                work = f"{users}.{process.pid}"
                self.assertEqual((stdout.decode(), process.returncode),
                                 ("Group name: Home: Failed to add user.\n", 255))
                self.assertEqual(self.box.take_log(), [f"textuser.c (194) Failed to open {work}.(File exists)"])
                self.assertEqual(self.users_file(), ALICE)
                self.assertEqual(self.box.read("victim"), "precious\n")
                with open(work) as planted:
                    self.assertEqual(planted.read(), "precious\n" if kind == "symbolic link" else "stale\n")
                os.unlink(work)

    def test_concurrent_adds_keep_every_user(self):
        # A file large enough that every rewrite takes a while, so the runs overlap.
        before = "".join(f"user{i}:users:/home/user{i}:$1$abcdefgh$0123456789012345678901\n"
                         for i in range(20000))
        self.write_users(before)
        names = [f"new{i}" for i in range(8)]
        processes = [subprocess.Popen([binary(), "-s", self.config, "-a", name], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=self.box.path,
                                      env=self.box.environment(), start_new_session=True)
                     for name in names]
        for name, process in zip(names, processes):
            process.stdin.write(f"g{name}\n/home/{name}\npw-{name}\npw-{name}\n".encode())
        for process in processes:
            process.stdin.close()
        for name, process in zip(names, processes):
            self.assertEqual(process.stdout.read().decode(), f"Group name: Home: User [{name}] is add.\n")
            process.stdout.close()
            self.assertEqual(process.wait(timeout=120), 0)
        content = self.users_file()
        self.assertTrue(content.startswith(before))
        added = content[len(before):].splitlines()
        self.assertEqual(sorted(line.split(":")[0] for line in added), names)
        for line in added:
            name = line.split(":")[0]
            self.assert_record(line, name, f"g{name}", f"/home/{name}", f"pw-{name}")
        self.assertEqual(self.leftovers(), [])

    @unittest.skipIf(os.environ.get("KESTRAD_SANITIZED") == "1",
                     "the sanitizer runtime owns malloc; the injected failures need the plain build")
    def test_out_of_memory_and_crypt_failures_write_nothing(self):
        self.write_users(ALICE)
        big_name = "n" * 100000
        big_password = "p" * 100000
        cases = [
            ("name copy", ["-a", big_name], "", {"KESTRAD_FAIL_ALLOC_FROM": "90000"}, "Out of memory.\n"),
            ("password", ["-a", "bob"], f"staff\n/home\n{big_password}\n{big_password}\n",
             {"KESTRAD_FAIL_ALLOC_FROM": "90000"}, "Group name: Home: Out of memory.\n"),
            ("crypt", ["-e", "alice"], "staff\n/home\npw\npw\n", {"KESTRAD_FAIL_CRYPT": "1"},
             "Group name: Home: Failed to crypt password.\n"),
        ]
        for what, args, stdin, env, stdout in cases:
            with self.subTest(what=what):
                self.box.preload.append(fault_preload())
                try:
                    result = self.tool(*args, stdin=stdin, env=env)
                finally:
                    self.box.preload.remove(fault_preload())
                self.assertEqual((result.stdout, result.status), (stdout, 255))
                self.assert_untouched(ALICE)


if __name__ == "__main__":
    unittest.main()
