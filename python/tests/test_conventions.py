"""What a Python user meets first: the version texts, paths taken exactly as
given, NULs refused, dating without an EPP file, warnings and the keyword an
error is about."""

import datetime
import os
import pathlib
import re
import shutil
import warnings

import numpy as np
import pytest

import rawconv

from conftest import REPO, listing


def _project_version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r"project\(rawconv VERSION ([0-9.]+)", text).group(1)


def _pyproject_version():
    """The package metadata's version: written in pyproject.toml, or the
    one the build backend writes into the metadata."""
    text = (REPO / "python" / "pyproject.toml").read_text()
    written = re.search(r'^version = "([^"]+)"', text, re.M)
    if written:
        return written.group(1)
    assert re.search(r'^dynamic = \["version"\]', text, re.M), text
    from test_packaging import load_backend
    return load_backend()._version()


class TestVersion:
    def test_one_release_text_everywhere(self):
        assert rawconv.__version__ == "7.60.1122"
        assert rawconv.library_version() == rawconv.__version__
        assert _pyproject_version() == rawconv.__version__
        assert _project_version() == rawconv.__version__

    def test_dialog_number_and_year_stay_as_they_were(self):
        number, year, _ = rawconv.library_version_info()
        assert (number, year) == (pytest.approx(7.601122), 2005)


class TestNulRefused:
    """ctypes would cut the text at the NUL and the library would open, or
    write, another file than the one named."""

    @pytest.mark.parametrize("where", ["gpb", "epp", "output_dir", "obs_path", "station",
                                       "qc_dir", "marker", "observer", "from_time",
                                       "antenna_type", "comments", "exclude", "date"])
    def test_convert_refuses_and_names_the_keyword(self, sample, out, where):
        args = {"gpb": str(sample), "output_dir": str(out)}
        value = {"epp": str(sample.with_suffix(".epp")) + "\0.old",
                 "obs_path": str(out / "x.obs") + "\0x",
                 "station": str(sample.with_suffix(".sta")) + "\0x",
                 "qc_dir": str(out) + "\0x",
                 "from_time": "2005-04-02 00:10:00\0x",
                 "comments": ["fine", "cut\0here"],
                 "exclude": ["G07", "G0\0"],
                 "date": "2005-04-02\0"}.get(where)
        if where == "gpb":
            args["gpb"] = str(sample) + "\0.old"
        elif where == "output_dir":
            args["output_dir"] = str(out) + "\0x"
        else:
            args[where] = value if value is not None else "SITE\0X"
        gpb = args.pop("gpb")
        with pytest.raises(ValueError, match=r"^%s\b.*NUL" % where):
            rawconv.convert(gpb, **args)
        with pytest.raises(ValueError, match=r"^%s\b.*NUL" % where):
            rawconv.plan(gpb, **args)
        assert listing(out) == []

    def test_bytes_and_path_like_paths(self, sample, out):
        with pytest.raises(ValueError, match="^gpb"):
            rawconv.convert(os.fsencode(str(sample)) + b"\0x", output_dir=out)
        with pytest.raises(ValueError, match="^epp"):
            rawconv.convert(sample, epp=pathlib.Path(str(sample.with_suffix(".epp")) + "\0"),
                            output_dir=out)
        assert listing(out) == []

    def test_read_gpb_refuses(self, sample):
        with pytest.raises(ValueError, match="^path"):
            rawconv.read_gpb(str(sample) + "\0x")
        with pytest.raises(ValueError, match="^epp"):
            rawconv.read_gpb(sample, epp=str(sample.with_suffix(".epp")) + "\0x")


class TestWeekRange:
    """A week the C field cannot hold would wrap around and date another
    week; one beyond the writers' dates would be printed wrongly."""

    @pytest.mark.parametrize("week", [2**32 + 1316, 99999, -1])
    def test_out_of_range_is_refused(self, sample, out, week):
        with pytest.raises(ValueError, match="week"):
            rawconv.convert(sample, output_dir=out, week=week)
        with pytest.raises(ValueError, match="week"):
            rawconv.read_gpb(sample, week=week)
        assert listing(out) == []

    def test_last_week_is_taken(self, sample):
        assert set(rawconv.read_gpb(sample, week=5216).week) == {5216}


