"""The failures that every face of the library reports alike (tests/failures.tsv, which
says how each is provoked): the package's QuorlinError for each gives the row's result,
code, site and explanation."""

import csv
import os
import tempfile

import pytest

import quorlin
from conftest import another_set_in_creation

pytestmark = pytest.mark.root


# The table: where the tests are told, else in the tree that holds them.
TABLE = os.environ.get("QUORLIN_FAILURES", os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tests", "failures.tsv"))


def _rows():
    with open(TABLE, newline="", encoding="utf-8") as table:
        lines = [line for line in table if not line.startswith("#")]
    return list(csv.DictReader(lines, delimiter="\t", quoting=csv.QUOTE_NONE))


def _start(path):
    with pytest.raises(quorlin.QuorlinError) as raised:
        quorlin.Snapshot(path).start()
    return raised.value


def _start_while_another_set_is_created(path):
    with another_set_in_creation(None):
        return _start(path)


# How the package's own calls provoke each case, on a file on tmpfs.
PROVOKE = {
    "not-btrfs": _start,
    "missing-path": lambda path: _start(os.path.join(os.path.dirname(path), "missing")),
    "set-in-creation": _start_while_another_set_is_created,
}
# The cases that the package cannot provoke, and why.
UNREACHABLE = {
    "complete-without-start": "complete() without a held backup does nothing",
}


@pytest.mark.parametrize("row", _rows(), ids=lambda row: row["case"])
def test_each_failure_reads_as_the_table_says(row):
    if row["case"] in UNREACHABLE:
        pytest.skip(UNREACHABLE[row["case"]])
    with tempfile.NamedTemporaryFile(dir="/dev/shm") as file:
        error = PROVOKE[row["case"]](file.name)
    assert (error.result, error.code, error.site, error.explanation) == (
        int(row["result"]), int(row["code"], 16), int(row["site"]), row["explanation"])
    assert str(error).startswith(row["explanation"] + " (")
