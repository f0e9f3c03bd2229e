#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Whether a crop of a screenshot shows a text as render_text draws it (ink on white).
# The game draws its texts over whatever is there (a fly, a splat, a banana), so only
# what the text decides is compared: every ink pixel must be ink on the screen, and
# the paper between the letters must not be ink (a little may be, where something of
# the ink's colour lies behind the text; plain ink everywhere is no text).
#   text_shown.py CROP.ppm TEXT.ppm  -> prints the differing pixels; status 0 if shown
import sys

FUZZ = 0.10 * 255          # colour distance (root mean square of the channels) within which two colours are the same
INK_DIFFER_SHARE = 1 / 20  # of the ink pixels, at most this many may differ
PAPER_AS_INK_SHARE = 1 / 4 # of the paper pixels, at most this many may look like ink


def read_ppm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < (3 if data[:2] == b"P4" else 4):
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    magic, w, h = fields[0], int(fields[1]), int(fields[2])
    if magic == b"P4":  # a crop of only black and white, one bit a pixel (1: black)
        row = (w + 7) // 8
        raw = data[at + 1:at + 1 + row * h]
        if w <= 0 or h <= 0 or len(raw) != row * h:
            sys.exit(f"{path}: not a whole PBM")
        bit = lambda x, y: raw[y * row + x // 8] >> (7 - x % 8) & 1
        return w, h, [(0, 0, 0) if bit(x, y) else (255, 255, 255) for y in range(h) for x in range(w)]
    maxval = int(fields[3])
    # ImageMagick may write a crop that holds only grays as a one-channel map (P5) or only
    # black and white as a bitmap (P4), whatever the name says; its 16-bit builds write two
    # bytes a channel.
    channels = {b"P6": 3, b"P5": 1}.get(magic)
    if channels is None or not 0 < maxval < 65536 or w <= 0 or h <= 0:
        sys.exit(f"{path}: not a binary PPM or PGM")
    size = 1 if maxval < 256 else 2  # bytes a channel
    raw = data[at + 1:at + 1 + channels * w * h * size]
    if len(raw) != channels * w * h * size:
        sys.exit(f"{path}: truncated")
    samples = raw if size == 1 else [raw[i] << 8 | raw[i + 1] for i in range(0, len(raw), 2)]
    samples = [v * 255 // maxval for v in samples]
    if channels == 1:
        return w, h, [(v, v, v) for v in samples]
    return w, h, [tuple(samples[i:i + 3]) for i in range(0, len(samples), 3)]


def near(a, b):
    return sum((x - y) ** 2 for x, y in zip(a, b)) / 3 <= FUZZ ** 2


def main():
    cw, ch, crop = read_ppm(sys.argv[1])
    tw, th, text = read_ppm(sys.argv[2])
    if (cw, ch) != (tw, th):
        sys.exit("the crop and the text differ in size")
    white = (255, 255, 255)
    ink = [i for i, p in enumerate(text) if not near(p, white)]
    if not ink:
        sys.exit("the text has no ink")
    colour = text[ink[0]]
    ink_set = set(ink)
    ink_differ = sum(1 for i in ink if not near(crop[i], text[i]))
    paper = [i for i in range(len(text)) if i not in ink_set]
    paper_as_ink = sum(1 for i in paper if near(crop[i], colour))
    print(ink_differ + paper_as_ink)
    shown = ink_differ <= len(ink) * INK_DIFFER_SHARE and paper_as_ink <= len(paper) * PAPER_AS_INK_SHARE
    sys.exit(0 if shown else 1)


main()
