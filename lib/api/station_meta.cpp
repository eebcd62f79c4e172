#include "api/station_meta.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "api/context.h"
#include "api/conversion.h"
#include "api/conversion_steps.h"
#include "api/rawconv_api.h"
#include "meta/station_csv.h"
#include "meta/text_fields.h"
#include "naming/file_ext.h"
#include "naming/path.h"
#include "select/selection.h"
#include "time/calendar.h"

namespace rawconv {
namespace {

using steps::IsFolder;
using steps::IsUsable;
using meta::Upper;

constexpr int kAntennaCodeColumns = 16;  // the radome follows in columns 17-20
// The end of a message whose mend is naming the station (gpb2rinex and
// Python put their own spellings of the fields in its place).
constexpr char kMarkerAdvice[] = "give marker_name or station_id";

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// The station a marker text names: nine characters when it is a
// nine-character ID (alone, or followed by "_" as in a long file name),
// else its first four letters and digits; "" when it holds none.
std::string StationOf(const std::string& text) {
  size_t n = 0;
  while (n < text.size() && IsAlnum(text[n])) ++n;
  if (n == 9 && (text.size() == 9 || text[9] == '_')) return text.substr(0, 9);
  std::string code;
  for (char c : text) {
    if (IsAlnum(c)) code += c;
    if (code.size() == 4) break;
  }
  return code.size() == 4 ? code : std::string();
}

// The marker an input is looked up by: the nine-character station_id when
// given, else the marker name, else the GPB file's name.
std::string LookupMarker(const ConversionJob& job) {
  if (job.StationId && std::strlen(job.StationId) == 9) return job.StationId;
  if (!job.Obs.MarkerName.empty()) return StationOf(job.Obs.MarkerName);
  const char* gpb = job.Obs.GpbFile.c_str();
  std::string name = FileNameOf(gpb, PathRule::kEitherSlash);
  name.resize(WithoutGzipSuffixLength(name.c_str()));
  return StationOf(name);
}

// A text of a record for a header field of `columns` columns: bytes outside
// printable ASCII become '?', and a longer text is cut; either adds a
// warning naming the source.
std::string Fitted(const std::string& text, size_t columns, const std::string& source,
                   const char* what, std::string* warnings) {
  std::string out = text;
  bool replaced = false;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7e) {
      c = '?';
      replaced = true;
    }
  }
  if (replaced)
    *warnings += source + ": " + what + " '" + out + "' holds bytes outside printable ASCII, written as '?'\n";
  if (out.size() > columns) {
    *warnings += source + ": " + what + " '" + out + "' cut to its " + std::to_string(columns) +
                 " header columns\n";
    out.resize(columns);
  }
  return out;
}

void SetText(HeaderMetadata* m, MetadataField field, const std::string& text) {
  if (text.empty()) return;
  SetMetadataText(m, field, text.c_str());
}

// "TRM55971.00     NONE": the code padded to 16 columns and the radome.
std::string AntennaWithRadome(const meta::SiteLogAntenna& a, const std::string& source,
                              std::string* warnings) {
  if (a.Type.empty()) return std::string();
  std::string code = Fitted(a.Type, kAntennaCodeColumns, source, "Antenna Type", warnings);
  code.resize(kAntennaCodeColumns, ' ');
  return code + Fitted(a.Radome, 4, source, "Antenna Radome Type", warnings);
}

bool Fits(const double v[3]) {
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(v[i]) || !HeaderNumberFits(v[i])) return false;
  return true;
}

// The recording's first epoch on the calendar (seconds since 1970).
int64_t CalendarSeconds(int week, double tow) {
  const EpochDate d = DateOfGpsTime(week, tow);
  return DaysFromCivil(d.Year, d.Month, d.Day) * 86400 + d.Hour * 3600 + d.Minute * 60 +
         static_cast<int64_t>(std::floor(d.Seconds));
}

