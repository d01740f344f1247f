#!/usr/bin/env python3
"""The x86 build on a machine whose kernel runs no 32-bit programs: its Windows tests are all there,
each one skipped with that reason; none passes, none fails, none is missing. Configured with a
32-bit loader that does not start, as there.

usage: no_32bit_test.py SOURCE_DIR WORK_DIR BUILT_DIR   (BUILT_DIR: the x86 build, for its list)
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from checks import Checks  # noqa: E402

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
checks = Checks()
checks.equal("every Windows test there, and skipped", sorted(skipped), sorted(expected))
checks.expect("with the reason", "skipped: this machine runs no 32-bit programs" in run.stdout, run.stdout[-2000:])
checks.expect("and none failed", run.returncode == 0 and re.search(r"\b0 tests failed", run.stdout), run.stdout[-2000:])
checks.done()
