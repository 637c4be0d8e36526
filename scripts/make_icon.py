#!/usr/bin/env python3
"""Draws the application icon: a sheet of paper going into a yellow folder,
with a blue arrow on the folder's front.

Writes src/res/tessarbolink.ico (a 32 x 32 and a 16 x 16 image of 16 colours,
for the Windows program) and src/res/tessarbolink-32.png / -64.png (the same
picture for the Linux program).  Only the standard library is used, so the
files can be regenerated anywhere:  python3 scripts/make_icon.py
"""
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

# The picture is described on a 32-unit grid; each size samples it at its
# pixel centres and outlines every outlined shape with exactly one pixel.


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def polygon(points):
    def inside(x, y):
        crossings = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                crossings = not crossings
        return crossings
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


# (shape, fill colour, smallest size that gets an outline or NEVER) from back
# to front.  The arrow is too small at 16 x 16 for an outline.
ALWAYS, NEVER = 0, None
LAYERS = [
    (union(rect(2, 6, 14, 10), rect(2, 9, 30, 29)), OLIVE, ALWAYS),    # folder back with its tab
    (rect(8, 1, 25, 22), WHITE, ALWAYS),                                # the sheet of paper
    (rect(11, 5, 22, 7), NAVY, NEVER),                                  # lines of text
    (rect(11, 9, 22, 11), NAVY, NEVER),
    (rect(11, 13, 19, 15), SILVER, NEVER),
    (polygon([(1, 15), (31, 15), (29, 30), (3, 30)]), YELLOW, ALWAYS),  # folder front
    (union(rect(8, 20, 18, 25), polygon([(17, 16.5), (25, 22.5), (17, 28.5)])), BLUE, 32),  # arrow
]


def draw(size):
    scale = 32 / size
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    for shape, colour, outline_from in LAYERS:
        outlined = outline_from is not None and size >= outline_from
        mask = [[shape((x + 0.5) * scale, (y + 0.5) * scale) for x in range(size)] for y in range(size)]

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
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is TRANSPARENT else 0)
        mask = bits.to_bytes(size // 8, 'big')
        mask_rows.append(mask.ljust((len(mask) + 3) // 4 * 4, b'\0'))
    return header + palette + b''.join(colour_rows) + b''.join(mask_rows)


def ico_file(images):
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b'', b''
    for pixels in images:
        image = ico_image(pixels)
        size = len(pixels)
        entries += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), offset + len(data))
        data += image
    return directory + entries + data


def png_file(pixels, zoom):
    size = len(pixels) * zoom
    raw = b''
    for row in pixels:
        line = b'\0'  # filter type: none
        for p in row:
            rgba = (0, 0, 0, 0) if p is TRANSPARENT else PALETTE[p] + (255,)
            line += bytes(rgba) * zoom
        raw += line * zoom

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    return (b'\x89PNG\r\n\x1a\n'
            + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9))
            + chunk(b'IEND', b''))


def main():
    res = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'res')
    big, small = draw(32), draw(16)
    outputs = {
        'tessarbolink.ico': ico_file([big, small]),
        'tessarbolink-32.png': png_file(big, 1),
        'tessarbolink-64.png': png_file(big, 2),
    }
    for name, content in outputs.items():
        with open(os.path.join(res, name), 'wb') as f:
            f.write(content)


if __name__ == '__main__':
    main()
