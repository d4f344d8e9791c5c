#!/usr/bin/python3
"""Independent FITS peer for the tests, on astropy.

make DIR      write frames at 8, 16 and 32 bits (with and without BZERO/BSCALE, and -32 floats);
              for each NAME: NAME.fits, NAME.expected (the values the station must store, int32
              little-endian, row after row) and a line "NAME WIDTH HEIGHT PIXELMIN PIXELMAX".
check FILE EXPECTED WIDTH HEIGHT BITPIX
              open an archive, fail on any warning, and compare shape, BITPIX and every value.
same ARCHIVE LIVE
              open the archive (checksums checked, any warning fails) and the live frame, and
              compare every value; the archive's 16 and 32-bit samples are unsigned (BZERO 0).
verify FILE...
              open each archive, fail on any warning, read its data, and check that the file
              ends right after the data's last 2880-byte block.
"""
import os
import sys
import warnings

import numpy as np
from astropy.io import fits

INT32_MIN, INT32_MAX = -(2 ** 31), 2 ** 31 - 1


def stored_values(path):
    """What the station stores: BZERO + BSCALE * sample, halves to even, saturated to int32.

    With BZERO 0 the 16 and 32-bit samples are composed unsigned, as the station's own archives
    are; with an offset they are signed, as the FITS standard has it."""
    with fits.open(path, do_not_scale_image_data=True) as hdul:
        hdu = hdul[0]
        raw = hdu.data
        bitpix = hdu.header["BITPIX"]
        bzero = float(hdu.header.get("BZERO", 0))
        bscale = float(hdu.header.get("BSCALE", 1))
    if bzero == 0 and bitpix in (16, 32):
        raw = raw.astype(np.int64) % (2 ** bitpix)
    raw = raw.astype(np.float64)
    if bitpix == -32:
        raw = np.where(np.isfinite(raw), raw, np.nan)  # an infinity is stored as NaN is
        raw = np.nan_to_num(raw, nan=0.0) if bzero == 0 and bscale == 1 else raw
    values = np.rint(bzero + bscale * raw)
    values = np.nan_to_num(values, nan=0.0)
    return np.clip(values, INT32_MIN, INT32_MAX).astype(np.int32), abs(bitpix)


def extremes(values, bitpix):
    low = int(values.min())
    candidates = values[values < 60000] if bitpix == 16 else values.ravel()
    high = int(candidates.max()) if candidates.size else -1
    return low, high


def sky(rng, height, width, low, high):
    data = rng.normal((low + high) / 2, (high - low) / 12, size=(height, width))
    return np.clip(data, low, high)


def make(directory):
    rng = np.random.default_rng(7)
    frames = {}
    frames["u8"] = fits.PrimaryHDU(sky(rng, 31, 47, 0, 255).astype(np.uint8))
    frames["s8_bzero"] = fits.PrimaryHDU(sky(rng, 20, 33, -128, 127).astype(np.int8))
    frames["i16_plain"] = fits.PrimaryHDU(sky(rng, 40, 64, 0, 32767).astype(np.int16))
    u16 = sky(rng, 45, 70, 0, 65535).astype(np.uint16)
    u16[0, :5] = [0, 59999, 60000, 65535, 65534]
    frames["u16_bzero"] = fits.PrimaryHDU(u16)
    frames["i16_negative_bzero"] = fits.PrimaryHDU(sky(rng, 16, 16, -30000, 30000).astype(np.int16))
    frames["i16_negative_bzero"].header["BZERO"] = 100
    frames["i32_plain"] = fits.PrimaryHDU(sky(rng, 25, 30, 0, 2 ** 30).astype(np.int32))
    frames["u32_bzero"] = fits.PrimaryHDU(sky(rng, 12, 19, 0, 2 ** 32 - 1).astype(np.uint32))
    scaled = fits.PrimaryHDU(sky(rng, 21, 22, 0, 1000.0))
    scaled.scale("int16", bscale=2.5, bzero=0)
    frames["i16_bscale"] = scaled
    both = fits.PrimaryHDU(sky(rng, 23, 17, -500, 3000.0))
    both.scale("int16", bscale=0.37, bzero=1234.5)
    frames["i16_bzero_bscale"] = both
    floats = sky(rng, 18, 26, -10, 40000.0).astype(np.float32)
    floats[0, :4] = [0.5, 1.5, 2.5, -0.5]
    frames["f32"] = fits.PrimaryHDU(floats)
    frames["f32_huge"] = fits.PrimaryHDU(np.array([[3e9, -3e9, 1.0]], dtype=np.float32))
    cube = fits.PrimaryHDU(np.stack([sky(rng, 9, 11, 0, 4000) for _ in range(3)]).astype(np.int16))
    frames["cube_first_plane"] = cube
    # Full-size frames of every sample type: a frame this large is read in two halves at once.
    side = 1537
    frames["full_size_u8"] = fits.PrimaryHDU(sky(rng, side, side, 0, 255).astype(np.uint8))
    frames["full_size_i16"] = fits.PrimaryHDU(sky(rng, side, side, -32768, 32767).astype(np.int16))
    frames["full_size_u16"] = fits.PrimaryHDU(sky(rng, side, side, 0, 65535).astype(np.uint16))
    frames["full_size_i32"] = fits.PrimaryHDU(sky(rng, side, side, 0, 2 ** 31 - 1).astype(np.int32))
    frames["full_size_u32"] = fits.PrimaryHDU(sky(rng, side, side, 0, 2 ** 32 - 1).astype(np.uint32))
    frames["full_size_f32"] = fits.PrimaryHDU(sky(rng, side, side, -1000, 70000.0).astype(np.float32))
    # Written with CHECKSUM and DATASUM, as capture software may ask astropy or CFITSIO to.
    frames["u16_checksum"] = fits.PrimaryHDU(sky(rng, 33, 41, 0, 65535).astype(np.uint16))
    checksummed = {"u16_checksum"}

    for name, hdu in frames.items():
        path = f"{directory}/{name}.fits"
        hdu.writeto(path, overwrite=True, checksum=name in checksummed)
        values, bitpix = stored_values(path)
        if values.ndim == 3:
            values = values[0]
        values.astype("<i4").tofile(f"{directory}/{name}.expected")
        low, high = extremes(values, bitpix)
        print(name, values.shape[1], values.shape[0], low, high)


