#!/usr/bin/env python3
"""End to end: the whole update as the deck's owner goes through it, Trevolin-emulated.exe against
every deck the tests know (and Trevolin.exe, which under Wine finds no driver), each run on a Wine
virtual desktop through the UI probe and checked against what the emulated deck reports. One run
has winmm.dll and comctl32.dll planted beside the program (--planted), and none may run in it. Two
runs go in a locale whose code page is not 932, and every text read from their windows must be the
program's own.

Trevolin.exe also runs against the stand-in of the maker's driver (tests/kdriver): there every
handle it opened must have been closed by the program itself, and the stand-in's record must hold
the requests the case expects and no other.

Every run checks: the windows that came up and their order, the message box (text, caption,
icon, owner) or that there was none, that the program ended, that nothing that writes to the deck
(the rewrite request, a block) reached it before the user agreed (looked at while the agreement
window waited for OK, and in the order of the deck's events afterwards), that every handle was
closed, that the deck found no fault, and that the deck runs the new firmware, received whole and
byte for byte, exactly when the run ended with "バージョンアップ完了".

usage: test_update.py --probe uiprobe.exe --emulated Trevolin-emulated.exe --production Trevolin.exe
                      --prefix WINEPREFIX --shots DIR --group NAME [--slots N] [--planted DLL...]
                      [--deck-installer DeckInstall.exe --deck-driver TrevolinDeck.sys]
"""
import argparse
import concurrent.futures
import contextlib
import glob
import os
import shutil
import subprocess
import sys
import time
import traceback
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "walk"))
from harness import WINE_RUN, Desktop, Slot  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "kdriver"))
from deckdriver import DeckDriver, members  # noqa: E402
from walk import (AGREE, AGREEMENT, CANCEL_AFTER_AGREE, CHECK, COMPLETE, DISAGREE, ERROR_CAPTION,  # noqa: E402
                  ESCAPE_AFTER_AGREE, TRANSFER, WAIT, Walk, is_write)

ARGS = None

NO_DRIVER = "デバイスドライバが見つかりません      "
USB_OPEN = "ＵＳＢオープンエラー"
WRONG_MODEL = "接続されている機種が違うか、電源が入っていません"
NOT_OLDER = "本体KD装置内のバージョンが同一または新しいバージョンです"
NOT_ELIGIBLE = "本体KD装置はバージョンアップ対象外です"
DISC_INSIDE = "ＫＤメディアを取り出してください"
NOT_TAVRO = "Tavro モードにして下さい"
STOPPED = "アップデートを中止します。"
TRANSFER_TIMEOUT = "本体KD装置へのデータ転送がタイムアウトしました"
REWRITE_TIMEOUT = "本体KD装置のデータ書換えがタイムアウトしました"

NEW_VERSION = "1.07A"  # the firmware the program carries
PLANTED_PROGRAM = "Trevolin-planted.exe"  # the program's copy that has DLLs planted beside it
OTHER_LOCALE = "C.UTF-8"  # code page 1252 under Wine

# What each window says, control by control, as the program has it. The check window's status line
# names the check under way, or nothing before the first; the terms are checked by their first
# line and their size in code page 932. (Wine's animation control keeps no window text.)
CHECK_STEPS = {"", "ドライバーチェック", "ＵＳＢチェック", "機種チェック", "バージョンチェック", "ＫＤメディアチェック",
               "Tavro 動作モードチェック"}
TERMS = "HVX-Z8KQ ファームウェア バージョンアップ ソフトウェア 使用許諾書\r\n"
WINDOW_TEXTS = {
    CHECK: {1000: "Progress1", 1003: CHECK_STEPS, 1005: "機器の接続チェックを行っています。\r\nしばらくお待ちください。"},
    AGREEMENT: {1: "OK", 2: "ｷｬﾝｾﾙ", 1002: TERMS, 1006: "同意します。", 1007: "同意しません。"},
    TRANSFER: {1000: "Progress1", 1003: "バージョンアップデータを転送中です。本体の電源を落とさないでください。",
               1008: "ＵＳＢケーブルを抜かないでください。"},
    WAIT: {1002: "バージョンアップ中です。", 1008: "本体の電源を切らないでください。", 1009: ""},
    COMPLETE: {1: "OK", 1002: "バージョンアップが完了しました。\r\nおつかれさまでした。"},
}


