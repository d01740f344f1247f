#!/usr/bin/env python3
"""Checks the program as it is handed out: its resources field by field, its PE headers, the image
it carries byte for byte, and for the release what makes it reproducible and signed. (Imports are
check_imports.py's; the signature's validity is the release test's.)

usage: check_program.py --bits 32|64 --image IMAGE [--release EPOCH SOURCES BUILD] PROGRAM.exe
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Checks  # noqa: E402

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
CONTROL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static"}

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_CAPTION, WS_BORDER = 0x80000000, 0x40000000, 0x10000000, 0x00C00000, 0x00800000
WS_VSCROLL, WS_SYSMENU, WS_GROUP, WS_TABSTOP = 0x00200000, 0x00080000, 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT, DS_SETFOREGROUND, SS_LEFT, SS_ICON, SS_NOPREFIX = 0x80, 0x40, 0x200, 0x0, 0x3, 0x80
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTORADIOBUTTON = 0x0, 0x1, 0x9
ES_LEFT, ES_CENTER, ES_MULTILINE, ES_AUTOHSCROLL, ES_READONLY = 0x0, 0x1, 0x4, 0x80, 0x800
TEXT_BOX = ES_CENTER | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP
LINE_BOX = ES_CENTER | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP

# id: (extended, width, height, styles beyond WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT,
#      extended style, caption, [(control id, class, text, (x, y, cx, cy), styles), ...] in order)
TEMPLATES = {
    100: (False, 235, 55, WS_SYSMENU, 0, "Trevolinのﾊﾞｰｼﾞｮﾝ情報", [
        (-1, "static", 128, (11, 17, 20, 20), SS_ICON),
        (-1, "static", "Trevolin Version 1.0", (40, 10, 119, 8), SS_LEFT | SS_NOPREFIX | WS_GROUP),
        (-1, "static", "HVX-Z8KQ ファームウェア 1.07A", (40, 25, 119, 8), SS_LEFT | WS_GROUP),
        (1, "button", "OK", (178, 7, 50, 14), BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP)]),
    102: (True, 174, 53, WS_VISIBLE, 0x00040000, "バージョンアップ完了", [  # WS_EX_APPWINDOW
        (1, "button", "OK", (62, 31, 50, 14), BS_DEFPUSHBUTTON | WS_TABSTOP),
        (1002, "edit", "", (25, 7, 126, 23), TEXT_BOX)]),
    129: (False, 178, 85, WS_VISIBLE | DS_SETFOREGROUND, 0, "機器の接続チェック", [
        (1000, "msctls_progress32", "Progress1", (18, 47, 138, 16), WS_BORDER),
        (1003, "edit", "", (23, 31, 131, 12), TEXT_BOX),
        (1005, "edit", "", (18, 7, 138, 26), TEXT_BOX)]),
    130: (False, 283, 181, 0, 0, "バージョンアップ for Z8KQ", [
        (1, "button", "OK", (142, 147, 50, 14), BS_DEFPUSHBUTTON | WS_TABSTOP),
        (2, "button", "ｷｬﾝｾﾙ", (202, 148, 50, 14), BS_PUSHBUTTON | WS_TABSTOP),
        (1002, "edit", "", (13, 13, 256, 122), WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_LEFT),
        (1006, "button", "同意します。", (27, 139, 65, 11), BS_AUTORADIOBUTTON),
        (1007, "button", "同意しません。", (27, 157, 71, 9), BS_AUTORADIOBUTTON)]),
    131: (False, 266, 83, WS_VISIBLE | DS_SETFOREGROUND, 0, "バージョンアップデータ転送中", [
        (1000, "msctls_progress32", "Progress1", (17, 52, 232, 15), WS_BORDER),
        (1008, "edit", "", (17, 33, 230, 12), LINE_BOX),
        (1003, "edit", "", (16, 16, 231, 12), ES_CENTER | ES_READONLY | WS_TABSTOP)]),
    134: (False, 171, 53, WS_VISIBLE, 0, "バージョンアップ中", [
        (1002, "edit", "", (35, 13, 116, 12), LINE_BOX),
        (1008, "edit", "", (38, 25, 116, 12), LINE_BOX),
        (1009, "SysAnimate32", "Animate1", (7, 13, 25, 25), WS_BORDER | WS_TABSTOP)]),
}
VERSION_STRINGS = {"CompanyName": "タヴロ音響株式会社", "FileDescription": "HVX-Z8KQ バージョンアップ Trevolin",
                   "FileVersion": "1.07A", "InternalName": "Trevolin", "OriginalFilename": "Trevolin.EXE",
                   "LegalCopyright": "Copyright (C) 2001 タヴロ音響株式会社", "ProductName": "Trevolin", "ProductVersion": "1.0"}
# The manifest asks for the code page of ja-JP and for the invoker's rights, and for nothing else
# (no common controls 6, no DPI awareness, no supported systems): every element, by namespace.
ASM_V1, ASM_V3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"
MANIFEST_ELEMENTS = [ASM_V1 + "assembly", ASM_V3 + "trustInfo", ASM_V3 + "security", ASM_V3 + "requestedPrivileges",
                     ASM_V3 + "requestedExecutionLevel", ASM_V1 + "application", ASM_V1 + "windowsSettings",
                     SETTINGS_2019 + "activeCodePage"]

class Reader:
    """Little-endian reads from a resource, which raise struct.error past its end."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, form):
        values = struct.unpack_from("<" + form, self.data, self.pos)
        self.pos += struct.calcsize("<" + form)
        return values if len(values) > 1 else values[0]

    def wstr(self):
        end = self.pos
        while self.data[end:end + 2] != b"\0\0":
            end += 2
            if end >= len(self.data):
                raise struct.error("a string runs past the end")
        text, self.pos = self.data[self.pos:end].decode("utf-16-le"), end + 2
        return text

    def sz_or_ord(self):
        """The template form of a name: none, 0xFFFF then an ordinal, or a string."""
        first = self.take("H")
        if first in (0, 0xFFFF):
            return "" if first == 0 else self.take("H")
        self.pos -= 2
        return self.wstr()


