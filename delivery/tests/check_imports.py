#!/usr/bin/env python3
"""Checks a Windows program's or DLL's tie to TavroUSB.dll from its PE file alone.

  check_imports.py imports PROGRAM --machine x86|x64
      The program imports from TavroUSB.dll exactly the six functions of the maker's library,
      each by its plain name (no stdcall decoration, no ordinal), and nothing else from it; every
      other DLL it imports is one of Windows' KnownDLLs.
  check_imports.py known PROGRAM --machine x86|x64
      Every DLL the program imports is one of Windows' KnownDLLs (a program with the deck linked in).
  check_imports.py exports DLL --machine x86|x64
      The DLL exports exactly those six names, and no others.

Exits 0 when the check holds, 1 with the reasons when it does not, 2 on a file that is no PE.
"""
import argparse
import struct
import sys

LIBRARY = "tavrousb.dll"
FUNCTIONS = {
    "VornUsbEnumerateDevices",
    "VornUsbGetDeviceName",
    "VornUsbOpen",
    "VornUsbControlSend",
    "VornUsbControlRecive",
    "VornUsbClose",
}
MACHINES = {"x86": 0x014C, "x64": 0x8664}
# DLLs that Windows 7 and later take only from the system folder, whatever lies in the program's
# folder (the KnownDLLs list, and ntdll, which every process has). Any other DLL named in the import
# table would be looked for beside the program first: the program loads such DLLs itself, by full
# path from the system folder.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll",
              "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "setupapi.dll",
              "shell32.dll", "shlwapi.dll", "user32.dll", "ws2_32.dll"}


class NotPe(Exception):
    pass


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise NotPe("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotPe("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = self.u16(optional)
        if magic == 0x10B:
            self.wide = False
            directories = optional + 96
        elif magic == 0x20B:
            self.wide = True
            directories = optional + 112
        else:
            raise NotPe("unknown optional header 0x%X" % magic)
        self.export_rva, self.export_size = struct.unpack_from("<II", data, directories)
        self.import_rva, self.import_size = struct.unpack_from("<II", data, directories + 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            at = table + 40 * i
            virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise NotPe("address 0x%X in no section" % rva)

    def text(self, rva):
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("latin-1")

    def imports(self):
        """{dll name (lower case): [function name, or '#ordinal']}"""
        out = {}
        if not self.import_rva:
            return out
        at = self.offset(self.import_rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or first):
                break
            functions = out.setdefault(self.text(name).lower(), [])
            thunk = self.offset(lookup or first)
            size, flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
            while True:
                value = struct.unpack_from("<Q" if self.wide else "<I", self.data, thunk)[0]
                if not value:
                    break
                if value & flag:
                    functions.append("#%d" % (value & 0xFFFF))
                else:
                    functions.append(self.text((value & 0x7FFFFFFF) + 2))
                thunk += size
            at += 20
        return out

    def exports(self):
        """(dll name, [exported names], number of exported addresses)"""
        if not self.export_rva:
            return None, [], 0
        at = self.offset(self.export_rva)
        name, _, addresses, names, _, name_table, _ = struct.unpack_from("<IIIIIII", self.data, at + 12)
        listed = [self.text(self.u32(self.offset(name_table) + 4 * i)) for i in range(names)]
        return self.text(name), listed, addresses


def check_known(imports, allowed=()):
    return ["imports %s, which is not a KnownDLL: a DLL of that name beside the program would run in it" % name
            for name in sorted(imports) if name not in KNOWN_DLLS and name not in allowed]


def check_imports(pe):
    imports = pe.imports()
    problems = check_known(imports, allowed={LIBRARY})
    if LIBRARY not in imports:
        return problems + ["imports nothing from TavroUSB.dll (imports from: %s)" % ", ".join(sorted(imports))]
    got = imports[LIBRARY]
    for name in sorted(set(got) - FUNCTIONS):
        problems.append("imports %s from TavroUSB.dll, which is not one of the six" % name)
    for name in sorted(FUNCTIONS - set(got)):
        problems.append("does not import %s from TavroUSB.dll" % name)
    if len(got) != len(set(got)):
        problems.append("imports a function twice: %s" % ", ".join(got))
    return problems


def check_exports(pe):
    name, names, addresses = pe.exports()
    problems = []
    if name is None:
        return ["exports nothing"]
    if name.lower() != LIBRARY:
        problems.append("calls itself %s, not TavroUSB.dll" % name)
    for extra in sorted(set(names) - FUNCTIONS):
        problems.append("exports %s, which is not one of the six" % extra)
    for missing in sorted(FUNCTIONS - set(names)):
        problems.append("does not export %s" % missing)
    if addresses != len(FUNCTIONS):
        problems.append("exports %d addresses, not 6 (some by ordinal only?)" % addresses)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["imports", "known", "exports"])
    parser.add_argument("file")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    try:
        with open(args.file, "rb") as f:
            pe = Pe(f.read())
    except (OSError, NotPe, struct.error, ValueError) as e:
        print("%s: not a readable PE file: %s" % (args.file, e))
        return 2
    try:
        if args.what == "imports":
            problems = check_imports(pe)
        elif args.what == "known":
            problems = check_known(pe.imports())
        else:
            problems = check_exports(pe)
    except (NotPe, struct.error, ValueError) as e:
        problems = ["damaged %s table: %s" % ("export" if args.what == "exports" else "import", e)]
    if pe.machine != MACHINES[args.machine]:
        problems.append("machine 0x%04X, expected %s (0x%04X)" % (pe.machine, args.machine, MACHINES[args.machine]))
    if problems:
        for p in problems:
            print("%s: %s" % (args.file, p))
        return 1
    if args.what == "known":
        print("%s: imports from KnownDLLs only: %s" % (args.file, ", ".join(sorted(pe.imports()))))
    else:
        print("%s: %s from TavroUSB.dll exactly the six functions: %s" % (args.file, args.what, ", ".join(sorted(FUNCTIONS))))
        if args.what == "imports":
            print("%s: and otherwise from KnownDLLs only" % args.file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
