// Pre-scan of the GPB file and the RINEX observation header.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "api/context.h"
#include "ephem/epp.h"
#include "ephem/gps_time.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/rinex_format.h"
#include "obs/run_date.h"
#include "sink/sink.h"

namespace rawconv {
namespace {

// WGS 84 ellipsoid.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kEccentricitySquared = 0.006694380066764658;
constexpr double kDegreesToRadians = 0.017453292519943295;

constexpr int kGpbBufferSize = 4096;

// One observation type of the header list: its name and whether the summary
// holds it. Table order is the order of the list and of the epoch values.
struct TypeEntry {
  const char* Name;
  int32_t ObsHeaderSummary::*Flag;
};

constexpr TypeEntry kTypes[8] = {
    {"C1", &ObsHeaderSummary::HasC1}, {"L1", &ObsHeaderSummary::HasL1},
    {"L2", &ObsHeaderSummary::HasL2}, {"P1", &ObsHeaderSummary::HasP1},
    {"P2", &ObsHeaderSummary::HasP2}, {"D1", &ObsHeaderSummary::HasD1},
    {"S1", &ObsHeaderSummary::HasS1}, {"S2", &ObsHeaderSummary::HasS2},
};
constexpr int kTypesRinex20 = 6;  // RINEX 2.0 has no S1/S2

// Marks the types present on one channel.
void NoteTypes(const GpbChannel& c, ObsHeaderSummary* s) {
  const double values[8] = {c.C1, c.L1, c.L2, c.P1, c.P2, c.D1, c.Cn0L1, c.Cn0L2};
  for (int i = 0; i < 8; ++i) {
    int32_t& flag = s->*kTypes[i].Flag;
    if (values[i] != 0.0 && flag == 0) {
      flag = 1;
      ++s->NumObsTypes;
    }
  }
}

// Texts of the request are NUL-terminated inside their arrays; an array
// without NUL is taken whole, never read past.
template <size_t N>
void AppendRequestText(RinexBuffer* out, const char (&text)[N], int width) {
  AppendPadded(out, text, BoundedLength(text, N), width, true);
}

}  // namespace

void GeodeticToEcef(double latitude_deg, double longitude_deg, double height, double* x,
                    double* y, double* z) {
  const double phi = latitude_deg * kDegreesToRadians;
  const double lambda = longitude_deg * kDegreesToRadians;
  const double e = std::sqrt(kEccentricitySquared);
  const double es = e * std::sin(phi);
  const double n = kSemiMajorAxis / std::sqrt(1.0 - es * es);
  *x = (n + height) * std::cos(phi) * std::cos(lambda);
  *y = (n + height) * std::cos(phi) * std::sin(lambda);
  *z = (n * (1.0 - kEccentricitySquared) + height) * std::sin(phi);
}

void ScanObsSummary(const ObsRequest& request, ObsHeaderSummary* summary) {
  std::memset(summary, 0, sizeof *summary);
  char path[sizeof request.GpbFile + 1];
  std::snprintf(path, sizeof path, "%.*s",
                static_cast<int>(BoundedLength(request.GpbFile, sizeof request.GpbFile)),
                request.GpbFile);

  GpbClass reader;
  reader.OpenGpbFile(path, 0, kGpbBufferSize, GIO_READ, 0);  // a failed open reads no epochs

  char name[64] = "";
  reader.GetReceiverTypeName(name);
  // Name, one blank, description; cut to the field (only 20 columns are
  // ever written).
  const int written = std::snprintf(summary->ReceiverText, sizeof summary->ReceiverText, "%s %s",
                                    name, reader.ReceiverDescription());
  (void)written;

  double sum_x = 0.0, sum_y = 0.0, sum_z = 0.0;
  long positions = 0;
  bool have_geodetic = false;  // the last position converted, and its result
  double latitude = 0.0, longitude = 0.0;
  float height = 0.0f;
  double x = 0.0, y = 0.0, z = 0.0;
  double second_time = 0.0;
  long count = 0;
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels]{};
  while (reader.ReadGpbEpoch(&epoch, channels) == 0) {
    if (count == 0) summary->FirstObsTime = epoch.RcvTime;
    if (epoch.NumChannels > 0) NoteTypes(channels[0], summary);
    // The empty position (0, 0) is no fix, whatever the flags say.
    if (epoch.Flags != 0 && epoch.NumChannels >= 4 &&
        !(epoch.Latitude == 0.0 && epoch.Longitude == 0.0)) {
      // A receiver that stays put reports the same position epoch after
      // epoch: its earth-centred position is worked out once.
      if (!have_geodetic || std::memcmp(&epoch.Latitude, &latitude, sizeof latitude) != 0 ||
          std::memcmp(&epoch.Longitude, &longitude, sizeof longitude) != 0 ||
          std::memcmp(&epoch.Height, &height, sizeof height) != 0) {
        latitude = epoch.Latitude;
        longitude = epoch.Longitude;
        height = epoch.Height;
        have_geodetic = true;
        GeodeticToEcef(latitude, longitude, height, &x, &y, &z);
      }
      sum_x += x;
      sum_y += y;
      sum_z += z;
      ++positions;
    }
    // The interval is the time from the second to the third epoch. A file
    // of two epochs takes their difference instead, and a file of one epoch
    // keeps 0, which the INTERVAL line shows as "     0" (2.0) or
    // "     0.000" (2.1): a reader sees at once that no interval is known.
    if (count == 1) {
      second_time = epoch.RcvTime;
      summary->Interval = epoch.RcvTime - summary->FirstObsTime;
    } else if (count == 2) {
      summary->Interval = epoch.RcvTime - second_time;
    }
    ++count;
  }
  if (positions > 0) {
    summary->ApproxX = sum_x / static_cast<double>(positions);
    summary->ApproxY = sum_y / static_cast<double>(positions);
    summary->ApproxZ = sum_z / static_cast<double>(positions);
  }
  reader.CloseGpbFile();
}

