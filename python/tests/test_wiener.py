"""zorvan.wiener against the command, and the command's report in a real browser."""

import ctypes
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

import zorvan

COMMAND = pathlib.Path(zorvan.__file__).resolve().parents[2] / "zorvan"  # <build>/zorvan


def lattice(shape):
    rng = np.random.default_rng(5)
    y, x = np.mgrid[:shape[0], :shape[1]]
    return rng.poisson(10 * (1 + np.cos(x * 1.3) * np.cos(y * 0.9))).astype(np.float64)


def test_wiener_is_the_commands_filter_plane_by_plane(tmp_path):
    a = lattice((40, 52))
    a[3, 4] = np.nan
    np.save(tmp_path / "in.npy", a)
    subprocess.run([COMMAND, "wiener", tmp_path / "in.npy", "-o", tmp_path / "out.npy", "--margin", "3",
                    "--smoothing", "50", "--window", "sine"], check=True, capture_output=True)
    filtered, details = zorvan.wiener(a, margin=3, smoothing=50, window="sine")
    np.testing.assert_array_equal(filtered, np.load(tmp_path / "out.npy"))
    assert filtered.dtype == np.float32 and details[1:4] == (1, 1, True) and len(details.stages) == 13
    stack, details = zorvan.wiener(np.stack([a, a]), margin=3, smoothing=50, window="sine")
    assert stack.shape == (2, 40, 52) and details[1:4] == (2, 2, True)
    np.testing.assert_array_equal(stack, [filtered, filtered])
    # A later call reuses the plans and buffers of the last size, whatever
    # ran between: the other mode (no mirrored edges) and another size.
    zorvan.wiener(a, mode="lattice")
    zorvan.wiener(a[:30, :33])
    again, details = zorvan.wiener(a, margin=3, smoothing=50, window="sine")
    np.testing.assert_array_equal(again, filtered)
    again, details = zorvan.wiener(a, margin=3, smoothing=50, window="sine")
    np.testing.assert_array_equal(again, filtered)
    assert "transform plans (FFTW: reused)" in details.stages
    # Today's filter, by name, as the command runs it.
    subprocess.run([COMMAND, "wiener", tmp_path / "in.npy", "-o", tmp_path / "lattice.npy", "--mode", "lattice"],
                   check=True, capture_output=True)
    by_name, details = zorvan.wiener(a, mode="lattice")
    np.testing.assert_array_equal(by_name, np.load(tmp_path / "lattice.npy"))
    assert len(details.stages) == 12 and details.mask.shape == (40, 52)
    with pytest.raises(zorvan.ZorvanError, match="^complex of 4-byte reals pixels: the Wiener filter takes integer"):
        zorvan.wiener(a.astype(np.complex64))


@pytest.mark.parametrize("shape", [(40, 52), (37, 53), (53, 37), (41, 41), (16, 17)])
@pytest.mark.parametrize("mode", ["wiener", "lattice"])
def test_the_half_spectrum_route_is_the_full_complex_one(shape, mode):
    # The filter multiplies the half of a real-to-complex transform and
    # inverts it by a complex-to-real one: the reference is the full
    # complex transform, centred, times the full mask, inverted, its real
    # part, on odd and even sides, with the mirrored edges of wiener mode.
    a = lattice(shape).astype(np.float32)
    filtered, details = zorvan.wiener(a, mode=mode)
    h, w = details.mask.shape
    top, left = (h - shape[0]) // 2, (w - shape[1]) // 2
    plane = np.pad(a.astype(np.float64), ((top, h - shape[0] - top), (left, w - shape[1] - left)), mode="symmetric")
    assert (mode == "lattice") == (plane.shape == a.shape)
    spectrum = np.fft.fftshift(np.fft.fft2(plane)) * details.mask
    expected = np.fft.ifft2(np.fft.ifftshift(spectrum)).real[top:top + shape[0], left:left + shape[1]]
    np.testing.assert_allclose(filtered, expected, rtol=0, atol=2e-5 * np.abs(expected).max())


@pytest.mark.parametrize("rings", [8, 9, 12, 13, 300])
@pytest.mark.parametrize("weight", [1000.0, 0.37, 3e-300])
def test_the_smoothers_bands_come_from_an_8_row_penalty(rings, weight):
    # The filter builds the banded system of `rings` rows from the plug-in's
    # 8-row matrix: its first and last four rows, and row 4 for every row
    # between. Every band of the dense matrix must be those same bits.
    dense, sample = zorvan.penalty_matrix(rings, weight), zorvan.penalty_matrix(8, weight)
    for i in range(rings):
        for j in range(max(0, i - 2), min(rings, i + 3)):
            k, l = (i, j) if i < 4 else (i - rings + 8, j - rings + 8) if i >= rings - 4 else (4, 4 + j - i)
            assert dense[i, j].tobytes() == sample[k, l].tobytes(), (i, j)
    assert np.count_nonzero(dense) == 5 * rings - 6


def screenshot_rgb(path):
    """The PNG's pixels [y, x, rgb], read by libpng's simplified API."""
    class PngImage(ctypes.Structure):
        _fields_ = [("opaque", ctypes.c_void_p)] + [(name, ctypes.c_uint32) for name in (
            "version", "width", "height", "format", "flags", "colormap_entries", "warning_or_error")] + [
            ("message", ctypes.c_char * 64)]
    png = ctypes.CDLL("libpng16.so.16")
    image = PngImage(version=1)
    assert png.png_image_begin_read_from_file(ctypes.byref(image), str(path).encode()), image.message
    image.format = 2  # PNG_FORMAT_RGB
    pixels = np.zeros((image.height, image.width, 3), np.uint8)
    assert png.png_image_finish_read(ctypes.byref(image), None, pixels.ctypes.data_as(ctypes.c_void_p), 0, None)
    return pixels


def test_the_report_shows_its_pictures_in_a_browser(tmp_path):
    if shutil.which("chromium") is None:
        pytest.skip("chromium is not installed (bash scripts/setup.sh installs it)")
    np.save(tmp_path / "in.npy", lattice((96, 128)).astype(np.uint16))
    subprocess.run([COMMAND, "wiener", tmp_path / "in.npy", "--report", tmp_path / "report"], check=True,
                   capture_output=True)
    shot = tmp_path / "shot.png"
    subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + str(tmp_path / "profile"), "--window-size=1400,2400",
                    "--screenshot=" + str(shot), (tmp_path / "report" / "report.html").as_uri()],
                   check=True, capture_output=True, timeout=300)
    rgb = screenshot_rgb(shot).astype(int)
    # Pictures: 32 x 32 tiles that are nearly all ink and have many grey levels
    # (text has white around it; a missing image is blank or an icon).
    rows, columns = rgb.shape[0] // 32, rgb.shape[1] // 32
    tiles = rgb[:rows * 32, :columns * 32, 1].reshape(rows, 32, columns, 32).swapaxes(1, 2).reshape(-1, 32 * 32)
    pictures = [(t < 250).mean() > 0.9 and len(np.unique(t)) >= 16 for t in tiles]
    assert sum(pictures) >= 150  # the spectrum, the crops and the whole images: about 350
    red, green = [((rgb[..., k] > 120) & (rgb[..., (k + 1) % 3] < 100) & (rgb[..., (k + 2) % 3] < 100)).sum()
                  for k in (0, 1)]
    assert red >= 600 and green >= 600  # the profile's background line and dashed threshold: about 1200, 900
