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


class TestPositionFromTheData:
    def test_position_data_writes_the_mean_into_the_header(self, sample, out):
        report = rawconv.convert(sample, output_dir=out, qc=True, position="data")
        with open(report.qc_json_path) as f:
            doc = json.load(f)
        mean = doc["metadata"]["data_position"]["ecef_m"]
        line = [l for l in open(report.obs_path) if "APPROX POSITION XYZ" in l][0]
        assert line[:42] == "%14.4f%14.4f%14.4f" % tuple(mean)
        assert doc["metadata"]["approx_position"]["difference"]["distance_m"] < 1e-3
        assert doc["skyplot"]["satellites"][0]["sat"].startswith("G")

    def test_receiver_is_the_default_and_texts_are_checked(self, sample, out):
        plain = rawconv.convert(sample, output_dir=out, position="receiver")
        line = [l for l in open(plain.obs_path) if "APPROX POSITION XYZ" in l][0]
        assert line.startswith(" -3976219.5082")
        with pytest.raises(TypeError):
            rawconv.convert(sample, output_dir=out, position="somewhere", existing="replace")

    def test_without_ephemerides_the_keyword_is_named(self, sample, out, tmp_path):
        lone = tmp_path / "lone.gpb"
        lone.write_bytes(open(sample, "rb").read())
        with pytest.raises(rawconv.ConversionError) as err:
            rawconv.convert(lone, output_dir=out, position="data", date="2005-04-02")
        assert err.value.field == "position"
        assert "needs the broadcast ephemerides" in err.value.message
        assert listing(out) == []
