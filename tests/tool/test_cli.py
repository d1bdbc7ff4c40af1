"""The command line of kestrad-user: options, usage, the configuration load and exit status."""

import unittest

from kestrad_e2e import SandboxTest

USAGE = (
    "\nUsage: {0} -[aedt] user [-t type]\n\noptions:\n"
    "     -s file     Set the path of kestrad.conf\n"
    "     -a user     Add a kestrad virtual user into text file\n"
    "     -e user     Edit a kestrad virtual user into text file\n"
    "     -d user     Delete a kestrad virtual user into text file\n"
    "     -g user     Get the status of user.\n"
    "                 The user can be real user or mysql/pgsql/text virtual\n"
    "                 user. We will print the available share and permission\n"
    "                 of the user.\n"
    "     -h          Print this help message\n\n"
)

PARSE_FAILED = "Failed to parse config file {0}\nPlease check syslog for detail.\n\n"


class Usage(SandboxTest):
    def test_usage_cases(self):
        missing = self.box.file("missing.conf")
        cases = [
            # (arguments, status, standard error contains)
            ([], 1, ""),
            (["-h"], 0, ""),
            (["-s", missing, "-a", "bob", "-h"], 0, ""),
            (["-h", "-g", "bob", "-s", missing], 0, ""),
            (["-x"], 0, "invalid option -- 'x'"),
            (["-g", "bob", "-x", "-s", missing], 0, "invalid option -- 'x'"),
            (["-g"], 0, "option requires an argument -- 'g'"),
            (["-s", missing], 1, ""),
            # Options end at the first operand, and at "--".
            (["-s", missing, "operand", "-g", "bob"], 1, ""),
            (["--", "-g", "bob"], 1, ""),
        ]
        for args, status, stderr in cases:
            with self.subTest(args=args):
                result = self.box.run(*args, argv0="kestrad-user")
                self.assertEqual(result.stdout, USAGE.format("kestrad-user"))
                self.assertEqual(result.status, status)
                if stderr:
                    self.assertIn(stderr, result.stderr)
                else:
                    self.assertEqual(result.stderr, "")
                # The configuration is never read before an action is known.
                self.assertEqual(result.log, [])

    def test_usage_names_the_program_as_invoked(self):
        result = self.box.run("-h", argv0="/opt/odd name/kestrad-user")
        self.assertEqual(result.stdout, USAGE.format("/opt/odd name/kestrad-user"))


