"""Builds the Python module kvsky with CMake for `pip install .`.

The module is one target of the project's CMake build (python/); setuptools
configures the project for the interpreter running it, builds that target
alone, and puts the module and its type stubs where pip installs from. The
version is the project's own (CMakeLists.txt).
"""

import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).parent.resolve()


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        configure = [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(build),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DKV_BENCH=OFF",
        ]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "kvsky"], check=True)
        built = list((build / "python").glob("kvsky*.so"))
        if len(built) != 1:
            raise RuntimeError(f"the build made {len(built)} modules kvsky in {build / 'python'}")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)
        shutil.copyfile(ROOT / "python" / "kvsky.pyi", target.parent / "kvsky.pyi")


def version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(\S+ VERSION (\S+)", text).group(1)


setup(
    version=version(),
    # The module alone: no Python packages in the tree.
    packages=[],
    py_modules=[],
    ext_modules=[CMakeExtension("kvsky")],
    cmdclass={"build_ext": CMakeBuild},
)
