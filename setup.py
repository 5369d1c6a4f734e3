"""pip install .: CMake builds the extension _zorvan and the plug-in; they are installed in the package beside
the Python code, with the host's libraries they load (the extension finds them, and the plug-in, beside itself).

ZORVAN_BUILD_DIR names a configured CMake build to build in and take them from (scripts/run.sh passes its own);
otherwise a Release build is configured under build-pip/."""

import glob
import os
import pathlib
import re
import shutil
import subprocess

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent
VERSION = re.search(r"project\(ZorvanFilters64 VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
LIBRARIES = ["libZorvanFilters64.so", "libzorvan_host.so", "libzorvan_foundation.so", "libzorvan_trace.so"]


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("ZORVAN_BUILD_DIR")
        if build:
            build = os.path.abspath(build)
        else:
            build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
            configure = ["cmake", "-S", str(ROOT), "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DZORVAN_TESTS=OFF",
                         "-DZORVAN_BENCH=OFF"]
            if shutil.which("ccache"):
                configure += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
            subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", build, "-j", str(os.cpu_count() or 1), "--target", "_zorvan"], check=True)
        module = pathlib.Path(self.get_ext_fullpath(ext.name))
        module.parent.mkdir(parents=True, exist_ok=True)
        built = glob.glob(os.path.join(build, "python", "zorvan", "_zorvan*.so"))
        if len(built) != 1:
            raise RuntimeError("zorvan: expected one built _zorvan module in %s, found %s" % (build, built))
        shutil.copyfile(built[0], module)
        for library in LIBRARIES:
            shutil.copyfile(os.path.join(build, library), module.parent / library)


setup(version=VERSION, ext_modules=[Extension("zorvan._zorvan", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-pip"}})
