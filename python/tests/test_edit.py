import datetime
import os

import pytest

import rawconv
from conftest import RUN_DATE, listing
from test_convert import header_of, label, read_lines


def epoch_lines(path):
    """The epoch records (not event records) of a RINEX 2 observation file."""
    lines = read_lines(path)
    body = lines[next(i for i, l in enumerate(lines) if label(l) == "END OF HEADER") + 1:]
    return [l for l in body if len(l) > 29 and l[:3] == " 05" and l[28] == "0"]


class TestEditWhileConverting:
    def test_window_decimation_exclusion_and_types(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE,
                                 from_time="2005-04-02 00:10:00",
                                 to_time=datetime.datetime(2005, 4, 2, 0, 40),
                                 interval=300, exclude=["G07", "R"], obs_types="C1,L1")
        epochs = epoch_lines(report.obs_path)
        assert report.epochs_written == len(epochs) == 6
        assert [e[13:15] for e in epochs] == ["10", "15", "20", "25", "30", "35"]
        assert all("G 7" not in e[32:] for e in epochs)
        labels = {label(l): l[:60] for l in header_of(report.obs_path)}
        assert labels["# / TYPES OF OBSERV"].split() == ["2", "C1", "L1"]
        assert float(labels["INTERVAL"]) == 300.0
        assert labels["TIME OF FIRST OBS"].split()[:5] == ["2005", "4", "2", "0", "10"]

    def test_metadata_and_full_header(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE,
                                 marker_number="10001M001", receiver_number="4711",
                                 receiver_type="TRIMBLE 5700", receiver_version="2.32",
                                 antenna_number="88", antenna_type="TRM41249.00     NONE",
                                 position=(1.0, 2.0, 3.0), antenna_delta=[1.5, 0, 0],
                                 comments=["one", "two"], full_header=True)
        head = header_of(report.obs_path)
        labels = {label(l): l[:60] for l in head}
        assert labels["MARKER NUMBER"].strip() == "10001M001"
        assert labels["REC # / TYPE / VERS"] == "%-20s%-20s%-20s" % ("4711", "TRIMBLE 5700", "2.32")
        assert labels["ANT # / TYPE"] == "%-20s%-40s" % ("88", "TRM41249.00     NONE")
        assert labels["APPROX POSITION XYZ"].split() == ["1.0000", "2.0000", "3.0000"]
        assert labels["ANTENNA: DELTA H/E/N"].split() == ["1.5000", "0.0000", "0.0000"]
        assert [l[:60].strip() for l in head if label(l) == "COMMENT"] == ["one", "two"]
        prn_lines = [l for l in head if label(l) == "PRN / # OF OBS"]
        assert int(labels["# OF SATELLITES"]) == len(prn_lines) == report.satellites

    @pytest.mark.parametrize("option, value, words", [
        ("from_time", "2005-02-30 00:00:00", "Bad time"),
        ("interval", -30, "Bad interval"),
        ("exclude", "E05", "Bad exclusion"),
        ("obs_types", ["C1", "Q9"], "Bad observation type"),
        ("antenna_type", "X" * 21, "Bad antenna type"),
        ("position", (1e12, 0, 0), "Bad position"),
        ("comments", "c" * 61, "Bad comment"),
    ])
    def test_bad_values_are_invalid_and_write_nothing(self, sample, out, option, value, words):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, **{option: value})
        assert caught.value.code == rawconv.RESULT_INVALID
        assert words in caught.value.message and "\n" not in caught.value.message
        assert listing(out) == []

    def test_type_absent_from_the_data_fails_the_file(self, sample, out):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, obs_types="C1,S2")
        assert caught.value.code == rawconv.RESULT_FAILED
        assert "S2 is not in the data" in caught.value.message
        assert listing(out) == []

    def test_badly_typed_options_are_refused_before_the_call(self, sample, out):
        with pytest.raises(TypeError):
            rawconv.convert(sample, output_dir=out, position="1,2,3x")
        with pytest.raises(ValueError):
            rawconv.convert(sample, output_dir=out, antenna_delta=(1, 2))



def test_split_lists_the_span_files_in_time_order(sample, out):
    planned = rawconv.plan(sample, output_dir=out, split="15m", names="short")
    assert listing(out) == []
    report = rawconv.convert(sample, output_dir=out, split="15m", names="short")
    names = [os.path.basename(p) for p in report.obs_paths]
    assert names == ["samp092a00.05o", "samp092a15.05o", "samp092a30.05o", "samp092a45.05o"]
    assert planned.obs_paths == report.obs_paths and report.obs_path == report.obs_paths[0]
    assert [kind for kind, _, _ in report.outputs] == ["obs"] * 4 + ["nav"]
    assert listing(out) == sorted(names + ["samp092a.05n"])
    with pytest.raises(ValueError):
        rawconv.convert(sample, output_dir=out, split="2h")