WeekReference LookupWeekReference(const char* epp_file) {
  WeekReference ref{};
  int week = 0;
  double toe = 0.0;
  if (FindReferenceEphemeris(epp_file, &week, &toe) == 0) {
    ref.Found = 1;
    ref.Week = week;
    ref.Toe = toe;
  }
  return ref;
}

int ReferenceWeekOf(const WeekReference& ref, double time_of_week) {
  if (ref.FixedWeek) return ref.Week;
  return ResolveGpsWeek(ref.Week, ref.Toe, time_of_week);
}

EpochDate DateOfGpsTime(int week, double time_of_week) {
  // Week * 604800 + seconds since 1970 is near 1.6e9 s, where a double keeps
  // only about 2e-7 s: the fraction is added after the whole-second date.
  const double whole = std::floor(time_of_week);
  EpochDate d{};
  int hour = 0, minute = 0, month = 0, day = 0, year = 0;
  double seconds = 0.0;
  GpsToDate(week, whole, hour, minute, seconds, month, day, year);
  d.Year = year;
  d.Month = month;
  d.Day = day;
  d.Hour = hour;
  d.Minute = minute;
  d.Seconds = seconds + (time_of_week - whole);
  return d;
}

int WriteObsHeader(std::FILE* stream, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref) {
  StdioSink sink(stream);
  return WriteObsHeader(sink, request, saved_nav, summary, rinex_version, ref);
}

