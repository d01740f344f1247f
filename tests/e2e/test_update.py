#!/usr/bin/env python3
"""End to end: one whole run as its owner goes through it (--case NAME), one for each way a run
ends, checked against the emulated deck's report or the kernel stand-in's record: what only a
whole run shows (the windows in order, the program's end, nothing written before consent, every
handle closed, the image on the deck exactly when the run says it is done).
"""
import argparse
import contextlib
import filecmp
import glob
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "tools", "walk"), os.path.join(HERE, "..", "kernel_standin")]
from kernel_standin import KernelStandin  # noqa: E402
from harness import WINE_RUN, Desktop, Slot, Window, quote, windows_path  # noqa: E402
from walk import AGREE, AGREEMENT, CHECK, COMPLETE, DISAGREE, STAGES, TRANSFER, WAIT, Walk  # noqa: E402

ERROR_CAPTION = "エラーが発生しました"

NO_DRIVER = "デバイスドライバが見つかりません      "
USB_OPEN = "ＵＳＢオープンエラー"
WRONG_MODEL = "接続されている機種が違うか、電源が入っていません"
STOPPED = "アップデートを中止します。"
TRANSFER_TIMEOUT = "本体KD装置へのデータ転送がタイムアウトしました"
REWRITE_TIMEOUT = "本体KD装置のデータ書換えがタイムアウトしました"
NEW_VERSION = "1.07A"
OTHER_LOCALE = "C.UTF-8"  # code page 1252 under Wine
SC_MINIMIZE, WS_MINIMIZE = 0xF020, 0x20000000

# What each window says, control by control, read in the other locale. The check's status line
# names the check under way, or nothing before the first; the terms are checked by their first
# line and their size in code page 932.
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
    DEFAULTS = dict(scenario="success", user=AGREE, box=None, reaches=COMPLETE, program="emulated", blocks=None,
                    image=None, plugged=True, reply_read=None, planted=False, locale=None, driver=False,
                    second_copy=False, start_only=False, timeout_s=240, slow=False,
                    ends_within_s=None)  # from the completion window's close to the program's end

    def __init__(self, **kw):
        self.__dict__.update(self.DEFAULTS, **kw)
        self.windows = list(STAGES[:STAGES.index(self.reaches) + 1]) + ([ERROR_CAPTION] if self.box else [])
        # The refusal is the sequence's own message, shown after the agreement window has closed.
        self.box_owner = "" if self.box == STOPPED else self.reaches
        self.consent = self.reaches != CHECK and self.user == AGREE


def check_failure(message, **kw):
    return Case(box=message, reaches=CHECK, **kw)


CASES = {
    # The update, while a second copy, started during the check, hands over to this one.
    "success-one-copy": Case(second_copy=True),
    # From a folder with winmm.dll and comctl32.dll planted beside the program, none of which may
    # run in it, in a locale whose code page is not 932, where every text must still be the program's.
    "planted-locale": Case(planted=True, locale=OTHER_LOCALE),
    # The planted DLLs do run in a program that imports WINMM: the run above could see them.
    "planted-winmm": Case(program="winmm", planted=True, start_only=True),
    "cancel-ignored": Case(scenario="cancel-ignored", ends_within_s=3),
    "write-stalls": check_failure(WRONG_MODEL, scenario="write-stalls"),
    "production-no-driver": check_failure(NO_DRIVER, program="production"),
    "terms-refused": Case(user=DISAGREE, box=STOPPED, reaches=AGREEMENT),
    "refuse-block-512": Case(scenario="refuse-block-512", box=TRANSFER_TIMEOUT, reaches=TRANSFER, blocks=(512, 513),
                             image="incomplete, 512 of 1024 blocks in; missing 512-1023"),
    "no-acceptance": Case(scenario="no-acceptance", box=TRANSFER_TIMEOUT, reaches=TRANSFER, reply_read=False),
    # Trevolin.exe against the kernel stand-in: a stranger passed over, the deck found and asked
    # for its ready state, and its pipes, which cannot open under Wine.
    "production-driver": check_failure(USB_OPEN, program="production", scenario="other-vendor-first", driver=True),
    # The release as owners get it, through the real driver backend: no driver; and a driver that
    # lists a device of another vendor and one of another product, both refused and closed again.
    "release-no-driver": check_failure(NO_DRIVER, program="release"),
    "release-driver": check_failure(NO_DRIVER, program="release", scenario="strangers", driver=True),
    # Slow: two minutes of waiting.
    "never-completes": Case(scenario="never-completes", box=REWRITE_TIMEOUT, reaches=WAIT, slow=True),
    "unplug-during-wait": Case(scenario="unplug-during-wait", box=REWRITE_TIMEOUT, reaches=WAIT, plugged=False,
                               slow=True),
}


