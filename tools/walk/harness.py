"""The end-to-end harness: a Wine virtual desktop on the project's X display, the UI probe on it,
and the program under test started by the probe so that both share the desktop.

Every test goes through a Desktop (a context manager): it starts the desktop and the probe,
passes commands to the probe and returns its JSON answers, saves screenshots as PNG into a folder
it names, and always cleans up: the program, the probe, the desktop, and finally every process of
the Wine prefix (wineserver -k), so nothing outlives the test.

A Desktop runs in a Slot: a Wine prefix and a virtual X display that no other test uses while it
holds them, so that tests can run side by side. A slot's prefix is a copy of the build's prefix,
made once and kept beside it; its display is started for it and ends with it.
"""
import ctypes
import fcntl
import json
import os
import queue
import shutil
import signal
import subprocess
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(REPO, "scripts", "wine-run")
WINESERVER = "/usr/lib/wine/wineserver64"

SLOTS = 16  # more than any machine here runs tests at once
# Windows' own DLLs, 64- and 32-bit, which nothing writes: a slot links them instead of copying 1.2 GB.
SYSTEM_DLLS = tuple(os.path.join("drive_c", "windows", d) for d in ("system32", "syswow64"))


def end_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_display():
    """A virtual X display of the caller's own, as wine-run makes them: the X server and its display
    name. The server ends with the caller, even one that is killed."""
    read, write = os.pipe()
    server = subprocess.Popen([WINE_RUN, "--xvfb", str(write)], pass_fds=(write,), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=end_with_parent)
    os.close(write)
    with os.fdopen(read) as answer:
        number = answer.readline().strip()  # written once the server takes connections
    if not number:
        server.wait()
        raise RuntimeError(f"Xvfb did not start (exit code {server.returncode})")
    return server, ":" + number


class Slot:
    """A Wine prefix of one test's own while it holds it (a lock per slot, beside the build's
    prefix), and a virtual display that lives as long as the slot. Tests that install the stand-in
    of the maker's driver take slots of their own family ("kd"), so no other test runs in a prefix
    it was in."""

    def __init__(self, base_prefix, family="e2e"):
        self.base_prefix = os.path.abspath(base_prefix)
        self.lock = self.display = None
        for number in range(SLOTS):
            lock = open(f"{self.base_prefix}-{family}{number}.slot", "w")
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except OSError:
                lock.close()
                continue
            self.lock, self.number = lock, number
            break
        if self.lock is None:
            raise RuntimeError(f"all {SLOTS} end-to-end slots are taken")
        self.prefix = f"{self.base_prefix}-{family}{self.number}"
        try:
            self._prepare_prefix()
            self.display, name = start_display()
        except BaseException:
            self.release()
            raise
        self.env = dict(os.environ, DISPLAY=name, WINEPREFIX=self.prefix, WINESERVER=WINESERVER)

    def _prepare_prefix(self):
        # A new prefix costs wineboot's ten seconds; a copy of a ready one, a second or two, with
        # Windows' own DLLs linked rather than copied (nothing writes them). wine-run finishes
        # whatever the copy lacks, and makes the prefix itself when there is nothing to copy.
        ready = lambda p: subprocess.run([WINE_RUN, "--ready", p]).returncode == 0
        if ready(self.prefix) or not ready(self.base_prefix):
            return
        partial = self.prefix + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        shutil.rmtree(self.prefix, ignore_errors=True)
        linked = tuple(os.path.join(self.base_prefix, d) + os.sep for d in SYSTEM_DLLS)
        link_or_copy = lambda source, target: (os.link if source.startswith(linked) else shutil.copy2)(source, target)
        # The copy gets a server of its own: Wine names a prefix's server by the folder's inode.
        shutil.copytree(self.base_prefix, partial, symlinks=True, copy_function=link_or_copy)
        os.rename(partial, self.prefix)

    def release(self):
        if self.display:
            self.display.terminate()
            self.display.wait()
            self.display = None
        if self.lock:
            self.lock.close()
            self.lock = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()
        return False


