#!/usr/bin/env python3
"""Draws the launcher's icon and writes it as a Windows .ico file.

The artwork is defined here, as shapes on a unit square: a teal rounded tile
with a white circular arrow, the usual sign for "update". Each image is
rendered from the shapes at its own size, so that small images stay sharp.

    draw_icon.py OUTPUT.ico

The file holds six images, in this order: 16x16 and 32x32 with a 256-colour
palette, and 16x16, 32x32, 48x48 and 256x256 with 32-bit colour and alpha.
The 256x256 image is stored as PNG, as Windows expects at that size.
It uses the Python standard library only and does its arithmetic in a fixed
order, so with the same Python (and its maths and zlib libraries) the output
is the same bytes on every run.
"""

import math
import struct
import sys
import zlib

# --- Artwork -----------------------------------------------------------------

TILE_MARGIN = 0.055
TILE_CORNER = 0.2
TILE_TOP = (0x1F, 0x9C, 0xA8)
TILE_BOTTOM = (0x0B, 0x55, 0x66)
ARROW_COLOUR = (0xFF, 0xFF, 0xFF)
RING_RADIUS = 0.25
RING_WIDTH = 0.095
# The arc runs clockwise on screen from the gap's end to its start; the
# arrowhead sits at ARC_END and points along the direction of travel.
ARC_START = math.radians(-60.0)
ARC_END = math.radians(220.0)
HEAD_HALF_WIDTH = 0.125
HEAD_LENGTH = 0.15


def tile_distance(x, y):
    """Signed distance to the rounded tile (negative inside)."""
    half = 0.5 - TILE_MARGIN - TILE_CORNER
    qx = abs(x - 0.5) - half
    qy = abs(y - 0.5) - half
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - TILE_CORNER


def arc_distance(x, y):
    """Signed distance to the ring's arc, with round ends."""
    dx = x - 0.5
    dy = 0.5 - y  # y grows downwards in the image, upwards here
    angle = math.atan2(dy, dx)
    # Angles measured from ARC_START, going counter-clockwise up to ARC_END.
    span = (ARC_END - ARC_START) % (2 * math.pi)
    offset = (angle - ARC_START) % (2 * math.pi)
    if offset <= span:
        return abs(math.hypot(dx, dy) - RING_RADIUS) - RING_WIDTH / 2
    ends = []
    for theta in (ARC_START, ARC_END):
        ex = RING_RADIUS * math.cos(theta)
        ey = RING_RADIUS * math.sin(theta)
        ends.append(math.hypot(dx - ex, dy - ey))
    return min(ends) - RING_WIDTH / 2


def head_distance(x, y):
    """Signed distance to the arrowhead: a triangle at the arc's end."""
    dx = x - 0.5
    dy = 0.5 - y
    cx = RING_RADIUS * math.cos(ARC_END)
    cy = RING_RADIUS * math.sin(ARC_END)
    # Counter-clockwise tangent at the end, and the outward normal.
    tx, ty = -math.sin(ARC_END), math.cos(ARC_END)
    nx, ny = math.cos(ARC_END), math.sin(ARC_END)
    corners = [
        (cx + nx * HEAD_HALF_WIDTH, cy + ny * HEAD_HALF_WIDTH),
        (cx + tx * HEAD_LENGTH, cy + ty * HEAD_LENGTH),
        (cx - nx * HEAD_HALF_WIDTH, cy - ny * HEAD_HALF_WIDTH),
    ]
    return triangle_distance(dx, dy, corners)


def triangle_distance(px, py, corners):
    nearest = float("inf")
    sign_votes = 0
    for i in range(3):
        ax, ay = corners[i]
        bx, by = corners[(i + 1) % 3]
        ex, ey = bx - ax, by - ay
        wx, wy = px - ax, py - ay
        t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
        nearest = min(nearest, math.hypot(wx - ex * t, wy - ey * t))
        if ex * wy - ey * wx > 0:
            sign_votes += 1
    inside = sign_votes in (0, 3)
    return -nearest if inside else nearest


def coverage(distance, pixel):
    """Share of a pixel that a shape covers, from its distance to the edge."""
    return max(0.0, min(1.0, 0.5 - distance / pixel))


def render(size):
    """Straight-alpha RGBA rows, top row first, each value 0..255."""
    pixel = 1.0 / size
    rows = []
    for row in range(size):
        y = (row + 0.5) * pixel
        shade = (y - TILE_MARGIN) / (1.0 - 2 * TILE_MARGIN)
        shade = max(0.0, min(1.0, shade))
        tile = [a + (b - a) * shade for a, b in zip(TILE_TOP, TILE_BOTTOM)]
        line = []
        for column in range(size):
            x = (column + 0.5) * pixel
            alpha = coverage(tile_distance(x, y), pixel)
            arrow = coverage(min(arc_distance(x, y), head_distance(x, y)), pixel)
            colour = [t + (a - t) * arrow for t, a in zip(tile, ARROW_COLOUR)]
            line.append(tuple(int(c + 0.5) for c in colour) + (int(alpha * 255 + 0.5),))
        rows.append(line)
    return rows


# --- Palette for the 8-bit images --------------------------------------------

