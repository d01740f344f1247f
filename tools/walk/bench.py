#!/usr/bin/env python3
"""Benchmark (not a test): the successful update against the emulated deck, walked as in the
end-to-end tests, with each stage's wall time beside the floor the protocol sets, the program's
processor time over its wall time, and its peak memory.

  bench.py --build NAME uiprobe.exe Trevolin-emulated.exe WINEPREFIX [--build ...] [--runs N] [--scenario NAME]

Each build (x86-64 and x86, say) is measured the same number of times, the builds taking turns, and
their figures are printed side by side.

Stage times are the time each stage's window was on the screen, as the probe saw it (it looks
every 10 ms); the block phase and the pauses between blocks are the deck's own clock.
"""
import argparse
import contextlib
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Desktop, Slot  # noqa: E402
from walk import AGREEMENT, CHECK, COMPLETE, TRANSFER, WAIT, Walk  # noqa: E402

CHECK_FLOOR = 0.5 + 700 * 0.010          # the first pause and 700 steps of 10 ms
CPU_LIMIT = 5.0                          # per cent of the wall time
CHECK_GOAL, TRANSFER_GOAL = 1.02, 1.03   # of their floors


def transfer_floors(block_call_s):
    """Three timer ticks, then per block the library's call, as long as the deck says it takes,
    and the 10 ms pause; block 0 to block 1023 is 1,023 of those."""
    block = block_call_s + 0.010
    return 0.3 + 1024 * block, 1023 * block


def shown(outcome, caption):
    w = outcome.window(caption)
    return (w["gone_ms"] - w["shown_ms"]) / 1000 if w and w["gone_ms"] >= 0 else None


def measure(desktop, program, scenario, workdir, index):
    outcome = Walk(desktop, program, scenario, os.path.join(workdir, str(index))).run()
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
        "block_call": library["blockCallMs"] / 1000,
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
    parser.add_argument("--build", nargs=4, action="append", required=True, metavar=("NAME", "PROBE", "PROGRAM", "PREFIX"),
                        help="a build to measure, its probe, its emulated program and its Wine prefix; repeated")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--scenario", default="success")
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="trevolin-bench-")
    names = [b[0] for b in args.build]
    runs = {name: [] for name in names}
    with contextlib.ExitStack() as stack:
        desktops = {}
        for name, probe, program, prefix in args.build:
            slot = stack.enter_context(Slot(prefix))
            desktops[name] = (stack.enter_context(Desktop(slot, probe, os.path.join(workdir, name),
                                                          name="trevolin-bench")), program)
        # The builds take turns, so that both meet the machine as it is.
        for i in range(args.runs):
            for name in names:
                desktop, program = desktops[name]
                r = measure(desktop, program, args.scenario, os.path.join(workdir, name), i)
                runs[name].append(r)
                print(f"{name} run {i + 1}: check {r['check']:.2f} s, transfer {r['transfer']:.2f} s, wait "
                      f"{r['wait']:.2f} s, CPU {r['cpu']:.2f} s of {r['wall']:.2f} s ({r['cpu_share']:.1f} %)",
                      flush=True)

    def med(name, key):
        values = [r[key] for r in runs[name] if r[key] is not None]
        return statistics.median(values) if values else float("nan")

    print()
    print(f"The successful update against the emulated deck \"{args.scenario}\", "
          f"{'median of ' + str(args.runs) + ' runs' if args.runs > 1 else 'one run'} of each build:")
    print(f"  {'stage':<36}" + "".join(f"{n:>9}" for n in names) + f"{'floor':>9}{'goal':>9}")
    transfer_floor, blocks_floor = transfer_floors(med(names[0], "block_call"))
    rows = [
        ("connection check (window shown)", "check", CHECK_FLOOR, CHECK_GOAL),
        ("terms (the probe agrees at once)", "agreement", None, None),
        ("image transfer (window shown)", "transfer", transfer_floor, TRANSFER_GOAL),
        ("  blocks 0 to 1023 (deck's clock)", "blocks", blocks_floor, None),
        ("rewrite wait (deck takes 1.5 s)", "wait", 1.5, None),
        ("whole program", "wall", None, None),
    ]
    missed = []
    for label, key, floor, goal in rows:
        walls = [med(n, key) for n in names]
        for n, wall in zip(names, walls):
            if goal and wall > goal * floor:
                missed.append(f"{n}: {label.strip()} {wall:.2f} s > {goal * floor:.2f} s")
        floor_text = f"{floor:8.2f}s" if floor else " " * 9
        goal_text = f"{100 * (goal - 1):+8.1f}%" if goal else ""
        print(f"  {label:<36}" + "".join(f"{w:8.2f}s" for w in walls) + f"{floor_text}{goal_text:>9}")
    print("  processor time by stage (from one window's appearance to the next's), the program's; and the")
    print("  Wine server's meanwhile:")
    for stage in ("start-up", "check", "agreement", "transfer", "wait", "complete"):
        cells = []
        for n in names:
            cpu, wall, server = (statistics.median(r["stage_cpu"][stage][k] for r in runs[n]) for k in range(3))
            cells.append(f"{n} {cpu:5.2f} s of {wall:6.2f} s {100 * cpu / wall if wall > 0 else 0:4.1f} %, "
                         f"server {server:5.2f} s")
        print(f"    {stage:<10}" + "   ".join(cells))
    for label, key, unit in (("pause between blocks, median (floor 10 ms)", "pause_median", "ms"),
                             ("pause between blocks, max", "pause_max", "ms"),
                             ("processor, user and system", "cpu", "s"), ("  user", "user", "s"),
                             ("  system", "kernel", "s"),
                             (f"processor over wall time (limit {CPU_LIMIT:.0f} %)", "cpu_share", "%"),
                             ("Wine server meanwhile (every program)", "server", "s"),
                             ("peak working set", "peak_working_set", "MiB"), ("peak pagefile", "peak_pagefile", "MiB")):
        print(f"  {label:<44}" + "".join(f"{med(n, key):8.2f}{unit:<4}" for n in names))
    shutil.rmtree(workdir, ignore_errors=True)
    for n in names:
        if med(n, "cpu_share") > CPU_LIMIT:
            missed.append(f"{n}: processor {med(n, 'cpu_share'):.1f} % > {CPU_LIMIT:.0f} %")
    for m in missed:
        print(f"  goal missed: {m}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
