"""Builds the extension kvtraj._core with the project's CMake build (target kvtraj_core).

KVTRAJ_BUILD_DIR names an existing CMake build folder to take the extension from (it is
brought up to date, not configured again); otherwise build-pip/ is configured with the static
module libraries and no tests. KVTRAJ_CMAKE_ARGS adds CMake arguments to that configuration.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(kvtraj VERSION ([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.environ.get("KVTRAJ_BUILD_DIR")
        if build:
            build = Path(build).resolve()
        else:
            build = ROOT / "build-pip"
            args = ["-DCMAKE_BUILD_TYPE=Release", "-DKVTRAJ_PYTHON=ON", "-DKVTRAJ_SHARED_LIBS=OFF",
                    "-DKVTRAJ_BUILD_TESTS=OFF", "-DKVTRAJ_BUILD_BENCH=OFF",
                    f"-DPython3_EXECUTABLE={sys.executable}"]
            args += shlex.split(os.environ.get("KVTRAJ_CMAKE_ARGS", ""))
            subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *args], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "kvtraj_core", "-j", jobs],
                       check=True)
        built = sorted((build / "python" / "kvtraj").glob("_core*.so"))
        if len(built) != 1:
            raise RuntimeError(f"expected one kvtraj/_core*.so in {build}/python, found {built}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


# setuptools' own folders stay out of the CMake build folder build/.
setup(version=project_version(), ext_modules=[Extension("kvtraj._core", sources=[])],
      cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": str(ROOT / "build-pip" / "setuptools")}})
