"""The resources of a Windows program file read from the file itself, as
stored: two dialog templates, a string, the icon's images, the manifest's
execution level and the version information, one item per line (the form of
expected/resources.txt)."""
import struct


def unpack(fmt, data, at):
    value = struct.unpack_from("<" + fmt, data, at)
    return value if len(value) > 1 else value[0]


def program_resources(path):
    """The resource section of a PE file: {(type, name): bytes}, the first
    language of each."""
    with open(path, "rb") as f:
        pe = f.read()
    head = unpack("I", pe, 0x3C) + 4
    sections, optional_size = unpack("H", pe, head + 2), unpack("H", pe, head + 16)
    optional, table = head + 20, head + 20 + optional_size
    # Data directory 2; its place follows the optional header's kind (PE32+ or PE32).
    base = unpack("I", pe, optional + (128 if unpack("H", pe, optional) == 0x20B else 112))

    def offset(rva):
        for s in range(table, table + 40 * sections, 40):
            size, start, _, raw = unpack("IIII", pe, s + 8)
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address %#x outside the sections" % rva)

    root = offset(base)

    def entries(at):
        count = unpack("H", pe, root + at + 12) + unpack("H", pe, root + at + 14)
        return [unpack("II", pe, root + at + 16 + 8 * i) for i in range(count)]

    found = {}
    for kind, kinds in entries(0):
        for name, names in entries(kinds & 0x7FFFFFFF):
            rva, size = unpack("II", pe, root + entries(names & 0x7FFFFFFF)[0][1])
            found[(kind, name)] = pe[offset(rva):offset(rva) + size]
    return found


class Reader:
    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, fmt):
        value = unpack(fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return value

    def text(self):
        end = self.at
        while unpack("H", self.data, end):
            end += 2
        value, self.at = self.data[self.at:end].decode("utf-16-le"), end + 2
        return value

    def text_or_ordinal(self):
        if unpack("H", self.data, self.at) == 0xFFFF:
            return "#%d" % self.take("HH")[1]
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


CLASSES = {"#%d" % (0x80 + i): name for i, name in
           enumerate(("Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"))}


def dialog_lines(number, data):
    """A dialog template (DLGTEMPLATEEX): the dialog, then each item."""
    r = Reader(data, 8)
    ex_style, style, items, x, y, w, h = r.take("IIHhhhh")
    r.text_or_ordinal(), r.text_or_ordinal()  # menu, class
    title, points, font = r.text(), 0, ""
    if style & 0x40:  # DS_SETFONT
        points, font = r.take("HHBB")[0], r.text()
    lines = ['dialog %d style=0x%08X exstyle=0x%08X x=%d y=%d w=%d h=%d title="%s" font=%d "%s"'
             % (number, style, ex_style, x, y, w, h, title, points, font)]
    for _ in range(items):
        r.align()
        item_style, ix, iy, iw, ih, item_id = r.take("8xIhhhhi")
        cls, text = r.text_or_ordinal(), r.text_or_ordinal()
        r.at += 2 + unpack("H", data, r.at)  # creation data
        lines.append('  item id=%d class=%s style=0x%08X x=%d y=%d w=%d h=%d text="%s"'
                     % (item_id, CLASSES.get(cls, cls), item_style, ix, iy, iw, ih, text))
    return lines


def version_blocks(data, at, end):
    """The VS_VERSIONINFO blocks from at to end: {key: (value, children)}."""
    blocks = {}
    while at < end:
        r = Reader(data, at)
        length, value_length, is_text = r.take("HHH")
        key = r.text()
        r.align()
        value = data[r.at:r.at + value_length * (2 if is_text else 1)]
        r.at += len(value)
        r.align()
        blocks[key] = (value.decode("utf-16-le").rstrip("\0") if is_text else value,
                       version_blocks(data, r.at, at + length))
        at = (at + length + 3) & ~3
    return blocks


def resources_lines(path):
    """Dialogs 102 and 100, string 101, icon 128, the manifest and the version."""
    res = program_resources(path)
    lines = dialog_lines(102, res[(5, 102)]) + dialog_lines(100, res[(5, 100)])
    strings, at = res[(6, 101 // 16 + 1)], 0  # sixteen counted strings a block
    for _ in range(101 % 16):
        at += 2 + 2 * unpack("H", strings, at)
    lines.append('string 101="%s"' % strings[at + 2:at + 2 + 2 * unpack("H", strings, at)].decode("utf-16-le"))
    icons = res[(14, 128)]
    count = unpack("H", icons, 4)
    lines.append("icon 128 images=%d" % count + "".join(
        " %dx%d" % (icons[6 + 14 * i] or 256, icons[7 + 14 * i] or 256) for i in range(count)))
    manifest = res[(24, 1)].decode("utf-8", "replace")
    lines.append("manifest level=" + manifest.split('requestedExecutionLevel level="')[1].split('"')[0])
    info = res[(16, 1)]
    fixed, blocks = next(iter(version_blocks(info, 0, unpack("H", info, 0)).values()))
    versions = [part for v in unpack("IIII", fixed, 8) for part in (v >> 16, v & 0xFFFF)]
    lines.append("version file=%d.%d.%d.%d product=%d.%d.%d.%d" % tuple(versions))
    table = "%04X%04X" % unpack("HH", blocks["VarFileInfo"][1]["Translation"][0], 0)
    lines.append("translation " + table)
    strings = blocks["StringFileInfo"][1][table][1]
    lines += ['%s="%s"' % (name, strings[name][0]) for name in
              ("FileDescription", "FileVersion", "InternalName", "ProductName", "ProductVersion") if name in strings]
    return lines
