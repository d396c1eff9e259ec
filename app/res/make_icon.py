#!/usr/bin/env python3
"""Draws the application icon: a white "Z" on a blue disc, as a 32x32 and a 16x16 image with
16 colours (4 bits per pixel), and writes them as one icon file (image ids 1 and 2)."""
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLUE, DARK_BLUE, WHITE, YELLOW = 12, 4, 15, 11


def draw(size):
    """Returns rows top-down of (colour index, transparent) pairs."""
    c = (size - 1) / 2.0
    r = size / 2.0
    stroke = max(2, size // 8)
    margin = size // 4
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d2 = (x - c) ** 2 + (y - c) ** 2
            if d2 > r * r:
                row.append((0, True))
                continue
            colour = DARK_BLUE if d2 > (r - max(1, size // 16)) ** 2 else BLUE
            lo, hi = margin, size - 1 - margin
            if lo <= x <= hi and lo <= y <= hi:
                top = y < lo + stroke
                bottom = y > hi - stroke
                # The diagonal runs from the top right to the bottom left.
                t = (y - lo) / float(hi - lo)
                diag_x = hi - t * (hi - lo)
                diagonal = abs(x - diag_x) < stroke * 0.75
                if top or bottom or diagonal:
                    colour = WHITE
            if size >= 32 and (x - (c + r * 0.45)) ** 2 + (y - (c - r * 0.55)) ** 2 < 4:
                colour = YELLOW
            row.append((colour, False))
        rows.append(row)
    return rows


def image(size):
    rows = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r_, 0) for (r_, g, b) in PALETTE)
    # Bitmap rows are stored bottom-up, each padded to 4 bytes.
    xor = b""
    for row in reversed(rows):
        line = bytearray()
        for i in range(0, size, 2):
            line.append((row[i][0] << 4) | row[i + 1][0])
        while len(line) % 4:
            line.append(0)
        xor += bytes(line)
    mask = b""
    for row in reversed(rows):
        bits = bytearray((size + 31) // 32 * 4)
        for x, (_, transparent) in enumerate(row):
            if transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + palette + xor + mask


def main(out):
    images = [image(32), image(16)]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip((32, 16), images):
        data += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "install.ico")
