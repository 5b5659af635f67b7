#!/usr/bin/env python3
"""Writes the Linux icons into packaging/icons/hicolor/: the Korva mark as the program's icon
(korva) and on a sheet of paper as the icon of .krv movies (video-x-krv), PNGs of 16 to 256
pixels and scalable SVGs. Checks first that the mark is the Windows icon's, pixel for pixel.
Run it again after changing the drawing in korva_mark.py; --check only compares.

    packaging/make_icons.py [--check]"""
import os, struct, sys, zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import korva_mark  # noqa: E402

kSizes = (16, 22, 24, 32, 48, 64, 128, 256)
kIcons = (('apps', 'korva', korva_mark.mark, korva_mark.mark_svg),
          ('mimetypes', 'video-x-krv', korva_mark.page, korva_mark.page_svg))


def png(rows):
    h, w = len(rows), len(rows[0])
    raw = b''.join(b'\0' + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def windows_icon_images(path):
    """{size: rows of (r, g, b, a)} of the 32-bit images in a .ico file."""
    data = open(path, 'rb').read()
    out = {}
    _, _, count = struct.unpack_from('<HHH', data, 0)
    for i in range(count):
        w, h, _, _, _, bpp, length, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        size = w or 256
        if bpp != 32:
            continue
        pixels = data[offset + 40:offset + 40 + size * size * 4]
        rows = []
        for y in reversed(range(size)):  # bottom-up
            row = pixels[y * size * 4:(y + 1) * size * 4]
            rows.append([(row[x * 4 + 2], row[x * 4 + 1], row[x * 4], row[x * 4 + 3]) for x in range(size)])
        out[size] = rows
    return out


def main():
    check = sys.argv[1:] == ['--check']
    ico = os.path.join(HERE, '..', 'win32', 'korva.ico')
    if os.path.exists(ico):
        for size, rows in windows_icon_images(ico).items():
            if rows != korva_mark.mark(size):
                sys.exit('make_icons: the mark differs from win32/korva.ico at %d x %d' % (size, size))
    stale = []
    for context, name, draw, draw_svg in kIcons:
        files = [('%dx%d' % (s, s), name + '.png', lambda s=s: png(draw(s))) for s in kSizes]
        files.append(('scalable', name + '.svg', lambda: draw_svg().encode()))
        for size_dir, file_name, make in files:
            path = os.path.join(HERE, 'icons', 'hicolor', size_dir, context, file_name)
            data = make()
            old = open(path, 'rb').read() if os.path.exists(path) else None
            if old == data:
                continue
            stale.append(path)
            if not check:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                open(path, 'wb').write(data)
    if check and stale:
        sys.exit('make_icons: out of date (run packaging/make_icons.py): ' + ' '.join(stale))


main()
