#!/usr/bin/env python3
"""library_dll_check.py WINE_RUN PREFIX PROGRAM: a program bound to TavroUSB.dll by import, run beside
the stand-in DLL on a few decks: each of the six calls reaches the deck, which refuses the first
block (no rewrite request came), finds nothing else wrong and has every handle back."""
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from checks import Checks  # noqa: E402

# scenario, the program's expected exit status, fields the library part of the report must hold
RUNS = [
    ("success", 1, dict(faultKinds=["block-before-rewrite"], blocksSent=1, blocksTaken=0, statusReads=1,
                        replyRead=False, handlesLeftOpen=0)),
    ("library-absent", 1, dict(faultKinds=[], enumerateCalls=1, opened="", handlesLeftOpen=0)),
]

wine_run, prefix, program = sys.argv[1:]
checks = Checks()
with tempfile.TemporaryDirectory() as folder:
    for scenario, status, fields in RUNS:
        report_path = os.path.join(folder, scenario + ".json")
        env = dict(os.environ, TREVOLIN_DECK=scenario, TREVOLIN_DECK_REPORT="Z:" + report_path)
        run = subprocess.run([wine_run, prefix, program], env=env, capture_output=True, text=True, timeout=120)
        print(f"--- {scenario}:\n{run.stdout.rstrip()}")
        checks.equal(f"{scenario}: the program's exit status", run.returncode, status)
        try:
            with open(report_path, encoding="utf-8") as f:
                library = json.load(f)["library"]
        except (OSError, ValueError, KeyError) as e:
            checks.expect(f"{scenario}: a report from the stand-in DLL", False, str(e))
            continue
        library.update(library["image"], faultKinds=sorted({f["kind"] for f in library["faults"]}))
        checks.equal(f"{scenario}: the library's part of the report", {k: library.get(k) for k in fields}, fields)
checks.done()
