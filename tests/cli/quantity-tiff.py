# kestrane-analyse --format=tiff read back with tifffile: shape, calibration, settings, and every value against
# the four quantities computed here in numpy, straight from the channels of the frames.
import json
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
import tifffile

ANALYSE = sys.argv[1]
work = tempfile.mkdtemp(prefix="kestrane-tiff-")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def round_half_even_ratio(numerator, denominator):
    """round(numerator / denominator) with ties to even, in exact integers (numerator >= 0)."""
    q, r = np.divmod(numerator, denominator)
    return q + ((2 * r > denominator) | ((2 * r == denominator) & (q % 2 == 1)))


def truncating_half(n):
    return np.where(n < 0, -((-n) // 2), n // 2)


ANGLE = np.float32(41.0 * np.arccos((np.arange(201) - 100) / 100.0)).astype(np.float64)
j = np.arange(256)
GAIN = np.float32(1.3 - 0.2 * np.sin(4 * np.pi * j / 255 + np.radians(20))
                  + 0.1 * np.sin(2 * np.pi * j / 255 + np.radians(100))
                  - 0.07 * np.sin(2 * np.pi * j / 255 + np.radians(45))).astype(np.float64)


def quantities(picture, wavelength):
    """Retardance (nm), orientation (degrees), |sin delta| and transmission (%) of a 480 x 640 red plane
    given top row first, each 240 x 320 top row first."""
    frame = picture[::-1].astype(np.int64)  # the analysis counts rows from the bottom
    y, x = np.mgrid[0:240, 0:320]
    rc = np.clip(y + round_half_even_ratio(x, 40), 0, 239)
    cc = np.clip(x - round_half_even_ratio(y, 30), 0, 319)
    a, b = frame[y, x], frame[y, x + 320]
    c, d = frame[rc + 240, cc], frame[rc + 240, cc + 320]
    a1 = round_half_even_ratio(a * 123, 100)
    d1 = round_half_even_ratio(d * 94, 100)
    s = (b + a1 + d1 + c) // 4
    X = truncating_half(a1 - c)
    Y = truncating_half(b - d1)
    r = np.float32(np.sqrt(X * X + Y * Y)).astype(np.float64)
    r = np.where(r == 0, 0.001, r)
    q = np.clip(X / r, -0.99, 0.99)
    k = np.rint((q + 1) * 100).astype(int)
    e = np.rint(128 - np.sign(Y) * ANGLE[k]).astype(int)
    v = np.minimum(r / np.clip(s, 1, 127) * GAIN[e], 1.0)
    orientation = 90 - 0.5 * np.degrees(np.arctan2(Y, X))
    orientation = np.where(orientation >= 180, orientation - 180, orientation)
    orientation = np.where((X == 0) & (Y == 0), np.nan, orientation)
    maps = [np.arcsin(v) * wavelength / (2 * np.pi), orientation, v, 100 * s / 255]
    return [m[::-1] for m in maps]  # map row y is shown at picture row 239 - y


def expect_values(stack, pictures, wavelength, name):
    tolerances = [1e-3, 1e-4, 1e-6, 1e-5]  # nm, degrees, 1, %: what float32 keeps
    for t, picture in enumerate(pictures):
        for channel, (expected, tolerance) in enumerate(zip(quantities(picture, wavelength), tolerances)):
            got = stack[t, channel]
            same = np.isclose(got, expected, rtol=0, atol=tolerance, equal_nan=True)
            check(same.all(), f"{name}: frame {t} channel {channel}: {np.count_nonzero(~same)} values differ, "
                              f"worst {np.nanmax(np.abs(got - expected))}")


def write_bmp(path, picture):
    pixels = np.zeros((480, 640, 3), np.uint8)
    pixels[..., 2] = picture
    pixels[..., 1] = 77  # green and blue play no part
    data = pixels[::-1].tobytes()
    header = b"BM" + struct.pack("<IHHI", 54 + len(data), 0, 0, 54)
    header += struct.pack("<IiiHHIIiiII", 40, 640, 480, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + data)


def write_movie(path, pictures):
    pixels = np.zeros((len(pictures), 480, 640, 3), np.uint8)
    pixels[..., 2] = np.stack(pictures)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgr24", "-s", "640x480",
                    "-r", "10", "-i", "-", "-c:v", "rawvideo", "-pix_fmt", "bgr24", path],
                   input=pixels.tobytes(), check=True)


def analyse(*args):
    run = subprocess.run([ANALYSE, *args], capture_output=True, text=True)
    return run.returncode, run.stderr


def read(path):
    with tifffile.TiffFile(path) as tif:
        page = tif.pages[0]
        x = page.tags["XResolution"].value
        y = page.tags["YResolution"].value
        meta = tif.imagej_metadata
        return tif.series[0].asarray(), tif.series[0].axes, x[0] / x[1], y[0] / y[1], meta


