#!/usr/bin/env python3
"""Writes korva.ico (the Korva mark, 32 x 32 and 16 x 16, 32-bit) and blank.cur (a fully
transparent 32 x 32 cursor) beside this script. Run it again after changing the drawing."""
import os, struct, sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', 'packaging'))
import korva_mark  # noqa: E402


def mark(size):
    """The Korva mark (one drawing for every place it appears) as rows top-down, BGRA."""
    return [[(b, g, r, a) for (r, g, b, a) in row] for row in korva_mark.mark(size)]


def icon_image(size):
    pixels = mark(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes(p) for row in reversed(pixels) for p in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b''
    for row in reversed(pixels):
        bits = bytearray(mask_row)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bytes(bits)
    return header + xor + and_mask


def write_icon(path):
    sizes = [32, 16]
    images = [icon_image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    open(path, 'wb').write(out)


def write_blank_cursor(path):
    size = 32
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = b'\0\0\0\0' + b'\xff\xff\xff\0'
    xor = bytes(size * 4)          # nothing drawn
    and_mask = b'\xff' * (size * 4)  # the screen shows through everywhere
    img = header + palette + xor + and_mask
    out = struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', size, size, 2, 0, 0, 0, len(img), 22)
    open(path, 'wb').write(out + img)


write_icon(os.path.join(HERE, 'korva.ico'))
write_blank_cursor(os.path.join(HERE, 'blank.cur'))
