#!/usr/bin/python3
"""Camera simulator: rewrites a live FITS file every few seconds the way capture software does.

Each frame is a realistic 16-bit sky: a sloped background with noise, stars that drift slowly
across the field, a few hot pixels that stay where the sensor has them, now and then a cosmic-ray
hit, now and then a bank of cloud that drifts across and hides the stars behind it, and now and
then a meteor (one frame), a satellite (a line going on over four frames) or an aeroplane (its
blinking lights dashed, over four frames). Every frame is written to a
temporary file beside the live file and renamed over it, so a reader sees old or new, never half.

With --mosaic the camera is a colour one: the frame is the raw RGGB colour-filter mosaic of a
sky whose stars have colours of their own, with a BAYERPAT card, as colour capture software
writes it; the header also carries CCD-TEMP and FILTER.

usage: camera_simulator.py LIVE.fts [--size WxH | --width 640 --height 480] [--every 5] [--frames N]
       [--mosaic]
"""
import argparse
import os
import time

import numpy as np
from astropy.io import fits


CLOUD_EVERY = 60   # frames from one cloud bank to the next
CLOUD_FRAMES = 24  # frames a bank takes to cross the field


def cloud_cover(t, width, height):
    """The share of starlight a passing cloud bank lets through at each column and row: 1 in a
    clear sky; a soft-edged bank half the field wide, drifting from left to right, while one
    passes. None when the sky is clear."""
    phase = t % CLOUD_EVERY
    if phase >= CLOUD_FRAMES:
        return None
    centre = -width / 4 + (phase + 0.5) / CLOUD_FRAMES * (width * 3 / 2)
    x = np.arange(width, dtype=np.float32)[None, :]
    y = np.arange(height, dtype=np.float32)[:, None]
    # The bank's edge leans, so that it covers some directions of the sky before others.
    distance = np.abs(x - centre - 0.3 * (y - height / 2))
    # A bank thick enough to hide even the brightest stars (a thin one would let them through).
    return np.clip((distance - width / 4) / (width / 30), 0.0, 1.0).astype(np.float32)


EVENTS_EVERY = 18  # frames a round of meteors, a satellite and an aeroplane takes; two rounds
                   # follow each cloud bank, in the clear sky


def line_light(sky, x1, y1, x2, y2, peak, sigma, dash=0.0):
    """Adds a straight streak of Gaussian profile; with `dash`, lit for half of each `dash`
    pixels along it."""
    height, width = sky.shape
    reach = 4 * sigma
    x0, x9 = int(max(min(x1, x2) - reach, 0)), int(min(max(x1, x2) + reach + 1, width))
    y0, y9 = int(max(min(y1, y2) - reach, 0)), int(min(max(y1, y2) + reach + 1, height))
    if x0 >= x9 or y0 >= y9:
        return
    y, x = np.mgrid[y0:y9, x0:x9].astype(np.float32)
    length = max(np.hypot(x2 - x1, y2 - y1), 1e-6)
    ux, uy = (x2 - x1) / length, (y2 - y1) / length
    along = np.clip((x - x1) * ux + (y - y1) * uy, 0, length)
    d2 = (x - x1 - along * ux) ** 2 + (y - y1 - along * uy) ** 2
    light = peak * np.exp(-d2 / (2 * sigma**2))
    if dash:
        light *= (np.mod(along, dash) < dash / 2)
    sky[y0:y9, x0:x9] += light