rng = np.random.default_rng(22)
# Random channels, plus a dark band (the zero vector: no orientation) and a bright one (|sin delta| capped).
pictures = []
for _ in range(3):
    picture = rng.integers(0, 256, (480, 640), dtype=np.uint8)
    picture[0:20] = 0
    picture[240:260, 0:320] = 255
    picture[240:260, 320:640] = 0
    pictures.append(picture)

# One frame, calibrated by the options.
write_bmp(f"{work}/frame.bmp", pictures[0])
status, said = analyse("--format=tiff", "--wavelength=633", "--pixel-size=0.25", f"{work}/frame.bmp",
                       f"{work}/one")
check(status == 0, f"frame: status {status}: {said}")
stack, axes, xres, yres, meta = read(f"{work}/one/maps.tif")
check(stack.shape == (4, 240, 320) and axes == "CYX", f"frame: shape {stack.shape} {axes}")
check(stack.dtype == np.float32, f"frame: {stack.dtype}")
check(abs(xres - 4) < 1e-5 and abs(yres - 4) < 1e-5, f"frame: resolution {xres} {yres}")
check(meta["unit"] == "micron" and "finterval" not in meta, f"frame: {meta}")
info = json.loads(meta["Info"])
check(info["wavelength_nm"] == 633 and info["pixel_size_um"] == 0.25 and info["flat_field"] is None
      and info["program"].startswith("kestrane ") and info["source"].endswith("frame.bmp"), f"frame: {info}")
check([c["unit"] for c in info["channels"]] == ["nm", "degrees", "", "%"], f"frame: {info['channels']}")
check(meta["Labels"][:4] == ["retardance (nm)", "orientation (degrees)", "|sin delta|", "transmission (%)"],
      f"frame: {meta['Labels']}")
expect_values(stack[np.newaxis], pictures[:1], 633, "frame")
check(np.isnan(stack[1]).any() and (stack[2] == 1).any(), "frame: no zero vector or no capped |sin delta|")

# A movie whose settings file gives the wavelength, objective, pixel size and frame times.
write_movie(f"{work}/movie.avi", pictures)
with open(f"{work}/movie.json", "w") as f:
    json.dump({"objective": 10, "pixel_size_um": 0.5, "wavelength_nm": 600,
               "frame_times_s": [0.0, 0.05, 0.11]}, f)
status, said = analyse("--format=tiff", f"{work}/movie.avi", f"{work}/movie")
check(status == 0, f"movie: status {status}: {said}")
check("wavelength 600 nm, objective 10, pixel size 0.5 um, frame times (3)" in said, f"movie: said {said}")
stack, axes, xres, yres, meta = read(f"{work}/movie/maps.tif")
check(stack.shape == (3, 4, 240, 320) and axes == "TCYX", f"movie: shape {stack.shape} {axes}")
check(abs(xres - 2) < 1e-5 and abs(meta["finterval"] - 0.055) < 1e-12, f"movie: {xres} {meta}")
info = json.loads(meta["Info"])
check(info["frame_times_s"] == [0.0, 0.05, 0.11] and info["objective"] == 10, f"movie: {info}")
expect_values(stack, pictures, 600, "movie")

# Without its settings file: the defaults and the movie's own frame period; the options win over the file.
os.remove(f"{work}/movie.json")
status, said = analyse("--format=tiff", "--objective=40", f"{work}/movie.avi", f"{work}/plain")
stack, axes, xres, yres, meta = read(f"{work}/plain/maps.tif")
check(status == 0 and abs(meta["finterval"] - 0.1) < 1e-9 and abs(xres - 34 / 5) < 1e-4,
      f"plain movie: {status} {said} {xres} {meta}")
check("frame_times_s" not in json.loads(meta["Info"]), "plain movie: frame times from nowhere")
expect_values(stack, pictures, 546, "plain movie")

# Refusals: nothing written, one line that says why.
for args, reason in [
    (["--format=png"], "--format must be pgm or tiff, not 'png'"),
    (["--format=tiff", "--wavelength=1200"], "--wavelength must be a number from 400 to 1000, not '1200'"),
    (["--wavelength=546"], "go with --format=tiff"),
]:
    status, said = analyse(*args, f"{work}/frame.bmp", f"{work}/refused")
    check(status == 2 and reason in said and said.count("\n") == 1, f"{args}: {status} {said}")
    check(not os.path.exists(f"{work}/refused"), f"{args}: wrote output")

subprocess.run(["rm", "-rf", work])
for failure in failures:
    print("quantity-tiff:", failure, file=sys.stderr)
if failures:
    sys.exit(1)
print("quantity-tiff: a frame and a 3-frame movie read back by tifffile equal the quantities computed in numpy")
