"""A 640 x 480 16-bit sky with sixty stars, the frame the screenshots show: screenshot_frame.py OUT.fts"""
import sys

import numpy as np
from astropy.io import fits

rng = np.random.default_rng(3)
y, x = np.mgrid[0:480, 0:640]
sky = 1200 + rng.normal(0, 25, (480, 640))
for _ in range(60):
    cx, cy, peak = rng.uniform(0, 640), rng.uniform(0, 480), rng.uniform(500, 20000)
    sky += peak * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / 4.0)
fits.PrimaryHDU(np.clip(sky, 0, 65535).astype(np.uint16)).writeto(sys.argv[1])
