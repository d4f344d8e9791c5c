#!/usr/bin/python3
"""The station's job done the way a user would script it with numpy, astropy and Pillow: the same
stored values, the same 301-bin display range, the same greys, then the lettering, the BMP and the
JPEG. Prints the median milliseconds per chain, measured in this process.

usage: reference_chain.py FITS OUTDIR [REPEATS] [--check FRAMETOOL] [--ftp HOST:PORT USER PASSWORD]

--check runs the station's frametool on the same file and exits with an error unless the display
range and every grey of the picture (before lettering) are the same. --ftp also uploads each JPEG
into /homepage with ftplib (one login, reused), as the whole cycle does.
"""
import ftplib
import json
import statistics
import subprocess
import sys
import time

import numpy as np
from astropy.io import fits
from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"
FACE = (240, 240, 240)


def stored_values(path):
    """The values the station stores: unsigned words where BZERO is 0, signed samples plus BZERO
    otherwise, times BSCALE, halves to even, saturated to 32 bits; a NaN is 0."""
    with fits.open(path, do_not_scale_image_data=True, memmap=False) as hdul:
        hdu = hdul[0]
        raw = hdu.data
        bitpix = hdu.header["BITPIX"]
        bzero = float(hdu.header.get("BZERO", 0))
        bscale = float(hdu.header.get("BSCALE", 1))
    if raw.ndim > 2:
        raw = raw[0]
    if bitpix in (16, 32) and bzero == 0:
        raw = raw.astype(np.int64) % (2 ** bitpix)
    if bitpix > 0 and bscale == 1 and bzero == int(bzero):
        values = raw.astype(np.int64) + int(bzero)
    else:
        values = np.rint(bzero + bscale * raw.astype(np.float64))
        values = np.nan_to_num(values, nan=0.0, posinf=2 ** 31 - 1, neginf=-(2 ** 31))
    return np.clip(values, -(2 ** 31), 2 ** 31 - 1).astype(np.int64), abs(bitpix)


def display_range(values, bitpix, low=0, span=0):
    """DisplayLow and DisplaySpan from the 301-bin histogram, as the station computes them."""
    pixel_min = int(values.min())
    candidates = values[values < 60000] if bitpix == 16 else values
    pixel_max = int(candidates.max()) if candidates.size else -1
    r = pixel_max - pixel_min
    counts = np.zeros(301, dtype=np.int64)
    if r > 0:
        bins = np.floor((values - pixel_min).astype(np.float64) / (r / 300) + 0.5)
        counts[:300] = np.bincount(bins[(bins >= 0) & (bins < 300)].astype(np.int64), minlength=300)[:300]
    peak = int(np.argmax(counts))  # the first of equal counts
    squares = counts.astype(np.float64) ** 2
    smoothed = np.zeros(301)
    # Summed left to right, as the station does, so that every rounding is the same.
    smoothed[2:299] = np.sqrt(squares[0:297] + squares[1:298] + squares[2:299] + squares[3:300] + squares[4:301]) / 5
    threshold = 0.1 * smoothed[peak]
    below = np.nonzero(smoothed[: peak + 1] < threshold)[0]
    above = np.nonzero(smoothed[peak:] < threshold)[0]
    value = lambda i: int(np.floor(i / 300.0 * r + pixel_min + 0.5))
    if below.size:
        low = value(int(below[-1]))
    if above.size:
        span = value(int(above[0]) + peak) - low
    return low, max(span, 1)


def greys(values, low, span, range_factor=10.0, background_factor=1.5):
    span = int(np.rint(span * range_factor))
    low = int(np.rint(low * background_factor))
    span = max(span, 1)
    corner = values[:316, :423]
    grey = np.floor((corner - low).astype(np.float64) / span * 256 + 0.5)
    return np.clip(grey, 0, 255).astype(np.uint8), low, span


def chain(path, outdir, font, ftp=None):
    values, bitpix = stored_values(path)
    low, span = display_range(values, bitpix)
    grey, _, _ = greys(values, low, span)
    picture = Image.new("RGB", (423, 316), FACE)
    picture.paste(Image.fromarray(grey).convert("RGB"), (0, 0))
    draw = ImageDraw.Draw(picture)
    draw.text((3, 3), "Tamsel Observatory", fill=(255, 0, 0), font=font)
    draw.text((132, 286), "02-14-2007 21:05:09", fill=(255, 0, 0), font=font)
    picture.save(f"{outdir}/ref-live2.bmp")
    picture.save(f"{outdir}/ref-live2.jpg", quality=50, subsampling=0)
    if ftp is not None:
        with open(f"{outdir}/ref-live2.jpg", "rb") as picture_file:
            ftp.storbinary("STOR .live2.jpg.part", picture_file)
        ftp.rename(".live2.jpg.part", "live2.jpg")


def check(path, outdir, frametool):
    """The station's range and unlettered picture against this script's."""
    report = json.loads(subprocess.run([frametool, path, "--picture", f"{outdir}/station.bmp"], check=True,
                                       capture_output=True, text=True).stdout)
    values, bitpix = stored_values(path)
    low, span = display_range(values, bitpix)
    grey, scaled_low, scaled_span = greys(values, low, span)
    ours = (report["DisplayLowAfterRange"], report["DisplaySpanAfterRange"],
            report["DisplayLowAfterRescale"], report["DisplaySpanAfterRescale"])
    if ours != (low, span, scaled_low, scaled_span):
        sys.exit(f"{path}: display range {ours} != {(low, span, scaled_low, scaled_span)}")
    station = np.asarray(Image.open(f"{outdir}/station.bmp").convert("L"))[: grey.shape[0], : grey.shape[1]]
    if not np.array_equal(station, grey):
        sys.exit(f"{path}: {int(np.count_nonzero(station != grey))} greys differ")


def main():
    args = sys.argv[1:]
    frametool = ftp = None
    if "--check" in args:
        at = args.index("--check")
        frametool = args[at + 1]
        del args[at:at + 2]
    if "--ftp" in args:
        at = args.index("--ftp")
        host, port = args[at + 1].rsplit(":", 1)
        ftp = ftplib.FTP()
        ftp.connect(host, int(port))
        ftp.login(args[at + 2], args[at + 3])
        ftp.cwd("/homepage")
        del args[at:at + 4]
    path, outdir = args[0], args[1]
    repeats = int(args[2]) if len(args) > 2 else 10
    if frametool:
        check(path, outdir, frametool)
    font = ImageFont.truetype(FONT, 27)
    chain(path, outdir, font, ftp)
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        chain(path, outdir, font, ftp)
        times.append((time.perf_counter() - start) * 1000)
    print(f"{statistics.median(times):.2f}")


main()
