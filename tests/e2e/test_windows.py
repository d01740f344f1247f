#!/usr/bin/env python3
"""End to end: the agreement and completion windows as a user meets them, driven on a Wine
virtual desktop through the UI probe, with the update sequence run by the window host (the real
sequence and windows; stand-ins only for the stages that need a deck).

usage: test_windows.py --probe uiprobe.exe --host window_host.exe --prefix WINEPREFIX --shots DIR
"""
import argparse
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "walk"))
from harness import (DS_MODALFRAME, ES_MULTILINE, ES_READONLY, WS_CAPTION, WS_EX_APPWINDOW,  # noqa: E402
                     WS_SYSMENU, WS_TABSTOP, WS_VSCROLL, Desktop, ProbeError, Slot)

ARGS = None
AGREEMENT = "バージョンアップ for Z8KQ"
COMPLETE = "バージョンアップ完了"
COMPLETE_TEXT = "バージョンアップが完了しました。\r\nおつかれさまでした。"
ERROR_CAPTION = "エラーが発生しました"
REFUSAL = "アップデートを中止します。"
ABOUT = "Trevolinのﾊﾞｰｼﾞｮﾝ情報"
ABOUT_COMMAND = 16  # the entry the completion window adds to its system menu
OK, CANCEL, TERMS, AGREE, DISAGREE = 1, 2, 1002, 1006, 1007


