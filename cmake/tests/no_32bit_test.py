#!/usr/bin/env python3
"""The x86 build on a machine whose kernel runs no 32-bit programs: its Windows tests are all there,
each one skipped with that reason; none passes, none fails, none is missing. Configured with a
32-bit loader that does not start, as there.

usage: no_32bit_test.py SOURCE_DIR WORK_DIR BUILT_DIR   (BUILT_DIR: the x86 build, for its list)
"""
import re
import shutil
import subprocess
import sys

source, work, built = sys.argv[1:4]
shutil.rmtree(work, ignore_errors=True)
subprocess.run(["cmake", "--preset", "win32", "-B", work, "-DTREVOLIN_WINE32=/bin/false"], cwd=source, check=True,
               stdout=subprocess.DEVNULL)
run = subprocess.run(["ctest", "--test-dir", work, "-L", "win|e2e", "-FA", ".*", "-V"], capture_output=True, text=True)
listed = lambda folder: set(re.findall(r"Test +#\d+: (\S+)", subprocess.run(
    ["ctest", "--test-dir", folder, "-N", "-L", "win|e2e", "-FA", ".*"], capture_output=True, text=True).stdout))
skipped = set(re.findall(r"Test +#\d+: (\S+) \.+\s*\*+Skipped", run.stdout))
# Where the programs run, one program's cases are entries of their own: here the program is one.
expected = {name.split(".")[0] for name in listed(built)}
failures = []
if skipped != expected:
    failures.append(f"skipped: {sorted(skipped)}\nexpected: {sorted(expected)}")
if "skipped: this machine runs no 32-bit programs" not in run.stdout:
    failures.append("the reason is not given")
if run.returncode != 0 or not re.search(r"\b0 tests failed", run.stdout):
    failures.append("a skipped test failed the run")
print("\n".join(failures) or f"ok: {len(skipped)} entries skipped, with the reason")
sys.exit(1 if failures else 0)
