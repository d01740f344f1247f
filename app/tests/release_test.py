#!/usr/bin/env python3
"""The `release` preset as the maker uses it: its refusals, and from an image and an authority
made here a signed program that passes its checks, verifies, fails verification once altered, and
comes out byte for byte again from another folder, later. The good build is kept for the
end-to-end tests.

usage: release_test.py SOURCE_DIR WORK_DIR
"""
import os
import shutil
import subprocess
import sys
import time

source, work = (os.path.abspath(p) for p in sys.argv[1:3])
sys.path[:0] = [os.path.join(source, "image"), os.path.join(source, "tests", "support")]
from checks import Checks  # noqa: E402
from firmware import build, with_checksum  # noqa: E402

checks = Checks()


def run(*command, cwd=source):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return done.returncode, " ".join((done.stdout + done.stderr).split())  # CMake wraps its messages


def openssl(*args):
    code, said = run("openssl", *args, cwd=work)
    if code:
        sys.exit(f"openssl {' '.join(args)}: {said}")


def authority():
    """An authority, the maker's code-signing certificate from it, and its key, encrypted with a
    password kept in a file: the inputs a release takes, besides the image."""
    files = {name: os.path.join(work, name) for name in ("ca.pem", "cert.pem", "key.pem", "password.txt")}
    if all(os.path.exists(f) for f in files.values()):
        return files
    with open(files["password.txt"], "w") as f:
        f.write("the maker's secret\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "3650",
            "-subj", "/CN=Trevolin Test Authority", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-passout", "file:password.txt", "-keyout", "key.pem", "-out",
            "cert.pem", "-days", "3650", "-subj", "/CN=Trevolin Test Maker", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-addext", "basicConstraints=CA:FALSE", "-addext", "keyUsage=critical,digitalSignature",
            "-addext", "extendedKeyUsage=codeSigning")
    return files


def configure(name, image=None, signing=None, kept=False):
    folder = os.path.join(work, name)
    if not kept:
        shutil.rmtree(folder, ignore_errors=True)
    options = []
    if image is not None:
        with open(os.path.join(work, name + ".bin"), "wb") as f:
            f.write(image)
        options.append("-DTREVOLIN_FIRMWARE=" + os.path.join(work, name + ".bin"))
    for option, value in (signing or {}).items():
        options.append(f"-DTREVOLIN_{option}={value}")
    return run("cmake", "--preset", "release", "-B", folder, *options) + (folder,)


def expect(what, condition, output):
    checks.expect(what, condition, output[-4000:])


def release(name, image, signing):
    """A release built in folder `name`: its program, or None when it could not be built."""
    code, said, folder = configure(name, image, signing, kept=name == "good")
    expect(f"{name}: a good image and key configure", code == 0, said)
    if code == 0:
        code, said = run("cmake", "--build", folder, "-j2")
        expect(f"{name}: the release builds", code == 0, said)
    return os.path.join(folder, "Trevolin.exe") if code == 0 else None


def read(path):
    with open(path, "rb") as f:
        return f.read()


def verify(program, ca):
    return run("osslsigncode", "verify", "-CAfile", ca, "-in", program)


os.makedirs(work, exist_ok=True)
keys = authority()
signing = {"SIGNING_CERT": keys["cert.pem"], "SIGNING_KEY": keys["key.pem"],
           "SIGNING_PASSWORD_FILE": keys["password.txt"], "SIGNING_CA": keys["ca.pem"]}
good = build(seed=0x2468ACE, date="240229")

code, said, _ = configure("none")
expect("without an image the preset refuses and says what to pass",
       code != 0 and "-DTREVOLIN_FIRMWARE=/path/to/the/image.bin" in said, said)
code, said, _ = configure("unsigned", good)
expect("without a signing key the preset refuses and says what to pass",
       code != 0 and "-DTREVOLIN_SIGNING_CERT=/path/to/cert.pem -DTREVOLIN_SIGNING_KEY=/path/to/key.pem" in said, said)
code, said, _ = configure("stranger-key", good, dict(signing, SIGNING_KEY=os.path.join(work, "ca.key")))
expect("a key that is not the certificate's stops the configuration",
       code != 0 and f"{work}/ca.key is not the private key of {keys['cert.pem']}" in said, said)

other = bytearray(good)
other[13] = ord("8")  # version 1.08
code, said, _ = configure("version-1.08", with_checksum(other), signing)
bad = os.path.join(work, "version-1.08.bin")
expect("an image of another version stops the configuration, naming the file and the fault",
       code != 0 and f'{bad}: the version record at offsets 4 to 14 is "Z8KQV01.08A", not "Z8KQV01.07A"' in said, said)

program = release("good", good, signing)
if program:
    code, said = run("ctest", "--test-dir", os.path.dirname(program), "-L", "pe", "--output-on-failure")
    print(said)
    expect("its program carries the image, stripped, with the commit's time, its debug link, the right imports "
           "and resources", code == 0 and "Trevolin_as_handed_out" in said, said)
    code, said = verify(program, keys["ca.pem"])
    expect("its signature verifies against the authority", code == 0 and "Signature verification: ok" in said, said)

    altered = os.path.join(work, "altered.exe")
    data = bytearray(read(program))
    data[data.index(good) + 100000] ^= 0x01
    with open(altered, "wb") as f:
        f.write(data)
    code, said = verify(altered, keys["ca.pem"])
    expect("a copy with one byte of its image changed fails verification", code != 0, said)

    time.sleep(1.1)  # another second for the clock: nothing may be taken from it
    again = release("again", good, signing)
    if again:
        for suffix in ("", ".debug"):
            expect(f"a second build in another folder gives the same Trevolin.exe{suffix}",
                   read(program + suffix) == read(again + suffix), f"{program}{suffix} and {again}{suffix} differ")
        shutil.rmtree(os.path.dirname(again), ignore_errors=True)
checks.done()
