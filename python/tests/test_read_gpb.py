import numpy as np
import pytest

import rawconv
from conftest import RUN_DATE


def first_epoch_of(obs_path):
    """Satellites and their values of the first epoch of a RINEX 2
    observation file: {sat: {type: value or None}}."""
    with open(obs_path) as f:
        lines = f.read().splitlines()
    types = []
    i = 0
    while lines[i][60:].strip() != "END OF HEADER":
        if lines[i][60:].strip() == "# / TYPES OF OBSERV":
            types += lines[i][6:60].split()
        i += 1
    i += 1
    while lines[i][28] != "0":  # skip event records (station blocks)
        i += int(lines[i][29:32]) + 1
    count = int(lines[i][29:32])
    sats = [lines[i][32 + 3 * k: 35 + 3 * k].replace(" ", "0") for k in range(count)]
    values = {}
    per_sat = (len(types) + 4) // 5
    row = i + 1
    for sat in sats:
        text = "".join(lines[row + k].ljust(80) for k in range(per_sat))
        values[sat] = {}
        for t, name in enumerate(types):
            field = text[16 * t: 16 * t + 14]
            values[sat][name] = float(field) if field.strip() else None
        row += per_sat
    return values


@pytest.fixture
def data(sample):
    return rawconv.read_gpb(sample, epp=sample.with_suffix(".epp"))


class TestShapes:
    def test_per_epoch_and_per_channel_arrays(self, data):
        n = len(data)
        assert n > 0
        for name in ("tow", "week", "time", "num_channels", "latitude", "longitude", "height",
                     "position_valid", "kinematic", "clock_bias"):
            assert getattr(data, name).shape == (n,), name
        for name in ("sat", "system", "prn", "gpb_prn", "lock_time1", "lock_time2", "lli1", "lli2"):
            assert getattr(data, name).shape == (n, rawconv.MAX_CHANNELS), name
        assert tuple(data.obs) == rawconv.OBS_TYPES
        for values in data.obs.values():
            assert values.shape == (n, rawconv.MAX_CHANNELS) and values.dtype == np.float64

    def test_same_epochs_as_the_conversion(self, sample, out, data):
        report = rawconv.convert(sample, output_dir=out, run_date=RUN_DATE)
        assert len(data) == report.epochs_read
        assert (data.week[0], data.tow[0]) == (report.first_week, report.first_tow)
        assert (data.week[-1], data.tow[-1]) == (report.last_week, report.last_tow)
        assert np.all(np.diff(data.tow) > 0)
        assert data.time[0] == np.datetime64("2005-04-02T00:00:00")
        assert len(data.satellites()) == report.satellites

    def test_values_match_the_written_observation_file(self, sample, out, data):
        report = rawconv.convert(sample, output_dir=out, station=None, run_date=RUN_DATE)
        written = first_epoch_of(report.obs_path)
        row = {sat: col for col, sat in enumerate(data.sat[0]) if sat}
        assert sorted(row) == sorted(written)
        for sat, values in written.items():
            for obs_type, value in values.items():
                mine = data.obs[obs_type][0, row[sat]]
                if value is None:
                    assert np.isnan(mine), (sat, obs_type)
                else:
                    assert mine == pytest.approx(value, abs=0.0015), (sat, obs_type)

    def test_week_override_dates_every_epoch(self, sample):
        data = rawconv.read_gpb(sample, week=1300)
        assert np.all(data.week == 1300)
        assert data.time[0] == np.datetime64("1980-01-06") + np.timedelta64(1300 * 7, "D") \
            + np.timedelta64(int(data.tow[0] * 1e9), "ns")


class TestAbsentValues:
    def test_empty_channels_are_nan_and_blank(self, data):
        empty = data.sat == ""
        assert empty.any(), "the sample never uses all 24 channels"
        assert np.all(empty == (np.arange(24)[None, :] >= data.num_channels[:, None]))
        for values in data.obs.values():
            assert np.all(np.isnan(values[empty]))
        assert np.all(np.isnan(data.lock_time1[empty]))
        assert np.all(data.prn[empty] == 0) and np.all(data.system[empty] == "")

    def test_types_the_receiver_never_gave_are_all_nan(self, data):
        used = data.sat != ""
        # The sample records C1 L1 L2 P2 only.
        for obs_type in ("C1", "L1", "L2", "P2"):
            assert np.isfinite(data.obs[obs_type][used]).mean() > 0.9, obs_type
        for obs_type in ("P1", "D1"):
            assert np.all(np.isnan(data.obs[obs_type])), obs_type

    def test_series_follows_a_satellite_across_channels(self, data):
        sat = data.satellites()[0]
        series = data.series("C1", sat)
        assert series.shape == (len(data),)
        rows, cols = np.nonzero(data.sat == sat)
        assert np.array_equal(series[rows], data.obs["C1"][rows, cols])
        missing = np.ones(len(data), bool)
        missing[rows] = False
        assert np.all(np.isnan(series[missing]))
        assert all(s[0] in "GR" and len(s) == 3 for s in data.satellites())


class TestBadFiles:
    def test_truncated_file_gives_the_epochs_before_the_damage(self, sample, data, tmp_path):
        cut = tmp_path / "cut.gpb"
        raw = sample.read_bytes()
        cut.write_bytes(raw[: len(raw) * 2 // 3 + 7])
        part = rawconv.read_gpb(cut, epp=sample.with_suffix(".epp"))
        assert part.damaged and part.error
        assert 0 < len(part) < len(data)
        assert np.array_equal(part.tow, data.tow[: len(part)])
        assert np.array_equal(part.sat, data.sat[: len(part)])
        assert not data.damaged and data.error == ""

    def test_missing_file_raises(self, tmp_path):
        with pytest.raises(rawconv.GpbError) as caught:
            rawconv.read_gpb(tmp_path / "absent.gpb")
        assert str(caught.value)
