"""The load selects the authentication method; the status report of the real binary shows
which back-end answered: the home directory, and the group behind a per-group rate."""

import unittest

from kestrad_e2e import SandboxTest

# alice is a system account in the group staff and a virtual user in the group guests,
# with a different home in each; vera exists only as a virtual user.
PASSWD = ("alice:x:1000:100:Alice:{box}/system/alice:/bin/sh\n"
          "nobody:x:65534:65534::/nonexistent:/usr/sbin/nologin\n")
GROUP = "staff:x:100:\nguests:x:200:\nnogroup:x:65534:\n"
USERS = ("alice:guests:{box}/virtual/alice:$1$abcdefgh$x\n"
         "vera:staff:{box}/virtual/vera:$1$abcdefgh$x\n")
RATES = "MaxDownloadRate @staff 100\nMaxDownloadRate @guests 200\n"


def report(method, login, real, home, rate):
    return (f"\nAuthentication Method: {method}\n\n" +
            f"Login              : {login}\n"
            f"Real user          : {real}\n"
            f"Home               : {home}\n"
            "Anonymous          : No\n"
            f"Download bandwidth : {rate} KB/s \n"
            "Upload bandwidth   : 0 KB/s (unlimited)\n"
            "Mode               : normal\n\n")


class MethodSelection(SandboxTest):
    def setUp(self):
        super().setUp()
        self.box.use_accounts(PASSWD.format(box=self.box.path), GROUP)
        self.users = self.box.write("users", USERS.format(box=self.box.path))

    def run_report(self, conf_text, name):
        conf = self.conf(RATES + conf_text.format(users=self.users))
        return self.box.run("-s", conf, "-g", name)

    def test_the_selected_back_end_answers(self):
        box = self.box.path
        system = (f"{box}/system/alice", 100)
        virtual = (f"{box}/virtual/alice", 200)
        mapped = "VirtualUserMapping nobody\nVirtualUserAuthMethod {method}\nVirtualUserAuthConfig {{users}}\n"
        cases = [
            ("pam without a mapping", "", "pam", "alice", system),
            ("method and file are unused without a mapping",
             "VirtualUserAuthMethod text\nVirtualUserAuthConfig {users}\n", "pam", "alice", system),
            ("unix", mapped.format(method="unix"), "unix", "nobody", system),
            ("pam named in any case", mapped.format(method="PAM"), "PAM", "nobody", system),
            ("text", mapped.format(method="text"), "text", "nobody", virtual),
            ("text named in any case", mapped.format(method="Text"), "Text", "nobody", virtual),
        ]
        for name, conf_text, method, real, (home, rate) in cases:
            with self.subTest(name):
                result = self.run_report(conf_text, "alice")
                self.assertEqual(result.stdout, report(method, "alice", real, home, rate))
                self.assertEqual(result.status, 0)
                self.assertEqual(result.log, [])

    def test_a_user_of_another_back_end_does_not_exist(self):
        cases = [
            ("virtual user under pam", "", "pam", "vera"),
            ("virtual user under unix",
             "VirtualUserMapping nobody\nVirtualUserAuthMethod unix\nVirtualUserAuthConfig {users}\n", "unix", "vera"),
            ("system user under text",
             "VirtualUserMapping nobody\nVirtualUserAuthMethod text\nVirtualUserAuthConfig {users}\n", "text", "nobody"),
        ]
        for name, conf_text, method, user in cases:
            with self.subTest(name):
                result = self.run_report(conf_text, user)
                self.assertEqual(result.stdout, f"\nAuthentication Method: {method}\n\nUser [{user}] does not exist.\n")
                self.assertEqual(result.status, 255)
                self.assertEqual(result.log, [])

    def test_text_user_file_that_is_gone_finds_nobody(self):
        conf_text = "VirtualUserMapping nobody\nVirtualUserAuthMethod text\nVirtualUserAuthConfig {users}\n"
        conf = self.conf(RATES + conf_text.format(users=self.box.file("gone")))
        result = self.box.run("-s", conf, "-g", "alice")
        self.assertEqual(result.stdout, "\nAuthentication Method: text\n\nUser [alice] does not exist.\n")
        self.assertEqual(result.status, 255)
        self.assertFalse(any("Authentication method" in line for line in result.log), result.log)


if __name__ == "__main__":
    unittest.main()
