#!/usr/bin/env python3
"""Checks the development setup package as built: the fifteen files in the payload directory.

    check_dev_package.py <payload dir>

Prints one line per failed expectation; exit code 0 when all hold.
"""

import os
import re
import struct
import sys
import unicodedata

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe import PeImage  # noqa: E402

failures = []


def expect(held, what):
    if not held:
        failures.append(what)
    return held


# --- the settings files, byte for byte --------------------------------------------------------

TEXT_FILES = {
    "data.tag": (b"[TagInfo]\r\nCompany=Zarpo Games Studios\r\nApplication=Zarpo OGL\r\n"
                 b"Version=1.00.000\r\nCategory=Games\r\nMisc=OpenGL Application\r\n", 122),
    "setup.ini": (b"[Startup]\r\nAppName=Zarpo OGL\r\nFreeDiskSpace=452\r\nEnableLangDlg=Y\r\n", 66),
    "setup.lid": (b"[Languages]\r\nkey0=0009\r\nDefault=0009\r\ncount=1\r\n\r\n", 49),
    "os.dat": (b"[Info]\r\nName=PLATFORM\r\nVersion=1.00.000\r\n\r\n[0x0009]\r\n"
               b"OS Independent=0x0000000000000000\r\n"
               b"Windows 3.1 & 3.11=0x0000000000000001\r\n"
               b"Windows 95=0x0000000000000010\r\n"
               b"Windows NT 3.51 (Intel)=0x0000000000001000\r\n"
               b"Windows NT 3.51 (Alpha)=0x0000000000002000\r\n"
               b"Windows NT 3.51 (MIPS)=0x0000000000004000\r\n"
               b"Windows NT 4.0 (Intel)=0x0000000000010000\r\n"
               b"Windows NT 4.0 (Alpha)=0x0000000000020000\r\n"
               b"Windows NT 4.0 (MIPS)=0x0000000000040000\r\n", 417),
}

# --- lang.dat ---------------------------------------------------------------------------------

# Language id, ANSI code page, and the script its texts are written in.
LANGUAGES = [
    (0x0409, "cp1252", "LATIN"), (0x0407, "cp1252", "LATIN"), (0x040c, "cp1252", "LATIN"),
    (0x0410, "cp1252", "LATIN"), (0x040a, "cp1252", "LATIN"), (0x041d, "cp1252", "LATIN"),
    (0x0416, "cp1252", "LATIN"), (0x0c0c, "cp1252", "LATIN"), (0x042d, "cp1252", "LATIN"),
    (0x0403, "cp1252", "LATIN"), (0x0405, "cp1250", "LATIN"), (0x0406, "cp1252", "LATIN"),
    (0x0413, "cp1252", "LATIN"), (0x040b, "cp1252", "LATIN"), (0x0408, "cp1253", "GREEK"),
    (0x040e, "cp1250", "LATIN"), (0x0414, "cp1252", "LATIN"), (0x0415, "cp1250", "LATIN"),
    (0x0816, "cp1252", "LATIN"), (0x0424, "cp1250", "LATIN"), (0x041b, "cp1250", "LATIN"),
    (0x0411, "cp932", "CJK|HIRAGANA|KATAKANA"), (0x0419, "cp1251", "CYRILLIC"),
    (0x0804, "cp936", "CJK"), (0x0404, "cp950", "CJK"), (0x041f, "cp1254", "LATIN"),
    (0x0401, "cp1256", "ARABIC"), (0x041e, "cp874", "THAI"), (0x042a, "cp1258", "LATIN"),
    (0x0412, "cp949", "HANGUL"), (0x040d, "cp1255", "HEBREW"), (0x0421, "cp1252", "LATIN"),
]
# Words that only a right encoding gives back (a wrong code page decodes to other letters).
TELLTALES = {0x0804: "语言", 0x0404: "語言", 0x0411: "言語", 0x0412: "언어", 0x0419: "язык",
             0x0408: "γλώσσα", 0x042a: "ngôn ngữ", 0x041f: "Dilini", 0x0405: "jazyk",
             0x0415: "język", 0x040e: "nyelv", 0x0401: "لغة", 0x040d: "שפת", 0x041e: "ภาษา"}
