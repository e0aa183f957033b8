#!/usr/bin/env python3
"""Writes the agent's icons (a cart with three drawers on two wheels) as 16x16 and 32x32
32-bit .ico files beside this script. Run it again after changing a colour; the .ico files
are committed so that a build needs no Python."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# name: (body colour, outline/detail colour, mark) where mark is None, 'check' or 'cross'
ICONS = {
    "AgentApp.ico": ((0x2F, 0x6F, 0xC8), (0x12, 0x2A, 0x55), None),
    "AgentConnectedDark.ico": ((0x7C, 0xE0, 0x8A), (0xE8, 0xFF, 0xEC), "check"),
    "AgentDisconnectedDark.ico": ((0xB8, 0xB8, 0xB8), (0xFF, 0x70, 0x70), "cross"),
    "AgentConnectedLight.ico": ((0x1E, 0x8C, 0x3A), (0x0B, 0x3D, 0x18), "check"),
    "AgentDisconnectedLight.ico": ((0x5A, 0x5A, 0x5A), (0xC0, 0x1C, 0x1C), "cross"),
}


def draw(size, body, detail, mark):
    """Pixels (r, g, b, a) of the glyph, rows top to bottom."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    s = size / 16.0

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour + (255,)

    fill(2, 1, 14, 12, detail)          # cart outline
    fill(3, 2, 13, 11, body)            # cart body
    for top in (4, 7):                  # drawer gaps
        fill(3, top, 13, top + 0.75 if size > 16 else top + 1, detail)
    fill(7, 3, 9, 3.75 if size > 16 else 4, detail)   # handles
    fill(3, 13, 6, 16, detail)          # wheels
    fill(10, 13, 13, 16, detail)
    if mark == "check":
        for i in range(4):
            fill(9 + i, 8 - i, 10 + i, 9 - i, detail)
        fill(7, 6, 8, 7, detail)
        fill(8, 7, 9, 8, detail)
    elif mark == "cross":
        for i in range(5):
            fill(8 + i, 4 + i, 9 + i, 5 + i, detail)
            fill(12 - i, 4 + i, 13 - i, 5 + i, detail)
    return px


def image(size, pixels):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b"".join(bytes(b for (r, g, bl, a) in row for b in (bl, g, r, a)) for row in reversed(pixels))
    mask_row = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(pixels):
        bits = 0
        data = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                data[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(data)
    return header + rows + mask


def write(name, body, detail, mark):
    images = [image(n, draw(n, body, detail, mark)) for n in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    for name, (body, detail, mark) in ICONS.items():
        write(name, body, detail, mark)