class UnixMeter:
    """Samples the processor time of a Windows program's Linux process and of its prefix's
    wineserver from /proc while the program runs. Wine's GetProcessTimes gives another process the
    caller's own times, so the probe cannot measure the program; the samples can. The last sample
    before the program ends misses at most one sampling interval of its exit."""

    def __init__(self, program_name, prefix, every_s=0.02):
        self.program_name, self.prefix, self.every_s = program_name.encode(), prefix, every_s
        self.tick = os.sysconf("SC_CLK_TCK")
        self.pid = None
        self.program = None  # (user, system) seconds, last sample
        self.samples = []  # (monotonic seconds, user + system seconds)
        self.server_pid = self._server_pid()
        self.server_start = self._server()
        self.server_samples = []  # (monotonic seconds, the wineserver's user + system seconds)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _ours(self, pid, wanted):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if wanted not in f.read():
                    return False
            with open(f"/proc/{pid}/environ", "rb") as f:
                return b"\0WINEPREFIX=" + self.prefix.encode() + b"\0" in b"\0" + f.read()
        except OSError:
            return False

    def _times(self, pid):
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return int(fields[11]) / self.tick, int(fields[12]) / self.tick
        except (OSError, IndexError, ValueError):
            return None

    def _server_pid(self):
        return next((e for e in os.listdir("/proc") if e.isdigit() and self._ours(e, b"wineserver")), None)

    def _server(self):
        times = self._times(self.server_pid) if self.server_pid else None
        return sum(times) if times else None

    def _run(self):
        while not self._stop.is_set():
            if self.pid is None:
                self.pid = next((e for e in os.listdir("/proc")
                                 if e.isdigit() and self._ours(e, self.program_name)), None)
            if self.pid is not None:
                times = self._times(self.pid)
                if times is None:
                    return  # it has ended
                self.program = times
                self.samples.append((time.monotonic(), sum(times)))
                server = self._server()
                if server is not None:
                    self.server_samples.append((time.monotonic(), server))
            self._stop.wait(self.every_s)

    def cpu_at(self, when):
        """The program's processor seconds as last sampled before `when` (monotonic seconds)."""
        before = [cpu for t, cpu in self.samples if t <= when]
        return before[-1] if before else 0.0

    def server_at(self, when):
        """The wineserver's processor seconds as last sampled before `when`."""
        before = [cpu for t, cpu in self.server_samples if t <= when]
        return before[-1] if before else (self.server_start or 0.0)

    def stop(self):
        """Stops sampling (it stops by itself once the program has gone) and returns what was
        measured: the program's user and system seconds, and the wineserver's seconds meanwhile."""
        self._thread.join(timeout=2)
        self._stop.set()
        self._thread.join()
        end = self._server()
        result = {}
        if self.program:
            result.update(unix_user_s=self.program[0], unix_system_s=self.program[1])
        if end is not None and self.server_start is not None:
            result["wineserver_s"] = end - self.server_start
        return result


class ProbeError(AssertionError):
    """The probe refused a command or did not answer."""


def windows_path(path):
    """The path as the Windows programs see it: Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\r", "\\r").replace("\n", "\\n") + '"'


class Window:
    """A top-level window as the probe described it when it was found."""

    def __init__(self, desktop, described):
        self.desktop = desktop
        self.hwnd = described["hwnd"]
        self.described = described

    def read(self):
        """The window now, with its controls in z-order (template order for a dialog)."""
        return self.desktop.ask(f"window {self.hwnd}")["window"]

    def click(self, control_id):
        return self.desktop.ask(f"click {self.hwnd} {control_id}")

    def try_click(self, control_id):
        """The probe's answer even when it refuses (a disabled or hidden control)."""
        return self.desktop.ask(f"click {self.hwnd} {control_id}", check=False)

    def shot(self, name):
        self.desktop.ask(f"active {self.hwnd}", check=False)  # as the user sees it: in front
        return self.desktop.screenshot(name, self.hwnd)