def add_events(sky, t, scale):
    """Frame t's share of its round: two meteors in frames 3 and 4 of it (a station that reads
    every other frame sees one), a satellite over frames 7 to 10, an aeroplane over 12 to 15."""
    height, width = sky.shape
    clear = t % CLOUD_EVERY - CLOUD_FRAMES
    if clear < 0:
        return
    phase, round_ = clear % EVENTS_EVERY, t // CLOUD_EVERY * 2 + clear // EVENTS_EVERY
    place = np.random.default_rng(1000 + round_)
    cx, cy = width / 2, height / 2
    if phase in (3, 4):
        spot = np.random.default_rng(2000 + t)
        angle, length = spot.uniform(0, np.pi), spot.uniform(20, 60) * scale
        x, y = cx + spot.uniform(-0.3, 0.3) * height, cy + spot.uniform(-0.3, 0.3) * height
        line_light(sky, x, y, x + length * np.cos(angle), y + length * np.sin(angle), 3000, 1.2 * scale**0.5)
    for first, dash in ((7, 0.0), (12, 4.0 * scale)):
        k = phase - first
        if not 0 <= k < 4:
            continue
        angle = place.uniform(0, np.pi) + first  # the satellite's path, then the aeroplane's
        step = 25 * scale
        sx, sy = cx - 2 * step * np.cos(angle), cy - 2 * step * np.sin(angle)
        line_light(sky, sx + k * step * np.cos(angle), sy + k * step * np.sin(angle),
                   sx + (k + 0.8) * step * np.cos(angle), sy + (k + 0.8) * step * np.sin(angle),
                   3000 if dash else 1200, 1.2 * scale**0.5, dash)


def add_stars(sky, stars, t, site_tint=None, cover=None):
    """Each star as a small Gaussian patch, drifting with the field. With `site_tint`, a function
    of the patch's rows and columns, each site gets its own colour's share of the star; `cover`
    dims the stars behind a cloud."""
    height, width = sky.shape
    for star in stars:
        (sx, sy, peak, sigma), tint = star if site_tint else (star, None)
        cx, cy = (sx + 0.8 * t) % width, (sy + 0.3 * t) % height  # the field drifts
        reach = max(10, int(5 * sigma))
        x0, x1 = int(max(cx - reach, 0)), int(min(cx + reach + 1, width))
        y0, y1 = int(max(cy - reach, 0)), int(min(cy + reach + 1, height))
        y, x = np.mgrid[y0:y1, x0:x1]
        light = peak * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (2 * sigma**2))
        if cover is not None:
            light = light * cover[y0:y1, x0:x1]
        sky[y0:y1, x0:x1] += light * (site_tint(tint, y, x) if site_tint else 1.0)


def background(rng, width, height):
    """A sloped background with noise, in single precision so that a large camera's frame is made
    in a second or two and a few hundred megabytes."""
    # The slope across the field is the same whatever the camera's size.
    x = np.arange(width, dtype=np.float32)[None, :] * (640 / width)
    y = np.arange(height, dtype=np.float32)[:, None] * (480 / height)
    return (1100 + 0.2 * x + 0.1 * y) + rng.standard_normal((height, width), dtype=np.float32) * 22


