"""Every ```python block of python/README.md runs as written.

The blocks are read as one session: each runs after the blocks before it,
in their names, in a fresh folder holding the inputs the README names
(NAME.gpb, NAME.epp and NAME.sta are copies of the sample in examples/, as
the README says)."""

import contextlib
import os
import re
import shutil
import warnings

import pytest

from conftest import EXAMPLES, REPO

README = REPO / "python" / "README.md"

# A fenced block: its opening line (```python), its text, its closing line.
_BLOCK = re.compile(r"^```python[ \t]*\n(.*?)^```[ \t]*$", re.M | re.S)
_INPUT = re.compile(r"""["']([\w.-]+)\.(gpb|epp|sta)["']""")


def blocks(text):
    """(first line number, code) of every python block."""
    found = []
    for match in _BLOCK.finditer(text):
        line = text.count("\n", 0, match.start(1)) + 1
        found.append((line, match.group(1)))
    return found


BLOCKS = blocks(README.read_text(encoding="utf-8"))


def make_inputs(folder, code):
    """Copies of the sample under every input name the code reads."""
    for stem, ext in _INPUT.findall(code):
        source = EXAMPLES / ("sample." + ext)
        target = folder / ("%s.%s" % (stem, ext))
        if source.exists() and not target.exists():
            shutil.copy(source, target)


@contextlib.contextmanager
def working_folder(folder):
    here = os.getcwd()
    os.chdir(folder)
    try:
        yield
    finally:
        os.chdir(here)


def test_the_readme_has_examples():
    assert len(BLOCKS) >= 2
    # The extraction sees blocks whatever precedes them.
    assert blocks("x\n```python\na = 1\n```\ntext\n```python\nb = 2\n```\n") == [
        (3, "a = 1\n"), (7, "b = 2\n")]
    assert blocks("```sh\nls\n```\n") == []


@pytest.mark.parametrize("index", range(len(BLOCKS)),
                         ids=["line%d" % line for line, _ in BLOCKS])
def test_block_runs(tmp_path, capsys, index):
    for _, code in BLOCKS:
        make_inputs(tmp_path, code)
    names = {"__name__": "__readme__"}
    with working_folder(tmp_path), warnings.catch_warnings():
        for line, code in BLOCKS[:index + 1]:
            compiled = compile("\n" * (line - 1) + code, str(README), "exec")
            exec(compiled, names)  # noqa: S102 - the README's own examples
    capsys.readouterr()