class TestPathAsGiven:
    def test_epp_of_another_name_is_the_one_read(self, sample, out):
        epp = sample.parent / "ephem.dat"
        shutil.move(sample.with_suffix(".epp"), epp)
        report = rawconv.convert(sample, epp=epp, output_dir=out)
        assert report.nav_records > 0
        assert listing(out) == ["sample.05n", "sample.05o"]


class TestReadGpbDate:
    def test_a_day_of_the_recording_dates_as_the_ephemeris_does(self, sample):
        by_epp = rawconv.read_gpb(sample, epp=sample.with_suffix(".epp"))
        os.remove(sample.with_suffix(".epp"))
        for date in ("2005-04-02", datetime.date(2005, 4, 2), datetime.date(2005, 4, 3),
                     datetime.datetime(2005, 4, 1, 23, 0)):
            by_date = rawconv.read_gpb(sample, date=date)
            np.testing.assert_array_equal(by_date.week, by_epp.week)
            np.testing.assert_array_equal(by_date.time, by_epp.time)

    def test_each_epoch_nearest_noon_of_the_day(self, sample):
        # The sample lies at the end of week 1316 (Saturday 00:00 to 01:00):
        # noon of the Wednesday after is nearer the next week's Saturday.
        assert set(rawconv.read_gpb(sample, date="2005-04-06").week) == {1317}
        assert set(rawconv.read_gpb(sample, date="2005-04-04").week) == {1316}

    @pytest.mark.parametrize("options, match", [
        ({"date": "2005-4-2"}, "YYYY-MM-DD"),
        ({"date": "2005-02-30"}, "2005-02-30\": expected YYYY-MM-DD"),
        ({"date": "1980-01-05"}, "weeks 0 to 5216"),
        ({"date": "2080-01-01"}, "weeks 0 to 5216"),
        ({"date": "2005-04-02", "week": 1316}, "one of"),
        ({"date": "2005-04-02", "epp": "x.epp"}, "one of"),
    ])
    def test_bad_dates(self, sample, options, match):
        with pytest.raises(ValueError, match=match):
            rawconv.read_gpb(sample, **options)


class TestLibraryReports:
    """The report's warnings and the field an error is about, as Python
    spells them."""

    def test_error_names_the_keyword(self, sample, out):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, observer="x" * 21)
        assert caught.value.field == "observer" == caught.value.report.error_field
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, marker="x" * 61)
        assert caught.value.field == "marker"
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, from_time="2005-04-02 25:00:00")
        assert caught.value.field == "from_time"
        assert listing(out) == []

    @pytest.mark.parametrize("dating", [{"week": 1316}, {"date": "2005-04-02"}])
    def test_without_ephemerides_a_warning_and_the_observation_file(self, sample, out,
                                                                     dating):
        os.remove(sample.with_suffix(".epp"))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            report = rawconv.convert(sample, output_dir=out, **dating)
        assert report.warnings and all("\n" not in line for line in report.warnings)
        assert any("sample.epp" in line for line in report.warnings)
        heard = [w for w in caught if issubclass(w.category, rawconv.ConversionWarning)]
        assert [str(w.message) for w in heard] == list(report.warnings)
        assert heard[0].filename == __file__
        assert listing(out) == ["sample.05o"]
        assert report.first_time.startswith("2005-04-02 00:00:00")

    def test_no_warning_on_a_plain_conversion(self, sample, out):
        with warnings.catch_warnings():
            warnings.simplefilter("error", rawconv.ConversionWarning)
            report = rawconv.convert(sample, output_dir=out)
        assert report.warnings == () and report.error_field == ""
