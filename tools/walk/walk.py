"""One run of the updater as its user goes through it, on a Desktop of the harness: start the
program against a scenario of the emulated deck, meet each window as it comes up (photograph it
if asked, agree or refuse the terms, close the completion window, read and answer a message box),
and collect what happened: the windows in the order they appeared, the message box, the
program's end with its processor times and memory, the deck's events at the moment the user
agreed, and the deck's report.

The end-to-end tests, scripts/run.sh and scripts/bench.sh all walk through here.
"""
import json
import os
import re
import time

from harness import REPO, ProbeError, UnixMeter, Window, windows_path


def resources():
    """The program's windows as its resources name them: {template name: caption} from the
    resource script, {identifier: number} from its header."""
    folder = os.path.join(REPO, "resources")
    with open(os.path.join(folder, "resource.h")) as f:
        ids = {name: int(number) for name, number in re.findall(r"^#define (\w+) (\d+)", f.read(), re.M)}
    with open(os.path.join(folder, "Trevolin.rc"), encoding="utf-8") as f:
        captions = dict(re.findall(r'^(IDD_\w+) DIALOG.*?^CAPTION "([^"]*)"', f.read(), re.M | re.S))
    return captions, ids


CAPTIONS, IDS = resources()
CHECK, AGREEMENT, TRANSFER, WAIT, COMPLETE = (CAPTIONS[t] for t in ("IDD_CHECK", "IDD_AGREEMENT", "IDD_TRANSFER",
                                                                  "IDD_FINISH_WAIT", "IDD_COMPLETE"))
STAGES = (CHECK, AGREEMENT, TRANSFER, WAIT, COMPLETE)
SHOT_NAMES = {CHECK: "1-check", AGREEMENT: "2-agreement", TRANSFER: "3-transfer", WAIT: "4-wait",
              COMPLETE: "5-complete"}

OK, CANCEL = 1, 2  # Windows' own IDOK and IDCANCEL
AGREE_BUTTON, DISAGREE_BUTTON = IDS["IDC_AGREE"], IDS["IDC_DISAGREE"]

# What the user does in the agreement window.
AGREE = "agree"                # 同意します, then OK
DISAGREE = "disagree"          # 同意しません, then OK

# Deck events that may only follow the user's consent: the rewrite request and the blocks.
WRITE_KINDS = ("rewrite-requested", "block")


def is_write(event):
    return event.get("kind") in WRITE_KINDS


class Report:
    """The emulated deck's report (a JSON object), with the fields the tests look at picked out."""

    def __init__(self, text):
        self.text = text
        try:
            data = json.loads(text) if text else {}
        except ValueError:
            data = {}
        self.data = data
        self.exists = bool(data)
        driver, library = data.get("driver", {}), data.get("library", {})
        version, image = data.get("version", {}), library.get("image", {})
        self.rewrite_requested = driver.get("rewriteRequested", False)
        self.plugged_in = driver.get("pluggedIn", False)
        handles = driver.get("handles")
        self.driver_handles = (handles["opened"], handles["closed"], handles["stillOpen"],
                               handles["badCloses"]) if handles else None
        self.library_opened = library.get("opened")
        self.library_left_open = library.get("handlesLeftOpen", -1)
        self.blocks = (library["blocksTaken"], library["blocksSent"]) if library else None
        self.image = image.get("verdict")
        self.image_identical = image.get("identical", False)
        self.reply_read = library.get("replyRead", False)
        self.fault_lines = library.get("faults", [])
        self.faults = len(self.fault_lines) if library else -1
        self.version_before, self.version_now = version.get("before"), version.get("now")
        self.rewritten = version.get("rewritten", False)
        self.events = data.get("events", [])

    def writes(self):
        """Indexes of the events that write to the deck: the rewrite request and the blocks."""
        return [i for i, e in enumerate(self.events) if is_write(e)]