def check(path, expected_path, width, height, bitpix):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        # checksum=True: a CHECKSUM or DATASUM that does not fit is a warning, so an error here.
        with fits.open(path, do_not_scale_image_data=True, checksum=True) as hdul:
            hdul.verify("exception")
            hdu = hdul[0]
            data = hdu.data
            header = hdu.header
    assert header["BITPIX"] == bitpix, header["BITPIX"]
    assert header.get("BZERO", 0) == 0 and header.get("BSCALE", 1) == 1
    if data.ndim == 3:  # a cube is archived as its first plane, with NAXIS3 1
        assert data.shape[0] == 1, data.shape
        data = data[0]
    assert data.shape == (height, width), data.shape
    if bitpix == 16:
        data = data.astype(np.int64) % 65536
    expected = np.fromfile(expected_path, dtype="<i4").reshape(height, width)
    bad = np.argwhere(data.astype(np.int64) != expected.astype(np.int64))
    if bad.size:
        y, x = bad[0]
        sys.exit(f"{len(bad)} values differ, first at x={x} y={y}: {data[y, x]} != {expected[y, x]}")


def same(archive, live):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with fits.open(archive, do_not_scale_image_data=True, checksum=True) as hdul:
            hdul.verify("exception")
            bitpix = hdul[0].header["BITPIX"]
            kept = hdul[0].data.astype(np.int64)
    if bitpix in (16, 32):
        kept %= 2**bitpix
    with fits.open(live) as hdul:
        values = np.rint(hdul[0].data.astype(np.float64)).astype(np.int64)
    if kept.shape != values.shape:
        sys.exit(f"shape {kept.shape} != {values.shape}")
    bad = np.argwhere(kept != values)
    if bad.size:
        y, x = bad[0][-2:]
        sys.exit(f"{len(bad)} values differ, first at x={x} y={y}")


def verify(paths):
    failures = []
    for path in paths:
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                with fits.open(path, do_not_scale_image_data=True) as hdul:
                    hdul.verify("exception")
                    hdu = hdul[0]
                    size = hdu.data.nbytes
                    header_bytes = len(hdu.header.tostring())
            expected = header_bytes + (size + 2879) // 2880 * 2880
            actual = os.path.getsize(path)
            if actual != expected:
                failures.append(f"{path}: {actual} bytes, not {expected}")
        except Exception as error:  # every kind of complaint counts
            failures.append(f"{path}: {error}")
    if failures:
        sys.exit("\n".join(failures[:20]) + f"\n{len(failures)} of {len(paths)} archives fail")


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    elif sys.argv[1] == "verify":
        verify(sys.argv[2:])
    elif sys.argv[1] == "same":
        same(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "check":
        check(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6]))
    else:
        sys.exit(__doc__)
