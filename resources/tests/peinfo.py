"""Reads what a Windows executable carries for the resource and program checks: its PE headers,
sections and resources, with decoders for dialog templates, string tables, icon groups, AVI clips
and version information.
"""
import struct

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64 = 0x14C, 0x8664
PE32, PE32_PLUS = 0x10B, 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
DLL_DYNAMIC_BASE, DLL_NX_COMPAT = 0x40, 0x100
CONTROL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x84: "scrollbar",
                   0x85: "combobox"}


class FormatError(Exception):
    pass


class Reader:
    """Little-endian reads from a byte string with bounds checks."""

    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise FormatError(f"read of {n} bytes at {self.pos} runs past the end ({len(self.data)})")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def i16(self):
        return struct.unpack("<h", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def align(self, n):
        self.pos = (self.pos + n - 1) // n * n

    def wstr(self):
        """A NUL-terminated UTF-16 string."""
        units = []
        while True:
            u = self.u16()
            if u == 0:
                return struct.pack(f"<{len(units)}H", *units).decode("utf-16-le")
            units.append(u)

    def sz_or_ord(self):
        """The template form of a name: 0 for none, 0xFFFF then an ordinal, or a string."""
        first = struct.unpack("<H", self.data[self.pos:self.pos + 2])[0] if self.pos + 2 <= len(self.data) else None
        if first == 0:
            self.pos += 2
            return ""
        if first == 0xFFFF:
            self.pos += 2
            return self.u16()
        return self.wstr()


class PeFile:
    """Headers, sections and resources of one PE image."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise FormatError("no MZ signature")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise FormatError("no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic == PE32:
            self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
            directories = opt + 96
        elif self.magic == PE32_PLUS:
            self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
            directories = opt + 112
        else:
            raise FormatError(f"unknown optional header magic 0x{self.magic:X}")
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((self._section_name(name), va, max(vsize, rawsize), rawptr, rawsize))
        self.resources = self._read_resources()

    def _section_name(self, raw):
        """A name of up to 8 bytes, or a long one ("/N") from the COFF string table when there is one."""
        name = raw.rstrip(b"\0").decode("ascii", "replace")
        if name.startswith("/") and name[1:].isdigit() and self.symbol_table:
            start = self.symbol_table + 18 * self.symbols + int(name[1:])
            end = self.data.find(b"\0", start)
            if 0 <= start < end:
                return self.data[start:end].decode("ascii", "replace")
        return name

    def offset(self, rva):
        for _, va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise FormatError(f"RVA 0x{rva:X} lies in uninitialised data")
                return rawptr + rva - va
        raise FormatError(f"RVA 0x{rva:X} is in no section")

    def _read_resources(self):
        """{(type, name, language): bytes}; types and names are ints or strings."""
        rva, _ = self.directories[2]
        found = {}
        if not rva:
            return found
        base = self.offset(rva)

        def entries(dir_offset):
            named, ids = struct.unpack_from("<HH", self.data, base + dir_offset + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + dir_offset + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        for rtype, t in entries(0):
            for name, n in entries(t & 0x7FFFFFFF):
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise FormatError("resource tree deeper than three levels")
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    start = self.offset(data_rva)
                    found[(rtype, name, lang)] = self.data[start:start + size]
        return found

    def resource(self, rtype, name):
        """The one language version of a resource, as (language, bytes), or None."""
        hits = [(lang, data) for (t, n, lang), data in self.resources.items() if t == rtype and n == name]
        if len(hits) > 1:
            raise FormatError(f"resource {rtype}/{name} exists in {len(hits)} languages")
        return hits[0] if hits else None


def load(path):
    with open(path, "rb") as f:
        return PeFile(f.read())


def parse_dialog(data):
    """A DLGTEMPLATE or DLGTEMPLATEEX as a dict; controls as a list of dicts, in template order."""
    r = Reader(data)
    d = {}
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        r.take(4)
        d["extended"] = True
        d["help_id"], d["ex_style"], d["style"] = r.u32(), r.u32(), r.u32()
    else:
        d["extended"] = False
        d["style"], d["ex_style"] = r.u32(), r.u32()
    count = r.u16()
    d["x"], d["y"], d["cx"], d["cy"] = r.i16(), r.i16(), r.i16(), r.i16()
    d["menu"], d["class"], d["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.wstr()
    if d["style"] & 0x40:  # DS_SETFONT
        d["point_size"] = r.u16()
        if d["extended"]:
            d["weight"], d["italic"], d["charset"] = r.u16(), r.u8(), r.u8()
        d["font"] = r.wstr()
    d["controls"] = []
    for _ in range(count):
        r.align(4)
        c = {}
        if d["extended"]:
            c["help_id"], c["ex_style"], c["style"] = r.u32(), r.u32(), r.u32()
        else:
            c["style"], c["ex_style"] = r.u32(), r.u32()
        c["x"], c["y"], c["cx"], c["cy"] = r.i16(), r.i16(), r.i16(), r.i16()
        if d["extended"]:
            c["id"] = struct.unpack("<i", r.take(4))[0]
        else:
            c["id"] = r.i16()
        cls = r.sz_or_ord()
        c["class"] = CONTROL_CLASSES.get(cls, cls) if isinstance(cls, int) else cls
        c["class_is_ordinal"] = isinstance(cls, int)
        c["text"] = r.sz_or_ord()
        extra = r.u16()
        c["extra"] = r.take(extra) if extra else b""
        d["controls"].append(c)
    if r.pos < len(data) and any(data[r.pos:]):
        d["trailing"] = len(data) - r.pos
    return d


def parse_string_block(data):
    """The 16 strings of one string-table block."""
    r = Reader(data)
    out = []
    for _ in range(16):
        n = r.u16()
        out.append(r.take(2 * n).decode("utf-16-le"))
    return out


def parse_group_icon(data):
    """GRPICONDIR: list of dicts with width, height, colours, planes, bits, size, id."""
    r = Reader(data)
    reserved, kind, count = r.u16(), r.u16(), r.u16()
    if reserved != 0 or kind != 1:
        raise FormatError(f"not an icon group (reserved {reserved}, type {kind})")
    images = []
    for _ in range(count):
        w, h, colours, _res, planes, bits, size, ident = struct.unpack("<BBBBHHIH", r.take(14))
        images.append(dict(width=w or 256, height=h or 256, colours=colours, planes=planes, bits=bits, size=size,
                           id=ident))
    return images


def parse_bitmap_header(data):
    size, w, h, planes, bits, compression, image_size, _, _, used, important = struct.unpack_from(
        "<IiiHHIIiiII", data, 0)
    return dict(size=size, width=w, height=h, planes=planes, bits=bits, compression=compression,
                image_size=image_size, colours_used=used, colours_important=important)


def parse_riff(data):
    """A RIFF file as nested (fourcc, payload or list of children); LIST and RIFF nodes carry their form."""

    def walk(pos, end):
        nodes = []
        while pos < end:
            if pos + 8 > end:
                raise FormatError(f"chunk header at {pos} runs past its parent's end {end}")
            fourcc = data[pos:pos + 4].decode("latin-1")
            size = struct.unpack_from("<I", data, pos + 4)[0]
            body_end = pos + 8 + size
            if body_end > end:
                raise FormatError(f"chunk '{fourcc}' at {pos} of {size} bytes runs past its parent's end {end}")
            if fourcc in ("RIFF", "LIST"):
                form = data[pos + 8:pos + 12].decode("latin-1")
                nodes.append((fourcc + ":" + form, walk(pos + 12, body_end), pos))
            else:
                nodes.append((fourcc, data[pos + 8:body_end], pos))
            pos = body_end + (size & 1)
        return nodes

    return walk(0, len(data))


def decode_rle8(data, width, height):
    """Decodes one BI_RLE8 image into rows of palette indices, top row first; raises on any misstep."""
    rows = [[None] * width for _ in range(height)]
    x, y, pos = 0, height - 1, 0  # RLE8 starts with the bottom row

    def put(value):
        nonlocal x
        if x >= width or y < 0:
            raise FormatError(f"pixel outside the image at ({x}, {y})")
        rows[y][x] = value
        x += 1

    while True:
        if pos + 2 > len(data):
            raise FormatError("RLE8 data ends without an end-of-bitmap mark")
        count, value = data[pos], data[pos + 1]
        pos += 2
        if count:
            for _ in range(count):
                put(value)
        elif value == 0:
            x, y = 0, y - 1
        elif value == 1:
            break
        elif value == 2:
            x, y = x + data[pos], y - data[pos + 1]
            pos += 2
        else:
            for b in data[pos:pos + value]:
                put(b)
            pos += value + (value & 1)
    if pos != len(data):
        raise FormatError(f"{len(data) - pos} bytes after the end-of-bitmap mark")
    return rows


def parse_avi(data):
    """The facts of an AVI clip that the animation control relies on."""
    tree = parse_riff(data)
    if len(tree) != 1 or tree[0][0] != "RIFF:AVI ":
        raise FormatError("not a RIFF AVI file")

    def find(nodes, name):
        return [n for n in nodes if n[0] == name]

    top = tree[0][1]
    hdrl = find(top, "LIST:hdrl")[0][1]
    avih = find(hdrl, "avih")[0][1]
    fields = struct.unpack_from("<10I", avih, 0)
    info = dict(riff_size=len(data), micro_sec_per_frame=fields[0], flags=fields[3], total_frames=fields[4],
                streams=fields[6], width=fields[8], height=fields[9], streams_found=[])
    for _, strl, _ in find(hdrl, "LIST:strl"):
        strh = find(strl, "strh")[0][1]
        strf = find(strl, "strf")[0][1]
        stream = dict(type=strh[0:4].decode("latin-1"), handler=strh[4:8].decode("latin-1"))
        stream["scale"], stream["rate"], stream["start"], stream["length"] = struct.unpack_from("<IIII", strh, 20)
        if stream["type"] == "vids":
            bmih = parse_bitmap_header(strf)
            stream["format"] = bmih
            stream["palette"] = [tuple(strf[bmih["size"] + 4 * i + k] for k in (2, 1, 0))
                                 for i in range((len(strf) - bmih["size"]) // 4)]
        info["streams_found"].append(stream)
    movi_nodes = find(top, "LIST:movi")
    movi = movi_nodes[0]
    info["frames"] = [payload for name, payload, _ in movi[1] if name.endswith("dc") or name.endswith("db")]
    info["other_movi_chunks"] = [name for name, _, _ in movi[1] if not (name.endswith("dc") or name.endswith("db"))]
    index = find(top, "idx1")
    info["index"] = None
    if index:
        raw = index[0][1]
        info["index"] = [struct.unpack_from("<4sIII", raw, i) for i in range(0, len(raw), 16)]
        # Check each entry points at the chunk it names, counting from the 'movi' fourcc.
        movi_fourcc = movi[2] + 8
        info["index_ok"] = all(
            data[movi_fourcc + off:movi_fourcc + off + 4] == ckid and
            struct.unpack_from("<I", data, movi_fourcc + off + 4)[0] == size
            for ckid, _, off, size in info["index"])
    return info


def parse_version(data):
    """VS_VERSIONINFO: the fixed part and the string and translation tables."""

    def node(pos):
        length, value_length, kind = struct.unpack_from("<HHH", data, pos)
        r = Reader(data, pos + 6)
        key = r.wstr()
        r.align(4)
        value_start = r.pos
        value_bytes = value_length * 2 if kind == 1 else value_length
        value = data[value_start:value_start + value_bytes]
        children = []
        child = (value_start + value_bytes + 3) // 4 * 4
        while child < pos + length:
            c = node(child)
            children.append(c)
            child = (child + c["length"] + 3) // 4 * 4
        return dict(key=key, kind=kind, value=value, children=children, length=length)

    root = node(0)
    if root["key"] != "VS_VERSION_INFO":
        raise FormatError(f"version resource key is {root['key']!r}")
    f = struct.unpack("<13I", root["value"])
    if f[0] != 0xFEEF04BD:
        raise FormatError("no VS_FIXEDFILEINFO signature")
    info = dict(file_version=(f[2] >> 16, f[2] & 0xFFFF, f[3] >> 16, f[3] & 0xFFFF),
                product_version=(f[4] >> 16, f[4] & 0xFFFF, f[5] >> 16, f[5] & 0xFFFF),
                flags_mask=f[6], flags=f[7], os=f[8], type=f[9], subtype=f[10], strings={}, translations=[])
    for block in root["children"]:
        if block["key"] == "StringFileInfo":
            for table in block["children"]:
                info["strings"][table["key"]] = {
                    s["key"]: s["value"].decode("utf-16-le").rstrip("\0") for s in table["children"]}
        elif block["key"] == "VarFileInfo":
            for var in block["children"]:
                if var["key"] == "Translation":
                    v = var["value"]
                    info["translations"] += [struct.unpack_from("<HH", v, i) for i in range(0, len(v), 4)]
    return info
