#!/usr/bin/env python3
"""Runs a program linked to TavroUSB.dll by import under Wine, with the stand-in DLL beside it,
against a few scenarios of the emulated deck, and checks the library part of the deck's report of
each run. The program reaches the library path only: the deck notes that its blocks came without a
rewrite request, and finds nothing else wrong.

  library_dll_check.py WINE_RUN PREFIX PROGRAM
"""
import json
import os
import subprocess
import sys
import tempfile

# scenario, the program's expected exit status, fields the library part of the report must hold
UNREQUESTED = {"handlesLeftOpen": 0, "faultKinds": ["block-before-rewrite"]}
RUNS = [
    ("success", 0, dict(UNREQUESTED, blocksTaken=1024, replyRead=True, identical=True)),
    ("refuse-block-0", 1, dict(UNREQUESTED, blocksTaken=0, blocksSent=1, refusedBlock=0)),
    ("library-absent", 1, dict(handlesLeftOpen=0, faultKinds=[], enumerateCalls=1, decks=0, opened="")),
]


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    wine_run, prefix, program = sys.argv[1:]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for scenario, status, fields in RUNS:
            report_path = os.path.join(folder, scenario + ".json")
            env = dict(os.environ, TREVOLIN_DECK=scenario, TREVOLIN_DECK_REPORT="Z:" + report_path)
            run = subprocess.run([wine_run, prefix, program], env=env, capture_output=True, text=True, timeout=120)
            print("--- %s: exit %d\n%s" % (scenario, run.returncode, run.stdout.rstrip()))
            try:
                with open(report_path, encoding="utf-8") as f:
                    report = f.read()
                library = json.loads(report)["library"]
            except (OSError, ValueError, KeyError):
                report, library = "", None
            problems = []
            if run.returncode != status:
                problems.append("exit status %d, expected %d" % (run.returncode, status))
            if library is None:
                problems.append("the stand-in DLL wrote no report")
            else:
                library.update(library["image"])
                library["faultKinds"] = [f["kind"] for f in library["faults"]]
                problems += ["%s is %r, expected %r" % (k, library.get(k), v)
                             for k, v in fields.items() if library.get(k) != v]
            for p in problems:
                print("FAIL %s: %s" % (scenario, p))
            if problems:
                print(report)
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
