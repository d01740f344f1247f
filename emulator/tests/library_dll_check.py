#!/usr/bin/env python3
"""library_dll_check.py WINE_RUN PREFIX PROGRAM: runs a program linked to TavroUSB.dll by import
under Wine, with the stand-in DLL beside it, against a few scenarios of the emulated deck, and checks
the library part of the deck's report of each run. The program reaches the library path only: the
deck refuses its first block, which came without a rewrite request, finds nothing else wrong with it
or with the status read that follows, and has every handle back."""
import json
import os
import subprocess
import sys
import tempfile

# scenario, the program's expected exit status, fields the library part of the report must hold
RUNS = [
    ("success", 1, dict(faultKinds=["block-before-rewrite"], blocksSent=1, blocksTaken=0, statusReads=1,
                        replyRead=False, handlesLeftOpen=0)),
    ("library-absent", 1, dict(faultKinds=[], enumerateCalls=1, opened="", handlesLeftOpen=0)),
]

wine_run, prefix, program = sys.argv[1:]
failures = 0
with tempfile.TemporaryDirectory() as folder:
    for scenario, status, fields in RUNS:
        report_path = os.path.join(folder, scenario + ".json")
        env = dict(os.environ, TREVOLIN_DECK=scenario, TREVOLIN_DECK_REPORT="Z:" + report_path)
        run = subprocess.run([wine_run, prefix, program], env=env, capture_output=True, text=True, timeout=120)
        print("--- %s: exit %d\n%s" % (scenario, run.returncode, run.stdout.rstrip()))
        problems = [] if run.returncode == status else ["exit status %d, expected %d" % (run.returncode, status)]
        try:
            with open(report_path, encoding="utf-8") as f:
                library = json.load(f)["library"]
            library.update(library["image"], faultKinds=sorted({f["kind"] for f in library["faults"]}))
            problems += ["%s is %r, expected %r" % (k, library.get(k), v) for k, v in fields.items() if library.get(k) != v]
        except (OSError, ValueError, KeyError) as e:
            problems.append("no report from the stand-in DLL: %s" % e)
        for p in problems:
            print("FAIL %s: %s" % (scenario, p))
        failures += bool(problems)
sys.exit(1 if failures else 0)
