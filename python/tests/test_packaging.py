"""The package's build backend and where the package finds its library.

The full build (CMake, a fresh virtual environment, pip without a network)
runs in scripts/test-python.sh; these tests check the backend's own work on
stand-in inputs: the wheel's layout and records, the source archive, and
the search for the C++ sources.
"""

import base64
import hashlib
import pathlib
import runpy
import shutil
import stat
import tarfile
import types
import zipfile

import pytest

import rawconv
from rawconv import _native

PACKAGE = pathlib.Path(__file__).resolve().parents[1]


def load_backend(package_root=PACKAGE):
    """The backend module of the package folder package_root, as pip loads
    it (its own copy, whatever folder it sits in)."""
    path = package_root / "_backend" / "rawconv_build.py"
    return types.SimpleNamespace(**runpy.run_path(str(path)))


@pytest.fixture
def backend():
    return load_backend()


# --- where the library is found ------------------------------------------------

class TestLibraryLookup:
    @pytest.fixture
    def package(self, tmp_path, monkeypatch):
        monkeypatch.delenv("RAWCONV_LIBRARY", raising=False)
        (tmp_path / "_lib").mkdir()
        for path in (tmp_path / "_lib" / "librawconv_api.so.1", tmp_path / "librawconv_api.so.1"):
            path.write_bytes(b"")
        return tmp_path

    def test_the_shipped_library_comes_first(self, package):
        found = list(_native._candidates(here=str(package)))
        assert found[0] == str(package / "_lib" / "librawconv_api.so.1")
        assert found[1] == str(package / "librawconv_api.so.1")

    def test_the_system_loader_comes_after_the_package(self, package):
        found = list(_native._candidates(here=str(package)))
        assert found[-1] == "librawconv_api.so"
        assert not [c for c in found[2:] if c.startswith(str(package))]

    def test_the_variable_overrides_everything(self, package, monkeypatch):
        monkeypatch.setenv("RAWCONV_LIBRARY", "/elsewhere/librawconv_api.so.1")
        assert list(_native._candidates(here=str(package))) == ["/elsewhere/librawconv_api.so.1"]


# --- the wheel ----------------------------------------------------------------