int Fail(const char* field, const std::string& message) {
  SetErrorText("%s", message.c_str());
  SetErrorField(field);
  return kConversionFailed;
}

// The site log of the input: the file named, or the marker's in the folder.
int LoadSiteLog(ConversionJob& job, const std::string& marker, bool marker_given) {
  StationRecords& r = job.Records;
  std::string path = r.SitelogPath, error;
  if (IsFolder(path.c_str())) {
    if (marker.empty())
      return Fail("sitelog_path", "No marker to find the site log of " + job.Obs.GpbFile +
                                      " by in folder " + path + "; " + kMarkerAdvice);
    if (!meta::FindSiteLog(r.SitelogPath, marker, &path, &error)) return Fail("sitelog_path", error);
  }
  if (!meta::ReadSiteLog(path, &r.Log, &error)) return Fail("sitelog_path", error);
  const std::string id = r.Log.Id9.empty() ? r.Log.Id4 : r.Log.Id9;
  if (!marker.empty() && !meta::SameStation(id, marker)) {
    return Fail("sitelog_path", "Site log " + path + " is of station " + id + ", not of " +
                                    Upper(marker) +
                                    (marker_given ? std::string()
                                                  : " (the marker of the GPB file's name); " +
                                                        std::string(kMarkerAdvice)));
  }
  r.HasLog = true;
  return kConversionOk;
}

}  // namespace

