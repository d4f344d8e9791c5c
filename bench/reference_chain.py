#!/usr/bin/python3
"""The same job as the station's chain, the way a user would script it: astropy read, numpy
histogram and greys, Pillow lettering and JPEG. Prints the mean milliseconds per chain.

usage: reference_chain.py FITS OUTDIR [REPEATS [FTP_HOST:PORT USER PASSWORD]]
With a server, each chain also uploads the JPEG into /homepage with ftplib (one login, reused).
"""
import ftplib
import sys
import time

import numpy as np
from astropy.io import fits
from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"


def chain(path, outdir, font, ftp=None):
    with fits.open(path) as hdul:
        bitpix = hdul[0].header["BITPIX"]
        data = hdul[0].data.astype(np.int64)
    low = int(data.min())
    high = int(data[data < 60000].max()) if bitpix == 16 else int(data.max())
    counts, _ = np.histogram(np.floor((data - low) / ((high - low) / 300) + 0.5), bins=301, range=(0, 301))
    counts[300] = 0
    peak = int(np.argmax(counts))
    smoothed = np.zeros(301)
    squares = counts.astype(np.float64) ** 2
    smoothed[2:299] = np.sqrt(np.convolve(squares, np.ones(5), "valid")) / 5
    threshold = 0.1 * smoothed[peak]
    below = np.nonzero(smoothed[: peak + 1] < threshold)[0]
    above = np.nonzero(smoothed[peak:] < threshold)[0]
    r = high - low
    lo = int(np.floor(below[-1] / 300 * r + low + 0.5)) if below.size else 0
    span = int(np.floor((above[0] + peak) / 300 * r + low + 0.5)) - lo if above.size else 1
    span, lo = max(int(np.rint(span * 10)), 1), int(np.rint(lo * 1.5))
    visible = data[:316, :423]
    grey = np.clip(np.floor((visible - lo) / span * 256 + 0.5), 0, 255).astype(np.uint8)
    picture = Image.new("RGB", (423, 316), (240, 240, 240))
    picture.paste(Image.fromarray(grey).convert("RGB"), (0, 0))
    draw = ImageDraw.Draw(picture)
    draw.text((3, 3), "Tamsel Observatory", fill=(255, 0, 0), font=font)
    draw.text((132, 286), "02-14-2007 21:05:09", fill=(255, 0, 0), font=font)
    picture.save(f"{outdir}/ref-live2.bmp")
    Image.open(f"{outdir}/ref-live2.bmp").save(f"{outdir}/ref-live2.jpg", quality=50, subsampling=0)
    if ftp is not None:
        with open(f"{outdir}/ref-live2.jpg", "rb") as picture_file:
            ftp.storbinary("STOR .live2.jpg.part", picture_file)
        ftp.rename(".live2.jpg.part", "live2.jpg")


def main():
    path, outdir = sys.argv[1], sys.argv[2]
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    font = ImageFont.truetype(FONT, 27)
    ftp = None
    if len(sys.argv) > 6:
        host, port = sys.argv[4].rsplit(":", 1)
        ftp = ftplib.FTP()
        ftp.connect(host, int(port))
        ftp.login(sys.argv[5], sys.argv[6])
        ftp.cwd("/homepage")
    chain(path, outdir, font, ftp)
    start = time.perf_counter()
    for _ in range(repeats):
        chain(path, outdir, font, ftp)
    print(f"{(time.perf_counter() - start) / repeats * 1000:.2f}")


main()