def median_cut(colours, count):
    """Up to `count` palette colours for a list of (r, g, b) tuples."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        widest = None
        for index, box in enumerate(boxes):
            if len(set(box)) < 2:
                continue
            ranges = [max(c[k] for c in box) - min(c[k] for c in box) for k in range(3)]
            score = (max(ranges), len(box))
            if widest is None or score > widest[0]:
                widest = (score, index, ranges.index(max(ranges)))
        if widest is None:
            break
        _, index, channel = widest
        box = sorted(boxes.pop(index), key=lambda c: (c[channel], c))
        middle = len(box) // 2
        while middle < len(box) - 1 and box[middle][channel] == box[middle - 1][channel]:
            middle += 1
        boxes[index:index] = [box[:middle], box[middle:]]
    palette = []
    for box in boxes:
        palette.append(tuple((sum(c[k] for c in box) + len(box) // 2) // len(box) for k in range(3)))
    return sorted(set(palette))


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: (sum((palette[i][k] - colour[k]) ** 2 for k in range(3)), i))


# --- File formats ------------------------------------------------------------

def and_mask(size, transparent):
    """The 1-bit mask, bottom row first, rows padded to 32 bits."""
    stride = ((size + 31) // 32) * 4
    data = bytearray()
    for row in reversed(range(size)):
        bits = bytearray(stride)
        for column in range(size):
            if transparent(row, column):
                bits[column // 8] |= 0x80 >> (column % 8)
        data += bits
    return bytes(data)


def bitmap_header(size, bits, colours):
    # The height counts the colour image and the mask together.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)


def dib_32(image):
    size = len(image)
    pixels = bytearray()
    for line in reversed(image):
        for r, g, b, a in line:
            pixels += bytes((b, g, r, a))
    mask = and_mask(size, lambda row, column: image[row][column][3] == 0)
    return bitmap_header(size, 32, 0) + bytes(pixels) + mask


def dib_8(image, palette_size=256):
    size = len(image)
    opaque = lambda row, column: image[row][column][3] >= 128
    colours = [image[r][c][:3] for r in range(size) for c in range(size) if opaque(r, c)]
    # Entry 0 stays black: transparent pixels must draw nothing through the mask.
    palette = [(0, 0, 0)] + [c for c in median_cut(colours, palette_size - 1) if c != (0, 0, 0)]
    lookup = {}
    indexes = bytearray()
    for row in reversed(range(size)):
        line = bytearray()
        for column in range(size):
            if not opaque(row, column):
                line.append(0)
                continue
            colour = image[row][column][:3]
            if colour not in lookup:
                lookup[colour] = nearest(palette, colour)
            line.append(lookup[colour])
        line += bytes((-len(line)) % 4)
        indexes += line
    table = bytearray()
    for index in range(palette_size):
        r, g, b = palette[index] if index < len(palette) else (0, 0, 0)
        table += bytes((b, g, r, 0))
    mask = and_mask(size, lambda row, column: not opaque(row, column))
    return bitmap_header(size, 8, 0) + bytes(table) + bytes(indexes) + mask


def paeth(left, up, upper_left):
    estimate = left + up - upper_left
    distances = (abs(estimate - left), abs(estimate - up), abs(estimate - upper_left))
    if distances[0] <= distances[1] and distances[0] <= distances[2]:
        return left
    return up if distances[1] <= distances[2] else upper_left


def filter_row(kind, current, previous):
    """One row under PNG filter `kind` (0 none, 1 sub, 2 up, 3 average, 4 Paeth)."""
    left = bytes(4) + current[:-4]
    upper_left = bytes(4) + previous[:-4]
    if kind == 0:
        return current
    if kind == 1:
        return bytes((c - a) & 0xFF for c, a in zip(current, left))
    if kind == 2:
        return bytes((c - b) & 0xFF for c, b in zip(current, previous))
    if kind == 3:
        return bytes((c - (a + b) // 2) & 0xFF for c, a, b in zip(current, left, previous))
    return bytes((x - paeth(a, b, c)) & 0xFF for x, a, b, c in zip(current, left, previous, upper_left))


def png(image):
    size = len(image)
    rows = [bytes(v for pixel in line for v in pixel) for line in image]
    # One filter for every row; of the five, keep the one that compresses best.
    smallest = None
    for kind in range(5):
        raw = bytearray()
        previous = bytes(size * 4)
        for current in rows:
            raw.append(kind)
            raw += filter_row(kind, current, previous)
            previous = current
        compressed = zlib.compress(bytes(raw), 9)
        if smallest is None or len(compressed) < len(smallest):
            smallest = compressed

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8 bits a channel, RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", smallest) + chunk(b"IEND", b""))


# (size, bits per pixel) of each image, in the order they are stored.
IMAGES = [(16, 8), (32, 8), (16, 32), (32, 32), (48, 32), (256, 32)]


def icon_file():
    rendered = {}
    blobs = []
    for size, bits in IMAGES:
        if size not in rendered:
            rendered[size] = render(size)
        image = rendered[size]
        if bits == 8:
            blobs.append(dib_8(image))
        elif size == 256:
            blobs.append(png(image))
        else:
            blobs.append(dib_32(image))
    data = struct.pack("<HHH", 0, 1, len(IMAGES))
    offset = 6 + 16 * len(IMAGES)
    for (size, bits), blob in zip(IMAGES, blobs):
        # A width or height of 256 is written as 0; the colour count is 0
        # for 256 colours and more.
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return data + b"".join(blobs)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: draw_icon.py OUTPUT.ico")
    data = icon_file()
    with open(sys.argv[1], "wb") as output:
        output.write(data)


if __name__ == "__main__":
    main()