def hot_pixels(width, height):
    """The sensor's hot pixels: the same ones in every frame, a few dozen on a large sensor."""
    places = np.random.default_rng(7)
    count = max(8, min(60, width * height // 400000))
    return [(int(places.integers(2, height - 2)), int(places.integers(2, width - 2)), 4000 + 20000 * places.random())
            for _ in range(count)]


def blemishes(rng, sky):
    height, width = sky.shape
    sky[height // 3, width // 4] = 65535  # a saturated hot pixel
    for y, x, extra in hot_pixels(width, height):
        sky[y, x] += extra
    if rng.random() < 0.3:  # a cosmic ray: a short bright streak
        cx, cy = rng.integers(0, width - 8), rng.integers(0, height - 3)
        sky[cy, cx : cx + rng.integers(2, 8)] = 50000 + rng.integers(0, 15000)
    return np.clip(sky, 0, 65535).astype(np.uint16)


def make_sky(rng, width, height, stars, t):
    sky = background(rng, width, height)
    cover = cloud_cover(t, width, height)
    add_stars(sky, stars, t, cover=cover)
    add_events(sky, t, max(1.0, width / 640))
    if cover is not None:
        sky += (1 - cover) * 150  # a cloud lit by the town is brighter than the sky
    return blemishes(rng, sky)


SITE_SHARE = np.array([1.25, 1.0, 0.85], dtype=np.float32)  # the sky a little red: a camera's usual cast


def mosaic_of(rng, width, height, stars, t):
    """The sky seen through an RGGB filter: each site keeps its own colour's share, the sky a
    little red, each star its own colour."""
    sky = background(rng, width, height)
    sky[0::2, 0::2] *= SITE_SHARE[0]
    sky[1::2, 1::2] *= SITE_SHARE[2]

    def site_tint(tint, y, x):
        colour = np.where((y % 2 == 0) & (x % 2 == 0), 0, np.where((y % 2 == 1) & (x % 2 == 1), 2, 1))
        return np.asarray(tint, dtype=np.float32)[colour] * SITE_SHARE[colour]

    cover = cloud_cover(t, width, height)
    add_stars(sky, stars, t, site_tint, cover)
    add_events(sky, t, max(1.0, width / 640))
    if cover is not None:
        sky += (1 - cover) * 150
    return blemishes(rng, sky)


def frame_size(text):
    width, _, height = text.partition("x")
    if not (width.isdigit() and height.isdigit() and int(width) > 0 and int(height) > 0):
        raise argparse.ArgumentTypeError(f"WxH, not {text!r}")
    return int(width), int(height)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("live")
    parser.add_argument("--width", type=int, default=640)
    parser.add_argument("--height", type=int, default=480)
    parser.add_argument("--size", type=frame_size, help="WxH: the camera's frame, instead of --width and --height")
    parser.add_argument("--every", type=float, default=5.0)
    parser.add_argument("--frames", type=int, default=0, help="stop after N frames (0: never)")
    parser.add_argument("--mosaic", action="store_true", help="a colour camera's RGGB mosaic")
    args = parser.parse_args()
    if args.size:
        args.width, args.height = args.size

    rng = np.random.default_rng(int(time.time()))
    # A larger camera sees more stars, each over more pixels: as many a square degree, the same
    # look when its picture is scaled down.
    area = max(1.0, args.width * args.height / (640 * 480))
    scale = max(1.0, args.width / 640)
    count = min(4000, round(120 * 2 * area**0.5)) if area > 1 else 120
    stars = [(rng.uniform(0, args.width), rng.uniform(0, args.height), 300 + 30000 * rng.random() ** 3,
              (1.0 + rng.random()) * scale ** 0.5) for _ in range(count)]
    # Star colours for a colour camera: blue-white, white, yellow, orange-red.
    tints = [(0.6, 0.8, 1.2), (1.0, 1.0, 1.0), (1.2, 1.0, 0.6), (1.4, 0.7, 0.35)]
    coloured_stars = [(star, tints[int(rng.integers(0, len(tints)))]) for star in stars]
    temporary = args.live + ".writing"
    frame = 0
    while args.frames == 0 or frame < args.frames:
        if args.mosaic:
            hdu = fits.PrimaryHDU(mosaic_of(rng, args.width, args.height, coloured_stars, frame))
            hdu.header["BAYERPAT"] = "RGGB"
        else:
            hdu = fits.PrimaryHDU(make_sky(rng, args.width, args.height, stars, frame))
        hdu.header["DATE-OBS"] = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime())
        hdu.header["EXPTIME"] = args.every
        # A camera writes its sensor's temperature to a tenth of a degree: astropy would write the
        # float's 16 digits (-9.800000000000001), which the overlay letters as they stand.
        hdu.header.append(fits.Card.fromstring(f"{'CCD-TEMP':8}= {-10 + rng.normal(0, 0.1):20.1f}"))
        hdu.header["FILTER"] = "L" if not args.mosaic else "OSC"
        hdu.writeto(temporary, overwrite=True)
        os.replace(temporary, args.live)
        frame += 1
        if args.frames == 0 or frame < args.frames:
            time.sleep(args.every)


if __name__ == "__main__":
    main()
