"""The side-by-side benchmark's driver on a tiny size: every row is timed and both files are written."""

import importlib.util
import pathlib

import pytest

pytest.importorskip("cv2")
pytest.importorskip("scipy")

DRIVER = pathlib.Path(__file__).resolve().parents[2] / "bench" / "side_by_side.py"


def test_quick_run_on_a_tiny_size_writes_the_table_and_the_chart(tmp_path, capsys):
    source = importlib.util.spec_from_file_location("side_by_side", DRIVER)
    driver = importlib.util.module_from_spec(source)
    source.loader.exec_module(driver)
    driver.SAMPLE, driver.ROUNDS = 0.0, 1
    driver.main(["--quick", "--sizes", "32", "--out", str(tmp_path)])
    table = (tmp_path / "bench.md").read_text().splitlines()
    rows = [line for line in table if line.startswith(("| F", "| zorvan.wiener (end to end)"))]
    assert len(rows) == len(driver.cases(driver.QUICK_RADII))
    assert all(row.split(" | ")[6] != "-" for row in rows)  # every row found a peer
    assert (tmp_path / "ratios.svg").read_text().count("<rect") == len(rows)
