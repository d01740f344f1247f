#!/usr/bin/env python3
"""The update run as a user runs it, without a user: Trevolin-emulated.exe against a scenario of
the emulated deck on a virtual display, the terms accepted (同意します, then OK), a picture of every
window saved, OK pressed on the completion window; then what happened and the deck's verdict.
Exit status 0 only when the update succeeded: the completion window came up, no message box did,
and the deck took the image byte for byte and now runs its version.

  demo.py --probe uiprobe.exe --program Trevolin-emulated.exe --prefix WINEPREFIX --shots DIR [--scenario NAME]
  demo.py --verdict REPORT   (the verdict on a report of a run that a person clicked through)
"""
import argparse
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "image"))
from firmware import ANNOUNCED_VERSION  # noqa: E402
from harness import Desktop, ProbeError, Slot  # noqa: E402
from walk import COMPLETE, Report, Walk  # noqa: E402


def verdict(report, completed=None):
    """Prints the deck's verdict; True when the deck took the update whole and runs it."""
    if not report.exists:
        print("The deck wrote no report: the program did not reach it.")
        return False
    print("The deck's verdict:")
    taken, sent = report.blocks or (0, 0)
    print(f"  image received: {report.image} ({taken} of 1024 blocks taken, {sent} sent)")
    print(f"  rewrite requested: {'yes' if report.rewrite_requested else 'no'}; "
          f"reply read: {'yes' if report.reply_read else 'no'}")
    print(f"  version: {report.version_before} before, {report.version_now} now"
          f" ({'rewritten with the new image' if report.rewritten else 'not rewritten'})")
    opened, closed, still_open, _ = report.driver_handles or (0, 0, 0, 0)
    print(f"  handles: driver {opened} opened, {still_open} left open; library {report.library_left_open} left open")
    print(f"  faults: {report.faults if report.faults >= 0 else 'unknown'}")
    for f in report.fault_lines:
        print(f"    {f}")
    good = (report.image_identical and report.rewritten and report.version_now == ANNOUNCED_VERSION
            and report.faults == 0 and still_open == 0 and report.library_left_open == 0)
    return good and completed is not False


def run(args):
    shots = os.path.abspath(args.shots)
    shutil.rmtree(shots, ignore_errors=True)
    os.makedirs(shots)
    workdir = os.path.join(shots, "deck")  # the deck's report and events, beside the pictures
    print(f"Running {os.path.basename(args.program)} against the emulated deck \"{args.scenario}\" "
          f"on a virtual display; the terms are accepted as a user would.")
    with Slot(args.prefix) as slot, Desktop(slot, args.probe, shots, name="trevolin") as desktop:
        walk = Walk(desktop, args.program, args.scenario, workdir, shots=True, demo=True, timeout_s=240,
                    say=lambda line: print(line, flush=True))
        try:
            outcome = walk.run()
        except ProbeError as e:
            print(f"The run went wrong: {e}")
            outcome = walk.outcome
    print()
    print("Windows, in the order they came up:")
    for w in outcome.windows:
        gone = f"{(w['gone_ms'] - w['shown_ms']) / 1000:6.2f} s shown" if w["gone_ms"] >= 0 else "still shown"
        print(f"  {w['shown_ms'] / 1000:7.2f} s  {w['text']}  ({gone})")
    if outcome.box:
        b = outcome.box
        print(f"Message box \"{b['caption']}\": \"{b['text']}\" ({b['icon']} icon)")
    else:
        print("Message box: none")
    if not outcome.windows and outcome.ended:
        output = os.path.join(workdir, args.scenario + "-output.txt")
        if os.path.exists(output):
            print(open(output, encoding="utf-8", errors="replace").read().strip())
    print()
    completed = COMPLETE in outcome.captions and outcome.box is None and outcome.ended
    good = verdict(outcome.report, completed)
    print()
    print(f"Screenshots ({len(outcome.shots)}): {shots}")
    for s in outcome.shots:
        print(f"  {os.path.basename(s)}")
    print()
    if good:
        print("Result: the update succeeded; the deck runs the new firmware.")
        return 0
    reason = f"\"{outcome.box['text'].strip()}\"" if outcome.box else "see above"
    print(f"Result: the update did not succeed ({reason}).")
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--verdict")
    for option in ("--probe", "--program", "--prefix", "--shots"):
        parser.add_argument(option)
    parser.add_argument("--scenario", default="success")
    args = parser.parse_args()
    if args.verdict:
        text = open(args.verdict, encoding="utf-8", errors="replace").read() if os.path.exists(args.verdict) else ""
        good = verdict(Report(text))
        print("Result: " + ("the update succeeded; the deck runs the new firmware." if good
                            else "the update did not succeed."))
        return 0 if good else 1
    if not all((args.probe, args.program, args.prefix, args.shots)):
        parser.error("--probe, --program, --prefix and --shots are needed for a run")
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