int ApplyStationRecords(ConversionJob& job, const WeekReference& ref, double first_rcv_time) {
  StationRecords& r = job.Records;
  if (r.SitelogPath.empty() && r.StationsPath.empty()) return kConversionOk;
  if (!IsUsable(ref)) return kConversionOk;
  const int week = ReferenceWeekOf(ref, first_rcv_time);
  r.First = CalendarSeconds(week, first_rcv_time);
  // A window that starts later: the records of its start.
  const Selection* select = job.Edits ? job.Edits->Select : nullptr;
  if (select != nullptr && select->HasFrom && select->From > GpsSeconds(week, first_rcv_time))
    r.First = DaysFromCivil(1980, 1, 6) * 86400 + static_cast<int64_t>(std::floor(select->From));
  const bool id_given = job.StationId && *job.StationId;
  const bool marker_given = id_given || !job.Obs.MarkerName.empty();
  std::string marker = LookupMarker(job);
  std::string warnings;

  // The station table's row for the input.
  const meta::StationRow* row = nullptr;
  meta::StationTable table;
  if (!r.StationsPath.empty()) {
    meta::StationTextLimits limits;
    limits.Observer = RAWCONV_OBSERVER_MAX;
    limits.Agency = RAWCONV_AGENCY_MAX;
    limits.Header = kMetadataTextColumns;
    limits.MaxNumber = 1e9;
    std::string error;
    if (!meta::ReadStationTable(r.StationsPath, limits, &table, &error))
      return Fail("stations_path", error);
    bool has_rows = false;
    if (!marker.empty()) row = meta::FindStationRow(table, marker, r.First, &has_rows);
    if (row == nullptr) {
      warnings += "Station table " + r.StationsPath + " has no row for station " +
                  (marker.empty() ? std::string("(no marker)") : Upper(marker)) +
                  (has_rows ? " at " + meta::TimeText(r.First) : std::string()) +
                  ": its header takes no values from it\n";
    } else if (!id_given) {
      // The row may name the station more precisely for its site log.
      if (!row->StationId.empty()) marker = row->StationId;
      else if (row->Marker.size() == 9) marker = row->Marker;
    }
  }

  // The site log and its entries at the first epoch.
  const meta::SiteLogReceiver* receiver = nullptr;
  const meta::SiteLogAntenna* antenna = nullptr;
  if (!r.SitelogPath.empty()) {
    const int loaded = LoadSiteLog(job, marker, marker_given || row != nullptr);
    if (loaded != kConversionOk) return loaded;
    meta::SiteLogPick pick;
    std::string error;
    if (!meta::PickEntries(r.Log, r.First, r.First, &pick, &error))
      return Fail("sitelog_path", error);
    receiver = pick.Receiver;
    antenna = pick.Antenna;
  }

  // Merged header facts: the log, then the row over it, then the options.
  HeaderMetadata& m = r.Metadata;
  std::memset(&m, 0, sizeof m);
  const meta::SiteLog& log = r.Log;
  const std::string log_source = "Site log " + log.Path;
  std::string marker_name, observer, agency, station_id;
  bool height_given = false;
  double height = 0.0;
  if (r.HasLog) {
    marker_name = log.Id4;
    station_id = log.Id9;
    SetText(&m, MetadataField::kMarkerNumber,
            Fitted(log.Domes, kMetadataTextColumns, log_source, "IERS DOMES Number", &warnings));
    const std::string rs = log_source + " entry " + receiver->Entry;
    SetText(&m, MetadataField::kReceiverType,
            Fitted(receiver->Type, kMetadataTextColumns, rs, "Receiver Type", &warnings));
    SetText(&m, MetadataField::kReceiverNumber,
            Fitted(receiver->Number, kMetadataTextColumns, rs, "Serial Number", &warnings));
    SetText(&m, MetadataField::kReceiverVersion,
            Fitted(receiver->Version, kMetadataTextColumns, rs, "Firmware Version", &warnings));
    const std::string as = log_source + " entry " + antenna->Entry;
    SetText(&m, MetadataField::kAntennaType, AntennaWithRadome(*antenna, as, &warnings));
    SetText(&m, MetadataField::kAntennaNumber,
            Fitted(antenna->Number, kMetadataTextColumns, as, "Serial Number", &warnings));
    const double delta[3] = {antenna->Up, antenna->East, antenna->North};
    if (antenna->HasDelta && Fits(delta)) {
      m.HasAntennaDelta = 1;
      for (int i = 0; i < 3; ++i) m.AntennaDelta[i] = delta[i];
    }
    if (log.HasPosition && Fits(log.Position)) {
      m.HasPosition = 1;
      for (int i = 0; i < 3; ++i) m.Position[i] = log.Position[i];
    }
  }
  if (row != nullptr) {
    marker_name = row->Marker;
    if (!row->StationId.empty()) station_id = row->StationId;
    else if (row->Marker.size() == 9) station_id = row->Marker;
    SetText(&m, MetadataField::kMarkerNumber, row->MarkerNumber);
    SetText(&m, MetadataField::kReceiverType, row->ReceiverType);
    SetText(&m, MetadataField::kReceiverNumber, row->ReceiverNumber);
    SetText(&m, MetadataField::kReceiverVersion, row->ReceiverVersion);
    SetText(&m, MetadataField::kAntennaType, row->AntennaType);
    SetText(&m, MetadataField::kAntennaNumber, row->AntennaNumber);
    if (!row->Observer.empty()) observer = row->Observer;
    if (!row->Agency.empty()) agency = row->Agency;
    if (row->HasAntennaHeight) {
      // A height in the table replaces the log's eccentricities.
      height_given = true;
      height = row->AntennaHeight;
      m.HasAntennaDelta = 0;
    }
    if (row->HasAntennaDelta) {
      m.HasAntennaDelta = 1;
      for (int i = 0; i < 3; ++i) m.AntennaDelta[i] = row->AntennaDelta[i];
    }
    if (row->HasPosition) {
      m.HasPosition = 1;
      for (int i = 0; i < 3; ++i) m.Position[i] = row->Position[i];
    }
  }
  if (!r.HasLog && row == nullptr) {
    job.Warnings += warnings;
    return kConversionOk;
  }

  // What the records say, for the quality check, before the options.
  qc::StationReference& ref_out = job.Reference;
  ref_out = qc::StationReference{};
  if (r.HasLog) ref_out.Source = "site log " + std::string(FileNameOf(log.Path.c_str(), PathRule::kEitherSlash));
  if (row != nullptr) {
    if (!ref_out.Source.empty()) ref_out.Source += ", ";
    ref_out.Source += "station table " +
                      std::string(FileNameOf(r.StationsPath.c_str(), PathRule::kEitherSlash)) +
                      " line " + std::to_string(row->Line);
  }
  ref_out.HasPosition = m.HasPosition != 0;
  for (int i = 0; i < 3; ++i) ref_out.Position[i] = m.Position[i];
  ref_out.ReceiverType = MetadataText(m, MetadataField::kReceiverType);
  ref_out.ReceiverNumber = MetadataText(m, MetadataField::kReceiverNumber);
  ref_out.ReceiverVersion = MetadataText(m, MetadataField::kReceiverVersion);
  ref_out.AntennaType = MetadataText(m, MetadataField::kAntennaType);
  ref_out.AntennaNumber = MetadataText(m, MetadataField::kAntennaNumber);

  // The options given explicitly win.
  const HeaderMetadata* given = job.Edits ? job.Edits->Metadata : nullptr;
  if (given != nullptr) {
    for (MetadataField f : {MetadataField::kMarkerNumber, MetadataField::kReceiverNumber,
                            MetadataField::kReceiverType, MetadataField::kReceiverVersion,
                            MetadataField::kAntennaNumber, MetadataField::kAntennaType})
      SetText(&m, f, MetadataText(*given, f));
    if (given->HasPosition) {
      m.HasPosition = 1;
      for (int i = 0; i < 3; ++i) m.Position[i] = given->Position[i];
    }
    if (given->HasAntennaDelta) {
      m.HasAntennaDelta = 1;
      for (int i = 0; i < 3; ++i) m.AntennaDelta[i] = given->AntennaDelta[i];
    }
    m.CommentCount = given->CommentCount;
    std::memcpy(m.Comments, given->Comments, sizeof m.Comments);
    std::memcpy(m.MarkerType, given->MarkerType, sizeof m.MarkerType);
  }
  // An antenna height given for the call replaces the records' delta.
  if (job.Obs.AntHeight != 0.0) {
    if (given == nullptr || !given->HasAntennaDelta) m.HasAntennaDelta = 0;
  } else if (height_given) {
    job.Obs.AntHeight = height;
  }
  if (job.Obs.MarkerName.empty()) job.Obs.MarkerName = marker_name;
  if (job.Obs.Observer.empty()) job.Obs.Observer = observer;
  if (job.Obs.Agency.empty()) job.Obs.Agency = agency;
  if (!id_given && !station_id.empty()) {
    r.StationId = Upper(station_id);
    job.StationId = r.StationId.c_str();
  }
  r.Edits = job.Edits ? *job.Edits : ObsEdits{};
  r.Edits.Metadata = &m;
  job.Edits = &r.Edits;
  if (job.PositionFromData != nullptr) {
    // The position from the data, which the pre-scan solves later, goes
    // into the merged facts and wins over the records' position: the
    // request holds the writers' edits from here on.
    DataPositionRequest& data = *job.PositionFromData;
    data.Metadata = m;
    data.Edits = r.Edits;
    data.Edits.Metadata = &data.Metadata;
    job.Edits = &data.Edits;
  }
  r.Applied = true;
  job.Warnings += warnings;
  return kConversionOk;
}

void AddStationWarnings(ConversionJob& job) {
  StationRecords& r = job.Records;
  if (!r.HasLog || job.Facts == nullptr || job.Facts->LastWeek < 0) return;
  const int64_t last = CalendarSeconds(job.Facts->LastWeek, job.Facts->LastTow);
  meta::SiteLogPick pick;
  std::string error;
  if (!meta::PickEntries(r.Log, r.First, last, &pick, &error)) return;
  for (const std::string& line : pick.Warnings) job.Warnings += line + "\n";
}

}  // namespace rawconv
