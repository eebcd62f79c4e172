"""read_gpb reads through the library's block call, refuses an EPP file it
cannot date by, and prints as one line."""

import dataclasses

import numpy as np
import pytest

import rawconv
from rawconv import _gpb, _native


def assert_same_data(a, b):
    for field in dataclasses.fields(rawconv.GpbData):
        x, y = getattr(a, field.name), getattr(b, field.name)
        if field.name == "obs":
            assert x.keys() == y.keys()
            for name in x:
                np.testing.assert_array_equal(x[name], y[name], err_msg=name)
        elif isinstance(x, np.ndarray):
            assert x.dtype == y.dtype, field.name
            np.testing.assert_array_equal(x, y, err_msg=field.name)
        else:
            assert x == y, field.name


class TestBlocks:
    def test_one_call_per_block_and_none_per_epoch(self, sample, monkeypatch):
        lib = _native.library()
        calls = {"read": 0}
        bulk = lib.rawconv_gpb_read_columns

        def counted(*args):
            calls["read"] += 1
            return bulk(*args)

        def per_epoch(*args):
            raise AssertionError("read_gpb read an epoch at a time")

        monkeypatch.setattr(lib, "rawconv_gpb_read_columns", counted)
        monkeypatch.setattr(lib, "rawconv_gpb_next", per_epoch)
        monkeypatch.setattr(_gpb, "_BLOCK", 50)
        data = rawconv.read_gpb(sample, epp=sample.with_suffix(".epp"))
        assert len(data) == 120
        # The count (one call), 50 + 50 + 20, and the look at the end.
        assert calls["read"] == 5

    @pytest.mark.parametrize("block", [1, 7, 120, 121])
    def test_block_size_changes_nothing(self, sample, monkeypatch, block):
        whole = rawconv.read_gpb(sample, epp=sample.with_suffix(".epp"))
        monkeypatch.setattr(_gpb, "_BLOCK", block)
        assert_same_data(rawconv.read_gpb(sample, epp=sample.with_suffix(".epp")), whole)

    def test_damaged_end_across_blocks(self, sample, monkeypatch, tmp_path):
        cut = tmp_path / "cut.gpb"
        raw = sample.read_bytes()
        cut.write_bytes(raw[: len(raw) // 2 + 3])
        whole = rawconv.read_gpb(cut, week=1316)
        monkeypatch.setattr(_gpb, "_BLOCK", 16)
        part = rawconv.read_gpb(cut, week=1316)
        assert part.damaged and part.error
        assert_same_data(part, whole)


class TestEphemerisFile:
    @pytest.mark.parametrize("name, content, reason", [
        ("nosuch.epp", None, "Cannot open ephemeris file .*nosuch.epp: No such file"),
        ("folder.epp", "folder", "Cannot open ephemeris file .*folder.epp: "),
        ("junk.epp", b"not an ephemeris\n", "junk.epp holds no ephemeris to date the recording"),
        ("empty.epp", b"", "empty.epp holds no ephemeris"),
    ])
    def test_unusable_file_raises(self, sample, tmp_path, name, content, reason):
        epp = tmp_path / name
        if content == "folder":
            epp.mkdir()
        elif content is not None:
            epp.write_bytes(content)
        with pytest.raises(rawconv.GpbError, match=reason):
            rawconv.read_gpb(sample, epp=epp)

    def test_week_wins_over_the_file(self, sample, tmp_path):
        data = rawconv.read_gpb(sample, epp=tmp_path / "nosuch.epp", week=1316)
        assert set(data.week) == {1316}


class TestRepr:
    def test_one_line_with_shape_span_and_receiver(self, sample):
        text = repr(rawconv.read_gpb(sample, epp=sample.with_suffix(".epp")))
        assert "\n" not in text and len(text) < 200
        assert text.startswith("GpbData(120 epochs x 24 channels, 2005-04-02 00:00:00 to "
                               "2005-04-02 00:59:30")
        assert "11 satellites" in text and "receiver 'TRIMBLE 5700'" in text

    def test_undated_and_damaged(self, sample, tmp_path):
        assert "week unknown" in repr(rawconv.read_gpb(sample))
        cut = tmp_path / "cut.gpb"
        cut.write_bytes(sample.read_bytes()[:2000])
        text = repr(rawconv.read_gpb(cut, week=1316))
        assert "\n" not in text and "damaged: " in text
