#!/usr/bin/env python3
"""Benchmark (not a test): the successful update against the emulated deck, walked as in the
end-to-end tests, with each stage's wall time beside the floor the protocol sets, the program's
processor time over its wall time, and its peak memory.

  bench.py --probe uiprobe.exe --program Trevolin-emulated.exe --prefix WINEPREFIX [--runs N] [--scenario NAME]

Stage times are the time each stage's window was on the screen, as the probe saw it (it looks
every 10 ms); the block phase and the pauses between blocks are the deck's own clock.
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Desktop, Slot  # noqa: E402
from walk import AGREEMENT, CHECK, COMPLETE, TRANSFER, WAIT, Walk  # noqa: E402

CHECK_FLOOR = 0.5 + 700 * 0.010          # the first pause and 700 steps of 10 ms
TRANSFER_FLOOR = 0.3 + 1024 * 0.010      # three timer ticks and a 10 ms pause per block
BLOCKS_FLOOR = 1023 * 0.010              # block 0 to block 1023
CPU_LIMIT = 5.0                          # per cent of the wall time
CHECK_GOAL, TRANSFER_GOAL = 1.02, 1.03   # of their floors


def shown(outcome, caption):
    w = outcome.window(caption)
    return (w["gone_ms"] - w["shown_ms"]) / 1000 if w and w["gone_ms"] >= 0 else None


def measure(desktop, args, workdir, index):
    outcome = Walk(desktop, args.program, args.scenario, os.path.join(workdir, str(index))).run()
    if COMPLETE not in outcome.captions or not outcome.report.image_identical:
        raise SystemExit(f"run {index}: the update did not succeed: {outcome.captions} {outcome.box}")
    program = outcome.program
    wall = program["wall_ms"] / 1000
    # Measured on the Linux side: under Wine the probe cannot read another process's times.
    user, system = program.get("unix_user_s"), program.get("unix_system_s")
    if user is None:
        raise SystemExit(f"run {index}: the program's Linux process was not found to measure")
    cpu = user + system
    library = outcome.report.data["library"]
    first, last, pauses = library["firstBlockMs"], library["lastBlockMs"], library["pauses"]
    # The program's processor time in each stage: from one window's appearance to the next's.
    stages = (CHECK, AGREEMENT, TRANSFER, WAIT, COMPLETE)
    marks = [0.0] + [outcome.window(c)["shown_ms"] / 1000 for c in stages] + [wall]
    used = [outcome.meter.cpu_at(outcome.started + t) for t in marks]
    served = [outcome.meter.server_at(outcome.started + t) for t in marks]
    stage_cpu = {name: (used[i + 1] - used[i], marks[i + 1] - marks[i], served[i + 1] - served[i])
                 for i, name in enumerate(("start-up", "check", "agreement", "transfer", "wait", "complete"))}
    return {
        "stage_cpu": stage_cpu,
        "check": shown(outcome, CHECK),
        "agreement": shown(outcome, AGREEMENT),
        "transfer": shown(outcome, TRANSFER),
        "blocks": (last - first) / 1000 if first >= 0 else None,
        "pause_median": pauses.get("medianMs"),
        "pause_max": pauses.get("maxMs"),
        "wait": shown(outcome, WAIT),
        "complete": shown(outcome, COMPLETE),
        "wall": wall,
        "user": user,
        "kernel": system,
        "server": program.get("wineserver_s", float("nan")),
        "cpu": cpu,
        "cpu_share": 100 * cpu / wall,
        "peak_working_set": program["peak_working_set"] / 2**20,
        "peak_pagefile": program["peak_pagefile"] / 2**20,
    }


def main():
    parser = argparse.ArgumentParser()
    for option in ("--probe", "--program", "--prefix"):
        parser.add_argument(option, required=True)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--scenario", default="success")
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="trevolin-bench-")
    runs = []
    with Slot(args.prefix) as slot, Desktop(slot, args.probe, workdir, name="trevolin-bench") as desktop:
        for i in range(args.runs):
            runs.append(measure(desktop, args, workdir, i))
            r = runs[-1]
            print(f"run {i + 1}: check {r['check']:.2f} s, transfer {r['transfer']:.2f} s, wait {r['wait']:.2f} s, "
                  f"CPU {r['cpu']:.2f} s of {r['wall']:.2f} s ({r['cpu_share']:.1f} %)", flush=True)

    def med(key):
        values = [r[key] for r in runs if r[key] is not None]
        return statistics.median(values) if values else float("nan")

    print()
    print(f"The successful update against the emulated deck \"{args.scenario}\", "
          f"{'median of ' + str(len(runs)) + ' runs' if len(runs) > 1 else 'one run'}:")
    print(f"  {'stage':<36}{'wall':>9}{'floor':>9}{'over':>9}{'goal':>9}")
    rows = [
        ("connection check (window shown)", med("check"), CHECK_FLOOR, CHECK_GOAL),
        ("terms (the probe agrees at once)", med("agreement"), None, None),
        ("image transfer (window shown)", med("transfer"), TRANSFER_FLOOR, TRANSFER_GOAL),
        ("  blocks 0 to 1023 (deck's clock)", med("blocks"), BLOCKS_FLOOR, None),
        ("rewrite wait (deck takes 1.5 s)", med("wait"), 1.5, None),
        ("whole program", med("wall"), None, None),
    ]
    missed = []
    for name, wall, floor, goal in rows:
        floor_text = f"{floor:8.2f}s" if floor else " " * 9
        over = f"{100 * (wall - floor) / floor:+8.1f}%" if floor else ""
        goal_text = f"{100 * (goal - 1):+8.1f}%" if goal else ""
        if goal and wall > goal * floor:
            missed.append(f"{name.strip()} {wall:.2f} s > {goal * floor:.2f} s")
        print(f"  {name:<36}{wall:8.2f}s{floor_text}{over:>9}{goal_text:>9}")
    print("  processor time by stage (from one window's appearance to the next's), the program's and the")
    print("  Wine server's:")
    for stage in ("start-up", "check", "agreement", "transfer", "wait", "complete"):
        cpu = statistics.median(r["stage_cpu"][stage][0] for r in runs)
        wall = statistics.median(r["stage_cpu"][stage][1] for r in runs)
        server = statistics.median(r["stage_cpu"][stage][2] for r in runs)
        share = 100 * cpu / wall if wall > 0 else 0
        print(f"    {stage:<12}{cpu:6.2f} s of {wall:6.2f} s  {share:5.1f} %   server {server:6.2f} s")
    print(f"  pause between blocks: median {med('pause_median'):.2f} ms, max {med('pause_max'):.2f} ms (floor 10 ms)")
    share = med("cpu_share")
    print(f"  processor: {med('cpu'):.2f} s ({med('user'):.2f} s user, {med('kernel'):.2f} s system) "
          f"over {med('wall'):.2f} s wall = {share:.1f} % (limit {CPU_LIMIT:.0f} %)")
    print(f"  Wine server meanwhile: {med('server'):.2f} s (its work for every program of the prefix, the probe's too)")
    print(f"  peak memory: working set {med('peak_working_set'):.1f} MiB, pagefile {med('peak_pagefile'):.1f} MiB")
    shutil.rmtree(workdir, ignore_errors=True)
    if share > CPU_LIMIT:
        missed.append(f"processor {share:.1f} % > {CPU_LIMIT:.0f} %")
    for m in missed:
        print(f"  goal missed: {m}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
