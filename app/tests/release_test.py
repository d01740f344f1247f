#!/usr/bin/env python3
"""The `release` preset as the maker uses it: it refuses to configure without the maker's image and
says what to pass; it refuses an image that is not the firmware the program announces, naming the
file and the fault; and from a good image (made here, with a body and date of its own) it builds
Trevolin.exe, whose checks (it carries that image byte for byte, has no debug sections, and its
imports and resources are right) all pass.

usage: release_test.py SOURCE_DIR WORK_DIR
"""
import os
import shutil
import subprocess
import sys

source, work = (os.path.abspath(p) for p in sys.argv[1:3])
sys.path.insert(0, os.path.join(source, "image"))
from make_image import build  # noqa: E402

failures = []


def configure(name, *options):
    folder = os.path.join(work, name)
    if name != "good":  # the good build is kept, so that a second run only checks it again
        shutil.rmtree(folder, ignore_errors=True)
    run = subprocess.run(["cmake", "--preset", "release", "-B", folder, *options], cwd=source,
                         capture_output=True, text=True)
    return run.returncode, run.stdout + run.stderr, folder


def expect(what, condition, output=""):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)
        print(output)


def write(name, image):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(image)
    return path


os.makedirs(work, exist_ok=True)

code, output, _ = configure("none")
said = " ".join(output.split())  # CMake wraps its messages
expect("without an image the preset refuses and says what to pass",
       code != 0 and "-DTREVOLIN_FIRMWARE=/path/to/the/image.bin" in said, output)

good = build(seed=0x2468ACE, date="240229")
other = bytearray(good)
other[13] = ord("8")  # version 1.08, with its checksum made right
other[0:4] = (sum(other[4:]) & 0xFFFFFFFF).to_bytes(4, "little")
bad = write("version-1.08.bin", bytes(other))
code, output, _ = configure("bad", "-DTREVOLIN_FIRMWARE=" + bad)
said = " ".join(output.split())
expect("an image of another version stops the configuration, naming the file and the fault",
       code != 0 and f'{bad}: the version record at offsets 4 to 14 is "Z8KQV01.08A", not "Z8KQV01.07A"' in said,
       output)

image = write("good.bin", good)
code, output, folder = configure("good", "-DTREVOLIN_FIRMWARE=" + image)
expect("a good image configures", code == 0, output)
if code == 0:
    run = subprocess.run(["cmake", "--build", folder, "-j2"], capture_output=True, text=True)
    expect("the release builds", run.returncode == 0, run.stdout[-4000:] + run.stderr[-4000:])
    if run.returncode == 0:
        run = subprocess.run(["ctest", "--test-dir", folder, "-L", "pe", "--output-on-failure"],
                             capture_output=True, text=True)
        print(run.stdout)
        expect("its program carries the image, stripped, with the right imports and resources",
               run.returncode == 0 and "Trevolin_as_handed_out" in run.stdout, run.stderr)
sys.exit(1 if failures else 0)