class CaseWalk(Walk):
    """The owner's walk, with what the case adds as windows come up: a planted DLL that ran ends
    the run at once, and a second copy is started during the check."""

    case = second = first_after = None

    def _meet(self, described):
        if self.case.planted and loaded(os.path.dirname(self.program)):
            raise AssertionError(f"planted DLLs ran inside the program: {loaded(os.path.dirname(self.program))}")
        if self.case.second_copy and described["text"] == CHECK and self.second is None:
            window = Window(self.desktop, described)
            self.desktop.ask(f"syscommand {window.hwnd} {SC_MINIMIZE}")
            deadline = time.monotonic() + 5
            while not window.read()["style"] & WS_MINIMIZE and time.monotonic() < deadline:
                time.sleep(0.05)
            folder = os.path.join(os.path.dirname(self.report_path), "second")
            os.makedirs(folder)
            deck = {"TREVOLIN_DECK": self.scenario,
                    "TREVOLIN_DECK_REPORT": windows_path(os.path.join(folder, "report.json")),
                    "TREVOLIN_DECK_EVENTS": windows_path(os.path.join(folder, "events.jsonl"))}
            deck = "".join(" " + quote(f"{k}={v}") for k, v in deck.items())
            output = quote(windows_path(os.path.join(folder, "output.txt")))
            self.second = self.desktop.ask(f"run {quote(windows_path(self.program))} {output} 10000{deck}", check=False)
            self.second["files"] = sorted(os.listdir(folder))
            self.desktop.ask(f"active {window.hwnd} 2000", check=False)
            self.first_after = self.desktop.ask(f"window {window.hwnd}", check=False).get("window", {})
        super()._meet(described)


