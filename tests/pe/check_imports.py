#!/usr/bin/env python3
"""check_imports.py imports|known|exports FILE --machine x86|x64, from objdump's reading of the PE:
`imports` the maker's six functions by plain name from TavroUSB.dll and otherwise only KnownDLLs;
`known` only KnownDLLs; `exports` exactly the six. Exit 0 when it holds, 1 with why, 2 on no PE."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402

LIBRARY = "tavrousb.dll"
SIX = {"VornUsbEnumerateDevices", "VornUsbGetDeviceName", "VornUsbOpen", "VornUsbControlSend",
       "VornUsbControlRecive", "VornUsbClose"}
FORMATS = {"x86": "pei-i386", "x64": "pei-x86-64"}
# DLLs that Windows 7 and later take only from the system folder (the KnownDLLs, and ntdll). Any other
# DLL the program names would be looked for beside it first: the program loads such DLLs itself.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll",
              "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "setupapi.dll",
              "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll"}


def read(path):
    """(file format, {imported dll: [function, or '#ordinal']}, exporting name, [exports], export addresses)"""
    run = subprocess.run(["objdump", "-p", path], capture_output=True, text=True)
    found = re.search(r"file format (pei-\S+)", run.stdout)
    if run.returncode or not found:
        raise ValueError(run.stderr.strip() or "no PE image")
    imports, names, dll, addresses, block = {}, [], None, 0, None
    for line in run.stdout.splitlines():
        if m := re.match(r"\s*DLL Name: (\S+)", line):
            block = imports.setdefault(m.group(1).lower(), [])
        elif m := re.match(r"Name\s+[0-9a-f]+ (\S+)$", line):
            dll = m.group(1)
        elif m := re.match(r"\s+Export Address Table\s+([0-9a-f]+)$", line):
            addresses = addresses or int(m.group(1), 16)
        elif line.startswith("[Ordinal/Name Pointer] Table"):
            block = names
        elif not line.strip():
            block = None
        elif block is names and (m := re.match(r"\s+\[\s*\d+\] (\S+)$", line)):
            names.append(m.group(1))
        elif block is not None and (m := re.match(r"\s+[0-9a-f]+\s+(\d+)\s+(\S+)", line)):
            block.append("#" + m.group(1) if m.group(2) == "<none>" else m.group(2))
    return found.group(1), imports, dll, names, addresses


def problems(what, imports, dll, names, addresses):
    found = [f"imports {n}, which is not a KnownDLL: a DLL of that name beside the program would run in it"
             for n in sorted(imports) if n not in KNOWN_DLLS and (what != "imports" or n != LIBRARY)]
    if what == "imports":
        got = imports.get(LIBRARY, [])
        found += [f"imports {n} from TavroUSB.dll, which is not one of the six" for n in sorted(set(got) - SIX)]
        found += [f"does not import {n} from TavroUSB.dll" for n in sorted(SIX - set(got))]
        found += [f"imports a function twice: {', '.join(got)}"] if len(got) != len(set(got)) else []
    elif what == "exports":
        found = [] if (dll or "").lower() == LIBRARY else [f"calls itself {dll}, not TavroUSB.dll"]
        found += [f"exports {n}, which is not one of the six" for n in sorted(set(names) - SIX)]
        found += [f"does not export {n}" for n in sorted(SIX - set(names))]
        found += [f"exports {addresses} addresses, not 6 (some by ordinal only?)"] if addresses != len(SIX) else []
    return found


def main():
    if len(sys.argv) != 5 or sys.argv[1] not in ("imports", "known", "exports") or sys.argv[4] not in FORMATS:
        sys.exit(__doc__)
    what, path, machine = sys.argv[1], sys.argv[2], sys.argv[4]
    try:
        form, *table = read(path)
    except (OSError, ValueError) as e:
        print(f"{path}: not a readable PE file: {e}")
        return 2
    checks = Checks()
    checks.equal(f"{path}: built for {machine}", form, FORMATS[machine])
    found = problems(what, *table)
    checks.expect(f"{path}: {what} holds ({', '.join(sorted(table[0] if what == 'known' else SIX))})", not found,
                  "\n     ".join(found))
    checks.done()


if __name__ == "__main__":
    sys.exit(main())
