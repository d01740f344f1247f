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


def run(*command, cwd=source):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return done.returncode, " ".join((done.stdout + done.stderr).split())  # CMake wraps its messages


def configure(name, image=None):
    folder = os.path.join(work, name)
    if name != "good":  # the good build is kept, so that a second run only checks it again
        shutil.rmtree(folder, ignore_errors=True)
    if image is not None:
        with open(os.path.join(work, name + ".bin"), "wb") as f:
            f.write(image)
    options = [] if image is None else ["-DTREVOLIN_FIRMWARE=" + os.path.join(work, name + ".bin")]
    return run("cmake", "--preset", "release", "-B", folder, *options) + (folder,)


def expect(what, condition, output):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)
        print(output[-4000:])


os.makedirs(work, exist_ok=True)
code, said, _ = configure("none")
expect("without an image the preset refuses and says what to pass",
       code != 0 and "-DTREVOLIN_FIRMWARE=/path/to/the/image.bin" in said, said)

good = build(seed=0x2468ACE, date="240229")
other = bytearray(good)
other[13] = ord("8")  # version 1.08, with its checksum made right
other[0:4] = (sum(other[4:]) & 0xFFFFFFFF).to_bytes(4, "little")
code, said, _ = configure("version-1.08", bytes(other))
bad = os.path.join(work, "version-1.08.bin")
expect("an image of another version stops the configuration, naming the file and the fault",
       code != 0 and f'{bad}: the version record at offsets 4 to 14 is "Z8KQV01.08A", not "Z8KQV01.07A"' in said, said)

code, said, folder = configure("good", good)
expect("a good image configures", code == 0, said)
if code == 0:
    code, said = run("cmake", "--build", folder, "-j2")
    expect("the release builds", code == 0, said)
if code == 0:
    code, said = run("ctest", "--test-dir", folder, "-L", "pe", "--output-on-failure")
    print(said)
    expect("its program carries the image, stripped, with the right imports and resources",
           code == 0 and "Trevolin_as_handed_out" in said, said)
sys.exit(1 if failures else 0)
