#!/usr/bin/env python3
"""Benchmark of the text user file on a generated file of a million users: lookup,
delete and edit through kestrad-user, side by side with grep, a plain copy-sync-rename
and htpasswd on the same file. Prints wall times (median of several runs) and the
largest peak memory of the runs."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"
DIGEST = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


def user_name(index):
    return f"user{index:07d}"


def generate(path, count):
    """About 71 bytes a user: name, group, home and an MD5-crypt shaped hash."""
    with open(path, "w") as out:
        batch = []
        for index in range(count):
            name = user_name(index)
            digest = "".join(DIGEST[(index * 7 + k * 13) % 64] for k in range(22))
            batch.append(f"{name}:staff:/home/{name}:$1$abcdefgh${digest}\n")
            if len(batch) == 10000:
                out.write("".join(batch))
                batch.clear()
        out.write("".join(batch))


def timed(argv, stdin=None):
    """Runs a command under GNU time; its wall time in seconds and its peak resident
    memory in KiB. A child forked from this script would count the interpreter's own
    memory as its peak, so GNU time, a small program, starts the command."""
    report = os.path.join(tempfile.gettempdir(), f"kestrad-bench-peak-{os.getpid()}")
    start = time.perf_counter()
    completed = subprocess.run([GNU_TIME, "-f", "%M", "-o", report, *argv], input=stdin.encode() if stdin else None,
                               stdin=None if stdin else subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(report) as source:
        peak = int(source.read().split()[-1])
    os.unlink(report)
    return elapsed, peak, completed.returncode


class Measurement:
    """One command measured several times: the median time and the largest peak."""

    def __init__(self, label, argv, prepare=None, stdin=None, expect=0):
        self.label, self.argv, self.prepare, self.stdin, self.expect = label, argv, prepare, stdin, expect
        self.times, self.peaks = [], []

    def run_once(self):
        if self.prepare:
            self.prepare()
        elapsed, peak, status = timed(self.argv, stdin=self.stdin)
        if status != self.expect:
            sys.exit(f"{self.label}: exit status {status}, expected {self.expect}")
        self.times.append(elapsed)
        self.peaks.append(peak)

    def result(self):
        return statistics.median(self.times), max(self.peaks)


def run_rounds(measurements, runs):
    """Runs every measurement once per round, so that a change in the machine's load
    weighs on all of them alike."""
    for _ in range(runs):
        for measurement in measurements:
            measurement.run_once()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--binary", default="build/kestrad-user", help="path of kestrad-user")
    parser.add_argument("--users", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=5, help="runs per measurement (the median is shown)")
    parser.add_argument("--dir", default=None, help="directory for the generated files (default: TMPDIR)")
    args = parser.parse_args()

    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        sys.exit(f"no kestrad-user at {binary}: build it first or give --binary")
    htpasswd = shutil.which("htpasswd")
    if not os.access(GNU_TIME, os.X_OK):
        sys.exit(f"{GNU_TIME} is missing: install the package time")

    work = tempfile.mkdtemp(prefix="kestrad-bench-", dir=args.dir)
    try:
        master = os.path.join(work, "users.master")
        users = os.path.join(work, "users")
        config = os.path.join(work, "kestrad.conf")
        generate(master, args.users)
        with open(config, "w") as out:
            out.write(f"VirtualUserAuthConfig {users}\n")
        size = os.path.getsize(master)
        first, middle, last = user_name(0), user_name(args.users // 2), user_name(args.users - 1)

        def fresh():
            # Every rewrite starts from the same file, with nothing left to write back.
            shutil.copyfile(master, users)
            os.sync()

        fresh()
        lookup = Measurement("lookup", [binary, "-s", config, "-e", "nobody"], expect=255)
        grep = Measurement("grep", ["grep", "-m1", f"^{last}:", users])
        floor = Measurement("floor", ["sh", "-c", f"cp '{users}' '{users}.tmp' && sync '{users}.tmp' && "
                                                  f"mv '{users}.tmp' '{users}'"], prepare=fresh)
        delete = Measurement("delete", [binary, "-s", config, "-d", first], prepare=fresh)
        edit = Measurement("edit", [binary, "-s", config, "-e", middle], prepare=fresh,
                           stdin="staff\n/home/edited\nbench-password\nbench-password\n")
        measurements = [lookup, grep, floor, delete, edit]
        if htpasswd:
            delete_other = Measurement("htpasswd -D", [htpasswd, "-D", users, first], prepare=fresh)
            edit_other = Measurement("htpasswd -b", [htpasswd, "-b", users, middle, "bench-password"], prepare=fresh)
            measurements += [delete_other, edit_other]
        run_rounds(measurements, args.runs)

        # The lookup reads the whole file when the user is missing, as for the last user.
        rows = [("lookup, whole file", lookup, "grep -m1 '^NAME:'", grep, "<= 2x"),
                ("delete of the first user", delete, "cp && sync && mv", floor, "<= 1.5x")]
        if htpasswd:
            rows.append(("delete of the first user", delete, "htpasswd -D", delete_other, ">= 4x faster"))
        rows.append(("edit of the middle user", edit, "cp && sync && mv", floor, "<= 1.5x"))
        if htpasswd:
            rows.append(("edit of the middle user", edit, "htpasswd -b", edit_other, ">= 4x faster"))

        print(f"{args.users} users, {size / 1e6:.1f} MB, median of {args.runs} runs; peak memory of any run")
        print(f"{'operation':26} {'kestrad-user':>13} {'peak':>9}   {'reference':18} {'time':>9} {'peak':>9}"
              f"  {'ratio':14}  target")
        for operation, ours, reference, other, target in rows:
            (ours_time, ours_peak), (ref_time, ref_peak) = ours.result(), other.result()
            # Against the floor and grep: how many times their time; against htpasswd: how many times faster.
            ratio = f"{ref_time / ours_time:5.1f}x faster" if "faster" in target else f"{ours_time / ref_time:5.2f}x"
            print(f"{operation:26} {ours_time * 1000:10.1f} ms {ours_peak / 1024:6.1f} MiB   {reference:18}"
                  f" {ref_time * 1000:6.1f} ms {ref_peak / 1024:5.1f} MiB  {ratio:14}  {target}")
        if not htpasswd:
            print("htpasswd not found (package apache2-utils): its rows are left out")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