int WriteObsHeader(Sink& sink, const ObsRequest& request, const NavRequest& saved_nav,
                   const ObsHeaderSummary& summary, int rinex_version, const WeekReference& ref) {
  (void)saved_nav;
  const bool v21 = rinex_version == RINEX_VERSION_2_1;
  RinexBuffer buffer;
  RinexBuffer* out = &buffer;
  RinexBufferInit(out, &sink);

  // RINEX VERSION / TYPE
  if (v21) {
    AppendFixed(out, 2.1, kFmtVersion21);
    AppendBlanks(out, 11);
  } else {
    AppendInt(out, 2, 6);
    AppendBlanks(out, 14);
  }
  AppendText(out, kObsTypeText);
  AppendLabel(out, kLabelVersionType);

  // PGM / RUN BY / DATE
  char date[128] = "";
  if (FormatRunDate(date) != 0) {
    RinexFlush(out);
    return 1;
  }
  AppendLeft(out, kProgramText, kLabelColumns);
  AppendRequestText(out, request.RunBy, kLabelColumns);
  AppendPadded(out, date, BoundedLength(date, kRunDateColumns), kLabelColumns, true);
  AppendLabel(out, kLabelPgmRunByDate);

  // MARKER NAME
  AppendRequestText(out, request.MarkerName, kLabelColumns);
  AppendBlanks(out, 2 * kLabelColumns);
  AppendLabel(out, kLabelMarkerName);

  // OBSERVER / AGENCY
  AppendRequestText(out, request.Observer, kLabelColumns);
  AppendRequestText(out, request.Agency, 2 * kLabelColumns);
  AppendLabel(out, kLabelObserverAgency);

  // REC # / TYPE / VERS
  AppendBlanks(out, kLabelColumns);
  AppendPadded(out, summary.ReceiverText,
               BoundedLength(summary.ReceiverText, kReceiverColumns), kLabelColumns, true);
  AppendBlanks(out, kLabelColumns);
  AppendLabel(out, kLabelReceiver);

  // ANT # / TYPE
  AppendBlanks(out, 3 * kLabelColumns);
  AppendLabel(out, kLabelAntenna);

  // APPROX POSITION XYZ
  AppendFixed(out, summary.ApproxX, kFmtPosition);
  AppendFixed(out, summary.ApproxY, kFmtPosition);
  AppendFixed(out, summary.ApproxZ, kFmtPosition);
  AppendBlanks(out, 18);
  AppendLabel(out, kLabelApproxPosition);

  // ANTENNA: DELTA H/E/N
  AppendFixed(out, request.AntHeight, kFmtPosition);
  AppendFixed(out, 0.0, kFmtPosition);
  AppendFixed(out, 0.0, kFmtPosition);
  AppendBlanks(out, 18);
  AppendLabel(out, kLabelAntennaDelta);

  // WAVELENGTH FACT L1/2
  AppendInt(out, 1, 6);
  AppendInt(out, 1, 6);
  AppendBlanks(out, 6 + 42);
  AppendLabel(out, kLabelWavelength);

  // # / TYPES OF OBSERV: always 80 columns
  const int considered = v21 ? 8 : kTypesRinex20;
  int listed = 0;
  for (int i = 0; i < considered; ++i) listed += (summary.*kTypes[i].Flag) ? 1 : 0;
  AppendInt(out, listed, kTypeColumns);
  for (int i = 0; i < considered; ++i) {
    if (summary.*kTypes[i].Flag) AppendRight(out, kTypes[i].Name, kTypeColumns);
  }
  AppendBlanks(out, kTypeColumns * (kMaxTypesListed - listed));
  AppendLabel(out, kLabelObsTypes);

  // INTERVAL (0 for a file of a single epoch)
  if (v21) {
    AppendFixed(out, summary.Interval, kFmtInterval21);
    AppendBlanks(out, 50);
  } else {
    AppendFixed(out, summary.Interval, kFmtInterval20);
    AppendBlanks(out, 54);
  }
  AppendLabel(out, kLabelInterval);

  // TIME OF FIRST OBS: week from the ephemeris reference, not the override
  const EpochDate first =
      DateOfGpsTime(ReferenceWeekOf(ref, summary.FirstObsTime), summary.FirstObsTime);
  AppendInt(out, first.Year, 6);
  AppendInt(out, first.Month, 6);
  AppendInt(out, first.Day, 6);
  AppendInt(out, first.Hour, 6);
  AppendInt(out, first.Minute, 6);
  if (v21) {
    AppendFixed(out, first.Seconds, kFmtFirstObsSec21);
    AppendBlanks(out, 17);
  } else {
    AppendFixed(out, first.Seconds, kFmtFirstObsSec20);
    AppendBlanks(out, 18);
  }
  AppendLabel(out, kLabelFirstObs);

  // END OF HEADER
  AppendBlanks(out, 60);
  AppendLabel(out, kLabelEndOfHeader);

  RinexFlush(out);
  return 0;
}

}  // namespace rawconv
