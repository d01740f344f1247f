#!/usr/bin/env python3
"""Checks the program as it is handed out: its resources field by field; its PE headers; the firmware
image it was built from, byte for byte; and, for the release, no debug sections and no symbols, the
debug information lying in PROGRAM.debug beside it. (Its imports are check_imports.py's; that the
system builds the windows and plays the clip is resources_test's.)

usage: check_resources.py --bits 32|64 --image IMAGE [--release] PROGRAM.exe
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ElementTree

import peinfo

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
failures = []


def eq(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: expected {expected!r}, found {actual!r}")


def check(pe):
    for ident, (extended, cx, cy, further, ex_style, caption, controls) in TEMPLATES.items():
        w = f"template {ident}"
        d = peinfo.parse_dialog(pe.resource(peinfo.RT_DIALOG, ident)[1])
        eq(w, (d["extended"], d["x"], d["y"], d["cx"], d["cy"], hex(d["style"]), d["ex_style"], d["menu"], d["class"],
               d["caption"], d.get("point_size"), d.get("font"), d.get("trailing", 0)),
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

    strings = peinfo.parse_string_block(pe.resource(peinfo.RT_STRING, 101 // 16 + 1)[1])
    eq("string block of 101", strings, [""] * 5 + ["Trevolin のﾊﾞｰｼﾞｮﾝ情報(&A)..."] + [""] * 10)
    images = peinfo.parse_group_icon(pe.resource(peinfo.RT_GROUP_ICON, 128)[1])
    eq("icon images", [(i["width"], i["height"], i["colours"], i["planes"], i["bits"]) for i in images],
       [(32, 32, 16, 1, 4), (16, 16, 16, 1, 4)])
    eq("icon image sizes", [len(pe.resource(peinfo.RT_ICON, i["id"])[1]) for i in images], [i["size"] for i in images])
    a = peinfo.parse_avi(pe.resource("AVI", 146)[1])
    video = a["streams_found"][0]
    eq("clip", (a["micro_sec_per_frame"], a["total_frames"], a["width"], a["height"], len(a["streams_found"]),
                video["type"], video["handler"], video["rate"] / video["scale"], video["format"]["bits"],
                video["format"]["compression"], len(a["frames"]), a["index_ok"]),
       (200000, 6, 32, 32, 1, "vids", "RLE ", 5.0, 8, 1, 6, True))
    v = peinfo.parse_version(pe.resource(peinfo.RT_VERSION, 1)[1])
    eq("version", (v["file_version"], v["product_version"], v["flags"], v["flags_mask"], v["os"], v["type"],
                   v["subtype"], v["strings"], v["translations"]),
       ((1, 0, 0, 1), (1, 0, 0, 1), 0, 0x3F, 0x4, 1, 0, {"041104B0": VERSION_STRINGS}, [(0x0411, 1200)]))
    root = ElementTree.fromstring(pe.resource(peinfo.RT_MANIFEST, 1)[1])
    eq("manifest elements in order", [e.tag for e in root.iter()], MANIFEST_ELEMENTS)
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    page = root.find(f"{ASM_V1}application/{ASM_V1}windowsSettings/{SETTINGS_2019}activeCodePage")
    eq("manifest", (root.get("manifestVersion"), dict(level.attrib), page.text),
       ("1.0", {"level": "asInvoker", "uiAccess": "false"}, "ja-JP"))
    expected = {(peinfo.RT_DIALOG, n) for n in TEMPLATES} | {(peinfo.RT_STRING, 7), (peinfo.RT_GROUP_ICON, 128),
                                                           ("AVI", 146), (peinfo.RT_VERSION, 1), (peinfo.RT_MANIFEST, 1)}
    icons = {(peinfo.RT_ICON, i["id"]) for i in images}
    eq("resources", sorted({(t, n) for (t, n, _) in pe.resources}, key=str), sorted(expected | icons, key=str))
    eq("languages", {lang for (_, _, lang) in pe.resources}, {0x0411})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bits", type=int, choices=(32, 64), required=True)
    parser.add_argument("--image", required=True)
    parser.add_argument("--release", action="store_true")
    parser.add_argument("program")
    args = parser.parse_args()
    pe = peinfo.load(args.program)
    with open(args.program, "rb") as program, open(args.image, "rb") as image:
        data = program.read()
        eq(f"copies of {args.image}, byte for byte", data.count(image.read()), 1)
    print(f"{args.program}: {len(data)} bytes ({len(data) / 2**20:.2f} MiB)")
    if args.release:
        eq("debug sections and symbols", ([s[0] for s in pe.sections if s[0].startswith((".debug", "/"))], pe.symbols),
           ([], 0))
        eq(f"{args.program}.debug beside it", os.path.exists(args.program + ".debug"), True)
    eq("headers", (pe.magic, pe.machine, pe.subsystem, pe.dll_characteristics & peinfo.DLL_DYNAMIC_BASE != 0,
                   pe.dll_characteristics & peinfo.DLL_NX_COMPAT != 0),
       ((peinfo.PE32, peinfo.IMAGE_FILE_MACHINE_I386) if args.bits == 32 else
        (peinfo.PE32_PLUS, peinfo.IMAGE_FILE_MACHINE_AMD64)) + (peinfo.SUBSYSTEM_WINDOWS_GUI, True, True))
    try:
        check(pe)
    except (TypeError, KeyError, IndexError, AttributeError, peinfo.FormatError, ElementTree.ParseError) as e:
        failures.append(f"a resource is missing or malformed ({e!r})")
    print("".join(f"FAIL {f}\n" for f in failures) + f"{os.path.basename(args.program)}: {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
