"""Linear Stokes parameters, degree and angle of linear polarization of a set of
four 24-bit BMP files (polarizer at 0, 45, 90, 135 degrees), vectorised with
NumPy. The peer the whole `process` command is measured against.

    python3 bench/stokes_numpy.py F0 F45 F90 F135
"""
import sys

import numpy as np


def read_bmp24(path):
    raw = np.fromfile(path, dtype=np.uint8)
    field = lambda at, size: int.from_bytes(raw[at:at + size].tobytes(), "little", signed=True)
    offset, width, height, bits = field(10, 4), field(18, 4), field(22, 4), field(28, 2)
    if bits != 24 or width <= 0 or height <= 0:
        sys.exit(f"{path}: not a bottom-up 24-bit BMP")
    stride = (3 * width + 3) & ~3
    rows = raw[offset:offset + stride * height].reshape(height, stride)[::-1, :3 * width]
    return rows.reshape(height, width, 3)


def main(paths):
    # Intensity: the mean of blue, green and red, as doubles.
    i0, i45, i90, i135 = (read_bmp24(p).mean(axis=2) for p in paths)
    s0 = (i0 + i45 + i90 + i135) / 2
    s1 = i0 - i90
    s2 = i45 - i135
    with np.errstate(divide="ignore", invalid="ignore"):
        dolp = np.sqrt(s1 * s1 + s2 * s2) / s0
    aolp = 0.5 * np.arctan2(s2, s1)
    print(f"{i0.shape[1]} x {i0.shape[0]}: mean S0 {s0.mean():.3f}, "
          f"mean DoLP {np.nanmean(dolp):.4f}, mean AoLP {aolp.mean():+.4f} rad")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(sys.argv[1:])
