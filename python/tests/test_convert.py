import filecmp
import os
import shutil
import threading

import pytest

import rawconv
from conftest import RUN_DATE, listing


def read_lines(path):
    with open(path, "rb") as f:
        return f.read().decode("ascii").splitlines()


def label(line):
    return line[60:].strip()


def header_of(path):
    """The header lines of a RINEX file, up to END OF HEADER."""
    lines = read_lines(path)
    end = next(i for i, line in enumerate(lines) if label(line) == "END OF HEADER")
    return lines[:end + 1]


class TestConvertSample:
    def test_report_describes_the_outputs(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, marker="ROOF", run_date=RUN_DATE)
        assert report.ok and report.result == rawconv.RESULT_OK
        assert report.result_name == "ok" and report.error == ""
        assert listing(out) == ["sample.05n", "sample.05o"]
        assert report.obs_path == str(out / "sample.05o")
        assert report.nav_path == str(out / "sample.05n")
        assert 0 < report.epochs_written <= report.epochs_read
        assert report.satellites >= 8
        assert report.interval == 30.0
        assert report.first_time.startswith("2005-04-02 00:00:00")
        assert (report.first_week, report.first_tow) == (1316, 518400.0)
        assert report.last_week == 1316 and report.last_tow > report.first_tow
        assert report.nav_records > 0
        assert not report.gpb_damaged
        assert report.gpb_bytes_used == report.gpb_file_size == os.path.getsize(sample)

    def test_options_reach_the_header(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, rinex="2.00", marker="ROOF",
                                 observer="ANNA", agency="SURVEY OFFICE", run_by="BATCH",
                                 antenna_height=1.25, station=None, run_date=RUN_DATE)
        head = header_of(report.obs_path)
        assert float(head[0][:9]) == 2.0
        labels = {label(line): line[:60] for line in head}
        assert labels["MARKER NAME"].strip() == "ROOF"
        assert labels["OBSERVER / AGENCY"].split() == ["ANNA", "SURVEY", "OFFICE"]
        assert "BATCH" in labels["PGM / RUN BY / DATE"]
        assert labels["ANTENNA: DELTA H/E/N"].split()[0] == "1.2500"

    def test_run_date_makes_outputs_reproducible(self, sample, tmp_path):
        first, second = tmp_path / "a", tmp_path / "b"
        first.mkdir(), second.mkdir()
        rawconv.convert(sample, output_dir=first, run_date=RUN_DATE)
        rawconv.convert(sample, output_dir=second, run_date=RUN_DATE)
        for name in listing(first):
            assert filecmp.cmp(first / name, second / name, shallow=False), name

    def test_station_file_beside_or_none(self, sample, tmp_path):
        beside, none = tmp_path / "beside", tmp_path / "none"
        beside.mkdir(), none.mkdir()
        with_station = rawconv.convert(sample, output_dir=beside, run_date=RUN_DATE)
        without = rawconv.convert(sample, output_dir=none, station=None, run_date=RUN_DATE)
        marker_lines = lambda path: sum(1 for line in read_lines(path) if label(line) == "MARKER NAME")
        assert marker_lines(with_station.obs_path) > marker_lines(without.obs_path)
        explicit = tmp_path / "explicit"
        explicit.mkdir()
        given = rawconv.convert(sample, output_dir=explicit, station=sample.with_suffix(".sta"),
                                run_date=RUN_DATE)
        assert filecmp.cmp(given.obs_path, with_station.obs_path, shallow=False)

    def test_exact_output_paths_and_plan(self, sample, out):
        obs, nav = out / "x.obs", out / "x.nav"
        planned = rawconv.plan(sample, obs_path=obs, nav_path=nav)
        assert (planned.obs_path, planned.nav_path) == (str(obs), str(nav))
        assert listing(out) == []
        done = rawconv.convert(sample, obs_path=obs, nav_path=nav)
        assert (done.obs_path, done.nav_path) == (str(obs), str(nav))
        assert listing(out) == ["x.nav", "x.obs"]


