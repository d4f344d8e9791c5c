#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The sky's stars as a Python job finds them with SEP (Debian's python3-sep): the frame read with
astropy, the background measured with the pixels outside the sky circle masked, subtracted, and
sources extracted above S times the local noise with at least 3 pixels, counted inside the circle.
The settings are the station's: SEP's convolution filter with its default 3 x 3 kernel (Python's
sep.extract would take the matched filter unless told, which finds some 6 % more faint sources).

usage: sep_peer.py FITS SIGMA CX CY R [--time N]
prints: the count, the background's median inside the circle, and with --time the best of N runs
in seconds (the read included, as a job runs it)."""
import sys
import time

import numpy as np
import sep
from astropy.io import fits


def count(path, sigma, cx, cy, r):
    data = fits.getdata(path).astype(np.float32)  # SEP wants native byte order
    h, w = data.shape
    yy, xx = np.mgrid[0:h, 0:w]
    outside = (xx - cx) ** 2 + (yy - cy) ** 2 > r * r
    background = sep.Background(data, mask=outside)
    subtracted = data - background.back()
    objects = sep.extract(subtracted, sigma, err=background.rms(), mask=outside, minarea=3, filter_type="conv")
    inside = (objects["x"] - cx) ** 2 + (objects["y"] - cy) ** 2 <= r * r
    return int(inside.sum()), float(np.median(background.back()[~outside]))


def main():
    path, sigma, cx, cy, r = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5])
    runs = int(sys.argv[7]) if len(sys.argv) > 7 and sys.argv[6] == "--time" else 0
    stars, back = count(path, sigma, cx, cy, r)
    line = f"{stars} {back:.3f}"
    if runs:
        best = min(timed(path, sigma, cx, cy, r) for _ in range(runs))
        line += f" {best:.4f}"
    print(line)


def timed(*args):
    started = time.perf_counter()
    count(*args)
    return time.perf_counter() - started


if __name__ == "__main__":
    main()
