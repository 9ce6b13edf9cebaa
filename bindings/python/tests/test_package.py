"""The package as it is built and typed: the source archive of its own backend, and
mypy --strict on the installed package and on the READMEs' examples."""

import os
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile

import pytest

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "backend"))
import quorlin_build  # noqa: E402


@pytest.mark.skipif(sys.version_info < (3, 11), reason="needs tomllib to compare with")
def test_the_backend_reads_pyproject_as_tomllib_does():
    import tomllib

    with open(os.path.join(SOURCE, "pyproject.toml"), "rb") as file:
        text = file.read()
    assert quorlin_build._project_table(text.decode("utf-8")) == tomllib.loads(
        text.decode("utf-8"))["project"]


def test_the_source_archive_builds_a_wheel_of_every_file(tmp_path):
    sdist = quorlin_build.build_sdist(str(tmp_path))
    with tarfile.open(str(tmp_path / sdist)) as archive:
        archive.extractall(str(tmp_path / "unpacked"))
    unpacked = tmp_path / "unpacked" / sdist[: -len(".tar.gz")]
    built = subprocess.run(
        [sys.executable, "-c", "import sys, quorlin_build; print(quorlin_build.build_wheel(sys.argv[1]))",
         str(tmp_path)], cwd=str(unpacked / "backend"), capture_output=True, text=True, check=True)
    with zipfile.ZipFile(str(tmp_path / built.stdout.strip())) as wheel:
        files = sorted(name for name in wheel.namelist() if name.startswith("quorlin/"))
    package = sorted(name for name in os.listdir(os.path.join(SOURCE, "quorlin"))
                     if name.endswith(".py") or name == "py.typed")
    assert files == ["quorlin/" + name for name in package] and "quorlin/py.typed" in files


def _examples():
    """(name, code) of each Python example in the READMEs: the package's, and the project's
    (its Python section), when the tests are given it."""
    readmes = [os.path.join(SOURCE, "README.md")]
    if os.environ.get("QUORLIN_README"):
        readmes.append(os.environ["QUORLIN_README"])
    for readme in readmes:
        with open(readme, encoding="utf-8") as file:
            text = file.read()
        for number, code in enumerate(re.findall(r"```python\n(.*?)```", text, re.S)):
            yield "%s-%d" % (os.path.basename(os.path.dirname(readme)) or "readme", number), code


@pytest.mark.skipif(shutil.which("mypy") is None, reason="needs mypy (Debian: mypy)")
@pytest.mark.parametrize("what", ["the installed package", "the READMEs' examples"])
def test_mypy_strict_passes(tmp_path, what):
    if what == "the installed package":
        targets = ["-p", "quorlin"]
    else:
        targets = []
        for name, code in _examples():
            targets.append(str(tmp_path / ("example_%s.py" % re.sub(r"\W", "_", name))))
            with open(targets[-1], "w", encoding="utf-8") as file:
                file.write(code)
        assert len(targets) == (2 if os.environ.get("QUORLIN_README") else 1)
    run = subprocess.run(["mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
                          "--python-executable", sys.executable] + targets,
                         capture_output=True, text=True, cwd=str(tmp_path))
    assert run.returncode == 0, run.stdout + run.stderr
