"""The Korva mark, drawn once for every place it appears: a white K on an amber disc with a dark
ring. `mark` gives the pixels (the Windows icon's drawing, pixel for pixel), `mark_svg` the same
shapes as a scalable picture; `page` and `page_svg` put the mark on a sheet of paper, the icon
of a .krv movie in a file manager."""
import math

kRing = (0x50, 0x30, 0x20)
kDisc = (0xf0, 0x9c, 0x10)
kLetter = (0xff, 0xff, 0xff)
kPaper = (0xfa, 0xfa, 0xf7)
kPaperEdge = (0x88, 0x88, 0x88)
kFold = (0xd8, 0xd8, 0xd2)


def mark(size):
    """Rows top-down of (r, g, b, a)."""
    rows = []
    c = (size - 1) / 2.0
    r_out = size / 2.0 - 0.5
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - c, y - c)
            if d > r_out:
                row.append((0, 0, 0, 0))
                continue
            px = kRing if d > r_out - size / 16.0 else kDisc
            # The K: a stem and two arms, in units of the picture size.
            u, v = x / size, y / size
            stem = 0.30 <= u <= 0.42 and 0.22 <= v <= 0.78
            arm = abs((u - 0.42) - abs(v - 0.5) * 0.9) < 0.075 and 0.42 <= u <= 0.74 and 0.2 <= v <= 0.8
            if stem or arm:
                px = kLetter
            row.append(px + (255,))
        rows.append(row)
    return rows


def _hex(rgb):
    return '#%02x%02x%02x' % rgb


def _mark_shapes(s, ox=0.0, oy=0.0):
    """The mark's shapes in a square of side s at (ox, oy), as SVG elements."""
    def p(u, v):
        return '%.3f,%.3f' % (ox + u * s, oy + v * s)
    # The arms: the band 0.075 either side of u = 0.42 + 0.9 |v - 0.5|, cut to u 0.42..0.74 and
    # v 0.2..0.8 as `mark` cuts it.
    top, inner = 0.5 - 0.245 / 0.9, 0.5 - 0.075 / 0.9
    arms = ' '.join(p(u, v) for u, v in ((0.615, 0.2), (0.74, 0.2), (0.74, top), (0.495, 0.5), (0.74, 1 - top),
                                         (0.74, 0.8), (0.615, 0.8), (0.42, 1 - inner), (0.42, inner)))
    return (
        '<circle cx="%.3f" cy="%.3f" r="%.3f" fill="%s"/>\n' % (ox + s / 2, oy + s / 2, s / 2, _hex(kRing)) +
        '<circle cx="%.3f" cy="%.3f" r="%.3f" fill="%s"/>\n'
        % (ox + s / 2, oy + s / 2, s / 2 - s / 16, _hex(kDisc)) +
        '<rect x="%.3f" y="%.3f" width="%.3f" height="%.3f" fill="%s"/>\n'
        % (ox + 0.30 * s, oy + 0.22 * s, 0.12 * s, 0.56 * s, _hex(kLetter)) +
        '<polygon points="%s" fill="%s"/>\n' % (arms, _hex(kLetter)))


def _svg(body, size=256):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
            % (size, size, size, size) + body + '</svg>\n')


def mark_svg():
    return _svg(_mark_shapes(256.0))


# The sheet: x from 0.15 to 0.85, y from 0.04 to 0.96 of the icon, its top right corner folded.
kSheet = (0.15, 0.04, 0.85, 0.96)
kFoldSize = 0.22


def page(size):
    """The mark on a sheet of paper, rows top-down of (r, g, b, a)."""
    x0, y0, x1, y1 = (round(t * size) for t in kSheet)
    fold = max(2, round(kFoldSize * size))
    edge = max(1, size // 32)
    rows = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y in range(y0, y1):
        for x in range(x0, x1):
            dx, dy = x - (x1 - fold), y - y0  # inside the fold's square when dx >= 0 and dy < fold
            if dx >= 0 and dy < fold:
                if dx > dy:
                    continue  # cut away
                rows[y][x] = (kPaperEdge if dx > dy - edge or dx < edge else kFold) + (255,)
                continue
            on_edge = x < x0 + edge or x >= x1 - edge or y < y0 + edge or y >= y1 - edge
            rows[y][x] = (kPaperEdge if on_edge else kPaper) + (255,)
    m = max(4, round(size * 0.56))
    mx, my = (size - m) // 2, round(size * 0.36)
    for y, row in enumerate(mark(m)):
        for x, px in enumerate(row):
            if px[3]:
                rows[my + y][mx + x] = px
    return rows


def page_svg():
    s = 256.0
    x0, y0, x1, y1 = (t * s for t in kSheet)
    f = kFoldSize * s
    w = s / 32
    sheet = '%.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f %.1f,%.1f' % (x0, y0, x1 - f, y0, x1, y0 + f, x1, y1, x0, y1)
    fold = '%.1f,%.1f %.1f,%.1f %.1f,%.1f' % (x1 - f, y0, x1, y0 + f, x1 - f, y0 + f)
    m = 0.56 * s
    body = ('<polygon points="%s" fill="%s" stroke="%s" stroke-width="%.1f" stroke-linejoin="round"/>\n'
            % (sheet, _hex(kPaper), _hex(kPaperEdge), w) +
            '<polygon points="%s" fill="%s" stroke="%s" stroke-width="%.1f" stroke-linejoin="round"/>\n'
            % (fold, _hex(kFold), _hex(kPaperEdge), w) +
            _mark_shapes(m, (s - m) / 2, 0.36 * s))
    return _svg(body)