ENGLISH = [b"TITLE=Choose Setup Language",
           b"DESCRIPTION=Select the language for this installation from the choices below.",
           b"OK=OK", b"Cancel=Cancel"]


def check_lang_dat(data):
    expect(not data.endswith(b"\r\n"), "lang.dat to end without a line end after its last line")
    expect(b"\n" not in data.replace(b"\r\n", b"") and b"\r" not in data.replace(b"\r\n", b""),
           "lang.dat to use CR LF line ends only")
    lines = data.split(b"\r\n")
    expect(lines[:3] == [b"[Info]", b"Name=INTL", b"Version=1.00.000"],
           "lang.dat to begin with [Info], Name=INTL, Version=1.00.000")
    rest = lines[3:]
    if not expect(rest[:1] != [b""], "no empty line between [Info] and the first language section"):
        while rest[:1] == [b""]:
            rest = rest[1:]
    # Language sections are separated by exactly one empty line: split there.
    sections = []
    block = []
    for line in rest:
        if line == b"":
            expect(block != [], f"a single empty line between sections (after {sections[-1][0] if sections else ''!r})")
            if block:
                sections.append(block)
            block = []
        else:
            block.append(line)
    if block:
        sections.append(block)
    for block in sections:
        expect(len(block) == 5, f"section {block[0]!r} of a header and four keys, separated from "
                                f"the next by an empty line; found {len(block)} lines")
    expect(len(sections) == 32, f"32 language sections in lang.dat, found {len(sections)}")
    for (lang, codepage, script), block in zip(LANGUAGES, sections):
        header = f"[0x{lang:04x}]".encode("ascii")
        if not expect(block[0] == header, f"section {header!r} in its place, found {block[0]!r}"):
            continue
        keys = [line.split(b"=", 1)[0] for line in block[1:]]
        expect(keys == [b"TITLE", b"DESCRIPTION", b"OK", b"Cancel"],
               f"keys TITLE, DESCRIPTION, OK, Cancel in {header!r}, found {keys}")
        if lang == 0x0409:
            expect(block[1:] == ENGLISH, "the English texts word for word")
            continue
        try:
            text = unicodedata.normalize("NFC", b"\r\n".join(block[1:]).decode(codepage))
        except UnicodeDecodeError as e:
            failures.append(f"section {header!r} to be text in {codepage}: {e}")
            continue
        values = [line.split("=", 1)[1] for line in text.split("\r\n")]
        expect(all(v and v == v.strip() for v in values), f"non-empty values in {header!r}")
        expect(values[0] != "Choose Setup Language" and values[1] != ENGLISH[1][12:].decode(),
               f"translated TITLE and DESCRIPTION in {header!r}")
        letters = [c for c in values[0] + values[1] if c.isalpha()]
        wanted = script.split("|")
        expect(letters and all(any(w in unicodedata.name(c, "") for w in wanted) for c in letters),
               f"the texts of {header!r} in {script} letters")
        if lang in TELLTALES:
            expect(TELLTALES[lang] in text, f"{TELLTALES[lang]!r} in the texts of {header!r} ({codepage})")


# --- the bitmap -------------------------------------------------------------------------------