class TestErrors:
    def test_missing_gpb_file(self, tmp_path):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(tmp_path / "absent.gpb", output_dir=tmp_path)
        err = caught.value
        assert err.code == rawconv.RESULT_BAD_GPB
        assert str(err) and "\n" not in str(err)
        assert err.report.result == rawconv.RESULT_BAD_GPB
        assert listing(tmp_path) == []

    def test_missing_epp_file_leaves_nothing(self, sample, out):
        os.remove(sample.with_suffix(".epp"))
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out)
        assert caught.value.code == rawconv.RESULT_FAILED
        library_text = caught.value.report.error
        assert str(caught.value).startswith(library_text.split("; give ")[0]) and library_text
        assert listing(out) == []

    def test_existing_outputs_refuse_skip_replace(self, sample, out):
        rawconv.convert(sample, output_dir=out, run_date=RUN_DATE)
        obs = out / "sample.05o"
        obs.write_bytes(b"keep me\n")
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out)
        assert caught.value.code == rawconv.RESULT_EXISTS
        assert obs.read_bytes() == b"keep me\n"
        skipped = rawconv.convert(sample, output_dir=out, existing="skip")
        assert skipped.result == rawconv.RESULT_SKIPPED and skipped.ok
        assert skipped.obs_skipped and skipped.nav_skipped
        assert obs.read_bytes() == b"keep me\n"
        rawconv.convert(sample, output_dir=out, existing="replace")
        assert float(obs.read_bytes()[:9]) == 2.1

    def test_header_text_too_long_is_invalid(self, sample, out):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, observer="x" * 21)
        assert caught.value.code == rawconv.RESULT_INVALID
        assert listing(out) == []

    @pytest.mark.parametrize("options, error", [
        ({"rinex": "3.01"}, ValueError),
        ({"rinex": 3.1}, ValueError),
        ({"rinex": True}, TypeError),
        ({"rinex": None}, TypeError),
        ({"existing": "overwrite"}, ValueError),
        ({"names": "tiny"}, ValueError),
        ({"compress": "zip"}, ValueError),
        ({"colour": "red"}, TypeError),
        ({"marker": 7}, TypeError),
        ({"progress": "not callable"}, TypeError),
    ])
    def test_options_the_package_cannot_map(self, sample, out, options, error):
        with pytest.raises(error):
            rawconv.convert(sample, output_dir=out, **options)
        assert listing(out) == []


class TestVersions:
    """The library's table reads every version text, so a number means what
    its text means; the navigation file follows the observation file."""

    @pytest.mark.parametrize("given, obs, nav", [
        ("2", "2.11", "2.11"), (2, "2.11", "2.11"), (2.1, "2.10", "2.10"),
        (2.0, "2", "2.10"), (3.03, "3.03", "3.03"), (3, "3.05", "3.05"),
        (3.05, "3.05", "3.05"), (4.0, "4.00", "4.00"),
    ])
    def test_numbers_and_texts_name_the_same_version(self, sample, out, given, obs, nav):
        report = rawconv.convert(sample, output_dir=out, rinex=given, run_date=RUN_DATE)
        assert read_lines(report.obs_path)[0][:9].strip() == obs
        assert read_lines(report.nav_path)[0][:9].strip() == nav

    def test_error_names_the_value_given(self, sample, out):
        with pytest.raises(ValueError) as caught:
            rawconv.convert(sample, output_dir=out, rinex=3.1)
        assert "rinex=3.1" in str(caught.value)
        assert "3.02, 3.03" in str(caught.value)

    def test_marker_type_and_rinex3_codes(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, rinex="3.03", marker_type="spaceborne",
                                 obs_types=["C1C", "L2W"], run_date=RUN_DATE)
        labels = {label(line): line[:60] for line in header_of(report.obs_path)}
        assert labels["MARKER TYPE"].rstrip() == "SPACEBORNE"
        assert labels["SYS / # / OBS TYPES"].split() == ["G", "2", "C1C", "L2W"]
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out / "x", rinex=2, marker_type="GEODETIC")
        assert caught.value.code == rawconv.RESULT_INVALID
        assert "MARKER TYPE" in str(caught.value)


class TestProgress:
    def test_progress_runs_up_to_the_total(self, sample, out):
        calls = []
        rawconv.convert(sample, output_dir=out, progress=lambda done, total: calls.append((done, total)))
        assert calls
        assert all(0 <= done <= total for done, total in calls)
        assert calls[-1][0] == calls[-1][1] > 0

    def test_true_return_cancels_and_removes_outputs(self, sample, out):
        with pytest.raises(rawconv.ConversionError) as caught:
            rawconv.convert(sample, output_dir=out, progress=lambda done, total: True)
        assert caught.value.code == rawconv.RESULT_CANCELLED
        assert listing(out) == []

    def test_exception_in_callback_cancels_and_propagates(self, sample, out):
        def boom(done, total):
            raise KeyError("stop here")

        with pytest.raises(KeyError, match="stop here"):
            rawconv.convert(sample, output_dir=out, progress=boom)
        assert listing(out) == []


def test_parallel_threads_match_sequential_runs(sample, tmp_path):
    names = ["site%d" % i for i in range(6)]
    src = sample.parent
    for name in names:
        shutil.copy(sample, src / (name + ".gpb"))
        shutil.copy(sample.with_suffix(".epp"), src / (name + ".epp"))
    sequential, parallel = tmp_path / "seq", tmp_path / "par"
    sequential.mkdir(), parallel.mkdir()
    for name in names:
        rawconv.convert(src / (name + ".gpb"), output_dir=sequential, station=None, run_date=RUN_DATE)

    errors = []

    def worker(name):
        try:
            for _ in range(2):
                rawconv.convert(src / (name + ".gpb"), output_dir=parallel, station=None,
                                existing="replace", run_date=RUN_DATE,
                                progress=lambda done, total: None)
        except Exception as err:  # reported below, in the main thread
            errors.append(err)

    threads = [threading.Thread(target=worker, args=(name,)) for name in names]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert listing(parallel) == listing(sequential)
    for name in listing(sequential):
        assert filecmp.cmp(sequential / name, parallel / name, shallow=False), name
