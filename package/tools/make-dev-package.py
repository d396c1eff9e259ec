#!/usr/bin/env python3
"""Writes the data files of the development setup package into package/dev/.

The real package is the output of a commercial setup tool and is not ours to ship. The
development package stands in for it: the settings files as the package needs them, a
picture of our own, and opaque files (cabinets, layout, compiled script, resource library)
of the right names, sizes and leading bytes. Their filler comes from SHA-256 in counter mode,
so every run writes the same bytes on any machine and any Python 3.

The three programs of the package (setup.exe, _isdel.exe and the engine inside _inst32i.ex_)
are built from package/standin/; this script writes only the fixed head of _inst32i.ex_
(signature and banner), to which the build appends the member table and the engine.

    python3 package/tools/make-dev-package.py            # rewrites package/dev/
    python3 package/tools/make-dev-package.py --out DIR  # writes into DIR instead
"""

import argparse
import hashlib
import os
import struct
import sys
import unicodedata

MAKER = "Zarpo Games Studios"
CRLF = "\r\n"


# --- helpers ----------------------------------------------------------------------------------

def filler(label, size):
    """size reproducible pseudo-random bytes, different for each label."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"zarpo-dev-package:{label}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def opaque(label, size):
    """Filler without plain strings: no run of four printable ASCII bytes."""
    data = bytearray(filler(label, size))
    run = 0
    for i, b in enumerate(data):
        if 0x20 <= b < 0x7F:
            run += 1
            if run == 4:
                data[i] = b | 0x80
                run = 0
        else:
            run = 0
    return bytes(data)


def ini(sections, blank_between=True, final_line_end=True):
    """INI text: [(name, [(key, value), ...]), ...], CR LF line ends, no spaces around '='."""
    blocks = []
    for name, entries in sections:
        blocks.append(CRLF.join([f"[{name}]"] + [f"{k}={v}" for k, v in entries]))
    text = (CRLF + CRLF if blank_between else CRLF).join(blocks)
    return text + CRLF if final_line_end else text


# --- settings files ---------------------------------------------------------------------------

def data_tag():
    return ini([("TagInfo", [("Company", MAKER),
                             ("Application", "Zarpo OGL"),
                             ("Version", "1.00.000"),
                             ("Category", "Games"),
                             ("Misc", "OpenGL Application")])]).encode("ascii")


def setup_ini():
    return ini([("Startup", [("AppName", "Zarpo OGL"),
                             ("FreeDiskSpace", "452"),
                             ("EnableLangDlg", "Y")])]).encode("ascii")


def setup_lid():
    # One setup language, English; the file ends with an empty line.
    return (ini([("Languages", [("key0", "0009"), ("Default", "0009"), ("count", "1")])])
            + CRLF).encode("ascii")


def os_dat():
    masks = [("OS Independent", 0x0), ("Windows 3.1 & 3.11", 0x1), ("Windows 95", 0x10),
             ("Windows NT 3.51 (Intel)", 0x1000), ("Windows NT 3.51 (Alpha)", 0x2000),
             ("Windows NT 3.51 (MIPS)", 0x4000), ("Windows NT 4.0 (Intel)", 0x10000),
             ("Windows NT 4.0 (Alpha)", 0x20000), ("Windows NT 4.0 (MIPS)", 0x40000)]
    return ini([("Info", [("Name", "PLATFORM"), ("Version", "1.00.000")]),
                ("0x0009", [(k, f"0x{v:016X}") for k, v in masks])]).encode("ascii")


# Language id, ANSI code page, TITLE, DESCRIPTION, OK, Cancel.
LANGUAGES = [
    (0x0409, "cp1252", "Choose Setup Language",
     "Select the language for this installation from the choices below.", "OK", "Cancel"),
    (0x0407, "cp1252", "Setup-Sprache auswählen",
     "Wählen Sie aus den folgenden Möglichkeiten die Sprache für diese Installation aus.",
     "OK", "Abbrechen"),
    (0x040c, "cp1252", "Choisissez la langue d'installation",
     "Sélectionnez la langue de cette installation parmi les choix ci-dessous.", "OK", "Annuler"),
    (0x0410, "cp1252", "Scelta della lingua di installazione",
     "Selezionare la lingua per questa installazione tra le opzioni riportate di seguito.",
     "OK", "Annulla"),
    (0x040a, "cp1252", "Elegir el idioma de instalación",
     "Seleccione el idioma para esta instalación entre las opciones siguientes.",
     "Aceptar", "Cancelar"),
    (0x041d, "cp1252", "Välj installationsspråk",
     "Välj språk för den här installationen bland alternativen nedan.", "OK", "Avbryt"),
    (0x0416, "cp1252", "Escolha o idioma da instalação",
     "Selecione o idioma desta instalação entre as opções abaixo.", "OK", "Cancelar"),
    (0x0c0c, "cp1252", "Choisissez la langue d'installation",
     "Sélectionnez la langue de cette installation parmi les choix ci-dessous.", "OK", "Annuler"),
    (0x042d, "cp1252", "Aukeratu instalazioaren hizkuntza",
     "Hautatu instalazio honen hizkuntza beheko aukeren artean.", "Ados", "Utzi"),
    (0x0403, "cp1252", "Trieu l'idioma de la instal·lació",
     "Seleccioneu l'idioma d'aquesta instal·lació entre les opcions següents.",
     "D'acord", "Cancel·la"),
    (0x0405, "cp1250", "Výběr jazyka instalace",
     "Vyberte jazyk pro tuto instalaci z níže uvedených možností.", "OK", "Storno"),
    (0x0406, "cp1252", "Vælg installationssprog",
     "Vælg sproget til denne installation blandt valgmulighederne nedenfor.", "OK", "Annuller"),
    (0x0413, "cp1252", "Installatietaal kiezen",
     "Selecteer de taal voor deze installatie uit de onderstaande keuzes.", "OK", "Annuleren"),
    (0x040b, "cp1252", "Valitse asennuksen kieli",
     "Valitse tämän asennuksen kieli alla olevista vaihtoehdoista.", "OK", "Peruuta"),
    (0x0408, "cp1253", "Επιλογή γλώσσας εγκατάστασης",
     "Επιλέξτε τη γλώσσα αυτής της εγκατάστασης από τις παρακάτω επιλογές.", "OK", "Άκυρο"),
    (0x040e, "cp1250", "A telepítés nyelvének kiválasztása",
     "Válassza ki a telepítés nyelvét az alábbi lehetőségek közül.", "OK", "Mégse"),
    (0x0414, "cp1252", "Velg installasjonsspråk",
     "Velg språket for denne installasjonen fra alternativene nedenfor.", "OK", "Avbryt"),
    (0x0415, "cp1250", "Wybierz język instalacji",
     "Wybierz język tej instalacji spośród poniższych możliwości.", "OK", "Anuluj"),
    (0x0816, "cp1252", "Escolha o idioma da instalação",
     "Seleccione o idioma desta instalação a partir das opções abaixo.", "OK", "Cancelar"),
    (0x0424, "cp1250", "Izberite jezik namestitve",
     "Med spodnjimi možnostmi izberite jezik za to namestitev.", "V redu", "Prekliči"),
    (0x041b, "cp1250", "Výber jazyka inštalácie",
     "Z nasledujúcich možností vyberte jazyk tejto inštalácie.", "OK", "Zrušiť"),
    (0x0411, "cp932", "セットアップ言語の選択",
     "以下の選択肢から、このインストールで使用する言語を選択してください。", "OK", "キャンセル"),
    (0x0419, "cp1251", "Выбор языка установки",
     "Выберите язык для этой установки из приведенных ниже вариантов.", "OK", "Отмена"),
    (0x0804, "cp936", "选择安装语言",
     "请从下列选项中选择此安装所用的语言。", "确定", "取消"),
    (0x0404, "cp950", "選擇安裝語言",
     "請從下列選項中選擇此安裝所用的語言。", "確定", "取消"),
    (0x041f, "cp1254", "Kurulum Dilini Seçin",
     "Aşağıdaki seçeneklerden bu kurulumun dilini seçin.", "Tamam", "İptal"),
    (0x0401, "cp1256", "اختيار لغة الإعداد",
     "حدد لغة هذا التثبيت من الخيارات أدناه.", "موافق", "إلغاء الأمر"),
    (0x041e, "cp874", "เลือกภาษาสำหรับการติดตั้ง",
     "เลือกภาษาสำหรับการติดตั้งนี้จากตัวเลือกด้านล่าง", "ตกลง", "ยกเลิก"),
    (0x042a, "cp1258", "Chọn ngôn ngữ cài đặt",
     "Hãy chọn ngôn ngữ cho bản cài đặt này từ các lựa chọn dưới đây.", "OK", "Hủy bỏ"),
    (0x0412, "cp949", "설치 언어 선택",
     "아래 목록에서 이 설치에 사용할 언어를 선택하십시오.", "확인", "취소"),
    (0x040d, "cp1255", "בחירת שפת ההתקנה",
     "בחר את השפה עבור התקנה זו מתוך האפשרויות שלהלן.", "אישור", "ביטול"),
    (0x0421, "cp1252", "Pilih Bahasa Penyiapan",
     "Pilih bahasa untuk instalasi ini dari pilihan di bawah.", "OK", "Batal"),
]


def encode_ansi(text, codepage):
    """text in a Windows ANSI code page. cp1258 has few precomposed Vietnamese letters: a
    letter it lacks is written as its base letter (with circumflex, breve or horn where the
    code page has that) followed by the tone mark, as Windows itself writes Vietnamese."""
    if codepage != "cp1258":
        return text.encode(codepage)
    out = bytearray()
    for ch in unicodedata.normalize("NFC", text):
        try:
            out += ch.encode(codepage)
            continue
        except UnicodeEncodeError:
            pass
        base, *marks = unicodedata.normalize("NFD", ch)
        for m in marks:
            composed = unicodedata.normalize("NFC", base + m)
            rest = [x for x in marks if x != m]
            try:
                head = composed.encode(codepage)
                tail = b"".join(x.encode(codepage) for x in rest)
            except UnicodeEncodeError:
                continue
            out += head + tail
            break
        else:
            out += (base + "".join(marks)).encode(codepage)
    return bytes(out)


def lang_dat():
    lines = ["[Info]", "Name=INTL", "Version=1.00.000"]
    out = CRLF.join(lines).encode("ascii") + CRLF.encode("ascii")
    sections = []
    for lang_id, cp, title, desc, ok, cancel in LANGUAGES:
        body = CRLF.join([f"[0x{lang_id:04x}]", f"TITLE={title}", f"DESCRIPTION={desc}",
                          f"OK={ok}", f"Cancel={cancel}"])
        sections.append(encode_ansi(body, cp))
    return out + (CRLF + CRLF).encode("ascii").join(sections)


# --- opaque files -----------------------------------------------------------------------------

CAB_SIGNATURE = bytes([0x49, 0x53, 0x63, 0x28, 0x04, 0x00, 0x00, 0x01])


def cabinet(label, size):
    return CAB_SIGNATURE + filler(label, size - len(CAB_SIGNATURE))


def layout_bin():
    size = 353
    tail = b""
    for name in ("_sys1.cab", "setup.bmp", "_user1.cab", "data1.cab"):
        tail += bytes([len(name)]) + name.encode("ascii") + b"\0"
    tail += b"\0\0\0\0"
    head = bytes([0x63, 0x07, 0x00, 0x10])
    body = opaque("layout.bin", size - len(head) - len(tail))
    return head + body + tail


def setup_ins():
    head = bytes([0xB8, 0xC9, 0x0C, 0x00])
    return head + filler("setup.ins", 56453 - len(head))


def setup_dll():
    """A minimal 16-bit Windows library (NE) named _SETUP holding one string table of our own
    launcher messages. Nothing loads it; it only has to look the part."""
    size = 11264
    ne_at = 0x80

    mz = bytearray(0x40)
    struct.pack_into("<2sHHHHHHHHHHHHH", mz, 0, b"MZ", size % 512, (size + 511) // 512, 0, 4,
                     0, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0)
    struct.pack_into("<I", mz, 0x3C, ne_at)
    stub = bytes([0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C,
                  0xCD, 0x21]) + b"This program requires Microsoft Windows.\r\n$"
    image = bytearray(mz + stub)
    image += bytes(ne_at - len(image))

    # Tables after the 64-byte NE header, offsets relative to the header.
    strings = ["Setup is unable to find a hard disk location to store temporary files.",
               "Setup is unable to find its files in the package directory.",
               "Setup is unable to start the setup engine.",
               "Setup needs more free disk space to continue."]
    block = b""
    for i in range(16):
        s = strings[i].encode("ascii") if i < len(strings) else b""
        block += bytes([len(s)]) + s
    shift = 4
    res_table = struct.pack("<H", shift)
    res_table_len = 2 + 8 + 12 + 2 + 1
    tables_at = 0x40
    resident_at = tables_at + res_table_len
    resident = bytes([6]) + b"_SETUP" + struct.pack("<H", 0) + b"\0"
    modref_at = resident_at + len(resident)
    imported_at = modref_at
    imported = b"\0"
    entry_at = imported_at + len(imported)
    entry = b"\0"
    nonres_abs = ne_at + entry_at + len(entry)
    desc = f"{MAKER} setup resource library, development package".encode("ascii")
    nonresident = bytes([len(desc)]) + desc + struct.pack("<H", 0) + b"\0"
    data_abs = (nonres_abs + len(nonresident) + 15) & ~15
    res_table += struct.pack("<HHI", 0x8006, 1, 0)                       # RT_STRING, one entry
    res_table += struct.pack("<HHHHHH", data_abs >> shift, (len(block) + 15) >> shift,
                             0x1030, 0x8001, 0, 0)                       # block 1: ids 0..15
    res_table += struct.pack("<H", 0) + b"\0"
    assert len(res_table) == res_table_len

    header = bytearray(0x40)
    header[0:2] = b"NE"
    header[2], header[3] = 5, 10                                         # linker version
    struct.pack_into("<HH", header, 0x04, entry_at, len(entry))
    struct.pack_into("<H", header, 0x0C, 0x8000)                         # library
    struct.pack_into("<HHH", header, 0x1C, 0, 0, len(nonresident))
    struct.pack_into("<HHHHH", header, 0x22, tables_at, tables_at, resident_at, modref_at,
                     imported_at)
    struct.pack_into("<I", header, 0x2C, nonres_abs)
    struct.pack_into("<HHH", header, 0x30, 0, shift, 1)
    header[0x36] = 2                                                     # Windows
    struct.pack_into("<H", header, 0x3E, 0x0300)                         # expects 3.00

    image += header + res_table + resident + imported + entry + nonresident
    image += bytes(data_abs - len(image)) + block
    image += bytes(size - len(image))
    assert len(image) == size
    return bytes(image)


def archive_head():
    """Signature and banner of _inst32i.ex_; the build appends the member table and members."""
    banner = (f"{MAKER} setup archive, development package." + CRLF +
              "Members are stored, not compressed." + CRLF)
    return bytes([0x2A, 0xAB, 0x79, 0xD8, 0x00, 0x01, 0x00, 0x00]) + banner.encode("ascii")


# --- the picture ------------------------------------------------------------------------------

FONT = {  # 5 x 7 capitals
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01111", "10000", "10000", "10011", "10001", "10001", "01111"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "P": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "Z": ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    " ": ["00000"] * 7,
}

PALETTE = [
    (0, 0, 0),          # 0 black
    (6, 10, 36),        # 1..5 night blues, darkest first
    (10, 22, 64),
    (16, 36, 96),
    (24, 52, 132),
    (34, 72, 170),
    (255, 255, 255),    # 6 white
    (176, 190, 214),    # 7 pale grey-blue
    (226, 44, 38),      # 8 red
    (46, 196, 72),      # 9 green
    (48, 92, 236),      # 10 blue
    (244, 214, 64),     # 11 yellow
    (52, 204, 214),     # 12 cyan
    (206, 66, 196),     # 13 magenta
    (90, 120, 190),     # 14 grid blue
    (2, 4, 14),         # 15 shadow
]

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def picture(width=465, height=325):
    px = [[0] * width for _ in range(height)]          # top row first; flipped when written

    # Night-blue sky, lighter towards the horizon, in dithered steps.
    horizon = 205
    for y in range(height):
        t = min(y, horizon) / horizon * 4.0
        for x in range(width):
            level = int(t + BAYER4[y % 4][x % 4] / 16.0)
            px[y][x] = 1 + min(level, 4)

    # A floor grid in perspective below the horizon.
    vx, vy = width / 2, horizon - 70                    # vanishing point
    rows = {horizon + round(k * k * 1.5) for k in range(0, 20)}
    for y in range(horizon, height):
        for x in range(width):
            px[y][x] = 14 if y in rows else 1 + (y - horizon) * 2 // (height - horizon)
        for k in range(-14, 15):
            gx = vx + k * 48 * (y - vy) / (height - vy)
            if 0 <= gx < width:
                px[y][int(gx)] = 14

    # The classic first OpenGL picture: a triangle shaded red, green and blue at its corners,
    # error-diffused onto the palette's bright colours.
    a, b, c = (232, 92), (128, 262), (338, 262)
    bright = [6, 8, 9, 10, 11, 12, 13, 0]
    area = (b[0] - a[0]) * (c[1] - a[1]) - (c[0] - a[0]) * (b[1] - a[1])
    err = {}
    for y in range(a[1], c[1] + 1):
        for x in range(b[0], c[0] + 1):
            w0 = ((b[0] - x) * (c[1] - y) - (c[0] - x) * (b[1] - y)) / area
            w1 = ((c[0] - x) * (a[1] - y) - (a[0] - x) * (c[1] - y)) / area
            w2 = 1.0 - w0 - w1
            if min(w0, w1, w2) < 0:
                continue
            want = [255 * w0 + err.get((x, y), (0, 0, 0))[0],
                    255 * w1 + err.get((x, y), (0, 0, 0))[1],
                    255 * w2 + err.get((x, y), (0, 0, 0))[2]]
            best = min(bright, key=lambda i: sum((want[j] - PALETTE[i][j]) ** 2 for j in range(3)))
            px[y][x] = best
            e = [want[j] - PALETTE[best][j] for j in range(3)]
            for dx, dy, f in ((1, 0, 7 / 16), (-1, 1, 3 / 16), (0, 1, 5 / 16), (1, 1, 1 / 16)):
                old = err.get((x + dx, y + dy), (0, 0, 0))
                err[(x + dx, y + dy)] = tuple(old[j] + e[j] * f for j in range(3))

    def text(s, x0, y0, scale, colour, shadow=15):
        for dx, dy, col in ((2, 2, shadow), (0, 0, colour)):
            for n, ch in enumerate(s):
                glyph = FONT[ch]
                for gy, row in enumerate(glyph):
                    for gx, bit in enumerate(row):
                        if bit == "1":
                            for sy in range(scale):
                                for sx in range(scale):
                                    x = x0 + dx + (n * 6 + gx) * scale + sx
                                    y = y0 + dy + gy * scale + sy
                                    if 0 <= x < width and 0 <= y < height:
                                        px[y][x] = col

    def centred(s, y, scale, colour):
        text(s, (width - (len(s) * 6 - 1) * scale) // 2, y, scale, colour)

    centred("ZARPO OGL", 22, 6, 6)
    centred("TRIAL VERSION", 72, 2, 11)
    centred("DEVELOPMENT PACKAGE", 292, 2, 7)
    text("ZARPO GAMES STUDIOS", width - (19 * 6 - 1) - 8, height - 12, 1, 7)
    return px


def setup_bmp():
    width, height = 465, 325
    px = picture(width, height)
    stride = ((width * 4 + 31) // 32) * 4
    rows = bytearray()
    for y in reversed(range(height)):                   # bottom-up
        row = bytearray(stride)
        for x in range(width):
            row[x // 2] |= px[y][x] << (4 if x % 2 == 0 else 0)
        rows += row
    palette = b"".join(bytes([b, g, r, 0]) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
    head = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return head + info + palette + bytes(rows)


# --- main -------------------------------------------------------------------------------------

FILES = {
    "_setup.dll": setup_dll,
    "_sys1.cab": lambda: cabinet("_sys1.cab", 187876),
    "_user1.cab": lambda: cabinet("_user1.cab", 48129),
    "data.tag": data_tag,
    "data1.cab": lambda: cabinet("data1.cab", 609151),
    "lang.dat": lang_dat,
    "layout.bin": layout_bin,
    "os.dat": os_dat,
    "setup.bmp": setup_bmp,
    "setup.ini": setup_ini,
    "setup.ins": setup_ins,
    "setup.lid": setup_lid,
    "_inst32i.head": archive_head,
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(here, "..", "dev"))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name, make in FILES.items():
        data = make()
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
        print(f"{name:14} {len(data):8}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