def parse_dialog(data):
    """A DLGTEMPLATE or DLGTEMPLATEEX as a dict; its controls in template order."""
    r, d = Reader(data), {"extended": data[:4] == b"\1\0\xff\xff"}
    if d["extended"]:
        _, d["help_id"], d["ex_style"], d["style"] = r.take("IIII")
    else:
        d["style"], d["ex_style"] = r.take("II")
    count, d["x"], d["y"], d["cx"], d["cy"] = r.take("Hhhhh")
    d["menu"], d["class"], d["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.wstr()
    if d["style"] & DS_SETFONT:
        d["point_size"] = r.take("H")
        if d["extended"]:
            d["weight"], d["italic"], d["charset"] = r.take("HBB")
        d["font"] = r.wstr()
    d["controls"] = []
    for _ in range(count):
        r.pos = (r.pos + 3) // 4 * 4
        c = {}
        if d["extended"]:
            c["help_id"], c["ex_style"], c["style"], c["x"], c["y"], c["cx"], c["cy"], c["id"] = r.take("IIIhhhhi")
        else:
            c["style"], c["ex_style"], c["x"], c["y"], c["cx"], c["cy"], c["id"] = r.take("IIhhhhh")
        cls = r.sz_or_ord()
        c["class"], c["class_is_ordinal"] = CONTROL_CLASSES.get(cls, cls), isinstance(cls, int)
        c["text"] = r.sz_or_ord()
        extra = r.take("H")
        c["extra"], r.pos = data[r.pos:r.pos + extra], r.pos + extra
        d["controls"].append(c)
    d["trailing"] = len(data) - r.pos if any(data[r.pos:]) else 0
    return d


def parse_avi(data):
    """The main header, the one stream's header and format, and the frames of an AVI clip."""

    def chunks(start, end):
        found = {}
        while start + 8 <= end:
            fourcc, size = data[start:start + 4], struct.unpack_from("<I", data, start + 4)[0]
            if start + 8 + size > end:
                raise struct.error(f"chunk {fourcc} at {start} runs past its parent")
            # A list is known by its form, and its children follow the form.
            listed = fourcc in (b"RIFF", b"LIST")
            key = data[start + 8:start + 12] if listed else fourcc
            found.setdefault(key, []).append((start + (12 if listed else 8), start + 8 + size))
            start += 8 + size + (size & 1)
        return found

    top = chunks(0, len(data))
    if list(top) != [b"AVI "] or data[:4] != b"RIFF":
        raise struct.error("not a RIFF AVI file")
    avi = chunks(*top[b"AVI "][0])
    hdrl = chunks(*avi[b"hdrl"][0])
    avih = struct.unpack_from("<10I", data, hdrl[b"avih"][0][0])
    strl = [chunks(*s) for s in hdrl.get(b"strl", [])]
    strh, strf = strl[0][b"strh"][0][0], strl[0][b"strf"][0][0]
    scale, rate = struct.unpack_from("<II", data, strh + 20)
    bits, compression = struct.unpack_from("<HI", data, strf + 14)
    movi = chunks(*avi[b"movi"][0])
    return dict(usec_per_frame=avih[0], total_frames=avih[4], width=avih[8], height=avih[9], streams=len(strl),
                type=data[strh:strh + 4], handler=data[strh + 4:strh + 8], fps=rate / scale, bits=bits,
                compression=compression, frames=sum(len(v) for k, v in movi.items() if k.endswith((b"dc", b"db"))),
                indexed=b"idx1" in avi)


checks = Checks()
eq = checks.equal


def resources(pe):
    """{(type, name, language): bytes}; types and names are numbers or strings."""
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = tuple(str(e.name) if e.name is not None else e.id for e in (t, n)) + (lang.id,)
                found[key] = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    return found


def check(pe):
    found = resources(pe)
    one = {(t, n): data for (t, n, _), data in found.items()}
    for ident, (extended, cx, cy, further, ex_style, caption, controls) in TEMPLATES.items():
        w = f"template {ident}"
        d = parse_dialog(one[(RT_DIALOG, ident)])
        eq(w, (d["extended"], d["x"], d["y"], d["cx"], d["cy"], hex(d["style"]), d["ex_style"], d["menu"], d["class"],
               d["caption"], d.get("point_size"), d.get("font"), d["trailing"]),
           (extended, 0, 0, cx, cy, hex(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | further), ex_style, "", "",
            caption, 9, "ＭＳ Ｐゴシック", 0))
        if extended:
            eq(f"{w} font weight, italic, character set, help id",
               (d["weight"], d["italic"], d["charset"], d["help_id"]), (0, 0, 1, 0))
        eq(f"{w} control ids in order", [k["id"] for k in d["controls"]], [k[0] for k in controls])
        for k, (cid, cls, text, rect, styles) in zip(d["controls"], controls):
            # windres writes named classes in capitals; the system matches class names without case.
            eq(f"{w} control {cid} ({text})",
               (str(k["class"]).lower(), k["class_is_ordinal"], k["text"], (k["x"], k["y"], k["cx"], k["cy"]),
                hex(k["style"]), k["ex_style"], k["extra"], k.get("help_id", 0)),
               (cls.lower(), cls in ("button", "edit", "static"), text, rect, hex(WS_CHILD | WS_VISIBLE | styles), 0,
                b"", 0))

    r, block = Reader(one[(RT_STRING, 101 // 16 + 1)]), []
    for _ in range(16):
        length = r.take("H")
        block.append(r.data[r.pos:r.pos + 2 * length].decode("utf-16-le"))
        r.pos += 2 * length
    eq("string block of 101", block, [""] * 5 + ["Trevolin のﾊﾞｰｼﾞｮﾝ情報(&A)..."] + [""] * 10)
    group = one[(RT_GROUP_ICON, 128)]
    eq("icon group header", struct.unpack_from("<HHH", group), (0, 1, 2))
    images = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(2)]
    eq("icon images", [(w, h, colours, planes, bits) for w, h, colours, _, planes, bits, _, _ in images],
       [(32, 32, 16, 1, 4), (16, 16, 16, 1, 4)])
    eq("icon image sizes", [len(one[(RT_ICON, i[7])]) for i in images], [i[6] for i in images])
    eq("clip", parse_avi(one[("AVI", 146)]),
       dict(usec_per_frame=200000, total_frames=6, width=32, height=32, streams=1, type=b"vids", handler=b"RLE ",
            fps=5.0, bits=8, compression=1, frames=6, indexed=True))
    f = pe.VS_FIXEDFILEINFO[0]
    tables = {t.LangID.decode(): {k.decode(): v.decode() for k, v in t.entries.items()}
              for info in pe.FileInfo[0] if info.Key == b"StringFileInfo" for t in info.StringTable}
    translations = [v.entry for info in pe.FileInfo[0] if info.Key == b"VarFileInfo" for v in info.Var]
    eq("version", (f.FileVersionMS, f.FileVersionLS, f.ProductVersionMS, f.ProductVersionLS, f.FileFlags,
                   f.FileFlagsMask, f.FileOS, f.FileType, f.FileSubtype, tables, translations),
       (0x10000, 1, 0x10000, 1, 0, 0x3F, 0x4, 1, 0, {"041104B0": VERSION_STRINGS}, [{b"Translation": "0x0411 0x04b0"}]))
    root = ElementTree.fromstring(one[(RT_MANIFEST, 1)])
    eq("manifest elements in order", [e.tag for e in root.iter()], MANIFEST_ELEMENTS)
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    page = root.find(f"{ASM_V1}application/{ASM_V1}windowsSettings/{SETTINGS_2019}activeCodePage")
    eq("manifest", (root.get("manifestVersion"), dict(level.attrib), page.text),
       ("1.0", {"level": "asInvoker", "uiAccess": "false"}, "ja-JP"))
    expected = {(RT_DIALOG, n) for n in TEMPLATES} | {(RT_STRING, 7), (RT_GROUP_ICON, 128), ("AVI", 146),
                                                      (RT_VERSION, 1), (RT_MANIFEST, 1)}
    eq("resources", sorted(one, key=str), sorted(expected | {(RT_ICON, i[7]) for i in images}, key=str))
    eq("languages", {lang for (_, _, lang) in found}, {0x0411})


def release(args, pe, data, names):
    epoch, folders = int(args.release[0]), args.release[1:]
    debug_file = args.program + ".debug"
    with open(debug_file, "rb") as f:
        debug = f.read()
    link = next((s.get_data()[:s.Misc_VirtualSize] for s, n in zip(pe.sections, names) if n == ".gnu_debuglink"), b"")
    name = os.path.basename(debug_file).encode() + b"\0"
    name += b"\0" * (-len(name) % 4)
    eq("the debug link: the debug file's name and checksum", link, name + struct.pack("<I", zlib.crc32(debug)))
    eq("the time stamp: the commit's", pe.FILE_HEADER.TimeDateStamp, epoch)
    eq("the header's checksum", pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    eq("a signature after the image", (security.Size > 0, security.VirtualAddress + security.Size), (True, len(data)))
    for folder in folders:
        for code in ("utf-8", "utf-16-le"):
            eq(f"{folder} named in the program and its debug information",
               (folder.encode(code) in data, folder.encode(code) in debug), (False, False))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bits", type=int, choices=(32, 64), required=True)
    parser.add_argument("--image", required=True)
    parser.add_argument("--release", nargs=3, metavar=("EPOCH", "SOURCES", "BUILD"))
    parser.add_argument("program")
    args = parser.parse_args()
    pe = pefile.PE(args.program)
    with open(args.program, "rb") as program, open(args.image, "rb") as image:
        data = program.read()
        eq(f"copies of {args.image}, byte for byte", data.count(image.read()), 1)
    print(f"{args.program}: {len(data)} bytes ({len(data) / 2**20:.2f} MiB)")
    if args.release:
        # A long section name ("/N") lies in the COFF string table, which stays for them after a strip.
        table = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
        names = [s.Name.rstrip(b"\0").decode() for s in pe.sections]
        names = [data[table + int(n[1:]):data.index(b"\0", table + int(n[1:]))].decode()
                 if n.startswith("/") and pe.FILE_HEADER.PointerToSymbolTable else n for n in names]
        eq("debug sections and symbols", ([n for n in names if n.startswith((".debug", "/"))],
                                          pe.FILE_HEADER.NumberOfSymbols), ([], 0))
    o = pe.OPTIONAL_HEADER
    eq("headers", (o.Magic, pe.FILE_HEADER.Machine, o.Subsystem, o.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE,
                   o.IMAGE_DLLCHARACTERISTICS_NX_COMPAT),
       ((0x10B, 0x14C) if args.bits == 32 else (0x20B, 0x8664)) + (2, True, True))
    try:
        check(pe)
    except (TypeError, KeyError, IndexError, AttributeError, struct.error, UnicodeDecodeError,
            ElementTree.ParseError) as e:
        checks.expect("every resource there and well formed", False, repr(e))
    if args.release:
        release(args, pefile.PE(args.program), data, names)  # a PE of its own: the checksum's sum changes it
    checks.done()


if __name__ == "__main__":
    sys.exit(main())
