"""The install lays out the tool, its manual page, the sample configuration and the
library with its headers; the manual page lints clean."""

import os
import shutil
import stat
import subprocess
import tempfile
import unittest

BUILD = os.environ["KESTRAD_BUILD_DIR"]
SOURCE = os.environ["KESTRAD_SOURCE_DIR"]


class Install(unittest.TestCase):
    def test_install_into_a_staging_directory(self):
        stage = tempfile.mkdtemp(prefix="kestrad-stage-")
        self.addCleanup(shutil.rmtree, stage, True)
        prefix = stage + "/usr/local"
        subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                       check=True, capture_output=True, timeout=120)
        tool = os.path.join(prefix, "sbin/kestrad-user")
        self.assertTrue(os.stat(tool).st_mode & stat.S_IXUSR)
        for name, source in (("man/man8/kestrad-user.8", "man/kestrad-user.8"),
                             ("etc/kestrad/kestrad.conf.sample", "examples/kestrad.conf")):
            with self.subTest(name):
                with open(os.path.join(prefix, name), "rb") as installed, \
                        open(os.path.join(SOURCE, source), "rb") as original:
                    self.assertEqual(installed.read(), original.read())
        self.assertTrue(os.path.isfile(os.path.join(prefix, "lib/libkestrad.a")))
        for header in ("config/param.h", "auth/auth.h", "textuser/textuser.h", "share/share.h",
                       "limits/ipconn.h", "tool/login_state.h"):
            with self.subTest(header):
                self.assertTrue(os.path.isfile(os.path.join(prefix, "include/kestrad", header)))
        # The installed tool runs and speaks its usage text.
        result = subprocess.run([tool, "-h"], capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0)
        self.assertIn(f"Usage: {tool} -[aedt] user [-t type]", result.stdout)


class ManualPage(unittest.TestCase):
    @unittest.skipUnless(shutil.which("mandoc"), "mandoc is not installed")
    def test_lints_clean(self):
        result = subprocess.run(["mandoc", "-T", "lint", "-W", "warning", os.path.join(SOURCE, "man/kestrad-user.8")],
                                capture_output=True, text=True, timeout=60)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))


if __name__ == "__main__":
    unittest.main()
