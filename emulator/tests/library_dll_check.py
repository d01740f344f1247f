#!/usr/bin/env python3
"""Runs a program linked to TavroUSB.dll by import under Wine, with the stand-in DLL beside it,
against a few scenarios of the emulated deck, and checks the deck's report of each run.

  library_dll_check.py WINE_RUN PREFIX PROGRAM
"""
import os
import subprocess
import sys
import tempfile

# scenario, the program's expected exit status, texts the deck's report must hold
RUNS = [
    ("success", 0, ["image: complete, byte-identical", "reply read: yes", "handles left open: 0", "faults: 0"]),
    ("refuse-block-0", 1, ["blocks: 0 taken of 1 sent; block 0 refused", "handles left open: 0", "faults: 0"]),
    ("library-absent", 1, ["enumerate calls: 1, decks: 0", "opened: none", "faults: 0"]),
]


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    wine_run, prefix, program = sys.argv[1:]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for scenario, status, texts in RUNS:
            report_path = os.path.join(folder, scenario + ".txt")
            env = dict(os.environ, TREVOLIN_DECK=scenario, TREVOLIN_DECK_REPORT="Z:" + report_path)
            run = subprocess.run([wine_run, prefix, program], env=env, capture_output=True, text=True, timeout=120)
            print("--- %s: exit %d\n%s" % (scenario, run.returncode, run.stdout.rstrip()))
            try:
                with open(report_path, encoding="latin-1") as f:
                    report = f.read()
            except OSError:
                report = ""
            problems = []
            if run.returncode != status:
                problems.append("exit status %d, expected %d" % (run.returncode, status))
            if not report:
                problems.append("the stand-in DLL wrote no report")
            problems += ["report lacks %r" % t for t in texts if t not in report]
            for p in problems:
                print("FAIL %s: %s" % (scenario, p))
            if problems:
                print(report)
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
