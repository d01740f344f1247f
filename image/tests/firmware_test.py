#!/usr/bin/env python3
"""The build must refuse an image the deck cannot take, or that is not the firmware the program
announces, naming the file and the fault; and take any good one, whatever its body and date.

usage: firmware_test.py IMAGE   (the image the build made)
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RULES = os.path.join(HERE, "..", "firmware.py")
sys.path[:0] = [os.path.dirname(RULES), os.path.join(HERE, "..", "..", "tests", "support")]
from checks import Checks  # noqa: E402
from firmware import build  # noqa: E402

with open(sys.argv[1], "rb") as f:
    good = f.read()


def at(offset, raw):
    """The good image with `raw` written at `offset` and its checksum made right again."""
    body = (good[:offset] + raw + good[offset + len(raw):])[4:]
    return (sum(body) & 0xFFFFFFFF).to_bytes(4, "little") + body


RECORD = 'the version record at offsets 4 to 14 is "%s", not "Z8KQV01.07A", the firmware the program announces'
cases = [
    ("the image as built", good, ""),
    ("another body and date", build(seed=0x1234567, date="991231"), ""),
    ("one byte short", good[:-1], "the image is 393215 bytes; the deck takes exactly 393216"),
    ("one byte long", good + b"\0", "the image is 393217 bytes; the deck takes exactly 393216"),
    ("another model", at(4, b"Z8KR"), RECORD % "Z8KRV01.07A"),
    ("another version", at(12, b"08"), RECORD % "Z8KQV01.08A"),
    ("another variant", at(14, b"B"), RECORD % "Z8KQV01.07B"),
    ("a letter in the date", at(20, b"x"), 'the date at offsets 15 to 20 is "01112x", not six digits'),
    ("record without its zero byte", at(21, b" "), "byte 21 is 0x20, not the 0 that ends the version record"),
    ("a changed body byte", good[:1000] + bytes([good[1000] ^ 1]) + good[1001:], "the checksum at offset 0 is 0x"),
    ("a checksum stored big-endian", good[3::-1] + good[4:], "but bytes 4 to the end sum to 0x"),
    ("a missing file", None, "cannot be read"),
]
checks = Checks()
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "image.bin")
    for name, image, message in cases:
        if image is not None:
            with open(path, "wb") as f:
                f.write(image)
        run = subprocess.run([sys.executable, RULES, "check", path if image is not None else path + ".missing"],
                             capture_output=True, text=True)
        said = f"{path}" in run.stderr and message in run.stderr if message else not run.stderr
        checks.expect(f"{name}: {'refused, naming the file and the fault' if message else 'taken'}",
                      run.returncode == (1 if message else 0) and said, f"exit {run.returncode}, stderr {run.stderr!r}")
checks.done()