class Outcome:
    """What one walk saw."""

    def __init__(self):
        self.windows = []        # the probe's record: caption, class, owner, shown_ms, gone_ms
        self.box = None          # the message box as the probe read it, if one came up
        self.box_owner = None    # caption of the window that owns it; "" for none
        self.program = {}        # exit code, wall and processor times, peak memory
        self.ended = False
        self.events_at_consent = None  # the deck's events as the user was about to press OK
        self.shots = []
        self.report = Report("")
        self.record = None       # what reached the kernel stand-in, when it was installed
        self.notes = []          # what happened, in order, for a person to read
        self.meter = None        # the program's processor time as sampled through the run
        self.started = None      # when the program was started (monotonic seconds)
        self.texts = {}          # caption: {control id: text} as first met, when asked to read them
        self.probe_acp = None    # the probe's own code page, when asked to read texts

    @property
    def captions(self):
        return [w["text"] for w in self.windows]

    def window(self, caption):
        return next((w for w in self.windows if w["text"] == caption), None)


class Walk:
    """Drives one run of `program` on `desktop` against the emulated deck's `scenario`."""

    def __init__(self, desktop, program, scenario, workdir, user=AGREE, shots=False, demo=False,
                 timeout_s=200, say=None, read_texts=False):
        self.desktop, self.program, self.scenario, self.user = desktop, program, scenario, user
        self.read_texts = read_texts
        self.shots, self.demo, self.timeout_s = shots, demo, timeout_s
        self.say = say or (lambda text: None)
        os.makedirs(workdir, exist_ok=True)
        self.report_path = os.path.join(workdir, scenario + "-report.json")
        self.events_path = os.path.join(workdir, scenario + "-events.jsonl")
        self.output_path = os.path.join(workdir, scenario + "-output.txt")
        self.outcome = Outcome()
        if read_texts:
            self.outcome.probe_acp = desktop.hello.get("acp")
        self.started = None

    def note(self, text):
        at = time.monotonic() - self.started if self.started else 0.0
        self.outcome.notes.append((at, text))
        self.say(f"{at:7.2f} s  {text}")

    def live_events(self):
        """The deck's events so far, as the deck has written them (one JSON object a line; a line
        still being written is left for the next look)."""
        try:
            with open(self.events_path, encoding="utf-8", errors="replace") as f:
                lines = f.read().split("\n")
        except OSError:
            return []
        return [json.loads(line) for line in lines[:-1] if line.strip()]

    def run(self):
        for path in (self.report_path, self.events_path):
            if os.path.exists(path):
                os.remove(path)
        environment = {"TREVOLIN_DECK": self.scenario, "TREVOLIN_DECK_REPORT": windows_path(self.report_path),
                       "TREVOLIN_DECK_EVENTS": windows_path(self.events_path)}
        self.started = time.monotonic()
        meter = UnixMeter(os.path.basename(self.program), self.desktop.prefix)
        self.desktop.start(self.program, self.output_path, environment)
        self.note(f"started {os.path.basename(self.program)} against the deck \"{self.scenario}\"")
        handled = set()
        deadline = self.started + self.timeout_s
        try:
            while True:
                ended = self.desktop.ask("exit 0", check=False)
                if ended.get("ok"):
                    self._ended(ended)
                    break
                for w in self.desktop.ask("seen")["windows"]:
                    if w["hwnd"] in handled or w["gone_ms"] >= 0:
                        continue
                    handled.add(w["hwnd"])
                    self._meet(w)
                if time.monotonic() > deadline:
                    raise ProbeError(f"the program still runs after {self.timeout_s} s")
                time.sleep(0.05)
        finally:
            if self.desktop.started_program:  # cut short: end it, and keep what it showed
                self.outcome.windows = self.desktop.ask("seen", check=False).get("windows", [])
                self.desktop.ask("kill", check=False)
                self.desktop.started_program = False
            self.outcome.program.update(meter.stop())
            self.outcome.meter, self.outcome.started = meter, self.started
        self.outcome.report = Report(self._read(self.report_path))
        return self.outcome

    def _read(self, path):
        # The deck's report is written as the program ends: give the file a moment to appear.
        for _ in range(20):
            if os.path.exists(path):
                with open(path, encoding="utf-8", errors="replace") as f:
                    return f.read()
            time.sleep(0.05)
        return ""

    def _ended(self, answer):
        self.desktop.started_program = False
        self.outcome.ended = True
        self.outcome.program = dict(answer.get("program", {}), code=answer.get("code"))
        self.outcome.windows = answer.get("windows", [])
        self.note(f"the program ended (exit code {answer.get('code')})")

    def _meet(self, described):
        caption = described["text"]
        window = Window(self.desktop, described)
        if caption in STAGES:
            self.note(f"window \"{caption}\"")
            if self.read_texts:
                self.outcome.texts[caption] = {c["id"]: c["text"] for c in window.read()["controls"]}
        if caption == CHECK:
            self._photograph(window, SHOT_NAMES[CHECK], wait_s=3.0 if self.demo else 0)
        elif caption == AGREEMENT:
            self._agreement(window)
        elif caption == TRANSFER:
            self._photograph(window, SHOT_NAMES[TRANSFER], wait_s=2.0 if self.demo else 0)
        elif caption == WAIT:
            self._photograph(window, SHOT_NAMES[WAIT], wait_s=1.0 if self.demo else 0)
        elif caption == COMPLETE:
            self.desktop.ask(f"settle {window.hwnd} 2000", check=False)
            self._photograph(window, SHOT_NAMES[COMPLETE])
            window.click(OK)
            self.note("pressed OK in the completion window")
        else:  # the only other window the program shows: a message box
            self._message_box(described)

    def _photograph(self, window, name, wait_s=0):
        if not self.shots:
            return
        if wait_s:
            time.sleep(wait_s)  # the window at work: the status text moved on, the bar filled a little
        self.desktop.ask(f"settle {window.hwnd} 1000", check=False)
        try:
            self.outcome.shots.append(window.shot(name))
        except ProbeError as e:  # the window went while it was being taken
            self.note(f"no picture of {name}: {e}")

    def _agreement(self, window):
        self.desktop.ask(f"settle {window.hwnd} 2000", check=False)
        choice = DISAGREE_BUTTON if self.user == DISAGREE else AGREE_BUTTON
        window.click(choice)
        self._buttons_enabled(window)
        if self.shots:  # the choice made, with OK usable
            self.outcome.shots.append(window.shot(SHOT_NAMES[AGREEMENT]))
        # Every repaint of the window takes OK and ｷｬﾝｾﾙ away until the next choice, as it does for
        # the user, who then chooses again.
        for _ in range(5):
            if not self._buttons_enabled(window, timeout_s=0.5):
                window.click(choice)
                self._buttons_enabled(window)
            # Nothing may have reached the deck yet that would change it.
            self.outcome.events_at_consent = self.live_events()
            if window.try_click(OK).get("ok"):
                break
        else:
            raise ProbeError("the agreement window's buttons kept being disabled")
        self.note(f"chose {'同意しません' if self.user == DISAGREE else '同意します'} and pressed OK")

    def _buttons_enabled(self, window, timeout_s=3.0):
        deadline = time.monotonic() + timeout_s
        while True:
            controls = {c["id"]: c for c in window.read()["controls"]}
            if controls[OK]["enabled"] and controls[CANCEL]["enabled"]:
                return True
            if time.monotonic() > deadline:
                if timeout_s >= 1:
                    raise ProbeError("OK and ｷｬﾝｾﾙ stayed disabled after a choice")
                return False
            time.sleep(0.05)

    def _message_box(self, described):
        box = self.desktop.ask("msgbox 5000")["box"]
        self.outcome.box = box
        owner = next((w["text"] for w in self.desktop.ask("seen")["windows"] if w["hwnd"] == box["owner"]), None)
        self.outcome.box_owner = "" if box["owner"] == 0 else owner
        self.note(f"message box \"{box['caption']}\": \"{box['text']}\" ({box['icon']} icon, "
                  f"owner {'none' if box['owner'] == 0 else owner})")
        if self.shots:
            self.outcome.shots.append(self.desktop.screenshot("6-message", box["hwnd"]))
        self.desktop.answer_message_box()
        self.note("pressed OK in the message box")