class Desktop:
    """One Wine virtual desktop with the probe on it, in a slot's prefix and on its display."""

    def __init__(self, slot, probe, shots, name="trevolin-e2e", size="1024x768", locale=None):
        self.prefix, self.probe, self.shots, self.name, self.size = slot.prefix, probe, shots, name, size
        self.process = None
        self.log = None
        self.started_at = time.monotonic()
        self.answers = queue.Queue()
        self.env = dict(slot.env)
        self.started_program = False
        if locale:
            # The Unix locale of the desktop, the probe and every program the probe starts, which
            # take theirs from the Unix environment they were started in (wine-run's Japanese one
            # unless told).
            self.env["TREVOLIN_LOCALE"] = locale

    def __enter__(self):
        os.makedirs(self.shots, exist_ok=True)
        # Every command and answer, timed, beside the screenshots: what a failed run did.
        self.log = open(os.path.join(self.shots, "probe.log"), "w", encoding="utf-8")
        # A run cut short (a time-out) may have left windows on the desktop that a search would find.
        self._stop_prefix()
        # The probe runs on a named virtual desktop: there Wine draws frames and captions itself,
        # and every program the probe starts lands on the same desktop.
        self.process = subprocess.Popen(
            [WINE_RUN, self.prefix, "explorer", f"/desktop={self.name},{self.size}", self.probe],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env)
        threading.Thread(target=self._read_answers, daemon=True).start()
        try:
            self.hello = self.ask("hello", timeout=120)  # a fresh prefix is made first
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _read_answers(self):
        for line in self.process.stdout:
            self.answers.put(line.decode("utf-8"))
        self.answers.put(None)

    def ask(self, command, check=True, timeout=None):
        """Sends one command and returns the probe's answer; raises ProbeError on a refusal."""
        if timeout is None:
            timeout = 30
        try:
            self.process.stdin.write((command + "\n").encode("utf-8"))
            self.process.stdin.flush()
        except (BrokenPipeError, OSError) as e:
            raise ProbeError(f"probe gone before {command!r}: {e}")
        try:
            line = self.answers.get(timeout=timeout)
        except queue.Empty:
            raise ProbeError(f"no answer to {command!r} within {timeout} s")
        if line is None:
            raise ProbeError(f"probe ended while answering {command!r}")
        self.log.write(f"{time.monotonic() - self.started_at:8.3f} {command}\n         -> {line.strip()[:400]}\n")
        self.log.flush()
        answer = json.loads(line)
        if check and not answer.get("ok"):
            raise ProbeError(f"{command!r} refused: {answer}")
        return answer

    def start(self, program, output, environment=None):
        """Starts the program under test on this desktop; its standard output goes to `output`, and
        `environment` (a dict) is added to what it inherits, e.g. the emulated deck's scenario."""
        self.started_program = True
        extra = "".join(f" {quote(f'{k}={v}')}" for k, v in (environment or {}).items())
        return self.ask(f"start {quote(windows_path(program))} {quote(windows_path(output))}{extra}")

    def answer_message_box(self, timeout_ms=10000):
        return self.ask(f"answer {timeout_ms}")["box"]

    def screenshot(self, name, hwnd=None):
        """Saves the window's screen area (or the whole desktop) as <shots>/<name>.png."""
        bmp = os.path.join(self.shots, name + ".bmp")
        png = os.path.join(self.shots, name + ".png")
        self.ask(f"shot {hwnd if hwnd else 'screen'} {quote(windows_path(bmp))}")
        subprocess.run(["convert", bmp, png], check=True)
        os.remove(bmp)
        return png

    def _stop_prefix(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def __exit__(self, *exc):
        try:
            if self.process and self.process.poll() is None:
                if self.started_program:
                    self.ask("kill", check=False, timeout=10)
                self.ask("quit", check=False, timeout=10)
                self.process.wait(timeout=15)
        except (ProbeError, subprocess.TimeoutExpired, OSError):
            pass
        finally:
            # Whatever is left in the prefix (a program that would not end, the desktop) goes now.
            self._stop_prefix()
            if self.process:
                try:
                    self.process.wait(timeout=15)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
                for pipe in (self.process.stdin, self.process.stdout):
                    try:
                        pipe.close()
                    except OSError:
                        pass
            if self.log:
                self.log.close()
        return False
