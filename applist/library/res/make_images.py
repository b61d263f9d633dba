#!/usr/bin/env python3
"""Draws the manager's icons and list bitmap: up.ico, down.ico, app.ico and app.bmp beside this
script. Run it again after changing a drawing; the outputs are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

CLEAR = None
INK = (40, 56, 96)          # arrows
FRAME = (72, 72, 80)
TITLE = (40, 96, 184)
TITLE_LIGHT = (112, 160, 224)
PAPER = (255, 255, 255)
LINE = (150, 170, 200)
ACCENT = (232, 120, 32)


def canvas(size):
    return [[CLEAR] * size for _ in range(size)]


def rect(image, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            image[y][x] = colour


def arrow(size, up):
    image = canvas(size)
    # A filled triangle over a short stem, centred.
    mid = size // 2
    tip, base = 3, 9
    for row in range(tip, base + 1):
        half = row - tip
        y = row if up else size - 1 - row
        for x in range(mid - 1 - half, mid + half + 1):
            image[y][x] = INK
    for row in range(base + 1, 13):
        y = row if up else size - 1 - row
        rect(image, mid - 2, y, mid + 1, y, INK)
    return image


def window_glyph(size):
    """A program window: frame, blue title bar, text lines and an orange picture corner."""
    image = canvas(size)
    s = size / 16.0

    def px(v):
        return int(round(v * s))

    rect(image, px(1), px(2), px(14.9), px(13.9), FRAME)
    rect(image, px(2), px(3), px(13.9), px(12.9), PAPER)
    rect(image, px(2), px(3), px(13.9), px(4.9), TITLE)
    rect(image, px(11), px(3), px(12.9), px(4.9), TITLE_LIGHT)
    for y in (6.5, 8.5, 10.5):
        rect(image, px(3.5), px(y), px(8.9), px(y + 0.9) if size > 16 else px(y), LINE)
    rect(image, px(10), px(7), px(12.9), px(11.9), ACCENT)
    return image


def ico_image(image):
    size = len(image)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            c = image[y][x]
            pixels += bytes((0, 0, 0, 0)) if c is None else bytes((c[2], c[1], c[0], 255))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(stride)
        for x in range(size):
            if image[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(pixels) + bytes(mask)


def write_ico(name, images):
    blobs = [ico_image(image) for image in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for image, blob in zip(images, blobs):
        size = len(image)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(out)


def write_bmp(name, image, background=(255, 0, 255)):
    """24-bit bitmap; the clear pixels get the image list's mask colour."""
    size = len(image)
    stride = (size * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray()
        for x in range(size):
            c = image[y][x] or background
            row += bytes((c[2], c[1], c[0]))
        row += bytes(stride - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(header + info + bytes(pixels))


if __name__ == "__main__":
    write_ico("up.ico", [arrow(16, True)])
    write_ico("down.ico", [arrow(16, False)])
    write_ico("app.ico", [window_glyph(16), window_glyph(32)])
    write_bmp("app.bmp", window_glyph(16))