def check_bitmap(data):
    expect(len(data) == 76818, f"setup.bmp of 76818 bytes, found {len(data)}")
    magic, size, r1, r2, offset = struct.unpack_from("<2sIHHI", data, 0)
    (hsize, width, height, planes, bpp, compression, image_size,
     xppm, yppm, used, important) = struct.unpack_from("<IiiHHIIiiII", data, 14)
    expect(magic == b"BM", "setup.bmp to start with BM")
    expect(size == len(data), f"the bitmap's file size field {size} to be its length")
    expect((r1, r2) == (0, 0), "reserved fields 0")
    expect(offset == 118, f"pixel data at offset 118, found {offset}")
    expect(hsize == 40, f"a 40-byte information header, found {hsize}")
    expect((width, height) == (465, 325), f"465 x 325 pixels, found {width} x {height}")
    expect(height > 0, "rows stored bottom-up (positive height)")
    expect(planes == 1 and bpp == 4, f"one plane, 4 bits per pixel, found {planes}, {bpp}")
    expect(compression == 0, f"no compression, found {compression}")
    expect(image_size in (0, 76700), f"image size 76700, found {image_size}")
    expect(used in (0, 16), f"a 16-colour palette, found {used} colours")
    expect(len(data) - offset == 76700, "76700 bytes of pixel data")
    expect(all(data[14 + 40 + 4 * i + 3] == 0 for i in range(16)), "palette entries with a zero fourth byte")
    stride = 236
    colours = set()
    for row in range(height):
        line = data[offset + row * stride:offset + (row + 1) * stride]
        expect(line[233:] == b"\0\0\0", f"row {row} padded with zeros")
        expect(line[232] & 0x0F == 0, f"row {row}: the unused last nibble zero")
        for b in line[:233]:
            colours.add(b >> 4)
            colours.add(b & 0x0F)
    expect(len(colours) >= 8, f"a picture, not a flat area: {len(colours)} colours used")


# --- the opaque files and the programs --------------------------------------------------------

CAB = bytes([0x49, 0x53, 0x63, 0x28, 0x04, 0x00, 0x00, 0x01])
OPAQUE = {
    "_sys1.cab": (187876, CAB), "_user1.cab": (48129, CAB), "data1.cab": (609151, CAB),
    "layout.bin": (353, bytes([0x63, 0x07, 0x00, 0x10])),
    "setup.ins": (56453, bytes([0xB8, 0xC9, 0x0C, 0x00])),
    "_setup.dll": (11264, b"MZ"),
}
COMPANIONS = [b"_SETUP.DLL", b"_INST32I.EX_", b"_ISDEL.EXE", b"SETUP.INS", b"LAYOUT.BIN",
              b"SETUP.LID", b"LANG.DAT", b"setup.ini", b"setup.bmp"]


def plain_strings(data, least=4):
    return [m.group().decode("ascii") for m in re.finditer(rb"[\x20-\x7e]{%d,}" % least, data)]


def check_layout(data):
    names = ["_sys1.cab", "setup.bmp", "_user1.cab", "data1.cab"]
    found = plain_strings(data)
    expect(found == names, f"layout.bin's only plain strings to be {names}, found {found}")
    first = data.find(names[0].encode())
    expect(first >= len(data) - 64, f"the names near the end of layout.bin (from {first} of {len(data)})")


def check_setup_dll(data):
    ne = struct.unpack_from("<I", data, 0x3C)[0]
    expect(ne == 0x80, f"_setup.dll's new header at 0x80, found {ne:#x}")
    expect(data[ne:ne + 2] == b"NE", "an NE header in _setup.dll")
    flags = struct.unpack_from("<H", data, ne + 0x0C)[0]
    expect(flags & 0x8000, "_setup.dll flagged as a library")
    expect(data[ne + 0x36] == 2, "_setup.dll for Windows")
    expect(struct.unpack_from("<H", data, ne + 0x3E)[0] == 0x0300, "_setup.dll expecting Windows 3.00")
    resident = ne + struct.unpack_from("<H", data, ne + 0x26)[0]
    length = data[resident]
    expect(data[resident + 1:resident + 1 + length] == b"_SETUP", "module name _SETUP")