def record_hash(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


class TestWheel:
    LIBRARY = b"\x7fELF stand-in library"

    @pytest.fixture
    def wheel(self, backend, tmp_path):
        members = [(name, pathlib.Path(path).read_bytes())
                   for name, path in backend._package_files()]
        members.append(("rawconv/_lib/librawconv_api.so.1", self.LIBRARY))
        name = backend.write_wheel(str(tmp_path), members)
        return tmp_path / name

    def test_name_and_tags(self, backend, wheel):
        platform = backend.platform_tag()
        assert wheel.name == "rawconv-%s-py3-none-%s.whl" % (rawconv.__version__, platform)
        assert "-" not in platform and "." not in platform
        with zipfile.ZipFile(wheel) as zf:
            text = zf.read("rawconv-%s.dist-info/WHEEL" % rawconv.__version__).decode()
        assert "Root-Is-Purelib: false\n" in text
        assert "Tag: py3-none-%s\n" % platform in text

    def test_contents(self, wheel):
        with zipfile.ZipFile(wheel) as zf:
            names = zf.namelist()
            modes = {info.external_attr >> 16 for info in zf.infolist()}
        assert "rawconv/__init__.py" in names and "rawconv/_native.py" in names
        assert "rawconv/_lib/librawconv_api.so.1" in names
        assert modes == {stat.S_IFREG | 0o644}
        assert not [n for n in names if "__pycache__" in n or n.endswith(".pyc")]
        assert not [n for n in names if n.startswith(("tests/", "_backend/"))]

    def test_record_lists_every_file_with_its_hash(self, wheel):
        dist_info = "rawconv-%s.dist-info" % rawconv.__version__
        with zipfile.ZipFile(wheel) as zf:
            rows = [line.split(",") for line in zf.read(dist_info + "/RECORD").decode().splitlines()]
            listed = {row[0] for row in rows}
            assert listed == set(zf.namelist())
            for name, digest, size in rows:
                if name == dist_info + "/RECORD":
                    assert (digest, size) == ("", "")
                    continue
                data = zf.read(name)
                assert digest == record_hash(data), name
                assert int(size) == len(data), name

    def test_metadata(self, wheel):
        with zipfile.ZipFile(wheel) as zf:
            text = zf.read("rawconv-%s.dist-info/METADATA" % rawconv.__version__).decode()
        head = text.split("\n\n", 1)[0].splitlines()
        assert "Name: rawconv" in head
        assert "Version: %s" % rawconv.__version__ in head
        assert "Requires-Dist: numpy" in head
        assert "Metadata-Version: 2.1" == head[0]
        assert text.split("\n\n", 1)[1].startswith("# rawconv for Python")

    def test_the_same_inputs_give_the_same_bytes(self, backend, tmp_path, wheel):
        again = tmp_path / "again"
        members = [(name, pathlib.Path(path).read_bytes())
                   for name, path in backend._package_files()]
        members.append(("rawconv/_lib/librawconv_api.so.1", self.LIBRARY))
        name = backend.write_wheel(str(again), members)
        assert (again / name).read_bytes() == wheel.read_bytes()


class TestHooks:
    def test_nothing_to_download(self, backend):
        assert backend.get_requires_for_build_wheel() == []
        assert backend.get_requires_for_build_sdist() == []
        assert backend.get_requires_for_build_editable() == []
        text = (PACKAGE / "pyproject.toml").read_text()
        assert "requires = []" in text

    def test_prepared_metadata_is_the_wheels(self, backend, tmp_path):
        name = backend.prepare_metadata_for_build_wheel(str(tmp_path))
        assert name == "rawconv-%s.dist-info" % rawconv.__version__
        assert (tmp_path / name / "METADATA").read_text() == backend._metadata()

    def test_project_table_without_tomllib(self, backend):
        text = (PACKAGE / "pyproject.toml").read_text()
        table = backend._read_project_table(text)
        assert table["dependencies"] == ["numpy"]
        assert table["name"] == "rawconv"
        assert len(table["classifiers"]) >= 1
        try:
            import tomllib
        except ImportError:
            return
        assert table == tomllib.loads(text)["project"]


# --- the C++ sources and the source archive ----------------------------------------

def test_a_missing_cmake_is_named(backend, tmp_path, monkeypatch):
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(backend.BuildError) as err:
        backend.build_library(str(tmp_path))
    assert "cmake not found" in str(err.value) and "C++17 compiler" in str(err.value)


class TestSources:
    def test_found_around_the_package(self, backend, monkeypatch):
        monkeypatch.delenv("RAWCONV_SOURCE_DIR", raising=False)
        assert pathlib.Path(backend.source_root()) == PACKAGE.parent

    def test_a_copied_package_fails_with_advice(self, tmp_path, monkeypatch):
        monkeypatch.delenv("RAWCONV_SOURCE_DIR", raising=False)
        copy = tmp_path / "python"
        shutil.copytree(PACKAGE, copy, ignore=shutil.ignore_patterns("__pycache__", "_lib"))
        alone = load_backend(copy)
        with pytest.raises(alone.BuildError) as err:
            alone.source_root()
        assert "C++ sources" in str(err.value) and "RAWCONV_SOURCE_DIR" in str(err.value)
        monkeypatch.setenv("RAWCONV_SOURCE_DIR", str(PACKAGE.parent))
        assert alone.source_root() == str(PACKAGE.parent)

    def test_sdist_builds_on_its_own(self, backend, tmp_path):
        name = backend.build_sdist(str(tmp_path))
        base = "rawconv-%s" % rawconv.__version__
        assert name == base + ".tar.gz"
        with tarfile.open(tmp_path / name) as tar:
            names = tar.getnames()
            for member in ("pyproject.toml", "README.md", "PKG-INFO", "rawconv/__init__.py",
                           "_backend/rawconv_build.py", "native/CMakeLists.txt",
                           "native/lib/api/rawconv_api.h", "native/cmake/Install.cmake"):
                assert base + "/" + member in names, member
            assert not [n for n in names if "__pycache__" in n or "/_lib/" in n]
            assert all(m.mtime == 0 and m.uid == 0 for m in tar.getmembers())
            tar.extractall(tmp_path / "unpacked")
        unpacked = tmp_path / "unpacked" / base
        alone = load_backend(unpacked)
        assert alone.source_root() == str(unpacked / "native")
        # Built twice, the archive is the same bytes.
        again = tmp_path / "again"
        backend.build_sdist(str(again))
        assert (again / name).read_bytes() == (tmp_path / name).read_bytes()