def eventually(check, timeout=3.0):
    """Retries `check` until it stops failing: the program works on its own thread."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return check()
        except AssertionError:
            if time.monotonic() >= deadline:
                raise
            time.sleep(0.05)


def centred(screen, size):
    return int((screen - size) * 5 / 10)  # truncating toward zero, as the program does


class WindowsEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.slot = Slot(ARGS.prefix)
        cls.desktop = Desktop(None, ARGS.probe, ARGS.shots, slot=cls.slot).__enter__()
        cls.workdir = ARGS.shots

    @classmethod
    def tearDownClass(cls):
        cls.desktop.__exit__(None, None, None)
        cls.slot.release()
        print(f"\nscreenshots in {ARGS.shots}", file=sys.stderr)

    def tearDown(self):
        # A test that failed half-way leaves its program behind: end it before the next starts.
        if self.desktop.started_program:
            self.desktop.ask("kill", check=False)
            self.desktop.started_program = False

    def start_host(self, name):
        self.output = os.path.join(self.workdir, name + ".txt")
        self.desktop.start(ARGS.host, self.output)

    def host_steps(self):
        with open(self.output, "rb") as f:
            return f.read().decode("cp932").splitlines()

    def buttons_enabled(self, window, expected):
        def check():
            controls = {c["id"]: c for c in window.read()["controls"]}
            self.assertEqual((controls[OK]["enabled"], controls[CANCEL]["enabled"]), (expected, expected))
        eventually(check)

    def assert_focus_on_agree(self, window):
        eventually(lambda: self.assertEqual(window.focus().get("id"), AGREE))

    def test_agree_then_ok_shows_the_completion_window(self):
        self.start_host("agree")
        agreement = self.desktop.wait_window(AGREEMENT)
        w = agreement.read()
        self.assertTrue(w["style"] & WS_CAPTION and w["style"] & DS_MODALFRAME, hex(w["style"]))
        self.assertFalse(w["style"] & WS_SYSMENU, "the agreement window has no system menu or close box")
        full_width, full_height = self.desktop.hello["fullscreen"]
        left, top, right, bottom = w["rect"]
        self.assertEqual((left, top), (centred(full_width, right - left), centred(full_height, bottom - top)))

        controls = w["controls"]
        self.assertEqual([c["id"] for c in controls], [OK, CANCEL, TERMS, AGREE, DISAGREE])
        by_id = {c["id"]: c for c in controls}
        self.assertEqual([by_id[i]["text"] for i in (OK, CANCEL, AGREE, DISAGREE)],
                         ["OK", "ｷｬﾝｾﾙ", "同意します。", "同意しません。"])
        terms = by_id[TERMS]
        self.assertEqual(len(terms["text"].encode("cp932")), 3675, "the whole terms text, in code page 932")
        self.assertIn("\r\n", terms["text"])
        self.assertEqual(terms["style"] & (ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP),
                         ES_MULTILINE | ES_READONLY | WS_VSCROLL)
        self.assertFalse(by_id[AGREE]["checked"] or by_id[DISAGREE]["checked"], "no choice is made for the user")

        # Opened: OK and Cancel wait for a choice, the focus is on "同意します。".
        self.buttons_enabled(agreement, False)
        self.assert_focus_on_agree(agreement)
        agreement.shot("agreement-opened")
        self.assertEqual(agreement.try_click(OK), {"ok": False, "error": "disabled"})

        agreement.click(AGREE)
        self.buttons_enabled(agreement, True)
        self.assertTrue(agreement.control(AGREE)["checked"])

        # Anything that repaints the window takes the buttons away again until the next choice.
        agreement.repaint()
        self.buttons_enabled(agreement, False)
        self.assert_focus_on_agree(agreement)
        self.assertTrue(agreement.control(AGREE)["checked"], "a repaint leaves the choice as it was")

        # The last click decides.
        agreement.click(DISAGREE)
        agreement.click(AGREE)
        self.buttons_enabled(agreement, True)
        agreement.shot("agreement-agreed")
        agreement.click(OK)
        agreement.wait_gone()

        complete = self.desktop.wait_window(COMPLETE)
        c = complete.read()
        self.assertFalse(c["style"] & WS_SYSMENU, "the completion window has no system menu or close box")
        self.assertTrue(c["exstyle"] & WS_EX_APPWINDOW, "the completion window has a taskbar button")
        self.assertEqual([(k["id"], k["text"]) for k in c["controls"]], [(OK, "OK"), (TERMS, COMPLETE_TEXT)])
        complete.shot("complete")

        # The version window, from the entry the completion window adds to its system menu.
        self.desktop.ask(f"syscommand {complete.hwnd} {ABOUT_COMMAND}")
        about = self.desktop.wait_window(ABOUT)
        a = about.read()
        self.assertTrue(a["style"] & WS_SYSMENU, "only the version window has a system menu")
        self.assertEqual([k["text"] for k in a["controls"]][1:],
                         ["Trevolin Version 1.0", "HVX-Z8KQ ファームウェア 1.07A", "OK"])
        about.shot("about")
        about.click(OK)
        about.wait_gone()
        self.assertTrue(complete.read()["visible"], "closing the version window leaves the completion window")

        complete.click(OK)
        complete.wait_gone()
        self.desktop.wait_exit()
        self.assertEqual(self.host_steps(), ["check", "agreement", "transfer", "finish-wait", "complete", "end FALSE"])

    def test_disagree_then_ok_stops_with_the_refusal_message(self):
        self.start_host("disagree")
        agreement = self.desktop.wait_window(AGREEMENT)
        agreement.click(DISAGREE)
        self.buttons_enabled(agreement, True)
        agreement.click(OK)
        agreement.wait_gone()

        box = self.desktop.message_box()
        self.desktop.screenshot("refusal-message", box["hwnd"])
        self.assertEqual((box["caption"], box["text"], box["icon"]), (ERROR_CAPTION, REFUSAL, "warning"))
        self.assertEqual(box["buttons"], [{"id": OK, "text": "OK"}])
        self.assertEqual(box["owner"], 0, "the refusal message has no owner window")
        self.assertNotIn(COMPLETE, self.desktop.visible_captions())

        self.desktop.answer_message_box()
        self.desktop.wait_exit()
        self.assertEqual(self.host_steps(), ["check", "agreement", "message " + REFUSAL, "message closed", "end FALSE"])

    def test_escape_refuses_even_after_agreeing(self):
        self.start_host("escape")
        agreement = self.desktop.wait_window(AGREEMENT)
        agreement.click(AGREE)
        self.buttons_enabled(agreement, True)
        agreement.key("escape")
        agreement.wait_gone()
        box = self.desktop.answer_message_box()
        self.assertEqual((box["caption"], box["text"]), (ERROR_CAPTION, REFUSAL))
        self.desktop.wait_exit()
        self.assertNotIn("transfer", self.host_steps())


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--probe", "--host", "--prefix", "--shots"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
