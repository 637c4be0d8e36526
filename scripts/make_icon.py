#!/usr/bin/env python3
"""Draws the application icon: a sheet of paper going into a yellow folder,
with a blue arrow on the folder's front.

Writes, in src/res:
  tessarbolink.ico      for the Windows program: 32 x 32 and 16 x 16 images of
                        16 colours (the sizes the dialog loads), then 48 x 48
                        (32-bit) and 256 x 256 (PNG) for Explorer's large views
  tessarbolink-N.png    for the Linux program and the hicolor icon theme:
                        N = 32 and 64 (the 32 x 32 picture, pixel for pixel and
                        doubled), 48, 128 and 256 (drawn smooth)

Only the standard library is used, so the files can be regenerated anywhere:
  python3 scripts/make_icon.py
"""
import math
import os
import struct
import zlib

# The 16 colours of the standard Windows palette, by index.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, OLIVE, NAVY, SILVER, YELLOW, BLUE, WHITE = 0, 3, 4, 7, 11, 12, 15
TRANSPARENT = None

# The picture is described on a 32-unit grid as polygons.  The small sizes
# sample it at their pixel centres and outline every outlined shape with
# exactly one pixel.  The large sizes put each corner on the pixel edge that
# this sampling gives (straight edges stay sharp) and measure each pixel
# centre's distance to the shapes' edges, which smooths the slanted edges and
# gives every outline the width of one unit (one pixel at 32 x 32), rounded to
# whole pixels.


def rect(x0, y0, x1, y1):
    """A rectangle as a polygon; it covers x0 <= x < x1 and y0 <= y < y1."""
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def inside(points, x, y):
    crossings = False
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            crossings = not crossings
    return crossings


# (polygon, fill colour, smallest size that gets an outline or NEVER) from
# back to front.  The arrow is too small at 16 x 16 for an outline.
ALWAYS, NEVER = 0, None
LAYERS = [
    ([(2, 6), (14, 6), (14, 9), (30, 9), (30, 29), (2, 29)], OLIVE, ALWAYS),  # folder back with its tab
    (rect(8, 1, 25, 22), WHITE, ALWAYS),                                      # the sheet of paper
    (rect(11, 5, 22, 7), NAVY, NEVER),                                        # lines of text
    (rect(11, 9, 22, 11), NAVY, NEVER),
    (rect(11, 13, 19, 15), SILVER, NEVER),
    ([(1, 15), (31, 15), (29, 30), (3, 30)], YELLOW, ALWAYS),                 # folder front
    ([(8, 20), (17, 20), (17, 16.5), (25, 22.5), (17, 28.5), (17, 25), (8, 25)], BLUE, 32),  # arrow
]
OUTLINE_WIDTH = 1.0  # units, for the smooth sizes


def draw(size):
    """The picture as palette indices (or TRANSPARENT), one list per row."""
    scale = 32 / size
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    for shape, colour, outline_from in LAYERS:
        outlined = outline_from is not None and size >= outline_from
        mask = [[inside(shape, (x + 0.5) * scale, (y + 0.5) * scale) for x in range(size)] for y in range(size)]

        def covered(x, y):
            return 0 <= x < size and 0 <= y < size and mask[y][x]

        for y in range(size):
            for x in range(size):
                if not mask[y][x]:
                    continue
                edge = outlined and not all(covered(x + dx, y + dy)
                                            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                pixels[y][x] = BLACK if edge else colour
    return pixels


def edge_distance(points, x, y):
    """The distance from (x, y) to the polygon's edge, negative inside."""
    nearest = math.inf
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        nearest = min(nearest, math.hypot(x - ax - t * dx, y - ay - t * dy))
    return -nearest if inside(points, x, y) else nearest


def draw_smooth(size):
    """The picture as (r, g, b, a) bytes, one list per row, with smooth edges."""
    scale = 32 / size  # one pixel, in units

    def snap(units):
        # To the pixel edge that the pixel-centre sampling of draw() puts
        # there, so that straight edges stay sharp at sizes such as 48.
        return math.ceil(units / scale - 0.5)

    def coverage(depth):  # of a pixel whose centre lies depth pixels inside an edge
        return max(0.0, min(1.0, depth + 0.5))

    outline = max(1, snap(OUTLINE_WIDTH))
    # Premultiplied red, green, blue and alpha, 0 to 1.
    canvas = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]
    for shape, colour, outline_from in LAYERS:
        outlined = outline_from is not None and size >= outline_from
        shape = [(snap(x), snap(y)) for x, y in shape]
        xs, ys = [p[0] for p in shape], [p[1] for p in shape]
        fill = [c / 255 for c in PALETTE[colour]]
        for y in range(max(0, min(ys) - 1), min(size, max(ys) + 1)):
            row = canvas[y]
            for x in range(max(0, min(xs) - 1), min(size, max(xs) + 1)):
                depth = -edge_distance(shape, x + 0.5, y + 0.5)
                alpha = coverage(depth)
                if alpha == 0:
                    continue
                body = coverage(depth - outline) if outlined else 1.0
                r, g, b, a = row[x]
                row[x] = (fill[0] * body * alpha + r * (1 - alpha),
                          fill[1] * body * alpha + g * (1 - alpha),
                          fill[2] * body * alpha + b * (1 - alpha),
                          alpha + a * (1 - alpha))
    return [[(0, 0, 0, 0) if a == 0 else
             tuple(round(c / a * 255) for c in (r, g, b)) + (round(a * 255),)
             for r, g, b, a in row] for row in canvas]


