"""The package's build backend (PEP 517): the wheel and the source archive, written with the
standard library alone.

A pure-Python wheel is a zip of the package's files and a few metadata files, so this
needs neither setuptools nor `wheel`: the package installs offline (`pip install
--no-build-isolation --no-index`) on any Python with pip, whatever else it has. It writes
only into the folder that the front end gives it, never into the source tree.
"""

import ast
import base64
import hashlib
import io
import os
import sys
import tarfile
import time
import zipfile
from typing import Any, Dict, Iterator, List, Optional, Tuple

# A file of an archive: its path there and its content.
Entry = Tuple[str, bytes]
Config = Optional[Dict[str, Any]]

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE = "quorlin"
# What the source archive holds besides the package: enough to build the wheel again.
SOURCE_FILES = ["pyproject.toml", "README.md", "backend/quorlin_build.py"]


def _read(path: str) -> bytes:
    with open(os.path.join(SOURCE, path), "rb") as file:
        return file.read()


def _project_table(text: str) -> Dict[str, Any]:
    """The [project] table of pyproject.toml as a dict of strings and lists of strings: the
    part of TOML it uses, read without tomllib (new in Python 3.11)."""
    table: Dict[str, Any] = {}
    section = None
    pending = ""
    for line in text.splitlines():
        stripped = line.strip()
        if not pending and (not stripped or stripped.startswith("#")):
            continue
        if not pending and stripped.startswith("["):
            section = stripped.strip("[]").strip()
            continue
        if section != "project":
            continue
        pending += line + "\n"
        key, _, value = pending.partition("=")
        if value.count("[") > value.count("]"):
            continue  # an array that goes on in the next line
        table[key.strip()] = ast.literal_eval(value.strip())
        pending = ""
    return table


def _project() -> Dict[str, Any]:
    text = _read("pyproject.toml").decode("utf-8")
    if sys.version_info >= (3, 11):
        import tomllib

        project: Dict[str, Any] = tomllib.loads(text)["project"]
        return project
    return _project_table(text)


def _metadata(project: Dict[str, Any]) -> bytes:
    """The core metadata (METADATA in a wheel, PKG-INFO in a source archive)."""
    lines = [
        "Metadata-Version: 2.1",
        "Name: %s" % project["name"],
        "Version: %s" % project["version"],
        "Summary: %s" % project["description"],
        "Requires-Python: %s" % project["requires-python"],
    ]
    lines += ["Classifier: %s" % classifier for classifier in project.get("classifiers", [])]
    lines.append("Description-Content-Type: text/markdown")
    return ("\n".join(lines) + "\n\n").encode("utf-8") + _read(project["readme"])


def _package_files() -> Iterator[Entry]:
    """(path in the archive, bytes) for each file of the package, in a stable order."""
    for name in sorted(os.listdir(os.path.join(SOURCE, PACKAGE))):
        if name.endswith(".py") or name == "py.typed":
            path = "%s/%s" % (PACKAGE, name)
            yield path, _read(path)


def _digest(data: bytes) -> str:
    hashed = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=%s" % hashed.decode("ascii")


def _dist_info(project: Dict[str, Any]) -> str:
    return "%s-%s.dist-info" % (project["name"], project["version"])


def _dist_info_files(project: Dict[str, Any]) -> List[Entry]:
    wheel = "Wheel-Version: 1.0\nGenerator: quorlin_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    dist_info = _dist_info(project)
    return [("%s/METADATA" % dist_info, _metadata(project)),
            ("%s/WHEEL" % dist_info, wheel.encode("ascii"))]


def _write_wheel(wheel_directory: str, files: List[Entry], project: Dict[str, Any]) -> str:
    name = "%s-%s-py3-none-any.whl" % (project["name"], project["version"])
    record_name = "%s/RECORD" % _dist_info(project)
    record = "".join("%s,%s,%d\n" % (path, _digest(data), len(data)) for path, data in files)
    record += "%s,,\n" % record_name
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in files + [(record_name, record.encode("utf-8"))]:
            wheel.writestr(zipfile.ZipInfo(path, date_time=(1980, 1, 1, 0, 0, 0)), data)
    return name


# --- the hooks ---


def get_requires_for_build_wheel(config_settings: Config = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Config = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: Config = None) -> List[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str, config_settings: Config = None) -> str:
    project = _project()
    for path, data in _dist_info_files(project):
        os.makedirs(os.path.join(metadata_directory, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(metadata_directory, path), "wb") as file:
            file.write(data)
    return _dist_info(project)


def build_wheel(wheel_directory: str, config_settings: Config = None,
                metadata_directory: Optional[str] = None) -> str:
    project = _project()
    return _write_wheel(wheel_directory, list(_package_files()) + _dist_info_files(project),
                        project)


def build_editable(wheel_directory: str, config_settings: Config = None,
                   metadata_directory: Optional[str] = None) -> str:
    """A wheel whose .pth file puts the source folder on sys.path."""
    project = _project()
    pth = ("%s.pth" % PACKAGE, (SOURCE + "\n").encode("utf-8"))
    return _write_wheel(wheel_directory, [pth] + _dist_info_files(project), project)


def build_sdist(sdist_directory: str, config_settings: Config = None) -> str:
    project = _project()
    base = "%s-%s" % (project["name"], project["version"])
    files = [(name, _read(name)) for name in SOURCE_FILES]
    files += list(_package_files()) + [("PKG-INFO", _metadata(project))]
    name = base + ".tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as archive:
        for path, data in files:
            info = tarfile.TarInfo("%s/%s" % (base, path))
            info.size = len(data)
            info.mtime = int(time.time())
            info.mode = 0o644
            archive.addfile(info, io.BytesIO(data))
    return name
