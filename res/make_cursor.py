#!/usr/bin/env python3
"""Draws the link cursor (a pointing hand, 32 x 32, hot spot 12,4, black
outline, white fill, grey lines between the fingers) and writes it as a
256-colour (8 bits a pixel) Windows cursor file.
The result, hand.cur, is committed; run this again only to change it.
With --preview FILE it also writes the picture as a PBM-like text for a look."""
import struct
import sys

SIZE = 32
HOT_SPOT = (12, 4)


def in_rounded(x, y, x0, y0, x1, y1, r=1):
    """Inside a rectangle whose top corners are cut by r pixels."""
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    dy = y - y0
    if dy < r and (x - x0 < r - dy or x1 - x < r - dy):
        return False
    return True


def in_hand(x, y):
    parts = [
        (10, 3, 14, 19, 2),   # the pointing finger, its tip at the hot spot
        (14, 10, 18, 19, 2),  # the curled fingers, each a little lower
        (18, 11, 22, 19, 2),
        (22, 12, 26, 20, 2),
        (10, 17, 26, 26, 0),  # palm
        (12, 25, 24, 29, 0),  # wrist
    ]
    if any(in_rounded(x, y, *p) for p in parts):
        return True
    # The thumb, slanting in from the left below the pointing finger.
    return 15 <= y <= 23 and 5 + (y - 15) // 2 <= x <= 10 and not (y == 15 and x < 7)


def pixel(x, y):
    """'#' black, '+' grey, '.' white, ' ' transparent."""
    if not in_hand(x, y):
        return " "
    for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
        if not in_hand(x + dx, y + dy):
            return "#"
    # Lines between the fingers down to the palm.
    if x in (14, 18, 22) and 10 <= y <= 17:
        return "+"
    return "."


# Palette indices of the picture's colours; the other entries of the 256 are
# black and unused.
COLOURS = {"#": (0, 0x000000), ".": (1, 0xFFFFFF), "+": (2, 0x808080), " ": (0, 0x000000)}
PALETTE_SIZE = 256
BITS_PER_PIXEL = 8


def cursor_bytes():
    rows = ["".join(pixel(x, y) for x in range(SIZE)) for y in range(SIZE)]
    colour_rows, and_rows = [], []
    for row in reversed(rows):  # bottom-up, as bitmaps are stored
        # One byte a pixel; 32 pixels make a row of whole 32-bit words.
        colour_rows.append(bytes(COLOURS[c][0] for c in row))
        and_bits = int("".join("1" if c == " " else "0" for c in row), 2)
        and_rows.append(struct.pack(">I", and_bits))
    palette = [0] * PALETTE_SIZE
    for index, rgb in COLOURS.values():
        palette[index] = rgb
    palette_bytes = b"".join(struct.pack("<I", rgb) for rgb in palette)
    pixels = b"".join(colour_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, BITS_PER_PIXEL, 0, len(pixels),
                         0, 0, PALETTE_SIZE, 0)
    image = header + palette_bytes + pixels
    directory = struct.pack("<HHH", 0, 2, 1)
    # A colour count of 0 in the directory stands for 256 colours.
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOT_SPOT[0], HOT_SPOT[1], len(image), 6 + 16)
    return directory + entry + image, rows


def main():
    data, rows = cursor_bytes()
    out = "hand.cur"
    with open(__file__.rsplit("/", 1)[0] + "/" + out if "/" in __file__ else out, "wb") as f:
        f.write(data)
    if "--preview" in sys.argv:
        print("\n".join(r.replace(" ", "-") for r in rows))


if __name__ == "__main__":
    main()
