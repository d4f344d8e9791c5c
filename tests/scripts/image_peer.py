#!/usr/bin/python3
"""Independent image peer for the tests, on Pillow.

same FILE RGB W H    prints "exact" when FILE decodes to exactly the raw RGB bytes
close FILE RGB W H   prints "close <mean> <max>" when FILE is a W x H picture whose greys lie
                     within JPEG error of the raw RGB bytes: mean error below 3, and 99 in 100
                     values within 30 (only the sharp edges of the red lettering ring more)
"""
import sys

from PIL import Image


def load(path, rgb_path, width, height):
    image = Image.open(path)
    image.load()
    if image.size != (width, height):
        sys.exit(f"size {image.size} != {(width, height)}")
    expected = open(rgb_path, "rb").read()
    return image.convert("RGB").tobytes(), expected, image


def main():
    mode, path, rgb_path, width, height = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
    actual, expected, image = load(path, rgb_path, width, height)
    if mode == "same":
        if actual != expected:
            bad = next(i for i in range(len(actual)) if actual[i] != expected[i])
            sys.exit(f"differs at byte {bad}: {actual[bad]} != {expected[bad]}")
        print("exact")
    elif mode == "close":
        if image.format != "JPEG":
            sys.exit(f"format {image.format}")
        errors = sorted(abs(a - b) for a, b in zip(actual, expected))
        mean, p99 = sum(errors) / len(errors), errors[len(errors) * 99 // 100]
        if mean >= 3 or p99 >= 30:
            sys.exit(f"too far: mean {mean:.2f} 99th percentile {p99}")
        print(f"close {mean:.2f} {p99}")
    else:
        sys.exit(__doc__)


main()