class Case:
    """One run: the deck, what the user does, and what must come of it."""

    def __init__(self, name, scenario=None, user=AGREE, box=None, reaches=COMPLETE, production=False,
                 blocks=None, image=None, plugged=True, reply_read=None, ends_within_s=None, planted=False,
                 locale=None, driver=None, queried=(), timeout_s=240):
        self.name, self.scenario, self.user = name, scenario or name, user
        self.box = box              # message text; None: no message box
        self.reaches = reaches      # the last stage window that comes up
        self.driver = driver        # Trevolin.exe against the driver's stand-in with this scenario
        self.queried = set(queried)  # the stand-in's members whose ready state is asked for
        self.production = production or bool(driver)
        self.timeout_s = timeout_s
        self.blocks = blocks        # (taken, sent) on the deck; None: as the stage reached implies
        self.image = image          # the deck's verdict on what it received; None: as implied
        self.plugged = plugged      # the deck is plugged in when the program ends
        self.reply_read = reply_read
        self.ends_within_s = ends_within_s  # from the completion window's close to the program's end
        self.planted = planted      # run from a folder with the --planted DLLs in it
        self.locale = locale        # the Unix locale of the run, if not Japanese; its texts are read

    @property
    def completes(self):
        return self.reaches == COMPLETE

    @property
    def windows(self):
        stages = [CHECK, AGREEMENT, TRANSFER, WAIT, COMPLETE]
        shown = stages[:stages.index(self.reaches) + 1]
        return shown + ([ERROR_CAPTION] if self.box else [])

    @property
    def box_owner(self):
        # The refusal is the sequence's own message, shown after the agreement window has closed.
        return "" if self.box == STOPPED else self.reaches

    @property
    def consent(self):
        return self.reaches != CHECK and self.user == AGREE


def check_failure(name, message, **kw):
    return Case(name, box=message, reaches=CHECK, **kw)


