"""zorvan.imread against an independent reader, hyperspy, on the real files
of the host application that Debian's python3-hyperspy ships; and the
pixel size of TIFF files kept both ways between zorvan and hyperspy/tifffile."""

import glob
import logging
import os
import sys
import warnings

import numpy as np
import pytest

import zorvan

hs = pytest.importorskip("hyperspy.api")
tifffile = pytest.importorskip("tifffile")

DATA = "/usr/lib/python3/dist-packages/hyperspy/tests/io"
FOLDERS = ["dm3_1D_data", "dm4_1D_data", "dm3_2D_data", "dm4_2D_data", "dm3_3D_data", "dm4_3D_data",
           "dm3_locale", "dm_stackbuilder_plugin", "tiff_files"]
FILES = sorted(f for folder in FOLDERS for f in glob.glob(os.path.join(DATA, folder, "*.dm[34]")))

# What we refuse, by the start of the reason: colour pixels and spectra.
REFUSED = ("holds RGB colour pixels", "is a spectrum")


def hyperspy_signals(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        logging.disable(logging.WARNING)
        try:
            signals = hs.load(path, lazy=False)
        finally:
            logging.disable(logging.NOTSET)
    return signals if isinstance(signals, list) else [signals]


def same_unit(ours, theirs):
    theirs = theirs if isinstance(theirs, str) and theirs not in ("", "<undefined>") else None
    return ours == theirs


def test_there_are_real_files_to_compare():
    assert len(FILES) >= 100, FILES


@pytest.mark.parametrize("path", FILES, ids=lambda p: os.path.relpath(p, DATA))
def test_pixels_and_axes_are_hyperspys(path):
    infos = zorvan.list_images(path)
    signals = hyperspy_signals(path)
    assert len(infos) == len(signals), [i.name for i in infos]
    for info, signal in zip(infos, signals):
        if info.refusal:
            assert info.refusal.startswith(REFUSED), info.refusal
            with pytest.raises(zorvan.FileError) as raised:
                zorvan.imread(path, info.index)
            assert str(raised.value) == "%s: image %d %s" % (path, info.index, info.refusal)
            continue
        array, meta = zorvan.imread(path, info.index)
        expected = np.asarray(signal.data)
        assert array.dtype == expected.dtype and array.shape == expected.shape
        assert array.tobytes() == expected.tobytes(), "pixels differ"
        assert meta.name == signal.metadata.General.title
        theirs = signal.axes_manager._axes
        assert len(meta.axes) == len(theirs)
        for ours, axis in zip(meta.axes, theirs):
            assert ours.size == axis.size
            assert ours.scale == pytest.approx(axis.scale, rel=1e-12, abs=0)
            assert ours.offset == pytest.approx(axis.offset, rel=1e-12, abs=1e-12)
            assert same_unit(ours.unit, axis.units), (ours.unit, axis.units)


def test_the_real_acquisitions_carry_their_calibration():
    cases = [  # file, index, dtype, shape, pixel size, unit, voltage, exposure
        ("dm3_2D_data/test_diffraction_pattern.dm3", None, "int32", (87, 87), 0.17443285882472992, "1/nm", 200e3, 0.2),
        ("dm3_2D_data/test_STEM_image.dm3", None, "uint32", (68, 68), 0.24853801727294922, "nm", 200e3, None),
        ("dm3_2D_data/multi_signal.dm3", None, "uint16", (512, 512), 0.017751578241586685, "nm", 300e3, None),
        ("dm3_2D_data/multi_signal.dm3", 1, "float32", (512,), None, None, None, None),
        ("dm4_2D_data/test-MonarcCL_mono-image.dm4", 0, "uint16", (2, 2), 18325.349807739258, "nm", 3e3, None),
        ("dm3_3D_data/test-13.dm3", None, "complex128", (2, 2, 2), None, None, None, None)]
    for name, index, dtype, shape, pixel_size, unit, voltage, exposure in cases:
        array, meta = zorvan.imread(os.path.join(DATA, name), index)
        assert (array.dtype, array.shape) == (np.dtype(dtype), shape), name
        assert meta.pixel_size == (pytest.approx(pixel_size, rel=1e-6) if pixel_size else None), name
        assert (meta.unit, meta.voltage, meta.exposure, meta.format) == (unit, voltage, exposure, name[-3:]), name


def test_files_with_nothing_to_read_say_what_they_hold():
    eels = os.path.join(DATA, "dm4_3D_data/EELS_SI.dm4")
    with pytest.raises(zorvan.FileError) as raised:
        zorvan.imread(eels)
    assert str(raised.value) == (eels + ": holds no image that can be read: image 0 is a spectrum image (EELS) of "
                                 "2 x 2 x 2048 values, not an image; hyperspy reads spectra")
    rgb = os.path.join(DATA, "dm4_2D_data/test-23.dm4")
    with pytest.raises(zorvan.FileError) as raised:
        zorvan.imread(rgb, 0)
    assert str(raised.value) == (rgb + ": image 0 holds RGB colour pixels (data type 23); the host's functions "
                                 "take grey and complex images")
    multi = os.path.join(DATA, "dm3_2D_data/multi_signal.dm3")
    with pytest.raises(zorvan.FileError) as raised:
        zorvan.imread(multi, 2)
    assert str(raised.value) == multi + ": holds 2 images, 0 to 1; there is no image 2"
    for index in [-1, 1.0, True, "1"]:
        with pytest.raises(ValueError) as raised:
            zorvan.imread(multi, index)
        assert str(raised.value) == "index %r: an image index is a whole number from 0" % (index,)
    assert zorvan.imread(multi, np.int64(1))[0].shape == (512,)
    info = zorvan.list_images(multi)
    assert [(i.index, i.name, i.shape, i.dtype) for i in info] == [
        (0, "HAADF", (512, 512), np.dtype("uint16")), (1, "Plot", (512,), np.dtype("float32"))]


def test_raw_data_offset_maps_the_pixels_in_place():
    path = os.path.join(DATA, "dm3_2D_data/multi_signal.dm3")
    info = zorvan.list_images(path)[0]
    mapped = np.memmap(path, dtype=info.dtype, mode="r", offset=info.raw_data_offset, shape=info.shape)
    assert np.array_equal(mapped, zorvan.imread(path)[0])


def test_tiff_pixel_size_is_read_back_by_hyperspy_and_tifffile(tmp_path):
    for shape in [(3, 4), (2, 3, 4)]:
        image = np.arange(np.prod(shape), dtype=np.float32).reshape(shape)
        for unit, value in [("nm", 0.0178), ("1/nm", 0.174)]:
            target = str(tmp_path / ("ours %d-D %s.tif" % (len(shape), unit.replace("/", "_"))))
            zorvan.imwrite(target, image, value, unit)
            signal = hyperspy_signals(target)[0]
            assert np.array_equal(signal.data, image)
            # From ImageJ's XResolution, a rational of float precision, where the file has it.
            for axis in signal.axes_manager._axes[-2:]:
                assert (axis.scale, axis.units) == (pytest.approx(value, rel=1e-7), unit), target
            with tifffile.TiffFile(target) as tif:
                assert np.array_equal(tif.asarray(), image)
                if len(shape) == 2:  # as ImageJ writes one page
                    assert tif.imagej_metadata["unit"] == unit
                    x, y = tif.pages[0].tags["XResolution"].value
                    assert y / x == pytest.approx(value, rel=1e-6)
            array, meta = zorvan.imread(target)
            assert (meta.pixel_size, meta.unit) == (value, unit), target


def test_tiff_saved_by_hyperspy_keeps_its_pixel_size(tmp_path):
    dm = os.path.join(DATA, "dm3_2D_data/test_diffraction_pattern.dm3")
    stem = os.path.join(DATA, "dm3_2D_data/test_STEM_image.dm3")
    for source, value, unit in [(stem, 0.24853801727294922, "nm"), (dm, 0.17443285882472992, "1/nm")]:
        target = str(tmp_path / (os.path.basename(source) + ".tif"))
        hyperspy_signals(source)[0].save(target, overwrite=True)
        array, meta = zorvan.imread(target)
        assert array.shape == ((68, 68) if source == stem else (87, 87))
        assert (meta.pixel_size, meta.unit) == (value, unit), target


def test_mrc_drops_a_reciprocal_calibration_with_a_warning(tmp_path):
    target = str(tmp_path / "pattern.mrc")
    with pytest.warns(UserWarning, match="MRC files hold no reciprocal calibration"):
        zorvan.imwrite(target, np.ones((4, 4), np.float32), 0.174, "1/nm")
    assert zorvan.imread(target)[1].pixel_size is None
    zorvan.imwrite(target, np.ones((2, 4, 4), np.float32), 2.5, "Å")
    array, meta = zorvan.imread(target)
    assert (array.shape, meta.pixel_size, meta.unit) == ((2, 4, 4), pytest.approx(0.25), "nm")


def test_other_microscope_formats_go_through_hyperspy_or_say_what_to_install(monkeypatch):
    ser = os.path.join(DATA, "FEI_new/128x128-TEM_search_1.ser")
    array, meta = zorvan.imread(ser)
    signal = hyperspy_signals(ser)[0]
    assert array.dtype == signal.data.dtype and np.array_equal(array, signal.data)
    assert (meta.pixel_size, meta.unit, meta.format) == (signal.axes_manager[-1].scale, "nm", "hyperspy")
    assert [axis.offset for axis in meta.axes] == [axis.offset for axis in signal.axes_manager._axes]
    [info] = zorvan.list_images(ser)
    assert (info.index, info.shape, info.dtype, info.metadata, info.refusal) == (0, array.shape, array.dtype, meta, "")
    monkeypatch.setitem(sys.modules, "hyperspy", None)
    monkeypatch.setitem(sys.modules, "hyperspy.api", None)
    with pytest.raises(zorvan.FileError) as raised:
        zorvan.imread(ser)
    assert str(raised.value) == (ser + ": zorvan reads .tif, .png, .npy, MRC, .dm3 and .dm4 itself; other microscope "
                                 "files (.emd, .ser, .hdf5, ...) are read through hyperspy: apt-get install "
                                 "python3-hyperspy")


def test_imwrite_takes_any_layout_and_refuses_what_has_no_file_form(tmp_path):
    a = np.arange(24, dtype=np.int16).reshape(4, 6)
    view = a[:, ::2]
    view.flags.writeable = False
    for name, array in [("view.npy", view), ("big-endian.tif", a.astype(">f4")), ("mask.mrc", a.astype(np.int8))]:
        with warnings.catch_warnings(record=True) as warned:
            warnings.simplefilter("always")
            zorvan.imwrite(str(tmp_path / name), array, 0.5, "Å")
        assert [str(w.message) for w in warned] == ([str(tmp_path / name) + ": .npy and PNG files hold no calibration; "
                                                     "written without a pixel size"] if name == "view.npy" else [])
        back, meta = zorvan.imread(str(tmp_path / name))
        assert back.dtype == array.dtype.newbyteorder("=") and np.array_equal(back, array), name
        assert meta.pixel_size == (None if name.endswith(".npy") else pytest.approx(0.05)), name
    with pytest.raises(ValueError) as raised:
        zorvan.imwrite(str(tmp_path / "x.tif"), a, 1.0, "eV")
    assert str(raised.value) == ("pixel_size 1.0 'eV': the pixel size must be a positive number and the unit one of "
                                 "length or reciprocal length")
    with pytest.raises(TypeError):
        zorvan.imwrite(str(tmp_path / "x.tif"), a.astype(np.int64))
    target = str(tmp_path / "x.dm4")
    with pytest.raises(zorvan.FileError) as raised:
        zorvan.imwrite(target, a)
    assert str(raised.value) == target + ": files of the host application (.dm3, .dm4) are read, not written"
    assert sorted(os.listdir(tmp_path)) == ["big-endian.tif", "mask.mrc", "view.npy"]


def test_hyperspy_signals_filter_image_by_image_keeping_their_axes():
    for name in ["dm3_2D_data/test_STEM_image.dm3", "dm4_3D_data/test-2.dm4"]:
        signal = hyperspy_signals(os.path.join(DATA, name))[0]
        signal.change_dtype("float32")
        filtered = signal.map(zorvan.median_filter, radius=2, inplace=False, show_progressbar=False)
        planes = signal.data.reshape((-1,) + signal.data.shape[-2:])
        expected = np.stack([zorvan.median_filter(plane, 2) for plane in planes]).reshape(signal.data.shape)
        assert filtered.data.dtype == np.float32 and np.array_equal(filtered.data, expected), name
        for ours, theirs in zip(filtered.axes_manager._axes, signal.axes_manager._axes):
            assert (ours.scale, ours.offset, ours.units) == (theirs.scale, theirs.offset, theirs.units), name
