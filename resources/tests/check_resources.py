#!/usr/bin/env python3
"""Checks a built program's resources field by field against the table of what it must carry, and
its PE headers: bitness, GUI subsystem, dynamic base, NX. (The DLLs it may import are the import
check's, delivery/tests/check_imports.py.)

usage: check_resources.py --bits 32|64 PROGRAM.exe
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import peinfo  # noqa: E402

JAPANESE = 0x0411
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_VSCROLL, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00200000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_MODALFRAME, DS_SETFONT, DS_SETFOREGROUND = 0x80, 0x40, 0x200
WS_EX_APPWINDOW = 0x00040000
SS_LEFT, SS_ICON, SS_NOPREFIX = 0x0, 0x3, 0x80
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTORADIOBUTTON = 0x0, 0x1, 0x9
ES_LEFT, ES_CENTER, ES_MULTILINE, ES_AUTOHSCROLL, ES_READONLY = 0x0, 0x1, 0x4, 0x80, 0x800

COMMON = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT
FONT = "ＭＳ Ｐゴシック"
TEXT_BOX = ES_CENTER | ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP
LINE_BOX = ES_CENTER | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP

# id: (extended, width, height, further styles, extended style, caption,
#      [(control id, class, text, (x, y, cx, cy), further styles), ...] in template order)
TEMPLATES = {
    100: (False, 235, 55, WS_SYSMENU, 0, "Trevolinのﾊﾞｰｼﾞｮﾝ情報", [
        (-1, "static", 128, (11, 17, 20, 20), SS_ICON),
        (-1, "static", "Trevolin Version 1.0", (40, 10, 119, 8), SS_LEFT | SS_NOPREFIX | WS_GROUP),
        (-1, "static", "HVX-Z8KQ ファームウェア 1.07A", (40, 25, 119, 8), SS_LEFT | WS_GROUP),
        (1, "button", "OK", (178, 7, 50, 14), BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP),
    ]),
    102: (True, 174, 53, WS_VISIBLE, WS_EX_APPWINDOW, "バージョンアップ完了", [
        (1, "button", "OK", (62, 31, 50, 14), BS_DEFPUSHBUTTON | WS_TABSTOP),
        (1002, "edit", "", (25, 7, 126, 23), TEXT_BOX),
    ]),
    129: (False, 178, 85, WS_VISIBLE | DS_SETFOREGROUND, 0, "機器の接続チェック", [
        (1000, "msctls_progress32", "Progress1", (18, 47, 138, 16), WS_BORDER),
        (1003, "edit", "", (23, 31, 131, 12), TEXT_BOX),
        (1005, "edit", "", (18, 7, 138, 26), TEXT_BOX),
    ]),
    130: (False, 283, 181, 0, 0, "バージョンアップ for Z8KQ", [
        (1, "button", "OK", (142, 147, 50, 14), BS_DEFPUSHBUTTON | WS_TABSTOP),
        (2, "button", "ｷｬﾝｾﾙ", (202, 148, 50, 14), BS_PUSHBUTTON | WS_TABSTOP),
        (1002, "edit", "", (13, 13, 256, 122), WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_LEFT),
        (1006, "button", "同意します。", (27, 139, 65, 11), BS_AUTORADIOBUTTON),
        (1007, "button", "同意しません。", (27, 157, 71, 9), BS_AUTORADIOBUTTON),
    ]),
    131: (False, 266, 83, WS_VISIBLE | DS_SETFOREGROUND, 0, "バージョンアップデータ転送中", [
        (1000, "msctls_progress32", "Progress1", (17, 52, 232, 15), WS_BORDER),
        (1008, "edit", "", (17, 33, 230, 12), LINE_BOX),
        (1003, "edit", "", (16, 16, 231, 12), ES_CENTER | ES_READONLY | WS_TABSTOP),
    ]),
    134: (False, 171, 53, WS_VISIBLE, 0, "バージョンアップ中", [
        (1002, "edit", "", (35, 13, 116, 12), LINE_BOX),
        (1008, "edit", "", (38, 25, 116, 12), LINE_BOX),
        (1009, "SysAnimate32", "Animate1", (7, 13, 25, 25), WS_BORDER | WS_TABSTOP),
    ]),
}
PREDEFINED = {"button", "edit", "static"}
STRING_101 = "Trevolin のﾊﾞｰｼﾞｮﾝ情報(&A)..."
VERSION_STRINGS = {
    "CompanyName": "タヴロ音響株式会社",
    "FileDescription": "HVX-Z8KQ バージョンアップ Trevolin",
    "FileVersion": "1.07A",
    "InternalName": "Trevolin",
    "LegalCopyright": "Copyright (C) 2001 タヴロ音響株式会社",
    "OriginalFilename": "Trevolin.EXE",
    "ProductName": "Trevolin",
    "ProductVersion": "1.0",
}

# The manifest asks for the code page of ja-JP and for the invoker's rights, and for nothing else
# (no common controls 6, no DPI awareness, no supported systems): every element, by namespace.
ASM_V1, ASM_V3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"
MANIFEST_ELEMENTS = [ASM_V1 + "assembly", ASM_V3 + "trustInfo", ASM_V3 + "security", ASM_V3 + "requestedPrivileges",
                     ASM_V3 + "requestedExecutionLevel", ASM_V1 + "application", ASM_V1 + "windowsSettings",
                     SETTINGS_2019 + "activeCodePage"]


class Checker:
    def __init__(self):
        self.failures = []
        self.passed = 0

    def eq(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
        else:
            self.failures.append(f"{what}: expected {fmt(expected)}, found {fmt(actual)}")

    def true(self, what, condition, detail=""):
        if condition:
            self.passed += 1
        else:
            self.failures.append(f"{what}{': ' + detail if detail else ''}")


def fmt(v):
    return f"0x{v:08X}" if isinstance(v, int) and v > 0xFFFF else repr(v)


def check_headers(c, pe, bits):
    if bits == 32:
        c.eq("PE format", pe.magic, peinfo.PE32)
        c.eq("machine", pe.machine, peinfo.IMAGE_FILE_MACHINE_I386)
    else:
        c.eq("PE format", pe.magic, peinfo.PE32_PLUS)
        c.eq("machine", pe.machine, peinfo.IMAGE_FILE_MACHINE_AMD64)
    c.eq("subsystem", pe.subsystem, peinfo.SUBSYSTEM_WINDOWS_GUI)
    c.true("dynamic base", pe.dll_characteristics & peinfo.DLL_DYNAMIC_BASE)
    c.true("NX compatible", pe.dll_characteristics & peinfo.DLL_NX_COMPAT)


def check_templates(c, pe):
    for ident, (extended, cx, cy, further, ex_style, caption, controls) in TEMPLATES.items():
        found = pe.resource(peinfo.RT_DIALOG, ident)
        c.true(f"template {ident} present", found)
        if not found:
            continue
        d = peinfo.parse_dialog(found[1])
        w = f"template {ident}"
        c.eq(f"{w} format (extended)", d["extended"], extended)
        c.eq(f"{w} position", (d["x"], d["y"]), (0, 0))
        c.eq(f"{w} size", (d["cx"], d["cy"]), (cx, cy))
        c.eq(f"{w} style", d["style"], COMMON | further)
        c.eq(f"{w} extended style", d["ex_style"], ex_style)
        c.eq(f"{w} menu", d["menu"], "")
        c.eq(f"{w} window class", d["class"], "")
        c.eq(f"{w} caption", d["caption"], caption)
        c.eq(f"{w} font", (d.get("point_size"), d.get("font")), (9, FONT))
        if extended:
            c.eq(f"{w} font weight, italic, character set", (d["weight"], d["italic"], d["charset"]), (0, 0, 1))
            c.eq(f"{w} help id", d["help_id"], 0)
        c.eq(f"{w} trailing bytes", d.get("trailing", 0), 0)
        c.eq(f"{w} control ids in order", [k["id"] for k in d["controls"]], [k[0] for k in controls])
        for k, (cid, cls, text, rect, styles) in zip(d["controls"], controls):
            cw = f"{w} control {cid} ({text if isinstance(text, str) else 'icon'})"
            # windres writes named classes in capitals; the system matches class names without case.
            c.eq(f"{cw} class", str(k["class"]).lower(), cls.lower())
            if cls in PREDEFINED:
                c.true(f"{cw} class given by its ordinal", k["class_is_ordinal"])
            c.eq(f"{cw} text", k["text"], text)
            c.eq(f"{cw} rectangle", (k["x"], k["y"], k["cx"], k["cy"]), rect)
            c.eq(f"{cw} style", k["style"], WS_CHILD | WS_VISIBLE | styles)
            c.eq(f"{cw} extended style", k["ex_style"], 0)
            c.eq(f"{cw} creation data", k["extra"], b"")
            if extended:
                c.eq(f"{cw} help id", k["help_id"], 0)


def check_string(c, pe):
    found = pe.resource(peinfo.RT_STRING, 101 // 16 + 1)
    c.true("string block of 101 present", found)
    if found:
        strings = peinfo.parse_string_block(found[1])
        c.eq("string 101", strings[101 % 16], STRING_101)
        c.eq("other strings of its block", [s for i, s in enumerate(strings) if i != 101 % 16], [""] * 15)


def check_icon(c, pe):
    found = pe.resource(peinfo.RT_GROUP_ICON, 128)
    c.true("icon group 128 present", found)
    if not found:
        return
    images = peinfo.parse_group_icon(found[1])
    c.eq("icon sizes", [(i["width"], i["height"]) for i in images], [(32, 32), (16, 16)])
    for i in images:
        w = f"icon {i['width']}x{i['height']}"
        c.eq(f"{w} colours, planes, bits", (i["colours"], i["planes"], i["bits"]), (16, 1, 4))
        image = pe.resource(peinfo.RT_ICON, i["id"])
        c.true(f"{w} image {i['id']} present", image)
        if not image:
            continue
        c.eq(f"{w} image size against the group's entry", len(image[1]), i["size"])
        h = peinfo.parse_bitmap_header(image[1])
        c.eq(f"{w} bitmap", (h["width"], h["height"], h["planes"], h["bits"], h["compression"]),
             (i["width"], 2 * i["height"], 1, 4, 0))
        stride = lambda bits: (i["width"] * bits + 31) // 32 * 4  # noqa: E731
        c.eq(f"{w} bytes (header, 16 colours, colour bits, mask)", len(image[1]),
             40 + 64 + i["height"] * (stride(4) + stride(1)))
    group_ids = {i["id"] for i in images}
    loose = [n for (t, n, _) in pe.resources if t == peinfo.RT_ICON and n not in group_ids]
    c.eq("icon images outside the group", loose, [])


def check_clip(c, pe):
    found = pe.resource("AVI", 146)
    c.true("clip 146 of type AVI present", found)
    if not found:
        return
    try:
        a = peinfo.parse_avi(found[1])
    except peinfo.FormatError as e:
        c.true("clip is a well-formed RIFF AVI", False, str(e))
        return
    c.eq("clip frame time (µs)", a["micro_sec_per_frame"], 200000)
    c.eq("clip frame count", a["total_frames"], 6)
    c.eq("clip size", (a["width"], a["height"]), (32, 32))
    c.eq("clip stream count", a["streams"], 1)
    c.true("clip header announces an index", a["flags"] & 0x10)
    c.eq("clip streams", [(s["type"], s["handler"]) for s in a["streams_found"]], [("vids", "RLE ")])
    video = next((s for s in a["streams_found"] if s["type"] == "vids"), None)
    if video:
        f = video["format"]
        c.eq("clip stream rate (frames per second)", video["rate"] / video["scale"], 5.0)
        c.eq("clip stream length", video["length"], 6)
        c.eq("clip format", (f["size"], f["width"], f["height"], f["planes"], f["bits"], f["compression"]),
             (40, 32, 32, 1, 8, 1))
        c.eq("clip palette colours", (f["colours_used"], len(video["palette"])), (11, 11))
    c.eq("clip frames in movi", len(a["frames"]), 6)
    c.eq("other chunks in movi", a["other_movi_chunks"], [])
    c.true("clip index present", a["index"] is not None)
    if a["index"] is not None:
        c.eq("clip index entries", len(a["index"]), 6)
        c.true("clip index points at its frames", a["index_ok"])
        c.true("every frame a key frame", all(flags & 0x10 for _, flags, _, _ in a["index"]))
    for n, frame in enumerate(a["frames"]):
        try:
            rows = peinfo.decode_rle8(frame, 32, 32)
            missing = sum(p is None for row in rows for p in row)
            c.eq(f"clip frame {n} pixels left undrawn", missing, 0)
            c.true(f"clip frame {n} uses the palette only", all(p is None or p < 11 for row in rows for p in row))
        except peinfo.FormatError as e:
            c.true(f"clip frame {n} decodes as RLE8", False, str(e))
    c.true("clip frames differ from each other", len(set(a["frames"])) == 6)


def check_version(c, pe):
    found = pe.resource(peinfo.RT_VERSION, 1)
    c.true("version information present", found)
    if not found:
        return
    v = peinfo.parse_version(found[1])
    c.eq("file version", v["file_version"], (1, 0, 0, 1))
    c.eq("product version", v["product_version"], (1, 0, 0, 1))
    c.eq("file flags, mask", (v["flags"], v["flags_mask"]), (0, 0x3F))
    c.eq("operating system", v["os"], 0x4)  # VOS__WINDOWS32
    c.eq("file type", (v["type"], v["subtype"]), (1, 0))  # VFT_APP
    c.eq("string tables", list(v["strings"]), ["041104B0"])
    c.eq("version strings", v["strings"].get("041104B0"), VERSION_STRINGS)
    c.eq("translations", v["translations"], [(0x0411, 1200)])


def check_manifest(c, pe):
    found = pe.resource(peinfo.RT_MANIFEST, 1)
    c.true("manifest 1 present", found)
    if not found:
        return
    try:
        root = ElementTree.fromstring(found[1])
    except ElementTree.ParseError as e:
        c.true("manifest is well-formed XML", False, str(e))
        return
    c.eq("manifest elements in order", [e.tag for e in root.iter()], MANIFEST_ELEMENTS)
    c.eq("manifest version", root.get("manifestVersion"), "1.0")
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    c.eq("execution level", None if level is None else dict(level.attrib), {"level": "asInvoker", "uiAccess": "false"})
    page = root.find(f"{ASM_V1}application/{ASM_V1}windowsSettings/{SETTINGS_2019}activeCodePage")
    c.eq("active code page", None if page is None else page.text, "ja-JP")


def check_inventory(c, pe):
    expected = {(peinfo.RT_DIALOG, n) for n in TEMPLATES} | {(peinfo.RT_STRING, 7), (peinfo.RT_GROUP_ICON, 128),
                                                           ("AVI", 146), (peinfo.RT_VERSION, 1),
                                                           (peinfo.RT_MANIFEST, 1)}
    found = {(t, n) for (t, n, _) in pe.resources if t != peinfo.RT_ICON}
    c.eq("resources beyond the icon images", sorted(found, key=str), sorted(expected, key=str))
    others = sorted({(t, n, hex(lang)) for (t, n, lang) in pe.resources if lang != JAPANESE}, key=str)
    c.eq("resources in a language other than 0x0411", others, [])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bits", type=int, choices=(32, 64), required=True)
    parser.add_argument("program")
    args = parser.parse_args()
    pe = peinfo.load(args.program)
    c = Checker()
    check_headers(c, pe, args.bits)
    for check in (check_templates, check_string, check_icon, check_clip, check_version, check_manifest,
                  check_inventory):
        check(c, pe)
    for f in c.failures:
        print("FAIL", f)
    print(f"{os.path.basename(args.program)}: {c.passed} checks passed, {len(c.failures)} failed")
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