def rgba(pixels, zoom=1):
    """Palette pixels as (r, g, b, a) rows, each pixel repeated zoom times."""
    return [[(0, 0, 0, 0) if p is TRANSPARENT else PALETTE[p] + (255,) for p in row for _ in range(zoom)]
            for row in pixels for _ in range(zoom)]


def ico_image(pixels):
    """One icon image: a 4-bit DIB (bottom-up) followed by its AND mask."""
    size = len(pixels)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):
        indices = [0 if p is TRANSPARENT else p for p in row]
        packed = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        colour_rows.append(packed.ljust((len(packed) + 3) // 4 * 4, b'\0'))
        mask_rows.append(and_mask_row([p is TRANSPARENT for p in row]))
    return header + palette + b''.join(colour_rows) + b''.join(mask_rows)


def and_mask_row(transparent):
    bits = 0
    for t in transparent:
        bits = (bits << 1) | (1 if t else 0)
    mask = bits.to_bytes((len(transparent) + 7) // 8, 'big')
    return mask.ljust((len(mask) + 3) // 4 * 4, b'\0')


def ico_image_32(rows):
    """One icon image: a 32-bit DIB with alpha (bottom-up) and its AND mask."""
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = b''.join(and_mask_row([a == 0 for _, _, _, a in row]) for row in reversed(rows))
    return header + colour + mask


def ico_file(palette_images, rgba_images):
    """The icon file: 16-colour images, then 32-bit ones (256 x 256 as a PNG)."""
    entries = []  # (directory entry without size and offset, image data)
    for pixels in palette_images:
        size = len(pixels)
        entries.append((struct.pack('<BBBBHH', size, size, 16, 0, 1, 4), ico_image(pixels)))
    for rows in rgba_images:
        size = len(rows)
        image = png_file(rows) if size >= 256 else ico_image_32(rows)
        entries.append((struct.pack('<BBBBHH', size % 256, size % 256, 0, 0, 1, 32), image))
    directory = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    data = b''
    for entry, image in entries:
        directory += entry + struct.pack('<II', len(image), offset + len(data))
        data += image
    return directory + data


def png_file(rows):
    """An 8-bit RGBA PNG of (r, g, b, a) rows."""
    size = len(rows)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)  # filter type: none

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'res')
    big, small = draw(32), draw(16)
    smooth = {size: draw_smooth(size) for size in (48, 128, 256)}
    outputs = {
        'tessarbolink.ico': ico_file([big, small], [smooth[48], smooth[256]]),
        'tessarbolink-32.png': png_file(rgba(big)),
        'tessarbolink-64.png': png_file(rgba(big, 2)),
    }
    for size, rows in smooth.items():
        outputs[f'tessarbolink-{size}.png'] = png_file(rows)
    for name, content in outputs.items():
        with open(os.path.join(res, name), 'wb') as f:
            f.write(content)


if __name__ == '__main__':
    main()
