"""PEP 517 backend that builds the bioengine wheel without any package from
an index: it runs CMake on the source tree above this directory (targets
engine and bioeng_host, installed into a staging prefix so that the
libraries carry their $ORIGIN run path), and writes a wheel holding the
Python package with both libraries inside it.

``BIOENGINE_BUILD_DIR`` (or the config setting ``build-dir``) names an
existing, already built CMake build directory to take the libraries from
instead of building them again.
"""

from __future__ import annotations

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sysconfig
import tempfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional

NAME = "bioengine"
PYTHON_DIR = Path(__file__).resolve().parent.parent
SOURCE_DIR = PYTHON_DIR.parent
#: The libraries as the package loads them: named by their SONAME, so that
#: libbioeng_host finds libengine beside itself through its $ORIGIN run path.
LIBRARIES = ("libengine.so.0", "libbioeng_host.so.0")


def _version() -> str:
    text = (PYTHON_DIR / "pyproject.toml").read_text()
    return re.search(r'^version = "([^"]+)"', text, re.M).group(1)  # type: ignore[union-attr]


def _tag() -> str:
    return "py3-none-" + re.sub(r"[-.]", "_", sysconfig.get_platform())


def _run(command: List[str]) -> None:
    print("+", " ".join(command), flush=True)
    subprocess.run(command, check=True)


def _stage(build_dir: Path, prefix: Path) -> Path:
    """Installs the libraries of a built tree into ``prefix``; its library directory."""
    _run(["cmake", "--install", str(build_dir), "--prefix", str(prefix), "--component",
          "bioengine_libraries"])
    for libdir in (prefix / "lib", prefix / "lib64"):
        if (libdir / LIBRARIES[0]).exists():
            return libdir
    found = sorted(prefix.rglob(LIBRARIES[0]))
    if not found:
        raise RuntimeError(f"{LIBRARIES[0]} was not installed under {prefix}")
    return found[0].parent


def _build_libraries(work: Path, settings: Dict[str, str]) -> Path:
    """Directory holding the libraries, built (or reused) and staged in ``work``."""
    reuse = settings.get("build-dir") or os.environ.get("BIOENGINE_BUILD_DIR")
    if reuse:
        build_dir = Path(reuse).resolve()
    else:
        if not (SOURCE_DIR / "CMakeLists.txt").is_file():
            raise RuntimeError(f"no CMake source tree at {SOURCE_DIR}: build from a checkout")
        build_dir = work / "cmake-build"
        _run(["cmake", "-S", str(SOURCE_DIR), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
              "-DENGINE_BUILD_TESTS=OFF", "-DENGINE_BUILD_TOOLS=OFF"])
        jobs = settings.get("jobs") or os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or "2"
        _run(["cmake", "--build", str(build_dir), "--target", "engine", "bioeng_host",
              "-j", str(jobs)])
    return _stage(build_dir, work / "stage")


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _metadata(version: str) -> str:
    return (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {version}\n"
            "Summary: DNA-sequence routines and read mapping (libengine and its host layer)\n"
            "Requires-Python: >=3.9\n")


def _wheel_files(libdir: Path) -> Dict[str, bytes]:
    files: Dict[str, bytes] = {}
    for source in sorted((PYTHON_DIR / NAME).glob("*.py")):
        files[f"{NAME}/{source.name}"] = source.read_bytes()
    for lib in LIBRARIES:
        files[f"{NAME}/{lib}"] = (libdir / lib).resolve().read_bytes()
    return files


def _write_wheel(wheel_directory: str, files: Dict[str, bytes]) -> str:
    version = _version()
    dist_info = f"{NAME}-{version}.dist-info"
    files = dict(files)
    files[f"{dist_info}/METADATA"] = _metadata(version).encode()
    files[f"{dist_info}/WHEEL"] = (
        "Wheel-Version: 1.0\nGenerator: bioengine_build\nRoot-Is-Purelib: false\n"
        f"Tag: {_tag()}\n").encode()
    record = [_record_line(name, data) for name, data in files.items()]
    record.append(f"{dist_info}/RECORD,,")
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()
    wheel_name = f"{NAME}-{version}-{_tag()}.whl"
    with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if name.endswith(LIBRARIES) else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return wheel_name


# -- PEP 517 hooks -----------------------------------------------------------

def get_requires_for_build_wheel(config_settings: Optional[dict] = None) -> List[str]:
    return []


def build_wheel(wheel_directory: str, config_settings: Optional[dict] = None,
                metadata_directory: Optional[str] = None) -> str:
    with tempfile.TemporaryDirectory(prefix="bioengine-build-") as work:
        libdir = _build_libraries(Path(work), dict(config_settings or {}))
        return _write_wheel(wheel_directory, _wheel_files(libdir))


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Optional[dict] = None) -> str:
    dist_info = Path(metadata_directory) / f"{NAME}-{_version()}.dist-info"
    dist_info.mkdir(parents=True, exist_ok=True)
    (dist_info / "METADATA").write_text(_metadata(_version()))
    return dist_info.name