class ConfigurationLoad(SandboxTest):
    def test_load_failures_end_with_status_1(self):
        share = self.box.write("shares.conf", "[pub]\npath = /\n")
        cases = [
            ("bad number", "TimeOut 0\n",
             ["param.c (170) bad number of config option TimeOut", "param.c (291) Failed to parse {conf}"]),
            ("bad octal", "Umask 9\n",
             ["param.c (162) bad number of config option Umask", "param.c (291) Failed to parse {conf}"]),
            ("bad range", "PassiveModePortRange 80-90\n",
             ["param.c (181) Bad port range 80-90", "param.c (291) Failed to parse {conf}"]),
            ("missing file option", "ShareConfPath {box}/nope\n",
             ["param.c (191) The option ShareConfPath ({box}/nope) does not exist",
              "param.c (291) Failed to parse {conf}"]),
            ("list syntax", "MaxUploadRate bob\n",
             ["param.c (235) bad syntax of config option MaxUploadRate", "param.c (291) Failed to parse {conf}"]),
            ("reader syntax", "Port \"\"\n",
             ["misc.c (284) bad syntax of config option Port", "param.c (291) Failed to parse {conf}"]),
            ("smb without shares", "DefaultMode smb\n",
             ["param.c (300) Enable SMB mode but failed to find samba config file."]),
            ("exceptions without shares", "ExceptionList bob\n",
             ["param.c (300) Enable SMB mode but failed to find samba config file."]),
            ("timeouts", "TimeOut 7201\n", ["param.c (311) The MaxTimeOut should be bigger than TimeOut."]),
            ("mapping", "VirtualUserMapping ftp\nVirtualUserAuthMethod text\n",
             ["param.c (319) VirtualUserMapping is set. But There is no VirtualUserAuthMethod or "
              "VirtualUserAuthConfig"]),
            ("unknown method", "VirtualUserMapping ftp\nVirtualUserAuthMethod nosuch\nVirtualUserAuthConfig /x\n",
             ["Authentication method (nosuch) not found."]),
        ]
        for name, text, log in cases:
            with self.subTest(name):
                conf = self.conf(text.format(box=self.box.path, share=share))
                result = self.box.run("-s", conf, "-g", "bob")
                self.assertEqual(result.stdout, PARSE_FAILED.format(conf))
                self.assertEqual(result.status, 1)
                self.assertEqual(result.stderr, "")
                self.assertEqual(result.log, [line.format(conf=conf, box=self.box.path) for line in log])

    def test_unreadable_configuration_paths(self):
        for name in ("missing.conf", "."):
            with self.subTest(name):
                conf = self.box.file(name) if name != "." else self.box.path
                result = self.box.run("-s", conf, "-d", "bob")
                self.assertEqual(result.stdout, PARSE_FAILED.format(conf))
                self.assertEqual(result.status, 1)
                reason = "Is a directory" if name == "." else "No such file or directory"
                self.assertEqual(result.log, [f"misc.c (250) Failed to open [{conf}] ({reason})",
                                              f"param.c (291) Failed to parse {conf}"])

    def test_binary_and_huge_configuration_files_fail_cleanly(self):
        garbage = bytes((i * 37 + i // 7) & 0xFF for i in range(8192))
        for name, content in (("binary", garbage), ("huge", b"Port " + b"9" * (1 << 20) + b"\n"),
                              ("nul", b"Port 21\x00junk\nNoSuch\x00 x\n")):
            with self.subTest(name):
                conf = self.box.write(name, content)
                result = self.box.run("-s", conf, "-d", "bob")
                self.assertIn(result.status, (1,))
                self.assertTrue(result.stdout.startswith(PARSE_FAILED.format(conf))
                                or result.stdout == "Please set the VirtualUserAuthConfig in the kestrad.conf.\n")

    def test_last_configuration_path_wins(self):
        good = self.conf("Port 21\n", "one.conf")
        bad = self.conf("TimeOut 0\n", "two.conf")
        result = self.box.run("-s", good, "-s", bad, "-d", "bob")
        self.assertEqual(result.stdout, PARSE_FAILED.format(bad))
        result = self.box.run("-s", bad, "-s", good, "-d", "bob")
        self.assertEqual(result.stdout, "Please set the VirtualUserAuthConfig in the kestrad.conf.\n")

    def test_charset_warning_does_not_fail(self):
        conf = self.conf("CharsetEncoding UTF-8\n")
        result = self.box.run("-s", conf, "-e", "bob")
        self.assertEqual(result.stdout, "Please set the VirtualUserAuthConfig in the kestrad.conf.\n")
        self.assertEqual(result.status, 1)
        self.assertEqual(result.log, ["param.c (357) iconv is not supported. Disable CharsetEncoding."])


class Dispatch(SandboxTest):
    def test_text_actions_need_the_user_file(self):
        conf = self.conf("Port 21\n")
        for action in ("-a", "-e", "-d"):
            with self.subTest(action):
                result = self.box.run("-s", conf, action, "bob")
                self.assertEqual(result.stdout, "Please set the VirtualUserAuthConfig in the kestrad.conf.\n")
                self.assertEqual(result.status, 1)
                self.assertEqual(result.log, [])

    def test_add_refuses_colon_and_hash(self):
        users = self.box.write("users", "alice:staff:/home/alice:x\n")
        conf = self.conf(f"VirtualUserAuthConfig {users}\n")
        for name in ("bo:b", "#bob", "b#b:"):
            with self.subTest(name):
                result = self.box.run("-s", conf, "-a", name)
                self.assertEqual(result.stdout, "User name can't contains # or :\n")
                self.assertEqual(result.status, 255)
                self.assertEqual(self.box.read("users"), "alice:staff:/home/alice:x\n")

    def test_last_action_wins(self):
        users = self.box.write("users", "alice:staff:/home/alice:x\n")
        conf = self.conf(f"VirtualUserAuthConfig {users}\n")
        # The add of "bo:b" would be refused; only the delete of carol runs.
        result = self.box.run("-s", conf, "-a", "bo:b", "-d", "carol")
        self.assertEqual(result.stdout, "User [carol] does not exist.\n\n")
        self.assertEqual(result.status, 255)


if __name__ == "__main__":
    unittest.main()