GROUPS = {
    "success": [
        Case("success"),
        Case("product-52"),
        Case("garbage"),  # unrelated frames between the deck's replies
    ],
    # No deck behind the driver fails at the USB check's first step; a deck that is there but not
    # usable, at the USB check itself.
    "check-driver": [
        check_failure("absent", NO_DRIVER, plugged=False),
        check_failure("not-ready", USB_OPEN),
        check_failure("pipe0-fails", USB_OPEN),
        check_failure("pipe1-fails", USB_OPEN),
        check_failure("packet0-missing", USB_OPEN),
        check_failure("production-no-driver", NO_DRIVER, scenario="success", production=True),
    ],
    # A driver that ignores every cancel: the update completes and the program still ends at once.
    # A deck that takes no write: the check goes on as for a deck that never answers.
    "link-faults": [
        Case("cancel-ignored", ends_within_s=3),
        check_failure("write-stalls", WRONG_MODEL),
    ],
    "check-deck": [
        check_failure("other-model", WRONG_MODEL),
        check_failure("no-model-reply", WRONG_MODEL),
        check_failure("version-1.07", NOT_OLDER),
        check_failure("version-2.00", NOT_OLDER),
        check_failure("no-version-reply", NOT_OLDER),
        check_failure("variant-M", NOT_ELIGIBLE),
        check_failure("disc-inside", DISC_INSIDE),
        check_failure("wrong-mode", NOT_TAVRO),
    ],
    "check-library": [
        check_failure("library-absent", USB_OPEN),
        check_failure("library-name-refused", USB_OPEN),
        check_failure("library-open-refused", USB_OPEN),
    ],
    "terms": [
        Case("terms-refused", scenario="success", user=DISAGREE, box=STOPPED, reaches=AGREEMENT),
        Case("terms-cancelled", scenario="success", user=CANCEL_AFTER_AGREE, box=STOPPED, reaches=AGREEMENT),
        Case("terms-escaped", scenario="success", user=ESCAPE_AFTER_AGREE, box=STOPPED, reaches=AGREEMENT),
    ],
    "transfer": [
        Case("refuse-block-0", box=TRANSFER_TIMEOUT, reaches=TRANSFER, blocks=(0, 1), image="nothing received"),
        Case("refuse-block-512", box=TRANSFER_TIMEOUT, reaches=TRANSFER, blocks=(512, 513),
             image="incomplete, 512 of 1024 blocks in; missing 512-1023"),
        Case("no-acceptance", box=TRANSFER_TIMEOUT, reaches=TRANSFER, reply_read=False),  # about 8.1 s of polling
    ],
    "planted": [Case("planted", scenario="success", planted=True)],
    "locale": [
        Case("locale-success", scenario="success", locale=OTHER_LOCALE),
        check_failure("locale-other-model", WRONG_MODEL, scenario="other-model", locale=OTHER_LOCALE),
    ],
    # Trevolin.exe against the stand-in of the maker's driver: another product of the maker and
    # products of another vendor are not the deck.
    # Trevolin.exe against the stand-in of the maker's driver: another product of the maker and
    # products of another vendor are not the deck; the deck is found and its ready state asked
    # for, but it cannot be used (its pipes cannot be opened under Wine, or it is not ready).
    "production-driver": [
        check_failure("production-other-decks", NO_DRIVER, driver="other-decks"),
        check_failure("production-deck", USB_OPEN, driver="deck", queried=[0]),
        check_failure("production-stranger-first", USB_OPEN, driver="stranger-first", queried=[1]),
        check_failure("production-not-ready", USB_OPEN, driver="not-ready", queried=[0]),
    ],
    "production-driver-cap": [check_failure("production-beyond-cap", NO_DRIVER, driver="beyond-cap",
                                            timeout_s=600)],
    # Two minutes of waiting each.
    "slow-never-completes": [Case("never-completes", box=REWRITE_TIMEOUT, reaches=WAIT)],
    "slow-unplugged": [Case("unplug-during-wait", box=REWRITE_TIMEOUT, reaches=WAIT, plugged=False)],
}


