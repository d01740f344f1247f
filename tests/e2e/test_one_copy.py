#!/usr/bin/env python3
"""End to end: one copy of the program at a time. While the first copy checks the connection, the
owner, having put its window away, starts the program again. The second copy must touch nothing
(its emulated deck is never made, so it writes neither events nor a report), bring the first
copy's window back to the front and end at once with exit code 0; the first copy must go on and
complete the update.

usage: test_one_copy.py --probe uiprobe.exe --emulated Trevolin-emulated.exe --prefix WINEPREFIX
                        --shots DIR
"""
import argparse
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "walk"))
from harness import Desktop, Slot, Window, quote, windows_path  # noqa: E402
from walk import CHECK, STAGES, Walk  # noqa: E402

ARGS = None
SC_MINIMIZE, WS_MINIMIZE = 0xF020, 0x20000000
SECOND_COPY_ENDS_WITHIN_MS = 2000


class SecondCopyWalk(Walk):
    """The owner's walk through the first copy, with a second copy started while the check runs."""

    def __init__(self, *args, second_dir, **kw):
        super().__init__(*args, **kw)
        self.second_dir = second_dir
        self.second = None     # the probe's answer for the second copy: exit code, how long it ran
        self.first_after = None  # the first copy's check window once the second copy has ended

    def _meet(self, described):
        if described["text"] == CHECK and self.second is None:
            self._start_second_copy(Window(self.desktop, described))
        super()._meet(described)

    def _start_second_copy(self, window):
        # The window is put away once the stage takes messages again (after its first half second).
        self.desktop.ask(f"syscommand {window.hwnd} {SC_MINIMIZE}")
        deadline = time.monotonic() + 5
        while not window.read()["style"] & WS_MINIMIZE and time.monotonic() < deadline:
            time.sleep(0.05)
        deck = {"TREVOLIN_DECK": self.scenario,
                "TREVOLIN_DECK_REPORT": windows_path(os.path.join(self.second_dir, "report.json")),
                "TREVOLIN_DECK_EVENTS": windows_path(os.path.join(self.second_dir, "events.jsonl"))}
        output = windows_path(os.path.join(self.second_dir, "output.txt"))
        names = "".join(" " + quote(f"{k}={v}") for k, v in deck.items())
        self.second = self.desktop.ask(f"run {quote(windows_path(self.program))} {quote(output)} 10000{names}",
                                       check=False)
        self.note(f"a second copy was started; the probe answered {self.second}")
        self.desktop.ask(f"active {window.hwnd} 2000", check=False)
        answer = self.desktop.ask(f"window {window.hwnd}", check=False)
        self.first_after = answer.get("window", {})


class OneCopy(unittest.TestCase):
    def test_a_second_copy_hands_over_to_the_first_and_touches_nothing(self):
        workdir = os.path.join(ARGS.shots, "runs")
        second_dir = os.path.join(workdir, "second")
        shutil.rmtree(workdir, ignore_errors=True)
        os.makedirs(second_dir)
        with Slot(ARGS.prefix) as slot, Desktop(None, ARGS.probe, ARGS.shots, slot=slot) as desktop:
            walk = SecondCopyWalk(desktop, ARGS.emulated, "success", os.path.join(workdir, "first"),
                                  second_dir=second_dir)
            outcome = walk.run()
        notes = "\n".join(f"{at:7.2f} s  {text}" for at, text in outcome.notes)

        second = walk.second
        self.assertIsNotNone(second, "the second copy was started\n" + notes)
        self.assertTrue(second.get("ok"), f"the second copy ended: {second}")
        print(f"\nthe second copy ran {second['ms']} ms", file=sys.stderr)
        self.assertEqual(second["code"], 0)
        self.assertLessEqual(second["ms"], SECOND_COPY_ENDS_WITHIN_MS)
        self.assertEqual(sorted(os.listdir(second_dir)), ["output.txt"],
                         "the second copy's deck was never made: it opened neither the driver nor the library")
        self.assertTrue(walk.first_after, "the first copy's check window was still there")
        self.assertFalse(walk.first_after["style"] & WS_MINIMIZE, "the first copy's window is back")
        self.assertTrue(walk.first_after["foreground"], "the first copy's window is in front")

        self.assertTrue(outcome.ended, notes)
        self.assertEqual(outcome.captions, list(STAGES), "the first copy went through every stage")
        self.assertIsNone(outcome.box)
        report = outcome.report
        self.assertTrue(report.rewritten and report.image_identical, report.text)
        self.assertEqual(report.faults, 0, report.text)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--probe", "--emulated", "--prefix", "--shots"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
