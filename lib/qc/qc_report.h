// Reports of a quality check (QcSummary, qc.h): a one-line summary, the
// full text, JSON, and one self-contained HTML page with SVG figures.
// Rendering only; every function is pure and deterministic.
//
// JSON document (numbers in SI units as named; null where a value does not
// exist, e.g. no multipath without dual-frequency data, and for any value
// that is not a finite number; times as "YYYY-MM-DD hh:mm:ss.sss" GPS time).
// Strings are UTF-8; a byte of a name that is not part of well-formed UTF-8
// is written as the lone surrogate U+DC00 + byte ("\udce9" for 0xE9), which
// a reader turns back into the byte (Python: surrogateescape).
//
// {
//   "file": string,                      the name given to the renderer
//                                        (the GPB path as the caller gave it)
//   "time": {
//     "first": time, "last": time,       null without epochs
//     "interval_s": number,
//     "epochs_present": int, "epochs_expected": int,
//     "epochs_skipped": int,             not later than the epoch before
//     "completeness_percent": number,
//     "gap_count": int,                  steps longer than 1.5 intervals
//     "gaps": [ {"start": time, "end": time, "seconds": number,
//                "missing_epochs": int} ]   at most 5000 listed
//   },
//   "satellite_count": int,
//   "observations": {"C1": int, "L1": int, "L2": int, "P1": int, "P2": int,
//                    "D1": int, "S1": int, "S2": int},
//   "loss_of_lock": int,                 phases reported with lock lost
//   "slips": {
//     "total": int, "GF": int, "MW": int, "CMP": int,
//     "thresholds": {"gf_m": number, "mw_sigmas": number,
//                    "mw_min_cycles": number, "mw_min_epochs": int,
//                    "cmp_m": number, "arc_gap_s": number},
//     "list": [ {"sat": "G05", "time": time, "kind": "GF"|"MW"|"CMP",
//                "jump": number} ]       m, MW in wide-lane cycles
//   },
//   "multipath": {"mp1_rms_m": number|null, "mp2_rms_m": number|null,
//                 "mp1_count": int, "mp2_count": int,
//                 "min_arc_epochs": int},
//   "signal": {"mean_s1_dbhz": number|null, "mean_s2_dbhz": number|null},
//   "geometry": {"position_ecef_m": [x, y, z] | null,
//                "ephemerides": int, "elevation_mask_deg": number,
//                "with_azel": int, "without_ephemeris": int,
//                "below_mask": int},
//   "satellites": [ {"sat": "G05" | "R07", "epochs": int,
//                    "first": time, "last": time,
//                    "observations": {"C1": int, ...},
//                    "loss_of_lock": int,
//                    "slips": {"GF": int, "MW": int, "CMP": int},
//                    "mp1_rms_m": number|null, "mp2_rms_m": number|null,
//                    "mean_s1_dbhz": number|null, "mean_s2_dbhz": number|null,
//                    "with_azel": int, "below_mask": int} ],
//   "metadata": {                        the station (qc/metadata.h)
//     "data_position": {"ecef_m": [x, y, z] | null,  the robust mean
//       "latitude_deg", "longitude_deg", "height_m",  WGS 84, null without
//       "sigma_north_m", "sigma_east_m", "sigma_up_m", "rms_3d_m",
//       "epochs_tried": int, "epochs_solved": int, "epochs_used": int,
//       "iono_free_epochs": int, "satellites_dropped": int,
//       "stride": int,                   every stride-th epoch tried
//       "reason": string | null},        why there is no position
//     "approx_position": {"ecef_m": [x, y, z] | null,  as the header has it
//       "difference": difference | null},
//     "reference": null | {"source": string, "ecef_m": [x, y, z] | null,
//       "difference": difference | null, "receiver_type": string | null,
//       "receiver_number", "receiver_version", "antenna_type",
//       "antenna_number": string | null},
//     "receiver": {"gpb": string, "type_agrees": bool | null,
//                  "version_found": bool | null},
//     "antenna": {"header": string | null, "type_agrees": bool | null},
//     "warnings": [string]
//   },
//   difference: {"north_m", "east_m", "up_m": data minus the other, at the
//     other, "distance_m", "threshold_m": number, "warning": bool}
//   "skyplot": {"sample_stride": int,    samples of every n-th epoch
//     "satellites": [ {"sat": "G05", "samples": [[time, azimuth_deg,
//       elevation_deg], ...]} ]}         the figure's samples (0.1 degree),
//                                        in time order, elevation >= 0
// }
#ifndef RAWCONV_QC_QC_REPORT_H_
#define RAWCONV_QC_QC_REPORT_H_

#include <string>

#include "qc/qc.h"

namespace rawconv {
namespace qc {

// One line, no line end: span, interval, completeness, satellites, slips,
// multipath, signal.
std::string QcOneLine(const QcSummary& s, const std::string& name);
std::string QcText(const QcSummary& s, const std::string& name);
std::string QcJson(const QcSummary& s, const std::string& name);
std::string QcHtml(const QcSummary& s, const std::string& name);
// The same with the full text already made by QcText(s, name).
std::string QcHtml(const QcSummary& s, const std::string& name, const std::string& text);

// "G05", "R07" (GPB numbers above 32 are GLONASS).
std::string SatelliteName(int prn);
// Continuous GPS seconds -> "YYYY-MM-DD hh:mm:ss.sss".
std::string GpsTimeText(double gps_seconds);

// Figure geometry, shared by the figures and their tests.
struct SvgPoint {
  double X = 0.0, Y = 0.0;
};
// Polar skyplot: the zenith at the centre, the horizon at radius, north up,
// east to the right.
SvgPoint SkyplotPoint(double az_deg, double el_deg, double cx, double cy, double radius);
// v in [d0, d1] -> [r0, r1], linearly (no clamping).
double ScaleLinear(double v, double d0, double d1, double r0, double r1);
// Colour of a signal strength: blue at kWeakSignal and below, red at
// kStrongSignal and above, through the hues between; grey for NaN.
constexpr double kWeakSignal = 25.0;    // dB-Hz
constexpr double kStrongSignal = 55.0;  // dB-Hz
std::string SignalColour(double dbhz);

// Figure sizes in pixels (the page is laid out so that each can be found).
constexpr int kSkyplotSize = 440;
constexpr int kPlotWidth = 880;
constexpr int kPlotHeight = 320;
constexpr int kTimelineRow = 14;
int TimelineHeight(const QcSummary& s);

}  // namespace qc
}  // namespace rawconv

#endif  // RAWCONV_QC_QC_REPORT_H_
