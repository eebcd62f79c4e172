import json

import pytest

import rawconv
from conftest import RUN_DATE, listing


class TestQualityCheck:
    def test_check_while_converting(self, sample, out):
        plain = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE)
        assert plain.qc_summary == "" and plain.qc_json_path == ""
        obs = open(plain.obs_path, "rb").read()

        report = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE, qc=True,
                                 existing="replace")
        assert open(report.obs_path, "rb").read() == obs
        assert listing(out) == ["sample.05n", "sample.05o", "sample.05o.qc.html",
                                "sample.05o.qc.json", "sample.05o.qc.txt"]
        assert report.qc_text_path == str(out / "sample.05o.qc.txt")
        # The summary and the reports name the GPB file by the path given.
        assert report.qc_summary.startswith(str(sample) + ": 2005-04-02 00:00:00.000 to ")
        with open(report.qc_json_path) as f:
            doc = json.load(f)
        assert doc["file"] == str(sample)
        assert doc["time"]["epochs_present"] == report.epochs_written
        assert doc["geometry"]["elevation_mask_deg"] == 10
        with open(report.qc_text_path) as f:
            assert f.readline().rstrip("\n") == report.qc_summary

    def test_check_alone_with_a_mask(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, qc="only", elevation_mask=15)
        assert report.obs_path == "" and report.nav_path == ""
        assert listing(out) == ["sample.qc.html", "sample.qc.json", "sample.qc.txt"]
        with open(report.qc_json_path) as f:
            assert json.load(f)["geometry"]["elevation_mask_deg"] == 15
        # A second run is refused like any existing output, or skipped.
        with pytest.raises(rawconv.ConversionError) as err:
            rawconv.convert(sample, output_dir=out, qc="only")
        assert err.value.code == rawconv.RESULT_EXISTS
        assert rawconv.convert(sample, output_dir=out, qc="only", existing="skip").qc_skipped

    def test_report_folder_and_plan(self, sample, out, tmp_path):
        reports = tmp_path / "reports"
        reports.mkdir()
        planned = rawconv.plan(sample, output_dir=out, qc=True, qc_dir=reports)
        assert planned.qc_html_path == str(reports / "sample.05o.qc.html")
        assert listing(reports) == []

    def test_bad_values(self, sample, out):
        with pytest.raises(ValueError):
            rawconv.convert(sample, output_dir=out, qc="sometimes")
        with pytest.raises(rawconv.ConversionError) as err:
            rawconv.convert(sample, output_dir=out, qc=True, elevation_mask=100)
        assert err.value.code == rawconv.RESULT_INVALID
