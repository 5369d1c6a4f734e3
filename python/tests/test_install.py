"""pip install . into a new virtual environment, offline, as a user installs the package."""

import os
import pathlib
import subprocess
import sys

import zorvan

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_pip_installs_the_package_into_a_venv_offline(tmp_path):
    # The build the tests run from is built again in place (nothing to do) instead of from scratch.
    build = pathlib.Path(zorvan._zorvan.__file__).resolve().parents[2]
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    env = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    env.update(ZORVAN_BUILD_DIR=str(build), PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    python = venv / "bin" / "python"
    subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--quiet", ROOT], check=True, env=env,
                   cwd=tmp_path, capture_output=True)
    check = ("import numpy as np, zorvan; print(zorvan.__file__); print(zorvan.__version__); "
             "print(zorvan.median_filter(np.array([[1, 9, 2]], np.uint16), 1).tolist())")
    lines = subprocess.run([python, "-c", check], check=True, env=env, cwd=tmp_path, capture_output=True,
                           text=True).stdout.splitlines()
    assert lines[0].startswith(str(venv)) and lines[1:] == [zorvan.__version__, "[[5.0, 2.0, 5.5]]"]
