"""The status report of kestrad-user -g, checked on the real binary, byte for byte."""

import os
import subprocess
import unittest

import kestrad_e2e
from kestrad_e2e import SandboxTest

PASSWD = (
    "root:x:0:0:root:/root:/bin/sh\n"
    "ftp:x:14:50:ftp:{box}/ftp:/bin/false\n"
    "bob:x:1000:1000:bob:{box}/home/bob:/bin/sh\n"
    "carol:x:1001:1001:carol:{box}/home/carol:/bin/sh\n"
)
PASSWD_WITHOUT_FTP = "root:x:0:0:root:/root:/bin/sh\nbob:x:1000:1000:bob:{box}/home/bob:/bin/sh\n"
GROUP = "root:x:0:\nftp:x:50:\nbob:x:1000:\ncarol:x:1001:\nstaff:x:2000:carol\n"


def header(method="pam"):
    return f"\nAuthentication Method: {method}\n\n"


def body(login, real, home, mode, anonymous="No", down="0 KB/s (unlimited)", up="0 KB/s (unlimited)"):
    return (f"Login              : {login}\n"
            f"Real user          : {real}\n"
            f"Home               : {home}\n"
            f"Anonymous          : {anonymous}\n"
            f"Download bandwidth : {down}\n"
            f"Upload bandwidth   : {up}\n"
            f"{mode}\n")


def share(name, path, writeable=True, browseable=True, ls=True, download=True, modify=True):
    yes = lambda flag: "Yes" if flag else "No"
    return (f"    [{name}]\n"
            f"        Path        : {path}\n"
            f"        Writeable   : {yes(writeable)}\n"
            f"        Browseable  : {yes(browseable)}\n"
            f"        List files  : {yes(ls)}\n"
            f"        Download    : {yes(download)}\n"
            f"        Modify data : {yes(modify)}\n")


def smb(*shares):
    return ("Mode               : smb\nAvailable shares   :\n" + "".join(shares)).rstrip("\n")


NORMAL = "Mode               : normal"
ANONYMOUSE = "Anonymouse only. The user will be changed to [ftp].\n"


class ReportTest(SandboxTest):
    def setUp(self):
        super().setUp()
        for d in ("ftp", "home/bob", "home/carol", "srv/pub", "srv/docs"):
            self.box.mkdir(d)
        self.box.use_accounts(PASSWD.format(box=self.box.path), GROUP)

    def report(self, conf_text, name):
        conf = self.conf(conf_text.format(box=self.box.path))
        return self.box.run("-s", conf, "-g", name)

    def check(self, conf_text, name, expected, status=0, log=()):
        result = self.report(conf_text, name)
        self.assertEqual(result.stdout, expected)
        self.assertEqual(result.status, status)
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.log, list(log))


class SystemUsers(ReportTest):
    def test_normal_pam_user(self):
        self.check("Port 21\n", "bob", header() + body("bob", "bob", f"{self.box.path}/home/bob", NORMAL) + "\n")

    def test_unknown_user(self):
        self.check("Port 21\n", "nosuch", header() + "User [nosuch] does not exist.\n", status=255)

    def test_rates(self):
        conf = "MaxDownloadRate bob 100\nMaxUploadRate @ 1\nMaxUploadRate @staff 2048\n"
        self.check(conf, "bob", header() + body("bob", "bob", f"{self.box.path}/home/bob", NORMAL,
                                                down="100 KB/s ", up="1 KB/s ") + "\n")
        # carol is in staff, and the staff line comes later in the file.
        self.check(conf, "carol", header() + body("carol", "carol", f"{self.box.path}/home/carol", NORMAL,
                                                  up="2048 KB/s ") + "\n")

    def test_chroot_forms(self):
        home = f"{self.box.path}/home/bob"
        for value, shown in (("~", home + "/"), ("~/pub", home + "//pub"), ("pub", home + "/pub"),
                             ("/srv/x", "/srv/x")):
            with self.subTest(value):
                self.check(f"ChrootSet bob {value}\n", "bob",
                           header() + body("bob", "bob", home, f"Mode               : chrooted ({shown})") + "\n")

    def test_a_report_that_cannot_be_written_fails(self):
        conf = self.conf("Port 21\n")
        with open("/dev/full", "wb") as full:
            completed = subprocess.run([kestrad_e2e.binary(), "-s", conf, "-g", "bob"], stdout=full,
                                       env=self.box.environment(), timeout=60)
        self.assertEqual(completed.returncode, 255)