def check_programs(files):
    for name in ("setup.exe", "_isdel.exe"):
        try:
            image = PeImage(files[name])
        except ValueError as e:
            failures.append(f"{name} to be a Win32 program: {e}")
            continue
        expect(image.machine == 0x14C and image.subsystem == 2,
               f"{name} to be a 32-bit x86 GUI program (machine {image.machine:#x}, subsystem {image.subsystem})")
    setup = files["setup.exe"]
    for name in COMPANIONS:
        expect(name in setup, f"setup.exe to name its companion {name.decode()}")

    archive = files["_inst32i.ex_"]
    expect(archive[:8] == bytes([0x2A, 0xAB, 0x79, 0xD8, 0x00, 0x01, 0x00, 0x00]),
           "_inst32i.ex_ to start with 2A AB 79 D8 00 01 00 00")
    banner_end = archive.find(b"\r\nMEMBERS ")
    expect(banner_end > 8 and all(0x20 <= b < 0x7F or b in (13, 10) for b in archive[8:banner_end]),
           "a plain-text banner after the signature")
    table = re.match(rb"MEMBERS (\d+)\r\n((?:\S+ \d{10} \d{10}\r\n)*)END\r\n", archive[banner_end + 2:])
    if not expect(table is not None, "a member table in _inst32i.ex_"):
        return
    rows = [r.split(b" ") for r in table.group(2).split(b"\r\n") if r]
    expect(int(table.group(1)) == len(rows) == 1, "one member")
    name, offset, size = rows[0][0], int(rows[0][1]), int(rows[0][2])
    expect(name == b"_INS5176._MP", f"the engine listed as _INS5176._MP, found {name!r}")
    expect(offset == banner_end + 2 + table.end() and offset + size == len(archive),
           "the member stored right after the table, up to the end")
    try:
        engine = PeImage(archive[offset:offset + size])
        expect(engine.subsystem == 2, "the engine to be a GUI program")
    except ValueError as e:
        failures.append(f"the engine member to be a Win32 program: {e}")


def main():
    payload = sys.argv[1]
    names = sorted(os.listdir(payload))
    files = {}
    for n in names:
        with open(os.path.join(payload, n), "rb") as f:
            files[n] = f.read()
    expected = sorted(["_inst32i.ex_", "_isdel.exe", "_setup.dll", "_sys1.cab", "_user1.cab",
                       "data.tag", "data1.cab", "lang.dat", "layout.bin", "os.dat", "setup.bmp",
                       "setup.exe", "setup.ini", "setup.ins", "setup.lid"])
    if not expect(names == expected, f"exactly the fifteen payload files in {payload}, found {names}"):
        for f in failures:
            print("FAILED: expected " + f)
        return 1

    for name, (content, size) in TEXT_FILES.items():
        expect(len(files[name]) == size, f"{name} of {size} bytes, found {len(files[name])}")
        expect(files[name] == content, f"{name} to read {content!r}, found {files[name]!r}")
    for name, (size, lead) in OPAQUE.items():
        expect(len(files[name]) == size, f"{name} of {size} bytes, found {len(files[name])}")
        expect(files[name].startswith(lead), f"{name} to start with {lead.hex(' ')}")
    check_lang_dat(files["lang.dat"])
    check_bitmap(files["setup.bmp"])
    check_layout(files["layout.bin"])
    check_setup_dll(files["_setup.dll"])
    check_programs(files)
    for name, data in files.items():
        for word in ("data.tag", "os.dat"):
            for form in (word.encode(), word.upper().encode(), word.encode("utf-16-le"),
                         word.upper().encode("utf-16-le")):
                expect(form not in data, f"no plain string {form!r} in {name}")

    for f in failures:
        print("FAILED: expected " + f)
    if not failures:
        print(f"development package in {payload}: "
              + ", ".join(f"{n} {len(files[n])}" for n in ("lang.dat", "_inst32i.ex_", "setup.exe", "_isdel.exe"))
              + f", {sum(len(d) for d in files.values())} bytes in all")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
