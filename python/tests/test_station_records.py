"""sitelog= and stations=: the station's records fill the header, keywords
given to the call win over them, and what cannot be used is named by its
keyword."""
import pathlib
import warnings

import pytest

import rawconv
from conftest import RUN_DATE
from test_convert import header_of, label

# A site log of the sample's station (its GPB file's name gives SAMP), in
# the classic layout, cut to what a header needs; the sample is of
# 2005-04-02.
SITELOG = """     SAMP Site Information Form (site log)

1.   Site Identification of the GNSS Monument
     Four Character ID        : SAMP
     IERS DOMES Number        : 99999M002

2.   Site Location Information
       X coordinate (m)       : -3976219.5
       Y coordinate (m)       : 3382372.5
       Z coordinate (m)       : 3652513.0

3.   GNSS Receiver Information
3.1  Receiver Type            : TRIMBLE 5700
     Serial Number            : 0220183470
     Firmware Version         : 2.20
     Date Installed           : 2005-04-01T12:00Z
     Date Removed             : (CCYY-MM-DDThh:mmZ)

4.   GNSS Antenna Information
4.1  Antenna Type             : TRM41249.00
     Serial Number            : 12345678
     Marker->ARP Up Ecc. (m)  :   1.4650
     Antenna Radome Type      : TZGD
     Date Installed           : 2005-04-01T12:00Z
     Date Removed             : (CCYY-MM-DDThh:mmZ)
"""


def fields(path):
    return {label(line): line[:60] for line in header_of(path)}


@pytest.fixture
def logs(tmp_path):
    folder = tmp_path / "logs"
    folder.mkdir()
    (folder / "samp_20050401.log").write_text(SITELOG)
    return folder


def test_sitelog_folder_fills_the_header(sample, out, logs):
    report = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE, sitelog=logs)
    head = fields(report.obs_path)
    assert head["MARKER NAME"].strip() == "SAMP"
    assert head["MARKER NUMBER"].strip() == "99999M002"
    assert head["REC # / TYPE / VERS"] == "%-20s%-20s%-20s" % ("0220183470", "TRIMBLE 5700", "2.20")
    # The radome of its own field goes into columns 17-20.
    assert head["ANT # / TYPE"][:40] == "%-20s%s" % ("12345678", "TRM41249.00     TZGD")
    assert head["ANTENNA: DELTA H/E/N"].split() == ["1.4650", "0.0000", "0.0000"]
    assert head["APPROX POSITION XYZ"].split() == ["-3976219.5000", "3382372.5000", "3652513.0000"]


def test_keywords_win_over_the_table_which_wins_over_the_log(sample, out, logs, tmp_path):
    table = tmp_path / "network.csv"
    table.write_text("marker,receiver_type,observer\nsamp,TABLE RX,TABLE OBS\n")
    report = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE, sitelog=str(logs),
                             stations=table, observer="ME", antenna_height=2.5)
    head = fields(report.obs_path)
    assert head["REC # / TYPE / VERS"][20:40].strip() == "TABLE RX"
    assert head["OBSERVER / AGENCY"][:20].strip() == "ME"
    assert head["ANTENNA: DELTA H/E/N"].split() == ["2.5000", "0.0000", "0.0000"]


def test_what_cannot_be_used_names_its_keyword(sample, out, tmp_path, logs):
    with pytest.raises(rawconv.ConversionError) as err:
        rawconv.convert(sample, output_dir=out, sitelog=tmp_path / "empty_folder_missing")
    assert err.value.field == "sitelog"
    assert "Cannot open site log" in str(err.value)
    # A log of another station: the advice names the keywords.
    other = tmp_path / "abcd_20050401.log"
    other.write_text(SITELOG.replace("SAMP", "ABCD"))
    with pytest.raises(rawconv.ConversionError) as err:
        rawconv.convert(sample, output_dir=out, sitelog=other)
    assert err.value.field == "sitelog"
    assert str(err.value).endswith('give marker="ABCD" or station_id="ABCD00DNK"')
    # The plan fails as the conversion does.
    with pytest.raises(rawconv.ConversionError) as err:
        rawconv.plan(sample, output_dir=out, sitelog=other)
    assert err.value.field == "sitelog"
    table = tmp_path / "bad.csv"
    table.write_text("marker,antenna_hight\nSAMP,1\n")
    with pytest.raises(rawconv.ConversionError) as err:
        rawconv.convert(sample, output_dir=out, stations=table)
    assert err.value.field == "stations"
    assert "line 1 column 2: unknown column 'antenna_hight'" in str(err.value)
    with pytest.raises(ValueError, match="^sitelog"):
        rawconv.convert(sample, output_dir=out, sitelog="")
    assert list(pathlib.Path(out).iterdir()) == []


def test_station_without_a_row_is_a_warning(sample, out, tmp_path):
    table = tmp_path / "network.csv"
    table.write_text("marker,observer\nEFGH,SOMEONE\n")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        report = rawconv.convert(sample, output_dir=out, stations=table)
    assert any("has no row for station SAMP" in line for line in report.warnings)
    assert any(issubclass(w.category, rawconv.ConversionWarning) for w in caught)
