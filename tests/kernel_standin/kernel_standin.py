#!/usr/bin/env python3
"""The kernel stand-in in a Wine prefix: installed with a scenario, its record read, removed.

    kernel_standin.py --prefix BASE --installer INSTALL.exe --driver KernelStandin.sys \\
                      --scenario NAME -- PROGRAM.exe [ARGS...]

runs the program in a slot of its own with the scenario installed; the exit status is the program's.
"""
import argparse
import collections
import os
import re
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tools", "walk"), os.path.join(ROOT, "emulator")]
from harness import WINE_RUN, WINESERVER, Slot, windows_path  # noqa: E402
from scenarios import scenarios  # noqa: E402

with open(os.path.join(ROOT, "link", "DriverWire.h")) as header:
    MAKER = re.search(r"#define DRIVER_VENDOR_ID (0x[0-9A-Fa-f]+)", header.read()).group(1)
with open(os.path.join(ROOT, "tests", "kernel_standin", "KernelStandin.h")) as header:
    # Drive C: is the prefix's drive_c; the C literal doubles each backslash.
    RECORD = re.search(r'#define STANDIN_RECORD_PATH "C:\\\\(.+)"', header.read()).group(1)
RECORD = os.path.join("drive_c", *RECORD.split("\\\\"))


def members(scenario):
    """The devices of the driver's class in a scenario, in the order they are listed, one by one,
    as the installer takes them: vendor:product:ready:packet sizes, in hex. The stand-in serves
    the descriptors and the ready state, and nothing else of a scenario."""
    s = scenarios()[scenario]
    deck = [f"{s['vendorId']}:{s['productId']}:{s['ready']}"] if int(s["productId"], 0) else []
    packets = f"{int(s['packetSize0'], 0):x}:{int(s['packetSize1'], 0):x}"
    listed = []
    for member in filter(None, s["before"].split(",") + deck + s["after"].split(",")):
        device, _, count = member.partition("*")
        vendor, product, ready = (int(MAKER if n == "maker" else n, 0) for n in device.split(":"))
        listed += [f"{vendor:04x}:{product:04x}:{ready}:{packets}"] * int(count or 1)
    return listed


class Record:
    """What reached the stand-in: one entry per request, (kind, member, pid, rest)."""

    def __init__(self, text):
        self.lines = [line.split() for line in text.splitlines() if line.strip()]

    def of(self, kind):
        return [(int(f[1]), int(f[2])) for f in self.lines if f[0] == kind]

    @property
    def unclosed(self):
        """The (member, pid) opens that no close by the same process matched, so that a handle
        Wine closed because its program ended counts as left open."""
        return collections.Counter(self.of("create")) - collections.Counter(self.of("close"))


class KernelStandin:
    """Installs `scenario` into the prefix that `env` names, and removes it on leaving."""

    def __init__(self, env, installer, driver, scenario):
        self.env, self.installer, self.driver, self.scenario = env, installer, driver, scenario
        self.prefix = env["WINEPREFIX"]

    def _installer(self, *args):
        subprocess.run([WINE_RUN, self.prefix, self.installer, *args], env=self.env, check=True,
                       stdout=subprocess.DEVNULL)

    def __enter__(self):
        # Without a program of the prefix running, Wine would stop its services, the driver with them.
        subprocess.run([WINESERVER, "-p"], env=self.env, stderr=subprocess.DEVNULL)
        for attempt in range(3):
            try:
                self._installer("install", windows_path(self.driver), *members(self.scenario))
                return self
            except subprocess.CalledProcessError:
                # In a prefix just made, on a busy machine, Wine's service manager may not answer
                # yet (OpenSCManager: RPC server unavailable). The installer first removes whatever
                # an attempt left.
                if attempt == 2:
                    raise
                time.sleep(2)

    def record(self, settle_s=3.0):
        """The record once every handle opened has been closed, or as it is after `settle_s`:
        Wine passes a close to the driver after CloseHandle has returned."""
        deadline = time.monotonic() + settle_s
        while True:
            try:
                with open(os.path.join(self.prefix, RECORD)) as f:
                    record = Record(f.read())
            except FileNotFoundError:
                record = Record("")
            if not record.unclosed or time.monotonic() > deadline:
                return record
            time.sleep(0.05)

    def __exit__(self, *exc):
        self._installer("remove")
        return False


def main():
    parser = argparse.ArgumentParser()
    for option in ("--prefix", "--installer", "--driver", "--scenario"):
        parser.add_argument(option, required=True)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    with Slot(args.prefix, family="kd") as slot:
        env = slot.env
        try:
            with KernelStandin(env, args.installer, args.driver, args.scenario):
                code = subprocess.run([WINE_RUN, slot.prefix, *command], env=env).returncode
        finally:
            subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    sys.exit(code)


if __name__ == "__main__":
    main()
