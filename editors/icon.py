#!/usr/bin/env python3
"""Draws the VS Code extension's icon, vscode/images/icon.png (128 x 128): a dark page with three
numbered lines, the last one jumping back to the first. Only the standard library: the PNG is
written by hand. Run: python3 editors/icon.py"""
import pathlib
import struct
import zlib

SIZE = 128
BACK = (0x1E, 0x2A, 0x3A)
NUMBER = (0xF2, 0xB1, 0x34)
TEXT = (0xD8, 0xE1, 0xEA)
JUMP = (0x4F, 0xC3, 0xF7)


def inside_round(x, y, r=22):
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour(x, y):
    if not inside_round(x, y):
        return None
    for row, length in ((0, 54), (1, 40), (2, 30)):
        top = 28 + row * 30
        if top <= y < top + 14:
            if 18 <= x < 42:
                return NUMBER
            if 50 <= x < 50 + length:
                return TEXT
    # The jump: from the end of the last line up the right side and back to the first.
    if 86 <= y <= 92 and 84 <= x <= 110:
        return JUMP
    if 105 <= x <= 111 and 32 <= y <= 92:
        return JUMP
    if 30 <= y <= 36 and 80 <= x <= 111:
        return JUMP
    if 76 <= x < 84 and abs(y - 33) <= (84 - x):
        return JUMP
    return BACK


def png(pixels):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


rows = [[(*c, 255) if (c := colour(x, y)) else (0, 0, 0, 0) for x in range(SIZE)] for y in range(SIZE)]
out = pathlib.Path(__file__).parent / "vscode" / "images" / "icon.png"
out.write_bytes(png(rows))
print(out)
