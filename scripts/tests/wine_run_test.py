#!/usr/bin/env python3
"""scripts/wine-run lets go of its caller when the program has ended, though Wine's services,
started by a prefix's first program, keep what it inherited (ctest would wait for them).

usage: wine_run_test.py PREFIX
"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "tools", "walk"), os.path.join(HERE, "..", "..", "tests", "support")]
from checks import Checks  # noqa: E402
from harness import WINE_RUN, WINESERVER, Slot  # noqa: E402


def holders(inode):
    """The processes with the pipe open, besides this one."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if int(pid) == os.getpid():
            continue
        try:
            links = [os.readlink(f"/proc/{pid}/fd/{fd}") for fd in os.listdir(f"/proc/{pid}/fd")]
        except OSError:
            continue
        if f"pipe:[{inode}]" in links:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                found.append(f.read().replace(b"\0", b" ").decode(errors="replace").strip())
    return found


with Slot(sys.argv[1]) as slot:
    subprocess.run([WINESERVER, "-k"], env=slot.env, stderr=subprocess.DEVNULL)
    read, write = os.pipe()
    started = time.monotonic()
    done = subprocess.run([WINE_RUN, slot.prefix, "cmd", "/c", "echo said& echo told 1>&2& exit 3"], env=slot.env,
                          stdout=write, stderr=write)
    os.close(write)
    left = holders(os.fstat(read).st_ino)
    with os.fdopen(read) as output:
        said = [line.strip() for line in output.read().splitlines()]
    services = subprocess.run(["pgrep", "-f", "winedevice.exe"], capture_output=True).returncode == 0
    subprocess.run([WINESERVER, "-k"], env=slot.env, stderr=subprocess.DEVNULL)

checks = Checks()
checks.equal("the program's exit status", done.returncode, 3)
checks.equal("its output, its error output, and the run's word on its failure", sorted(said),
             ["said", "told", "wine-run: cmd ended with exit status 3"])
checks.expect("it started Wine's services, which would hold what it inherited", services)
checks.equal("what still holds the caller's output", left, [])
checks.done()