def plant(desktop, program, folder):
    """A copy of the program in `folder` with the planted DLLs beside it, and the prefix told to
    prefer a DLL of those names in the program's folder to its own, as Windows does for every DLL
    that is not a KnownDLL."""
    os.makedirs(folder)
    copy = os.path.join(folder, "Trevolin-planted.exe")
    shutil.copy(program, copy)
    key = "HKCU\\Software\\Wine\\AppDefaults\\Trevolin-planted.exe\\DllOverrides"
    for dll in ARGS.planted:
        shutil.copy(dll, folder)
        name = os.path.splitext(os.path.basename(dll))[0]
        subprocess.run([WINE_RUN, desktop.prefix, "reg", "add", key, "/v", name, "/d", "native,builtin", "/f"],
                       env=desktop.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return copy


def beside_the_library(program, folder):
    """A copy of the program, byte for byte, with the stand-in TavroUSB.dll beside it: a release
    folder never holds the stand-in."""
    os.makedirs(folder)
    copy = os.path.join(folder, os.path.basename(program))
    shutil.copy(program, copy)
    shutil.copy(ARGS.tavrousb_standin, os.path.join(folder, "TavroUSB.dll"))
    if not filecmp.cmp(program, copy, shallow=False):
        raise AssertionError(f"the copy of {program} differs from it")
    return copy


def loaded(folder, wait_s=0):
    """The planted DLLs that left their marker, waiting up to `wait_s` for the first."""
    deadline = time.monotonic() + wait_s
    while not (found := glob.glob(os.path.join(folder, "*.loaded"))) and time.monotonic() < deadline:
        time.sleep(0.1)
    return sorted(os.path.basename(m).lower() for m in found)


class UpdateEndToEnd(unittest.TestCase):
    def test_run(self):
        case = CASES[ARGS.case]
        workdir = os.path.join(ARGS.shots, "run")
        shutil.rmtree(workdir, ignore_errors=True)
        with Slot(ARGS.prefix, "kd" if case.driver else "e2e") as slot, \
                Desktop(slot, ARGS.probe, ARGS.shots, locale=case.locale) as desktop:
            program = {"emulated": ARGS.emulated, "production": ARGS.production, "winmm": ARGS.winmm,
                       "release": ARGS.release}[case.program]
            if case.program == "release":
                program = beside_the_library(program, os.path.join(workdir, "release"))
            if case.planted:
                program = plant(desktop, program, os.path.join(workdir, "program"))
            if case.start_only:
                desktop.start(program, os.path.join(workdir, "output.txt"))
                markers = loaded(os.path.dirname(program), wait_s=20)
                desktop.ask("kill", check=False)
                desktop.started_program = False
                self.assertEqual(markers, ["winmm.dll.loaded"], "the planted DLLs that ran in the program")
                return
            walk = CaseWalk(desktop, program, case.scenario, workdir, user=case.user, timeout_s=case.timeout_s,
                            read_texts=bool(case.locale))
            walk.case = case
            with (KernelStandin(desktop.env, ARGS.kernel_standin_installer, ARGS.kernel_standin, case.scenario)
                  if case.driver else contextlib.nullcontext()) as driver:
                try:
                    outcome = walk.run()
                except Exception as e:
                    self.fail(f"the run did not finish: {e}\nwhat happened: {walk.outcome.notes}")
                record = driver.record() if driver else None
        if case.planted:
            self.assertEqual(loaded(os.path.dirname(program)), [], "the planted DLLs that ran in the program")
        if case.second_copy:
            self.check_second_copy(walk)
        self.check_run(case, outcome)
        if case.locale:
            self.check_texts(case, outcome)
        if record:
            self.check_record(record)

    def check_second_copy(self, walk):
        second, first = walk.second, walk.first_after
        self.assertEqual((second.get("ok"), second.get("code")), (True, 0), f"the second copy ended: {second}")
        self.assertEqual(second["files"], ["output.txt"],
                         "the second copy's deck was never made: it opened neither the driver nor the library")
        self.assertTrue(first, "the first copy's check window was still there")
        self.assertEqual((first["style"] & WS_MINIMIZE, first["foreground"]), (0, True),
                         "the first copy's window is back, in front")

    def check_run(self, case, outcome):
        report = outcome.report
        self.assertTrue(outcome.ended, "the program ended")
        self.assertEqual(outcome.captions, case.windows, "the windows, in the order they came up")
        for w in outcome.windows:
            self.assertEqual(w["owner"] if w["text"] != ERROR_CAPTION else 0, 0, f"{w['text']} is a window of its own")
        if case.box:
            box = outcome.box
            self.assertIsNotNone(box, "a message box came up")
            self.assertEqual((box["caption"], box["text"], box["icon"]), (ERROR_CAPTION, case.box, "warning"))
            self.assertEqual(box["buttons"], [{"id": 1, "text": "OK"}])
            self.assertEqual(outcome.box_owner, case.box_owner, "the window that owns the message box")
        else:
            self.assertIsNone(outcome.box, "no message box")
        if case.program in ("production", "release"):
            self.assertFalse(report.exists, "the stand-in library was never reached: its deck wrote no report")
            return
        self.assertTrue(report.exists, "the deck wrote its report")

        # Nothing that changes the deck before the user agreed.
        agreed_at = len(report.events)
        if case.reaches != CHECK:
            self.assertIsNotNone(outcome.events_at_consent, "the deck's events were read at the agreement window")
            self.assertEqual([e for e in outcome.events_at_consent if e["kind"] in ("rewrite-requested", "block")],
                             [], "written to the deck while the agreement window waited")
            agreed_at = len(outcome.events_at_consent)
            self.assertEqual(report.events[:agreed_at], outcome.events_at_consent,
                             "the live events are the report's first events")
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
        elif case.consent:
            self.assertEqual(report.blocks, (1024, 1024))
            self.assertTrue(report.image_identical, "the deck took what the program carries, byte for byte")
        if case.image:
            self.assertEqual(report.image, case.image)
        if case.reply_read is not None:
            self.assertEqual(report.reply_read, case.reply_read)
        completes = case.reaches == COMPLETE
        self.assertEqual(report.rewritten, completes, "the deck rewrote itself")
        self.assertEqual(report.version_now, NEW_VERSION if completes else report.version_before)
        if case.ends_within_s:
            closed_ms = outcome.window(COMPLETE)["gone_ms"]
            self.assertLessEqual(outcome.program["wall_ms"] - closed_ms, case.ends_within_s * 1000,
                                 "the program ended soon after its last window closed")

        # Everything opened was closed; the deck found nothing wrong.
        self.assertEqual(report.faults, 0, report.text)
        self.assertEqual(report.library_left_open, 0)
        self.assertEqual(report.driver_handles[2:], (0, 0), "driver handles left open, closed twice")
        self.assertEqual(report.plugged_in, case.plugged)

    def check_texts(self, case, outcome):
        self.assertNotEqual(outcome.probe_acp, 932, "the probe, and the program it started, ran in another locale")
        self.assertEqual(sorted(outcome.texts), sorted(c for c in case.windows if c in WINDOW_TEXTS))
        for caption, texts in outcome.texts.items():
            self.assertEqual(sorted(texts), sorted(WINDOW_TEXTS[caption]), f"the controls of {caption}")
            for control, text in texts.items():
                want = WINDOW_TEXTS[caption][control]
                if want is TERMS:
                    good = text.startswith(TERMS) and len(text.encode("cp932", errors="replace")) == 3675
                else:
                    good = text in want if isinstance(want, set) else text == want
                self.assertTrue(good, f"control {control} of {caption}: {text[:80]!r}")

    def check_record(self, record):
        # Which member gets which request is the driver backend's own test; a whole run shows that
        # the program closed them all itself, before it ended.
        self.assertTrue(record.of("create"), "the program opened the stand-in's devices")
        self.assertEqual(dict(record.unclosed), {}, "handles the program left to Wine to close")
        self.assertEqual([f for f in record.lines if f[0] not in ("create", "close", "ioctl")], [])


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:  # for the build: each case and what kind of run it is
        for name, case in CASES.items():
            print(name, "slow" if case.slow else "release" if case.program == "release" else "plain")
        sys.exit(0)
    parser = argparse.ArgumentParser()
    for option in ("--probe", "--emulated", "--production", "--winmm", "--prefix", "--shots", "--kernel-standin",
                   "--kernel-standin-installer"):
        parser.add_argument(option, required=True)
    parser.add_argument("--planted", nargs="+", required=True)
    parser.add_argument("--release", help="the release preset's Trevolin.exe, for the release cases")
    parser.add_argument("--tavrousb-standin", help="the stand-in TavroUSB.dll to put beside it")
    parser.add_argument("--case", required=True, choices=CASES)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
