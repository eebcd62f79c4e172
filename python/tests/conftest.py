import os
import shutil
import pathlib

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = REPO / "examples"

# Seconds since 1970 for the run-date header lines: reproducible outputs.
RUN_DATE = 1136073600


@pytest.fixture
def sample(tmp_path):
    """A folder with the sample's GPB, EPP and station file; returns the GPB
    file's path. Outputs go to tmp_path / "out"."""
    src = tmp_path / "in"
    src.mkdir()
    for ext in ("gpb", "epp", "sta"):
        shutil.copy(EXAMPLES / ("sample." + ext), src / ("sample." + ext))
    (tmp_path / "out").mkdir()
    return src / "sample.gpb"


@pytest.fixture
def out(tmp_path):
    return tmp_path / "out"


def listing(folder):
    return sorted(os.listdir(folder))
