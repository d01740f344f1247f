#!/usr/bin/env python3
"""Checks the program as it is handed out: it carries the firmware image it was built from, byte
for byte; and, for the release (--release), it carries no debug sections and no symbol table, its
debug information lying in PROGRAM.debug beside it. Prints the sizes.

usage: check_program.py PROGRAM IMAGE [--release]
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources", "tests"))
import peinfo  # noqa: E402


def main(argv):
    if len(argv) not in (3, 4) or (len(argv) == 4 and argv[3] != "--release"):
        sys.exit(__doc__)
    program, image_path = argv[1], argv[2]
    release = len(argv) == 4
    with open(program, "rb") as f:
        data = f.read()
    with open(image_path, "rb") as f:
        image = f.read()
    pe = peinfo.PeFile(data)
    problems = []
    if data.count(image) != 1:
        problems.append(f"{program} carries {image_path} {data.count(image)} times, not once byte for byte")
    print(f"{program}: {len(data)} bytes ({len(data) / 2**20:.2f} MiB)")
    if release:
        debug = [s[0] for s in pe.sections if s[0].startswith(".debug") or s[0].startswith("/")]
        if debug:
            problems.append(f"{program} carries debug sections: {', '.join(debug)}")
        if pe.symbols:
            problems.append(f"{program} carries a symbol table of {pe.symbols} symbols")
        kept = program + ".debug"
        if os.path.exists(kept):
            print(f"{kept}: {os.path.getsize(kept)} bytes ({os.path.getsize(kept) / 2**20:.2f} MiB)")
        else:
            problems.append(f"no debug file {kept} beside it")
    for p in problems:
        print("FAIL " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