class Anonymous(ReportTest):
    def test_anonymous_only_maps_every_name(self):
        ftp_home = f"{self.box.path}/ftp"
        for name in ("bob", "whoever"):
            with self.subTest(name):
                self.check("AnonymousOnly yes\n", name,
                           header() + ANONYMOUSE + body(name, "ftp", ftp_home,
                                                        f"Mode               : chrooted ({ftp_home})",
                                                        anonymous="Yes") + "\n")

    def test_anonymous_login_maps_only_the_anonymous_names(self):
        ftp_home = f"{self.box.path}/ftp"
        for name in ("ftp", "anonymous"):
            with self.subTest(name):
                self.check("AnonymousLogin yes\n", name,
                           header() + ANONYMOUSE + body(name, "ftp", ftp_home,
                                                        f"Mode               : chrooted ({ftp_home})",
                                                        anonymous="Yes") + "\n")
        self.check("AnonymousLogin yes\n", "bob",
                   header() + body("bob", "bob", f"{self.box.path}/home/bob", NORMAL) + "\n")

    def test_without_the_ftp_account_nobody_is_anonymous(self):
        self.box.use_accounts(PASSWD_WITHOUT_FTP.format(box=self.box.path), GROUP)
        self.check("AnonymousOnly yes\n", "bob",
                   header() + body("bob", "bob", f"{self.box.path}/home/bob", NORMAL) + "\n")
        self.check("AnonymousOnly yes\n", "ftp", header() + "User [ftp] does not exist.\n", status=255)

    def test_anonymous_in_smb_mode(self):
        ftp_home = f"{self.box.path}/ftp"
        shares = self.box.write("shares.conf", "[homes]\n[pub]\npath = {box}/srv/pub\nro = ftp\n".format(
            box=self.box.path))
        conf = f"DefaultMode smb\nShareConfPath {shares}\n"
        result = self.report("AnonymousOnly yes\n" + conf, "guest")
        self.assertEqual(result.stdout, header() + ANONYMOUSE + body(
            "guest", "ftp", ftp_home,
            smb(share("home", ftp_home), share("pub", f"{self.box.path}/srv/pub", writeable=False)),
            anonymous="Yes") + "\n")
        self.assertEqual(result.status, 0)
        # A chroot line takes precedence over the shares.
        result = self.report("AnonymousOnly yes\nChrootSet ftp /jail\n" + conf, "guest")
        self.assertEqual(result.stdout, header() + ANONYMOUSE + body(
            "guest", "ftp", ftp_home, "Mode               : chrooted (/jail)", anonymous="Yes") + "\n")


class VirtualUsers(ReportTest):
    def setUp(self):
        super().setUp()
        for d in ("virt/alice", "srv/private"):
            self.box.mkdir(d)
        os.symlink(self.box.file("virt/alice"), self.box.file("alice-link"))
        self.users = self.box.write("users", (
            "alice:staff:{box}/alice-link:$1$abcdefgh$x\n"
            "dave:guests:{box}/virt/missing:$1$abcdefgh$x\n"
            "erin:staff:{box}/virt/alice:$1$abcdefgh$x\n").format(box=self.box.path))
        self.shares = self.box.write("shares.conf", (
            "[pub]\npath = {box}/srv/pub\nrw = @staff\nro = @guests\n"
            "[homes]\nbrowseable = no\n"
            "[docs]\npath = {box}/srv/docs\nro = alice, dave\nrw = erin\ndisable_ls = alice\n"
            "disable_download = @staff\ndisable_modify = alice\n"
            "[private]\npath = {box}/srv/private\nrw = carol\n").format(box=self.box.path))
        self.base = (f"VirtualUserMapping nobody\nVirtualUserAuthMethod TEXT\nVirtualUserAuthConfig {self.users}\n"
                     f"ShareConfPath {self.shares}\n")

    def test_shares_in_file_order_with_permissions(self):
        box = self.box.path
        self.check(self.base + "DefaultMode SMB\n", "alice", header("TEXT") + body(
            "alice", "nobody", f"{box}/alice-link",
            smb(share("pub", f"{box}/srv/pub"),
                share("home", f"{box}/virt/alice", browseable=False),
                share("docs", f"{box}/srv/docs", writeable=False, ls=False, download=False, modify=False))) + "\n")

    def test_home_that_cannot_be_entered_gets_no_home_share(self):
        box = self.box.path
        self.check(self.base + "DefaultMode SMB\n", "dave", header("TEXT") + body(
            "dave", "nobody", f"{box}/virt/missing",
            smb(share("pub", f"{box}/srv/pub", writeable=False),
                share("docs", f"{box}/srv/docs", writeable=False))) + "\n")

    def test_exception_list_switches_the_mode(self):
        box = self.box.path
        # Normal by default; staff members are the exception and see their shares.
        self.check(self.base + "ExceptionList bob, @staff\n", "erin", header("TEXT") + body(
            "erin", "nobody", f"{box}/virt/alice",
            smb(share("pub", f"{box}/srv/pub"),
                share("home", f"{box}/virt/alice", browseable=False),
                share("docs", f"{box}/srv/docs", download=False))) + "\n")
        self.check(self.base + "ExceptionList bob, @staff\n", "dave", header("TEXT") + body(
            "dave", "nobody", f"{box}/virt/missing", NORMAL) + "\n")

    def test_smb_user_with_a_chroot_is_chrooted(self):
        box = self.box.path
        self.check(self.base + "DefaultMode SMB\nChrootSet @staff ~/in\n", "alice", header("TEXT") + body(
            "alice", "nobody", f"{box}/alice-link", f"Mode               : chrooted ({box}/alice-link//in)") + "\n")

    def test_smb_user_granted_nothing(self):
        shares = self.box.write("none.conf", "[private]\npath = {box}/srv/private\nrw = carol\n".format(
            box=self.box.path))
        conf = (f"VirtualUserMapping nobody\nVirtualUserAuthMethod text\nVirtualUserAuthConfig {self.users}\n"
                f"ShareConfPath {shares}\nDefaultMode SMB\n")
        self.check(conf, "alice", header("text") + body(
            "alice", "nobody", f"{self.box.path}/alice-link", smb()) + "\n")

    def test_unknown_virtual_user(self):
        self.check(self.base + "DefaultMode SMB\n", "zed", header("TEXT") + "User [zed] does not exist.\n",
                   status=255)

    def test_long_name_is_looked_up_by_its_first_255_characters(self):
        name = "v" * 255
        users = self.box.write("users", f"{name}:staff:{self.box.path}/virt/alice:h\n")
        conf = f"VirtualUserMapping nobody\nVirtualUserAuthMethod text\nVirtualUserAuthConfig {users}\n"
        long_name = name + "w" * 45
        self.check(conf, long_name, header("text") + body(
            long_name, "nobody", f"{self.box.path}/virt/alice", NORMAL) + "\n")


if __name__ == "__main__":
    unittest.main()