def plant(desktop, program, folder):
    """A copy of the program in `folder` with the --planted DLLs beside it, and the desktop's prefix
    told to prefer a DLL of those names in the program's folder to its own, as Windows does for
    every DLL that is not a KnownDLL. Returns the copy."""
    if not ARGS.planted:
        raise RuntimeError("nothing to plant: the run needs --planted DLLs")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    copy = os.path.join(folder, PLANTED_PROGRAM)
    shutil.copy(program, copy)
    key = "HKCU\\Software\\Wine\\AppDefaults\\" + PLANTED_PROGRAM + "\\DllOverrides"
    for dll in ARGS.planted:
        shutil.copy(dll, folder)
        name = os.path.splitext(os.path.basename(dll))[0]
        subprocess.run([WINE_RUN, desktop.prefix, "reg", "add", key, "/v", name, "/d", "native,builtin", "/f"],
                       env=desktop.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return copy


def walk_cases(cases):
    """Runs the cases over ARGS.slots desktops side by side; returns {name: (outcome, error, seconds)}."""
    # Each run's deck report, live events and program output, kept beside the probe's logs.
    workdir = os.path.join(ARGS.shots, "runs")
    shutil.rmtree(workdir, ignore_errors=True)
    pending = list(cases)
    results = {}
    locales = {case.locale for case in cases}
    assert len(locales) == 1, "the runs of a group share their desktops, and so their locale"
    locale = locales.pop()

    def worker(index):
        family = "kd" if any(case.driver for case in cases) else "e2e"
        with Slot(ARGS.prefix, family) as slot, \
                Desktop(None, ARGS.probe, os.path.join(ARGS.shots, f"desktop{index}"), slot=slot,
                        locale=locale) as desktop:
            while pending:
                try:
                    case = pending.pop(0)
                except IndexError:
                    return
                begun = time.monotonic()
                program = ARGS.production if case.production else ARGS.emulated
                if case.planted:
                    program = plant(desktop, program, os.path.join(workdir, case.name, "program"))
                walk = Walk(desktop, program, case.scenario, os.path.join(workdir, case.name), user=case.user,
                            timeout_s=case.timeout_s, read_texts=bool(case.locale))
                try:
                    with (DeckDriver(desktop.env, ARGS.deck_installer, ARGS.deck_driver, case.driver)
                          if case.driver else contextlib.nullcontext()) as driver:
                        walk.run()
                        if driver:
                            walk.outcome.record = driver.record()
                            with open(os.path.join(workdir, case.name, "driver-record.txt"), "w") as f:
                                f.write(walk.outcome.record.text)
                    results[case.name] = (walk.outcome, None, time.monotonic() - begun)
                except Exception:  # the test of that case reports it
                    results[case.name] = (walk.outcome, traceback.format_exc(), time.monotonic() - begun)
                print(f"  {case.name}: {time.monotonic() - begun:.1f} s", file=sys.stderr, flush=True)

    slots = max(1, min(ARGS.slots, len(cases)))
    with concurrent.futures.ThreadPoolExecutor(slots) as pool:
        for f in [pool.submit(worker, i) for i in range(slots)]:
            f.result()
    return results


class UpdateEndToEnd(unittest.TestCase):
    results = {}

    @classmethod
    def setUpClass(cls):
        begun = time.monotonic()
        cls.results = walk_cases(GROUPS[ARGS.group])
        print(f"\n{ARGS.group}: {len(cls.results)} runs in {time.monotonic() - begun:.1f} s", file=sys.stderr)

    def check_case(self, case):
        outcome, error, _ = self.results[case.name]
        if error:
            self.fail(f"the run did not finish:\n{error}\nwhat happened: {outcome.notes}\n"
                      f"windows: {outcome.captions}")
        report = outcome.report

        if case.planted:
            folder = os.path.join(ARGS.shots, "runs", case.name, "program")
            markers = sorted(os.path.basename(m).lower() for m in glob.glob(os.path.join(folder, "*.loaded")))
            self.assertFalse(markers, f"planted DLLs ran inside the program: {', '.join(markers)}")

        self.assertTrue(outcome.ended, "the program ended")
        self.assertEqual(outcome.captions, case.windows, "the windows, in the order they came up")
        for w in outcome.windows:
            self.assertEqual(w["owner"] if w["text"] != ERROR_CAPTION else 0, 0,
                             f"{w['text']} is a window of its own")

        if case.box:
            box = outcome.box
            self.assertIsNotNone(box, "a message box came up")
            self.assertEqual((box["caption"], box["text"], box["icon"]), (ERROR_CAPTION, case.box, "warning"))
            self.assertEqual(box["buttons"], [{"id": 1, "text": "OK"}])
            self.assertEqual(outcome.box_owner, case.box_owner, "the window that owns the message box")
        else:
            self.assertIsNone(outcome.box, "no message box")

        if case.locale:
            self.check_texts(case, outcome)

        if case.production:
            # The stand-in library was never reached: its deck wrote no report.
            self.assertFalse(report.exists, report.text)
            if case.driver:
                self.check_record(case, outcome.record)
            return
        self.assertTrue(report.exists, "the deck wrote its report")

        # Nothing that changes the deck before the user agreed.
        if case.reaches != CHECK:
            self.assertIsNotNone(outcome.events_at_consent, "the deck's events were read at the agreement window")
            early = [e for e in outcome.events_at_consent if is_write(e)]
            self.assertEqual(early, [], "written to the deck while the agreement window waited")
            agreed_at = len(outcome.events_at_consent)
            self.assertEqual(report.events[:agreed_at], outcome.events_at_consent,
                             "the live events are the report's first events")
        else:
            agreed_at = len(report.events)
        writes = report.writes()
        if case.consent:
            self.assertTrue(writes, "the update was written to the deck after the user agreed")
            self.assertGreaterEqual(writes[0], agreed_at, "the first write came after the user agreed")
            self.assertEqual(report.events[writes[0]]["kind"], "rewrite-requested", "the rewrite request comes first")
        else:
            self.assertEqual(writes, [], "nothing was written to a deck whose update did not go ahead")
            self.assertFalse(report.rewrite_requested)
            self.assertEqual(report.blocks, (0, 0))

        # What the deck received and runs now.
        if case.blocks:
            self.assertEqual(report.blocks, case.blocks)
        elif case.reaches in (TRANSFER, WAIT, COMPLETE):
            self.assertEqual(report.blocks, (1024, 1024))
        if case.image:
            self.assertEqual(report.image, case.image)
        elif report.blocks == (1024, 1024):
            self.assertTrue(report.image_identical, report.image)
        if case.reply_read is not None:
            self.assertEqual(report.reply_read, case.reply_read)
        self.assertEqual(report.rewritten, case.completes, "the deck rewrote itself")
        self.assertEqual(report.version_now, NEW_VERSION if case.completes else report.version_before,
                         "the version the deck reports now")
        if case.completes:
            self.assertTrue(report.image_identical, "the deck runs what the program carries, byte for byte")
        if case.ends_within_s:
            closed_ms = outcome.window(COMPLETE)["gone_ms"]
            self.assertLessEqual(outcome.program["wall_ms"] - closed_ms, case.ends_within_s * 1000,
                                 "the program ended soon after its last window closed")

        # Everything opened was closed; the deck found nothing wrong.
        self.assertEqual(report.faults, 0, report.text)
        self.assertEqual(report.library_left_open, 0)
        opened, closed, still_open, bad_closes = report.driver_handles
        self.assertEqual((still_open, bad_closes), (0, 0), report.text)
        self.assertEqual(report.plugged_in, case.plugged)

    def check_texts(self, case, outcome):
        self.assertNotEqual(outcome.probe_acp, 932, "the probe, and the program it started, ran in another locale")
        self.assertEqual(sorted(outcome.texts), sorted(c for c in case.windows if c in WINDOW_TEXTS),
                         "the windows whose texts were read")
        for caption, texts in outcome.texts.items():
            expected = WINDOW_TEXTS[caption]
            self.assertEqual(sorted(texts), sorted(expected), f"the controls of {caption}")
            for control, text in texts.items():
                what = f"control {control} of {caption}"
                if isinstance(expected[control], set):
                    self.assertIn(text, expected[control], what)
                elif expected[control] is TERMS:
                    self.assertTrue(text.startswith(TERMS), f"{what}: {text[:80]!r}")
                    self.assertEqual(len(text.encode("cp932", errors="replace")), 3675, what)
                else:
                    self.assertEqual(text, expected[control], what)

    def check_record(self, case, record):
        self.assertEqual(dict(record.unclosed), {}, "handles the program left to Wine to close")
        # Each search opens the members in turn up to the cap, asks each for its device
        # descriptor, and the deck found for its ready state.
        looked_at = set(range(min(len(members(case.driver)), 129)))
        self.assertEqual({m for m, _ in record.of("create")}, looked_at, "the members opened")
        asked = {(m, "220014", "01000000") for m in looked_at} | {(m, "220018", "") for m in case.queried}
        self.assertEqual(set(record.ioctls()), asked, "the I/O controls")
        self.assertEqual([f for f in record.lines if f[0] not in ("create", "close", "ioctl")], [])


def add_tests():
    for cases in GROUPS.values():
        for case in cases:
            def test(self, case=case):
                self.check_case(case)
            setattr(UpdateEndToEnd, "test_" + case.name.replace("-", "_").replace(".", "_"), test)


add_tests()

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--probe", "--emulated", "--production", "--prefix", "--shots", "--group"):
        parser.add_argument(option, required=True)
    parser.add_argument("--slots", type=int, default=1)
    parser.add_argument("--planted", nargs="+", default=[], help="DLLs for the planted run")
    parser.add_argument("--deck-installer")
    parser.add_argument("--deck-driver")
    ARGS, rest = parser.parse_known_args()
    if ARGS.group not in GROUPS:
        sys.exit(f"no group {ARGS.group}; groups: {', '.join(GROUPS)}")
    names = ["UpdateEndToEnd.test_" + c.name.replace("-", "_").replace(".", "_") for c in GROUPS[ARGS.group]]
    unittest.main(argv=[sys.argv[0]] + (rest or names), verbosity=2)
