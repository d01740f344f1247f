#!/usr/bin/env python3
"""The build must refuse an image the deck cannot take, and say why."""
import os
import subprocess
import sys
import tempfile

checker, good_path = sys.argv[1], sys.argv[2]
with open(good_path, "rb") as f:
    good = f.read()


def with_checksum(image):
    body = image[4:]
    return (sum(body) & 0xFFFFFFFF).to_bytes(4, "little") + body


cases = [
    ("the image as built", good, 0, ""),
    ("one byte short", good[:-1], 1, "is 393215 bytes, not 393216"),
    ("one byte long", good + b"\0", 1, "is 393217 bytes, not 393216"),
    ("empty", b"", 1, "is 0 bytes, not 393216"),
    ("another version", with_checksum(good[:13] + b"8" + good[14:]), 1, "version record at offsets 4 to 21"),
    ("record without its zero byte", with_checksum(good[:21] + b" " + good[22:]), 1, "version record"),
    ("a changed body byte", good[:1000] + bytes([good[1000] ^ 1]) + good[1001:], 1, "checksum at offset 0"),
    ("a checksum stored big-endian", good[3::-1] + good[4:], 1, "checksum at offset 0"),
]
failures = 0
with tempfile.TemporaryDirectory() as tmp:
    for name, image, code, message in cases:
        path = os.path.join(tmp, "image.bin")
        with open(path, "wb") as f:
            f.write(image)
        run = subprocess.run([sys.executable, checker, path], capture_output=True, text=True)
        if run.returncode != code or message not in run.stderr:
            failures += 1
            print(f"FAIL {name}: exit {run.returncode}, stderr {run.stderr!r}")
        else:
            print(f"ok   {name}")
sys.exit(1 if failures else 0)
