"""rawconv.load: the xarray view of a GPB file, checked value for value
against the RINEX 3 observation file convert() writes from the same file."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import rawconv
from conftest import RUN_DATE

xr = pytest.importorskip("xarray")


def read_rinex3(path):
    """A RINEX 3 observation file as ({system: [codes]}, interval, records):
    records maps (time as datetime64[us], satellite, code) to (value, LLI,
    SSI), LLI and SSI as ints with 0 for a blank. Only epochs of flag 0."""
    with open(path) as f:
        lines = f.read().splitlines()
    codes, interval, i = {}, None, 0
    system = None
    while lines[i][60:].strip() != "END OF HEADER":
        label = lines[i][60:].strip()
        if label == "SYS / # / OBS TYPES":
            if lines[i][0] != " ":
                system = lines[i][0]
                codes[system] = []
            codes[system] += lines[i][7:60].split()
        elif label == "INTERVAL":
            interval = float(lines[i][:10])
        i += 1
    i += 1
    records = {}
    while i < len(lines):
        head = lines[i]
        assert head[0] == ">", head
        flag, count = int(head[31]), int(head[32:35])
        i += 1
        if flag != 0:
            i += count  # header records or station blocks
            continue
        seconds = float(head[19:29])
        whole = int(seconds)
        time = (np.datetime64("%s-%s-%sT%s:%s:%02d" % (head[2:6], head[7:9], head[10:12],
                                                       head[13:15], head[16:18], whole))
                + np.timedelta64(int(round((seconds - whole) * 1e6)), "us"))
        for line in lines[i:i + count]:
            sat = line[0:3]
            for k, code in enumerate(codes[sat[0]]):
                field = line[3 + 16 * k: 3 + 16 * (k + 1)].ljust(16)
                if not field[:14].strip():
                    assert not field.strip(), (sat, code, line)
                    continue
                lli = int(field[14]) if field[14] != " " else 0
                ssi = int(field[15]) if field[15] != " " else 0
                records[(time, sat, code)] = (float(field[:14]), lli, ssi)
        i += count
    return codes, interval, records


def records_of(ds):
    """The same mapping from the Dataset: every value that is not NaN."""
    records = {}
    times = ds["time"].values.astype("datetime64[us]")
    svs = ds["sv"].values
    for code in ds.data_vars:
        if code.endswith(("lli", "ssi")):
            continue
        values = ds[code].values
        lli = ds[code + "lli"].values if code + "lli" in ds else np.zeros(values.shape, np.uint8)
        ssi = ds[code + "ssi"].values if code + "ssi" in ds else np.zeros(values.shape, np.uint8)
        for r, c in zip(*np.nonzero(np.isfinite(values))):
            records[(times[r], str(svs[c]), code)] = (values[r, c], int(lli[r, c]), int(ssi[r, c]))
    return records


def assert_same_as_rinex3(ds, obs_path):
    codes, interval, written = read_rinex3(obs_path)
    mine = records_of(ds)
    assert len(written) > 0
    # One to one: the same satellites, times and codes ...
    assert set(mine) == set(written)
    # ... with the same values (RINEX keeps three decimals), LLI and SSI.
    for key, (value, lli, ssi) in written.items():
        got = mine[key]
        assert abs(got[0] - value) <= 0.0005 + 1e-12 * abs(value), (key, got, value)
        assert (got[1], got[2]) == (lli, ssi), (key, got, (lli, ssi))
    # Every variable is a code the header lists for a system of its data.
    listed = set(c for system in codes.values() for c in system)
    values = [v for v in ds.data_vars if not v.endswith(("lli", "ssi"))]
    assert set(values) <= listed
    assert ds.attrs["interval"] == interval
    return written


def tools_dir():
    given = os.environ.get("RAWCONV_TOOLS_DIR")
    if given:
        return pathlib.Path(given)
    library = os.environ.get("RAWCONV_LIBRARY")
    return pathlib.Path(library).resolve().parents[1] / "tools" if library else None


def shared_data():
    given = os.environ.get("RAWCONV_SHARED_DATA")
    if given:
        return pathlib.Path(given)
    return pathlib.Path(__file__).resolve().parents[3] / "shared" / "data"


@pytest.fixture
def real_gpb(tmp_path):
    """A real recording (GPS and GLONASS, S1 and S2 recorded) as a GPB file,
    made by rnx2gpb."""
    source = shared_data() / "wsra0010.21o"
    tool = (tools_dir() or pathlib.Path("nowhere")) / "rnx2gpb"
    if not source.is_file() or not tool.is_file():
        pytest.skip("needs the real data and rnx2gpb (scripts/test-python.sh provides them)")
    gpb = tmp_path / "wsra0010.gpb"
    subprocess.run([str(tool), str(source), str(gpb)], check=True, stdout=subprocess.DEVNULL)
    return gpb


class TestAgainstOwnRinex3:
    def test_sample(self, sample, out):
        ds = rawconv.load(sample)
        report = rawconv.convert(sample, output_dir=out, rinex="3.04", station=None,
                                 run_date=RUN_DATE)
        written = assert_same_as_rinex3(ds, report.obs_path)
        assert len(ds.time) == report.epochs_written
        assert len(ds.sv) == report.satellites
        assert any(key[2].startswith("L") for key in written)

    def test_real_recording_with_glonass_and_strengths(self, real_gpb, out):
        out.mkdir(exist_ok=True)
        ds = rawconv.load(real_gpb, date="2021-01-01")
        with pytest.warns(rawconv.ConversionWarning, match="observation file only"):
            report = rawconv.convert(real_gpb, output_dir=out, rinex="3.04", date="2021-01-01",
                                     station=None, run_date=RUN_DATE)
        written = assert_same_as_rinex3(ds, report.obs_path)
        svs = set(str(s) for s in ds.sv.values)
        assert any(s.startswith("R") for s in svs) and any(s.startswith("G") for s in svs)
        # GLONASS's own codes are variables of their own.
        assert "L2P" in ds and "L2W" in ds
        assert np.all(np.isnan(ds["L2W"].sel(sv=[s for s in svs if s[0] == "R"])))
        # Strength indicators and losses of lock are there to compare.
        assert any(v[2] for v in written.values())
        assert any(v[1] for v in written.values())


class TestLayout:
    def test_attributes_and_coordinates(self, sample):
        ds = rawconv.load(sample)
        data = rawconv.read_gpb(sample, epp=sample.with_suffix(".epp"))
        assert ds.attrs["receiver"] == data.receiver != ""
        assert ds.attrs["interval"] == 30.0
        lat, lon, height = ds.attrs["position_llh"]
        valid = data.position_valid
        assert lat == pytest.approx(data.latitude[valid].mean())
        assert lon == pytest.approx(data.longitude[valid].mean())
        assert height == pytest.approx(data.height[valid].mean())
        np.testing.assert_array_equal(ds["time"].values, data.time)
        np.testing.assert_array_equal(ds["latitude"].values, data.latitude)
        assert list(ds["sv"].values) == data.satellites()
        assert ds["L1C"].dims == ("time", "sv")

    def test_dating_as_read_gpb(self, sample):
        by_week = rawconv.load(sample, week=1316)
        by_epp = rawconv.load(sample)
        np.testing.assert_array_equal(by_week["time"].values, by_epp["time"].values)
        os.remove(sample.with_suffix(".epp"))
        with pytest.raises(ValueError, match="^epp: .*give epp, week or date"):
            rawconv.load(sample)
        with pytest.raises(rawconv.GpbError, match="nosuch.epp"):
            rawconv.load(sample, epp=sample.parent / "nosuch.epp")
        by_date = rawconv.load(sample, date="2005-04-02")
        np.testing.assert_array_equal(by_date["time"].values, by_epp["time"].values)


class TestWithoutXarray:
    def test_package_works_and_load_says_what_to_install(self, sample):
        # A fresh interpreter in which importing xarray fails.
        code = (
            "import sys; sys.modules['xarray'] = None\n"
            "import rawconv\n"
            "data = rawconv.read_gpb(sys.argv[1], week=1316)\n"
            "assert len(data) > 0\n"
            "try:\n"
            "    rawconv.load(sys.argv[1], week=1316)\n"
            "except ImportError as err:\n"
            "    print(err)\n"
        )
        env = dict(os.environ)
        env["PYTHONPATH"] = os.pathsep.join(
            [str(pathlib.Path(rawconv.__file__).parents[1])] + sys.path)
        done = subprocess.run([sys.executable, "-c", code, str(sample)], env=env,
                              capture_output=True, text=True, check=True)
        assert "pip install xarray or apt install python3-xarray" in done.stdout
