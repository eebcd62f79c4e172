"""convert() and gpb2rinex follow one set of rules: output folders are made
(and taken away again when nothing was written into them), the same values
are refused for the same reasons, and every refusal names what to change."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

import rawconv
from rawconv import _convert, _native
from conftest import RUN_DATE, listing


def gpb2rinex():
    """The command-line converter built beside the library under test
    (RAWCONV_GPB2RINEX names another), or None."""
    given = os.environ.get("RAWCONV_GPB2RINEX")
    if given:
        return given
    lib = os.environ.get("RAWCONV_LIBRARY")
    if lib:
        candidate = pathlib.Path(lib).resolve().parent.parent / "cli" / "gpb2rinex"
        if candidate.is_file():
            return str(candidate)
    return None


def run_cli(*args, cwd):
    tool = gpb2rinex()
    if tool is None:
        pytest.skip("gpb2rinex not built beside the library")
    return subprocess.run([tool, *args], cwd=cwd, capture_output=True, text=True)


def first_line(path):
    with open(path, "rb") as f:
        return f.readline().decode("ascii")


class TestFolders:
    def test_output_dir_is_made_with_its_parents(self, sample, tmp_path):
        target = tmp_path / "new" / "day1"
        report = rawconv.convert(sample, output_dir=target, run_date=RUN_DATE)
        assert listing(target) == ["sample.05n", "sample.05o"]
        assert report.obs_path == str(target / "sample.05o")

    def test_qc_dir_is_made(self, sample, out, tmp_path):
        reports = tmp_path / "reports" / "qc"
        report = rawconv.convert(sample, output_dir=out, qc=True, qc_dir=reports)
        assert listing(reports) == ["sample.05o.qc.html", "sample.05o.qc.json",
                                    "sample.05o.qc.txt"]
        assert report.qc_text_path == str(reports / "sample.05o.qc.txt")

    def test_a_call_that_wrote_nothing_takes_its_folders_away(self, sample, tmp_path):
        (tmp_path / "kept").mkdir()
        target = tmp_path / "kept" / "a" / "b"
        with pytest.raises(rawconv.ConversionError):
            rawconv.convert(sample, output_dir=target, from_time="2030-01-01 00:00:00")
        # The folders made are gone; the one that was there stays.
        assert listing(tmp_path / "kept") == []
        with pytest.raises(rawconv.ConversionError):
            rawconv.convert(sample, output_dir=tmp_path / "o", qc="only",
                            qc_dir=tmp_path / "q", progress=lambda done, total: True)
        assert sorted(p.name for p in tmp_path.iterdir()) == ["in", "kept", "out"]

    def test_folders_of_a_check_alone_without_output_are_taken_away(self, sample, tmp_path):
        # qc="only" writes into qc_dir alone: the output folder stays empty.
        rawconv.convert(sample, output_dir=tmp_path / "unused", qc="only",
                        qc_dir=tmp_path / "reports")
        assert not (tmp_path / "unused").exists()
        assert len(listing(tmp_path / "reports")) == 3

    def test_a_file_in_the_way_names_the_keyword(self, sample, tmp_path):
        blocker = tmp_path / "file"
        blocker.write_bytes(b"x")
        for option in ("output_dir", "qc_dir"):
            args = {option: blocker / "sub" if option == "qc_dir" else blocker, "qc": True}
            with pytest.raises(rawconv.ConversionError) as caught:
                rawconv.convert(sample, **args)
            assert caught.value.field == option
            assert caught.value.code == rawconv.RESULT_FAILED
            assert str(caught.value).startswith("Cannot create output folder")
        assert blocker.read_bytes() == b"x"
        assert listing(sample.parent) == ["sample.epp", "sample.gpb", "sample.sta"]

    def test_a_folder_in_use_by_another_call_stays(self, tmp_path):
        # Call A made the folder; call B (another thread) is about to write
        # into it when A, failed, tidies up: the folder stays for B.
        target = tmp_path / "shared" / "day"
        a, b = _convert._Folders(), _convert._Folders()
        a.create("output_dir", os.fsencode(target))
        b.create("output_dir", os.fsencode(target))
        a.remove_empty()
        assert target.is_dir()
        b.remove_empty()  # B made nothing, so takes nothing away
        assert target.is_dir()
        c = _convert._Folders()
        c.create("qc_dir", os.fsencode(tmp_path / "alone" / "q"))
        c.remove_empty()
        assert listing(tmp_path) == ["shared"]

    def test_plan_makes_no_folder(self, sample, tmp_path):
        report = rawconv.plan(sample, output_dir=tmp_path / "later")
        assert report.obs_path == str(tmp_path / "later" / "sample.05o")
        assert not (tmp_path / "later").exists()


# Each case: the keywords, the refusal expected, gpb2rinex's options for the
# same request (which it refuses as bad arguments, exit code 2).
REFUSED = [
    ({"interval": 0}, ValueError, "^interval=0", ["--interval", "0"]),
    ({"interval": 0.0}, ValueError, "^interval", ["--interval", "0.0"]),
    ({"week": 1316.9}, TypeError, "^week must be an int, not float", ["--week", "1316.9"]),
    ({"week": 1316.0}, TypeError, "^week .*give 1316, not 1316.0", ["--week", "1316.0"]),
    ({"week": True}, TypeError, "^week", ["--week", "true"]),
    ({"week": "1316"}, TypeError, "^week", None),
    ({"run_date": 1.5}, TypeError, "^run_date must be an int", ["--fixed-run-date", "1.5"]),
    ({"run_date": -1}, ValueError, "^run_date=-1", ["--fixed-run-date", "-1"]),
    ({"run_date": 10 ** 12}, ValueError, "^run_date", ["--fixed-run-date", str(10 ** 12)]),
    ({"antenna_height": "1.5"}, TypeError, "^antenna_height must be a number", None),
    ({"elevation_mask": True, "qc": True}, TypeError, "^elevation_mask", None),
    ({"position": (1, "x", 3)}, TypeError, "^position", ["--position", "1,x,3"]),
    ({"elevation_mask": 5}, ValueError, "^elevation_mask goes with qc",
     ["--elevation-mask", "5"]),
    ({"qc_dir": "reports"}, ValueError, "^qc_dir goes with qc", ["--qc-dir", "reports"]),
    ({"split": "1h", "qc": "only"}, ValueError, "^split", ["--split", "1h", "--qc-only"]),
    ({"station_id": "SITE"}, ValueError, "^station_id='SITE': expected 9",
     ["--station-id", "SITE"]),
    ({"output_dir": ""}, ValueError, "^output_dir: empty", ["-o", ""]),
    ({"epp": ""}, ValueError, "^epp: empty", ["--epp", ""]),
    ({"qc": True, "qc_dir": ""}, ValueError, "^qc_dir: empty", ["--qc", "--qc-dir", ""]),
]


class TestRefusals:
    @pytest.mark.parametrize("options, error, match, cli", REFUSED)
    def test_refused_naming_the_keyword(self, sample, out, options, error, match, cli):
        options = dict(options)
        with pytest.raises(error, match=match):
            rawconv.convert(sample, **options)
        with pytest.raises(error, match=match):
            rawconv.plan(sample, **options)
        assert listing(out) == []
        assert listing(sample.parent) == ["sample.epp", "sample.gpb", "sample.sta"]

    @pytest.mark.parametrize("options, error, match, cli",
                             [case for case in REFUSED if case[3] is not None])
    def test_gpb2rinex_refuses_the_same(self, sample, options, error, match, cli):
        done = run_cli(*cli, str(sample), cwd=sample.parent)
        assert done.returncode == 2, done.stderr
        assert listing(sample.parent) == ["sample.epp", "sample.gpb", "sample.sta"]

    def test_a_day_with_slashes_is_the_same_day(self, sample, out, tmp_path):
        os.remove(sample.with_suffix(".epp"))
        with pytest.warns(rawconv.ConversionWarning, match="observation file only"):
            dashed = rawconv.convert(sample, output_dir=out, date="2005-04-02",
                                     run_date=RUN_DATE)
        with pytest.warns(rawconv.ConversionWarning, match="observation file only"):
            slashed = rawconv.convert(sample, output_dir=tmp_path / "slashed", date="2005/04/02",
                                      run_date=RUN_DATE)
        assert (slashed.first_week, slashed.first_tow) == (dashed.first_week, dashed.first_tow)
        data = rawconv.read_gpb(sample, date="2005/04/02")
        assert data.week[0] == dashed.first_week
        for mixed in ("2005/04-02", "2005-04/02"):
            with pytest.raises(rawconv.ConversionError) as caught:
                rawconv.convert(sample, output_dir=out, date=mixed)
            assert caught.value.field == "date"
            with pytest.raises(ValueError, match="^date"):
                rawconv.read_gpb(sample, date=mixed)
            if gpb2rinex() is not None:
                assert run_cli("--date", mixed, str(sample), cwd=sample.parent).returncode == 2

    def test_integers_of_other_types_are_taken(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, week=np.int32(1316),
                                 run_date=np.int64(RUN_DATE), interval=np.float64(60),
                                 antenna_height=np.float32(1.5), epp=None)
        assert report.first_week == 1316
        assert report.interval == 60.0

    def test_out_of_range_values_are_the_library_s_to_refuse(self, sample, out):
        # Negative and too long intervals reach the library, which names
        # the keyword as for any of its own refusals.
        for interval in (-30, 86401, float("nan")):
            with pytest.raises(rawconv.ConversionError) as caught:
                rawconv.convert(sample, output_dir=out, interval=interval)
            assert caught.value.code == rawconv.RESULT_INVALID
            assert caught.value.field == "interval"
        assert listing(out) == []


class TestRinexValues:
    """A version as a text or a number means what gpb2rinex's --rinex of the
    same text means; what it refuses is refused."""

    VALUES = ["3.04", 3.04, 3, "3", 3.05, 2, "2", 2.0, "2.0", 2.1, 2.11, "2.10", 4, 4.0,
              "4.00", np.float64(3.03), np.int64(3), 304, "304", 3.0, "3.4", " 3", "3.04 "]

    @pytest.mark.parametrize("value", VALUES, ids=lambda v: "%s:%s" % (type(v).__name__, v))
    def test_same_meaning_as_the_command_line(self, sample, tmp_path, value):
        py_out, cli_out = tmp_path / "py", tmp_path / "cli"
        done = run_cli("--rinex", str(value), "-o", str(cli_out), "--fixed-run-date",
                       str(RUN_DATE), str(sample), cwd=tmp_path)
        if done.returncode != 0:
            assert done.returncode == 2, done.stderr
            with pytest.raises(ValueError, match="^rinex="):
                rawconv.convert(sample, output_dir=py_out, rinex=value)
            assert not py_out.exists()
            return
        report = rawconv.convert(sample, output_dir=py_out, rinex=value, run_date=RUN_DATE)
        cli_obs = cli_out / os.path.basename(report.obs_path)
        assert first_line(report.obs_path) == first_line(cli_obs)
        assert first_line(report.nav_path) == first_line(cli_out / os.path.basename(report.nav_path))

    @pytest.mark.parametrize("value", [304, 3.0])
    def test_no_other_spelling(self, sample, out, value):
        # 304 is the options record's code of 3.04, not a version anyone writes.
        with pytest.raises(ValueError, match=r"^rinex=.*expected one of 2\.0, "):
            rawconv.convert(sample, output_dir=out, rinex=value)


class TestKeywords:
    def test_every_field_of_the_options_record_has_its_keyword(self):
        keywords = set(_convert.OPTION_NAMES) | {"gpb", "epp"}
        for field, _ in _native.Options._fields_:
            keyword = _convert._keyword_of(field)
            assert keyword == "" or keyword in keywords, field
        for internal in ("size", "output", "output_user", "single_thread"):
            assert _convert._keyword_of(internal) == ""
        assert _convert._keyword_of("progress_user") == "progress"
        assert _convert._keyword_of("comment_count") == "comments"

    def test_exists_names_the_keyword_with_its_choices(self, sample, out):
        rawconv.convert(sample, output_dir=out, run_date=RUN_DATE)
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out)
        err = caught.value
        assert err.code == rawconv.RESULT_EXISTS and err.field == "existing"
        assert str(err) == (err.report.error
                            + "; existing='skip' leaves it, existing='replace' replaces it")
        assert str(err).startswith("Output file %s exists" % (out / "sample.05o"))

    def test_missing_ephemeris_advice_names_the_keywords(self, sample, out):
        os.remove(sample.with_suffix(".epp"))
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out)
        assert caught.value.field == "epp"
        assert str(caught.value).endswith('; give epp=FILE, week=N or date="YYYY-MM-DD"')
        assert "EPP file" in caught.value.report.error

    @pytest.mark.parametrize("options, keyword", [
        ({"comments": ["c"] * 40}, "comments"),
        ({"station": "absent.sta"}, "station"),
        ({"obs_path": "x.obs"}, "nav_path"),
        ({"week": 1316, "date": "2005-04-02"}, "date"),
        ({"antenna_height": -1}, "antenna_height"),
        ({"marker_type": "GEODETIC"}, "marker_type"),
    ])
    def test_library_refusals_name_the_keyword(self, sample, out, options, keyword):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, **options)
        assert caught.value.field == keyword
        assert listing(out) == []
