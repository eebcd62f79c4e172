// The reentrant interface (rawconv_api.h) over the conversion core. Every
// function works on the caller's session or reader, never on module-wide
// state, and catches every exception at the boundary.
#include "rawconv_api.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/context.h"
#include "api/conversion.h"
#include "api/conversion_steps.h"
#include "naming/file_ext.h"
#include "naming/path.h"
#include "api/qc_step.h"
#include "ephem/epp.h"
#include "gpb/gpb.h"
#include "sink/gzip_sink.h"
#include "obs/header_metadata.h"
#include "obs/obs_writer.h"
#include "obs/rinex3_codes.h"
#include "obs/rinex3_obs.h"
#include "obs/rinex_format.h"
#include "obs/rinex_versions.h"
#include "obs/run_date.h"
#include "select/selection.h"
#include "time/calendar.h"

struct rawconv_session {
  rawconv::Context context;
};

struct rawconv_gpb_reader {
  rawconv::Context context;
  rawconv::GpbClass gpb;
  rawconv::WeekReference ref;
  bool dated = false;
  bool ended = false;
  int end_code = 0;  // what rawconv_gpb_next keeps returning once ended
  char error[RAWCONV_ERROR_MAX] = "";
  char receiver[64] = "";
};

namespace rawconv {
namespace {

// 7.601122 as the dialog's library gives it (see exports.cpp).
constexpr double kVersionNumber = 0x1.e678c868b9fdbp+2;
constexpr int32_t kVersionYear = 2005;

// Widths of the header texts in their RINEX records: the public table, which
// the header writers' own fields must hold.
constexpr size_t kMarkerColumns = RAWCONV_MARKER_MAX;
constexpr size_t kObserverColumns = RAWCONV_OBSERVER_MAX;
constexpr size_t kAgencyColumns = RAWCONV_AGENCY_MAX;
constexpr size_t kRunByColumns = RAWCONV_RUN_BY_MAX;
constexpr size_t kStationIdColumns = RAWCONV_STATION_ID_MAX;
constexpr double kMaxAntennaHeight = RAWCONV_ANTENNA_HEIGHT_MAX;
static_assert(RAWCONV_MARKER_NUMBER_MAX == kMetadataTextColumns &&
                  RAWCONV_RECEIVER_TEXT_MAX == kMetadataTextColumns &&
                  RAWCONV_ANTENNA_TEXT_MAX == kMetadataTextColumns &&
                  RAWCONV_COMMENT_MAX == kCommentColumns &&
                  RAWCONV_COMMENT_COUNT_MAX == kMaxMetadataComments,
              "the public limits are the header writers'");

// Where each field of the options record ends, in field order. A caller's
// record is read up to the end of the last field its size holds whole: a
// size that ends inside a field (half a pointer) leaves that field unset.
#define OPTION_END(field) (offsetof(rawconv_options, field) + sizeof(rawconv_options::field))
constexpr size_t kOptionFieldEnds[] = {
    OPTION_END(size), OPTION_END(gpb_path), OPTION_END(epp_path), OPTION_END(station),
    OPTION_END(station_path), OPTION_END(output_dir), OPTION_END(obs_path),
    OPTION_END(nav_path), OPTION_END(rinex), OPTION_END(names), OPTION_END(compress),
    OPTION_END(existing), OPTION_END(marker_name), OPTION_END(observer), OPTION_END(agency),
    OPTION_END(run_by), OPTION_END(station_id), OPTION_END(antenna_height),
    OPTION_END(use_week), OPTION_END(week), OPTION_END(progress), OPTION_END(progress_user),
    OPTION_END(use_run_date), OPTION_END(run_date), OPTION_END(qc),
    OPTION_END(use_elevation_mask), OPTION_END(elevation_mask), OPTION_END(qc_dir),
    OPTION_END(from_time), OPTION_END(to_time), OPTION_END(interval), OPTION_END(exclude),
    OPTION_END(obs_types), OPTION_END(marker_number), OPTION_END(receiver_number),
    OPTION_END(receiver_type), OPTION_END(receiver_version), OPTION_END(antenna_number),
    OPTION_END(antenna_type), OPTION_END(use_position), OPTION_END(position),
    OPTION_END(use_antenna_delta), OPTION_END(antenna_delta), OPTION_END(comments),
    OPTION_END(comment_count), OPTION_END(full_header), OPTION_END(split), OPTION_END(output),
    OPTION_END(output_user), OPTION_END(single_thread), OPTION_END(marker_type),
    OPTION_END(no_sync), OPTION_END(date),
    OPTION_END(sitelog_path), OPTION_END(stations_path),
    OPTION_END(position_source),
};
#undef OPTION_END
// A field added to the record needs its line above.
static_assert(sizeof(rawconv_options) - kOptionFieldEnds[sizeof kOptionFieldEnds /
                                                         sizeof kOptionFieldEnds[0] - 1] <
                  alignof(rawconv_options),
              "every field of rawconv_options is listed in kOptionFieldEnds");

// The bytes of the caller's options record that hold whole fields.
size_t WholeFieldsSize(uint32_t size) {
  size_t whole = 0;
  for (const size_t end : kOptionFieldEnds) {
    if (end > size) break;
    whole = end;
  }
  return whole;
}

// The part of a caller's options record that this library knows: a zeroed
// full-size copy of the caller's whole fields (callers built against an
// older header pass a smaller size).
bool CopyRecord(const rawconv_options* from, rawconv_options* to) {
  std::memset(to, 0, sizeof *to);
  if (!from || from->size < sizeof(uint32_t)) return false;
  std::memcpy(to, from, WholeFieldsSize(from->size));
  to->size = sizeof *to;
  return true;
}

const char* TextOr(const char* text) { return text ? text : ""; }

// The version texts users type and the version each names (enum
// rawconv_rinex). A major version alone is its newest minor.
struct RinexText {
  const char* Text;
  int32_t Value;
};
constexpr RinexText kRinexTexts[] = {
    {"2.0", RAWCONV_RINEX_2_00},  {"2.00", RAWCONV_RINEX_2_00}, {"2.1", RAWCONV_RINEX_2_10},
    {"2.10", RAWCONV_RINEX_2_10}, {"2.11", RAWCONV_RINEX_2_11}, {"2", RAWCONV_RINEX_2_11},
    {"3.02", RAWCONV_RINEX_3_02}, {"3.03", RAWCONV_RINEX_3_03}, {"3.04", RAWCONV_RINEX_3_04},
    {"3.05", RAWCONV_RINEX_3_05}, {"3", RAWCONV_RINEX_3_05},    {"4", RAWCONV_RINEX_4_00},
    {"4.0", RAWCONV_RINEX_4_00},  {"4.00", RAWCONV_RINEX_4_00},
};
constexpr char kRinexTextList[] =
    "2.0, 2.00, 2.1, 2.10, 2.11, 2 (2.11), 3.02, 3.03, 3.04, 3.05, 3 (3.05), 4, 4.0, 4.00";

// options.rinex -> the version the writers take (obs/rinex_versions.h);
// false for a value that names no version.
bool WriterVersion(int32_t rinex, int* version) {
  switch (rinex) {
    case RAWCONV_RINEX_2_10:
    case 210: *version = kRinexLayout21; return true;
    case RAWCONV_RINEX_2_00:
    case 200: *version = kRinexLayout20; return true;
    case RAWCONV_RINEX_2_11: *version = kRinex211; return true;
    case RAWCONV_RINEX_3_02: *version = kRinex302; return true;
    case RAWCONV_RINEX_3_03: *version = kRinex303; return true;
    case RAWCONV_RINEX_3_04: *version = kRinex304; return true;
    case RAWCONV_RINEX_3_05: *version = kRinex305; return true;
    case RAWCONV_RINEX_4_00: *version = kRinex400; return true;
    default: return false;
  }
}

// A failure of the request itself, before anything is read: the message and
// the options field it is about (empty when no one field is).
struct Invalid {
  int Code = RAWCONV_OK;
  std::string Message;
  std::string Field;
};

bool Refuse(Invalid* why, const char* field, const std::string& message) {
  why->Code = RAWCONV_INVALID;
  why->Field = field;
  why->Message = message;
  return false;
}

// A header text of the options: at most `columns` printable ASCII
// characters (0x20..0x7e), so that it can neither widen nor break its line.
bool CheckText(const char* text, size_t columns, const char* what, const char* field,
               Invalid* why) {
  const char* t = TextOr(text);
  for (size_t i = 0; t[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    if (c < 0x20 || c > 0x7e) {
      char where[48];
      std::snprintf(where, sizeof where, " (byte 0x%02x at %zu)", c, i + 1);
      return Refuse(why, field, std::string(field) + ": not printable ASCII" + where);
    }
  }
  if (std::strlen(t) <= columns) return true;
  return Refuse(why, field,
                std::string(what) + " longer than " + std::to_string(columns) +
                    " characters: " + t);
}

// The five header texts of the first version of the options record.
bool CheckHeaderTexts(const rawconv_options& o, Invalid* why) {
  return CheckText(o.marker_name, kMarkerColumns, "Marker name", "marker_name", why) &&
         CheckText(o.observer, kObserverColumns, "Observer", "observer", why) &&
         CheckText(o.agency, kAgencyColumns, "Agency", "agency", why) &&
         CheckText(o.run_by, kRunByColumns, "Run by text", "run_by", why) &&
         CheckText(o.station_id, kStationIdColumns, "Station id", "station_id", why);
}

// The refusals of a week and a day that cannot date a recording.
std::string BadWeekText(int32_t week) {
  return "GPS week " + std::to_string(week) + " out of range (0 to " +
         std::to_string(RAWCONV_WEEK_MAX) + ")";
}
std::string BadDateText(const char* date) {
  return std::string("Bad date \"") + date + "\": expected YYYY-MM-DD or YYYY/MM/DD, a day of GPS weeks 0 to " +
         std::to_string(RAWCONV_WEEK_MAX);
}

// Noon (GPS time) of a day given as "YYYY-MM-DD" or "YYYY/MM/DD", as a reference that dates
// each epoch in the week that puts it nearest that noon. false for any
// other text or a day outside weeks 0..RAWCONV_WEEK_MAX.
bool ReferenceOfDay(const char* text, WeekReference* ref) {
  if (std::strlen(text) != 10 || (text[4] != '-' && text[4] != '/') || text[7] != text[4])
    return false;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (text[i] < '0' || text[i] > '9') return false;
  const int year = std::atoi(text);
  const int month = std::atoi(text + 5);
  const int day = std::atoi(text + 8);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  const int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1980, 1, 6);
  if (days < 0) return false;
  const int64_t week = days / 7;
  if (week > RAWCONV_WEEK_MAX) return false;
  *ref = WeekReference{};
  ref->Week = static_cast<int32_t>(week);
  ref->Toe = static_cast<double>(days % 7) * 86400.0 + 43200.0;
  // The nearest-week rule reads weeks below 700 as after the 1999
  // rollover: those early days are dated in their own week.
  if (week < 700) ref->FixedWeek = 1;
  else ref->Found = 1;
  return true;
}


static_assert(static_cast<int>(RAWCONV_STATION_BESIDE) == static_cast<int>(kStationBeside) &&
                  static_cast<int>(RAWCONV_STATION_NONE) == static_cast<int>(kStationNone) &&
                  static_cast<int>(RAWCONV_STATION_FILE) == static_cast<int>(kStationFile),
              "station sources");

// Fills the job from the options record.
bool BuildJob(const rawconv_options& o, ConversionJob* job, std::string* qc_dir, Invalid* why) {
  why->Code = RAWCONV_INVALID;
  if (!o.gpb_path || !*o.gpb_path) return Refuse(why, "gpb_path", "No GPB file given");
  if (!WriterVersion(o.rinex, &job->RinexVersion))
    return Refuse(why, "rinex", "Unknown RINEX version " + std::to_string(o.rinex));
  switch (o.existing) {
    case RAWCONV_EXISTING_REFUSE: job->Existing = OutputPolicy::kRefuse; break;
    case RAWCONV_EXISTING_REPLACE: job->Existing = OutputPolicy::kReplace; break;
    case RAWCONV_EXISTING_SKIP: job->Existing = OutputPolicy::kSkip; break;
    default: return Refuse(why, "existing", "Unknown existing-output policy");
  }
  switch (o.names) {
    case RAWCONV_NAMES_INPUT: job->Names = NameStyle::kInput; break;
    case RAWCONV_NAMES_SHORT: job->Names = NameStyle::kShort; break;
    case RAWCONV_NAMES_LONG: job->Names = NameStyle::kLong; break;
    default: return Refuse(why, "names", "Unknown file name style");
  }
  switch (o.compress) {
    case RAWCONV_COMPRESS_NONE: job->Compress = Compression::kNone; break;
    case RAWCONV_COMPRESS_GZ: job->Compress = Compression::kGzip; break;
    case RAWCONV_COMPRESS_CRX: job->Compress = Compression::kCrx; break;
    case RAWCONV_COMPRESS_CRX_GZ: job->Compress = Compression::kCrxGzip; break;
    default: return Refuse(why, "compress", "Unknown compression");
  }
  if ((job->Compress == Compression::kGzip || job->Compress == Compression::kCrxGzip) &&
      !GzipAvailable())
    return Refuse(why, "compress", "gzip output is not available in this build");
  if (o.station < RAWCONV_STATION_BESIDE || o.station > RAWCONV_STATION_FILE)
    return Refuse(why, "station", "Unknown station source " + std::to_string(o.station));
  if (o.station == RAWCONV_STATION_FILE && (!o.station_path || !*o.station_path))
    return Refuse(why, "station_path", "Station file option without a station file");
  if (!CheckHeaderTexts(o, why)) return false;
  why->Code = RAWCONV_INVALID;
  if (!std::isfinite(o.antenna_height) || o.antenna_height < 0.0 ||
      o.antenna_height > kMaxAntennaHeight)
    return Refuse(why, "antenna_height", "Antenna height out of range");
  if (o.use_week && (o.week < 0 || o.week > RAWCONV_WEEK_MAX))
    return Refuse(why, "week", BadWeekText(o.week));
  if (o.date && *o.date) {
    if (o.use_week)
      return Refuse(why, "date", "Give a GPS week or a day of the recording, not both");
    if (!ReferenceOfDay(o.date, &job->DateRef))
      return Refuse(why, "date", BadDateText(o.date));
  }
  switch (o.position_source) {
    case RAWCONV_POSITION_RECEIVER: break;
    case RAWCONV_POSITION_DATA:
      if (o.use_position)
        return Refuse(why, "position_source",
                      "Give a position or the position from the data, not both");
      break;
    default:
      return Refuse(why, "position_source",
                    "Unknown position source " + std::to_string(o.position_source));
  }
  switch (o.qc) {
    case RAWCONV_QC_NONE: job->Qc = QcMode::kNone; break;
    case RAWCONV_QC_WITH: job->Qc = QcMode::kWith; break;
    case RAWCONV_QC_ONLY: job->Qc = QcMode::kOnly; break;
    default: return Refuse(why, "qc", "Unknown quality check mode " + std::to_string(o.qc));
  }
  if (o.use_elevation_mask) {
    if (!std::isfinite(o.elevation_mask) || o.elevation_mask < 0.0 || o.elevation_mask > 90.0)
      return Refuse(why, "elevation_mask", "Elevation mask out of range (0 to 90 degrees)");
    job->ElevationMask = o.elevation_mask;
  }
  // The reports' folder: the one asked for; with the check alone the output
  // folder stands in for it.
  if (o.qc_dir && *o.qc_dir) *qc_dir = o.qc_dir;
  else if (o.qc == RAWCONV_QC_ONLY && o.output_dir && *o.output_dir) *qc_dir = o.output_dir;
  job->QcDir = qc_dir->empty() ? nullptr : qc_dir->c_str();
  if ((o.obs_path == nullptr) != (o.nav_path == nullptr))
    return Refuse(why, o.obs_path == nullptr ? "obs_path" : "nav_path",
                  "Give both output paths or neither");
  switch (o.split) {
    case RAWCONV_SPLIT_NONE:
    case RAWCONV_SPLIT_15M:
    case RAWCONV_SPLIT_1H:
    case RAWCONV_SPLIT_1D: job->SplitSeconds = o.split; break;
    default: return Refuse(why, "split", "Unknown split " + std::to_string(o.split));
  }
  if (o.split != RAWCONV_SPLIT_NONE && o.obs_path != nullptr)
    return Refuse(why, "split", "Splitting names its outputs: give no obs_path / nav_path");

  const std::string gpb = o.gpb_path;
  std::string epp;
  if (o.epp_path && *o.epp_path) {
    epp = o.epp_path;
  } else {
    // FILE.epp beside the GPB file, whatever the case of its extension
    // (else FILE.epp.gz; FILE without the ".gz" of a gzip GPB file).
    epp = BesideFile(gpb.c_str(), ".epp");
  }
  std::string obs_path, nav_path;
  if (o.obs_path) {
    obs_path = o.obs_path;
    nav_path = o.nav_path;
    job->FixedNames = true;
  } else {
    // Outputs are named after the GPB file's name without the ".gz" of a
    // gzip input (site1.gpb.gz -> site1.obs).
    std::string base = gpb.substr(0, WithoutGzipSuffixLength(gpb.c_str()));
    if (o.output_dir && *o.output_dir) {
      base = JoinPath(o.output_dir, FileNameOf(base.c_str(), PathRule::kEitherSlash),
                      PathRule::kEitherSlash);
    }
    obs_path = nav_path = base;
  }
  if (!job->FixedNames) {
    SetFileExt(&obs_path, ".obs");
    SetFileExt(&nav_path, ".nav");
  }
  ObsInput& obs = job->Obs;
  obs.GpbFile = gpb;
  obs.ObsFile = obs_path;
  obs.MarkerName = TextOr(o.marker_name);
  obs.Observer = TextOr(o.observer);
  obs.Agency = TextOr(o.agency);
  obs.RunBy = TextOr(o.run_by);
  obs.AntHeight = o.antenna_height;
  obs.UseGpsWeek = o.use_week ? 1 : 0;
  obs.GpsWeek = o.use_week ? o.week : 0;
  job->Nav.EppFile = epp;
  job->EppGiven = o.epp_path && *o.epp_path;
  job->Nav.NavFile = nav_path;
  job->Nav.RunBy = TextOr(o.run_by);
  job->StationId = o.station_id && *o.station_id ? o.station_id : nullptr;
  job->Station = static_cast<StationSource>(o.station);
  if (o.station == RAWCONV_STATION_FILE) job->StationPath = o.station_path;
  // The station's records, looked up per input by the flow.
  job->Records.SitelogPath = TextOr(o.sitelog_path);
  job->Records.StationsPath = TextOr(o.stations_path);
  why->Code = RAWCONV_OK;
  return true;
}

// The edits of one call: selection, header facts and the record that points
// at them (pointers left null for the parts nobody asked for).
struct EditRecords {
  Selection Select;
  HeaderMetadata Metadata;
  ObsEdits Edits;
  bool Any;  // false: the call converts as without edits
};

bool Given(const char* text) { return text && *text; }

bool Fails(const CheckResult& check, const char* field, Invalid* why) {
  if (check.Ok) return false;
  Refuse(why, field, check.Message);
  return true;
}

bool Triple(const double values[3], const char* what, const char* field, Invalid* why) {
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(values[i]) || !HeaderNumberFits(values[i]))
      return Refuse(why, field, std::string("Bad ") + what + ": a value does not fit F14.4");
  }
  return true;
}

// Reads the editing fields of the options into *e. False with the reason
// when one of them is invalid.
bool BuildEdits(const rawconv_options& o, EditRecords* e, Invalid* why) {
  std::memset(e, 0, sizeof *e);
  bool select = false, metadata = false;
  if (Given(o.from_time) || Given(o.to_time)) {
    const char* from = Given(o.from_time) ? o.from_time : nullptr;
    const char* to = Given(o.to_time) ? o.to_time : nullptr;
    // Each bound alone first, so that the message goes with its field.
    if (from && Fails(ParseWindow(from, nullptr, &e->Select), "from_time", why)) return false;
    if (to && Fails(ParseWindow(nullptr, to, &e->Select), "to_time", why)) return false;
    e->Select = Selection{};
    if (Fails(ParseWindow(from, to, &e->Select), "to_time", why))
      return false;
    select = true;
  }
  if (o.interval != 0.0) {
    if (!std::isfinite(o.interval) || o.interval < 0.0 || o.interval > kSecondsPerDay)
      return Refuse(why, "interval", "Bad interval: must be above 0 and at most 86400 s");
    e->Select.Interval = o.interval;
    select = true;
  }
  if (Given(o.exclude)) {
    if (Fails(ParseExclusions(o.exclude, &e->Select), "exclude", why)) return false;
    select = true;
  }
  if (Given(o.obs_types)) {
    if (Fails(ParseObsTypes(o.obs_types, &e->Select.KeptTypes), "obs_types", why)) return false;
    select = true;
  }
  struct Text {
    MetadataField Field;
    const char* Value;
    const char* Name;
  };
  const Text texts[] = {
      {MetadataField::kMarkerNumber, o.marker_number, "marker_number"},
      {MetadataField::kReceiverNumber, o.receiver_number, "receiver_number"},
      {MetadataField::kReceiverType, o.receiver_type, "receiver_type"},
      {MetadataField::kReceiverVersion, o.receiver_version, "receiver_version"},
      {MetadataField::kAntennaNumber, o.antenna_number, "antenna_number"},
      {MetadataField::kAntennaType, o.antenna_type, "antenna_type"},
  };
  for (const Text& t : texts) {
    if (!Given(t.Value)) continue;
    if (Fails(SetMetadataText(&e->Metadata, t.Field, t.Value), t.Name, why)) return false;
    metadata = true;
  }
  if (o.use_position) {
    if (!Triple(o.position, "position", "position", why)) return false;
    e->Metadata.HasPosition = 1;
    for (int i = 0; i < 3; ++i) e->Metadata.Position[i] = o.position[i];
    metadata = true;
  }
  if (o.use_antenna_delta) {
    if (!Triple(o.antenna_delta, "antenna delta", "antenna_delta", why)) return false;
    e->Metadata.HasAntennaDelta = 1;
    for (int i = 0; i < 3; ++i) e->Metadata.AntennaDelta[i] = o.antenna_delta[i];
    metadata = true;
  }
  if (o.comment_count < 0 || (o.comment_count > 0 && !o.comments))
    return Refuse(why, "comment_count", "Bad comments: count without texts");
  for (int32_t i = 0; i < o.comment_count; ++i) {
    if (Fails(AddMetadataComment(&e->Metadata, o.comments[i]), "comments", why)) return false;
    metadata = true;
  }
  if (Given(o.marker_type)) {
    int version = kRinexLayout21;
    why->Code = RAWCONV_INVALID;
    why->Field = "marker_type";
    if (!ParseMarkerType(o.marker_type, e->Metadata.MarkerType)) {
      std::string names;
      for (const char* name : kMarkerTypeNames) names += std::string(names.empty() ? "" : " ") + name;
      why->Message = std::string("Bad marker type \"") + o.marker_type + "\": expected " + names;
      return false;
    }
    if (WriterVersion(o.rinex, &version) && !UsesRinex3Records(version)) {
      why->Message = "A marker type needs RINEX 3 or 4 output: RINEX 2.11 has no MARKER TYPE record";
      return false;
    }
    why->Code = RAWCONV_OK;
    why->Field.clear();
    metadata = true;
  }
  e->Edits.Select = select ? &e->Select : nullptr;
  e->Edits.Metadata = metadata ? &e->Metadata : nullptr;
  e->Edits.FullHeader = o.full_header ? 1 : 0;
  e->Any = select || metadata || o.full_header;
  return true;
}

// The selection in the caller's words, for the message of a selection that
// keeps no epoch: "window 2005-04-02 00:00:00 to (open), interval 30 s,
// excluding G".
std::string SelectionWords(const rawconv_options& o) {
  std::string words;
  auto add = [&words](const std::string& part) { words += (words.empty() ? "" : ", ") + part; };
  if (Given(o.from_time) || Given(o.to_time))
    add(std::string("window ") + (Given(o.from_time) ? o.from_time : "(open)") + " to " +
        (Given(o.to_time) ? o.to_time : "(open)"));
  if (o.interval != 0.0) {
    char text[64];
    std::snprintf(text, sizeof text, "interval %g s", o.interval);
    add(text);
  }
  if (Given(o.exclude)) add(std::string("excluding ") + o.exclude);
  if (Given(o.obs_types)) add(std::string("types ") + o.obs_types);
  return words;
}

// Sets up the session's context for one call.
void PrepareContext(Context& c, const rawconv_options& o) {
  c = Context{};
  if (o.use_run_date) {
    c.RunTimeFixed = 1;
    c.FixedRunTime = o.run_date;
  }
  c.Progress = o.progress;
  c.ProgressUser = o.progress_user;
  c.SingleThread = o.single_thread != 0;
}

void FormatGpsTime(int week, double tow, char* out, size_t size) {
  if (week < 0) {
    out[0] = '\0';
    return;
  }
  const EpochDate d = DateOfGpsTime(week, tow);
  std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%010.7f", d.Year, d.Month, d.Day, d.Hour,
                d.Minute, d.Seconds);
}

// Copies the warning lines that fit, whole lines only.
void CopyWarnings(const std::string& lines, char* out, size_t size) {
  size_t end = 0;
  for (size_t next = lines.find('\n'); next != std::string::npos && next < size - 1;
       next = lines.find('\n', next + 1))
    end = next + 1;
  std::memcpy(out, lines.data(), end);
  out[end] = '\0';
}

void FillReport(rawconv_report* r, int result, const char* error, const char* error_field,
                const ConversionJob& job, const ConversionFacts& f, const QcFacts& q) {
  r->result = result;
  const bool ok = result == RAWCONV_OK || result == RAWCONV_SKIPPED;
  std::snprintf(r->error, sizeof r->error, "%s", ok ? "" : error);
  std::snprintf(r->error_field, sizeof r->error_field, "%s", ok ? "" : error_field);
  CopyWarnings(ok ? job.Warnings : std::string(), r->warnings, sizeof r->warnings);
  std::snprintf(r->obs_path, sizeof r->obs_path, "%s", job.Obs.ObsFile.c_str());
  std::snprintf(r->nav_path, sizeof r->nav_path, "%s", job.Nav.NavFile.c_str());
  r->obs_skipped = f.ObsSkipped;
  r->nav_skipped = f.NavSkipped;
  r->epochs_read = f.EpochsRead;
  r->epochs_written = f.EpochsWritten;
  r->satellites = f.Satellites;
  r->first_week = f.FirstWeek;
  r->first_tow = f.FirstTow;
  r->last_week = f.LastWeek;
  r->last_tow = f.LastTow;
  FormatGpsTime(f.FirstWeek, f.FirstTow, r->first_time, sizeof r->first_time);
  FormatGpsTime(f.LastWeek, f.LastTow, r->last_time, sizeof r->last_time);
  r->interval = f.Interval;
  r->nav_records = f.NavRecords;
  r->gpb_damaged = f.GpbDamaged;
  r->gpb_bytes_used = f.GpbBytesUsed;
  r->gpb_file_size = f.GpbFileSize;
  std::snprintf(r->qc_summary, sizeof r->qc_summary, "%s", q.Summary);
  char* const qc_fields[kQcFiles] = {r->qc_text_path, r->qc_json_path, r->qc_html_path};
  for (int i = 0; i < kQcFiles; ++i)
    std::snprintf(qc_fields[i], RAWCONV_PATH_MAX, "%s", q.Paths.Path[i]);
  r->qc_skipped = q.Skipped;
  r->obs_files = f.ObsFiles;
}

int32_t KindOf(OutputKind kind) {
  switch (kind) {
    case OutputKind::kObservation: return RAWCONV_OUTPUT_OBS;
    case OutputKind::kNavigation: return RAWCONV_OUTPUT_NAV;
    case OutputKind::kQcReport: return RAWCONV_OUTPUT_QC;
  }
  return RAWCONV_OUTPUT_OBS;
}

// One conversion or plan on a session.
int Run(rawconv_session* session, const rawconv_options* options, rawconv_report* report,
        bool plan_only) {
  rawconv_report full;
  rawconv_report_init(&full);
  rawconv_options o{};
  ConversionFacts facts{};
  facts.FirstWeek = facts.LastWeek = -1;
  std::unique_ptr<QcFacts> qc(new QcFacts());
  std::unique_ptr<EditRecords> edits(new EditRecords());
  std::unique_ptr<DataPositionRequest> from_data;
  std::string qc_dir;
  ConversionJob job;
  std::vector<OutputFile> outputs;
  Invalid why;
  int result = RAWCONV_INVALID;
  std::string error, error_field;
  if (!session) {
    error = "No session";
  } else if (!CopyRecord(options, &o)) {
    error = "Options record missing or too small";
  } else if (report && report->size < sizeof(uint32_t)) {
    error = "Report record too small";
  } else if (!BuildJob(o, &job, &qc_dir, &why) ||
             !BuildEdits(o, edits.get(), &why)) {
    error = why.Message;
    error_field = why.Field;
  } else {
    PrepareContext(session->context, o);
    ContextScope scope(session->context);
    if (edits->Any) job.Edits = &edits->Edits;
    // The position from the data: the writers get the call's edits with a
    // metadata record that the pre-scan gives the position.
    if (o.position_source == RAWCONV_POSITION_DATA) {
      from_data.reset(new DataPositionRequest());
      if (edits->Any) from_data->Edits = edits->Edits;
      if (edits->Edits.Metadata) from_data->Metadata = *edits->Edits.Metadata;
      from_data->Edits.Metadata = &from_data->Metadata;
      job.Edits = &from_data->Edits;
      job.PositionFromData = from_data.get();
    }
    job.GlonassSlots = true;
    job.UserMessages = true;
    job.SelectionText = SelectionWords(o);
    job.Sync = o.no_sync == 0;
    job.PlanOnly = plan_only;
    job.Facts = &facts;
    job.QcResult = qc.get();
    job.Outputs = &outputs;
    try {
      result = RunConversion(job);
    } catch (const std::bad_alloc&) {
      CopyErrorText("Out of memory");
      result = RAWCONV_FAILED;
    } catch (...) {
      CopyErrorText("Internal error during conversion");
      result = RAWCONV_FAILED;
    }
    error = session->context.ErrorText;
    error_field = session->context.ErrorField;
  }
  {
    // Dates are worked out on the session's context (a scratch one without
    // a session): never on the shared default context.
    Context scratch{};
    ContextScope scope(session ? session->context : scratch);
    FillReport(&full, result, error.c_str(), error_field.c_str(), job, facts, *qc);
  }
  if (report) {
    const size_t size = report->size < sizeof full ? report->size : sizeof full;
    full.size = report->size;
    std::memcpy(report, &full, size);
  }
  // The list of outputs, once the report is filled (a caller may look at it
  // from its callback).
  if ((result == RAWCONV_OK || result == RAWCONV_SKIPPED) && o.output) {
    for (const OutputFile& out : outputs)
      o.output(o.output_user, KindOf(out.Kind), out.Path.c_str(), out.Skipped ? 1 : 0);
  }
  return result;
}

void ToChannel(const GpbChannel& in, rawconv_channel* out) {
  std::memset(out, 0, sizeof *out);
  out->gpb_prn = in.Prn;
  out->system = in.Prn > kGpsPrnMax ? 'R' : 'G';
  out->prn = in.Prn > kGpsPrnMax ? in.Prn - kGpsPrnMax : in.Prn;
  const uint32_t m = in.ObsMask;
  struct Value {
    uint32_t GpbBit;
    uint32_t Have;
    double In;
    double* Out;
  };
  // Phases are stored with the opposite sign to RINEX.
  const Value values[] = {
      {kObsC1, RAWCONV_HAVE_C1, in.C1, &out->c1},
      {kObsL1, RAWCONV_HAVE_L1, 0.0 - in.L1, &out->l1},
      {kObsL2, RAWCONV_HAVE_L2, 0.0 - in.L2, &out->l2},
      {kObsP1, RAWCONV_HAVE_P1, in.P1, &out->p1},
      {kObsP2, RAWCONV_HAVE_P2, in.P2, &out->p2},
      {kObsD1, RAWCONV_HAVE_D1, in.D1, &out->d1},
      {kObsCn0L1, RAWCONV_HAVE_S1, in.Cn0L1, &out->s1},
      {kObsCn0L2, RAWCONV_HAVE_S2, in.Cn0L2, &out->s2},
  };
  for (const Value& v : values) {
    if (m & v.GpbBit) {
      out->have |= v.Have;
      *v.Out = v.In;
    }
  }
  out->lock_time1 = in.LockTime1;
  out->lock_time2 = in.LockTime2;
  out->lli1 = (m & kObsLock1) != 0 && !(in.LockTime1 > 0.0);
  out->lli2 = (m & kObsLock2) != 0 && !(in.LockTime2 > 0.0);
}

// Opens the GPB file of a reader; nullptr with the reason in *why.
rawconv_gpb_reader* OpenReader(const char* gpb_path, std::string* why) {
  if (!gpb_path) {
    *why = "No GPB file given";
    return nullptr;
  }
  std::unique_ptr<rawconv_gpb_reader> r(new (std::nothrow) rawconv_gpb_reader());
  if (!r) {
    *why = "Out of memory";
    return nullptr;
  }
  ContextScope scope(r->context);
  if (r->gpb.OpenGpbFile(gpb_path, 1 << 16) != 0) {
    // The reader's reason, else the file system's, else the contents'.
    std::string reason = r->gpb.OpenReason();
    if (reason.empty()) reason = steps::InputProblem(gpb_path);
    if (reason.empty()) reason = "not a GPB file (neither the new nor the old format)";
    *why = std::string("Cannot open GPB file ") + gpb_path + ": " + reason;
    return nullptr;
  }
  std::snprintf(r->receiver, sizeof r->receiver, "%s", r->gpb.ReceiverDescription());
  return r.release();
}

// Every epoch dated in one fixed week.
void DateByWeek(rawconv_gpb_reader* r, int32_t week) {
  r->ref = WeekReference{};
  r->ref.Week = week;
  r->ref.FixedWeek = 1;
  r->dated = true;
}

// How a reader opened by rawconv_gpb_open_dated dates its epochs; false
// with the reason in *why for a request it cannot follow.
bool ChooseDating(const char* epp_path, int32_t week, const char* date, WeekReference* ref,
                  bool* dated, std::string* why) {
  const bool by_epp = epp_path && *epp_path;
  const bool by_date = date && *date;
  const bool by_week = week != -1;
  if (by_epp + by_date + by_week > 1) {
    *why = "Give one of an EPP file, a GPS week and a day";
    return false;
  }
  *dated = by_epp || by_date || by_week;
  *ref = WeekReference{};
  if (by_week) {
    if (week < 0 || week > RAWCONV_WEEK_MAX) {
      *why = BadWeekText(week);
      return false;
    }
    ref->Week = week;
    ref->FixedWeek = 1;
  } else if (by_date) {
    if (!ReferenceOfDay(date, ref)) {
      *why = BadDateText(date);
      return false;
    }
  } else if (by_epp) {
    std::string reason;
    std::FILE* epp = OpenEppFile(epp_path, &reason);
    if (!epp) {
      *why = std::string("Cannot open ephemeris file ") + epp_path + ": " + reason;
      return false;
    }
    std::fclose(epp);
    *ref = LookupWeekReference(epp_path);
    if (!ref->Found) {
      *why = std::string("Ephemeris file ") + epp_path +
             " holds no ephemeris to date the recording";
      return false;
    }
  }
  return true;
}

// One epoch of the reader into *epoch: 1, or the end code (0 clean end, -1
// damaged), which every later call returns again.
int ReadEpoch(rawconv_gpb_reader* r, rawconv_epoch* epoch) {
  if (r->ended) return r->end_code;
  GpbEpoch e{};
  GpbChannel channels[kMaxChannels]{};
  const int code = r->gpb.ReadGpbEpoch(&e, channels);
  if (code != 0) {
    // End of file, or a record that is damaged or cut short.
    // A record cut short at the end of the file reads as the end of the
    // file too; the pass's own account tells the two apart.
    const bool clean_end = code < 0 && !r->gpb.EndedInDamage() &&
                           std::strcmp(r->gpb.ErrorText(), "Reached end of file") == 0;
    r->ended = true;
    r->end_code = clean_end ? 0 : -1;
    if (!clean_end) {
      const bool cut = std::strcmp(r->gpb.ErrorText(), "Reached end of file") == 0;
      std::snprintf(r->error, sizeof r->error, "%.255s",
                    cut ? "The file ends within a record" : r->gpb.ErrorText());
    }
    return r->end_code;
  }
  std::memset(epoch, 0, sizeof *epoch);
  epoch->tow = e.RcvTime;
  epoch->week = r->dated ? ReferenceWeekOf(r->ref, e.RcvTime) : -1;
  epoch->latitude = e.Latitude;
  epoch->longitude = e.Longitude;
  epoch->height = e.Height;
  epoch->position_valid = r->gpb.IsPositionValid(&e) ? 1 : 0;
  epoch->kinematic = r->gpb.IsKinematic(&e) ? 1 : 0;
  epoch->clock_bias = e.ClockBias;
  int n = e.NumChannels;
  if (n < 0) n = 0;
  if (n > kMaxChannels) n = kMaxChannels;
  epoch->num_channels = n;
  for (int i = 0; i < n; ++i) ToChannel(channels[i], &epoch->channels[i]);
  return 1;
}

// Scatters one epoch into row `row` of the caller's columns.
void ToColumns(const rawconv_epoch& e, const rawconv_columns& c, size_t row) {
  if (c.tow) c.tow[row] = e.tow;
  if (c.week) c.week[row] = e.week;
  if (c.latitude) c.latitude[row] = e.latitude;
  if (c.longitude) c.longitude[row] = e.longitude;
  if (c.height) c.height[row] = e.height;
  if (c.position_valid) c.position_valid[row] = static_cast<uint8_t>(e.position_valid != 0);
  if (c.kinematic) c.kinematic[row] = static_cast<uint8_t>(e.kinematic != 0);
  if (c.clock_bias) c.clock_bias[row] = e.clock_bias;
  if (c.num_channels) c.num_channels[row] = e.num_channels;
  const double nan = std::nan("");
  for (int k = 0; k < RAWCONV_MAX_CHANNELS; ++k) {
    const size_t at = row * RAWCONV_MAX_CHANNELS + static_cast<size_t>(k);
    const bool used = k < e.num_channels;
    const rawconv_channel& ch = e.channels[k];
    if (c.system) c.system[at] = used ? ch.system : '\0';
    if (c.prn) c.prn[at] = used ? ch.prn : 0;
    if (c.gpb_prn) c.gpb_prn[at] = used ? ch.gpb_prn : 0;
    const double values[8] = {ch.c1, ch.l1, ch.l2, ch.p1, ch.p2, ch.d1, ch.s1, ch.s2};
    for (int t = 0; t < 8; ++t)
      if (c.obs[t]) c.obs[t][at] = used && (ch.have & (1u << t)) ? values[t] : nan;
    if (c.lock_time1) c.lock_time1[at] = used ? ch.lock_time1 : nan;
    if (c.lock_time2) c.lock_time2[at] = used ? ch.lock_time2 : nan;
    if (c.lli1) c.lli1[at] = static_cast<int8_t>(used ? ch.lli1 : 0);
    if (c.lli2) c.lli2[at] = static_cast<int8_t>(used ? ch.lli2 : 0);
  }
}

// An exception while reading ends the reader as a damaged file would.
int EndInError(rawconv_gpb_reader* r) {
  std::snprintf(r->error, sizeof r->error, "Internal error");
  r->ended = true;
  r->end_code = -1;
  return -1;
}

}  // namespace
}  // namespace rawconv

using namespace rawconv;

extern "C" {

RAWCONV_API const char* rawconv_result_name(int result) {
  switch (result) {
    case RAWCONV_OK: return "ok";
    case RAWCONV_FAILED: return "failed";
    case RAWCONV_BAD_GPB: return "unusable GPB file";
    case RAWCONV_EXISTS: return "output exists";
    case RAWCONV_SKIPPED: return "skipped";
    case RAWCONV_CANCELLED: return "cancelled";
    case RAWCONV_INVALID: return "invalid request";
    default: return "unknown result";
  }
}

RAWCONV_API rawconv_session* rawconv_session_new(void) {
  try {
    return new (std::nothrow) rawconv_session();
  } catch (...) {
    return nullptr;
  }
}

RAWCONV_API void rawconv_session_free(rawconv_session* session) { delete session; }

RAWCONV_API double rawconv_version_number(void) { return kVersionNumber; }
RAWCONV_API int32_t rawconv_version_year(void) { return kVersionYear; }
RAWCONV_API const char* rawconv_version_text(void) { return RAWCONV_VERSION_TEXT; }
RAWCONV_API int32_t rawconv_api_version(void) { return RAWCONV_API_VERSION; }

RAWCONV_API void rawconv_options_init_sized(rawconv_options* options, uint32_t size) {
  // The caller's record is `size` bytes, whatever this library's sizeof.
  if (!options || size < sizeof(uint32_t)) return;
  std::memset(options, 0, size);
  options->size = size;
}

RAWCONV_API void rawconv_report_init_sized(rawconv_report* report, uint32_t size) {
  if (!report || size < sizeof(uint32_t)) return;
  std::memset(report, 0, size);
  report->size = size;
  if (size >= offsetof(rawconv_report, first_week) + sizeof report->first_week)
    report->first_week = -1;
  if (size >= offsetof(rawconv_report, last_week) + sizeof report->last_week)
    report->last_week = -1;
}

RAWCONV_API int rawconv_rinex_from_text(const char* text, int32_t* value) {
  if (text == nullptr || value == nullptr) return RAWCONV_INVALID;
  for (const RinexText& t : kRinexTexts) {
    if (std::strcmp(text, t.Text) == 0) {
      *value = t.Value;
      return RAWCONV_OK;
    }
  }
  return RAWCONV_INVALID;
}

RAWCONV_API const char* rawconv_rinex_texts(void) { return kRinexTextList; }

RAWCONV_API int rawconv_check_edits(const rawconv_options* options, char* error,
                                    size_t error_size) {
  std::string message;
  try {
    rawconv_options o;
    std::unique_ptr<EditRecords> edits(new EditRecords());
    Invalid why;
    if (!CopyRecord(options, &o)) message = "Options record missing or too small";
    else if (!CheckHeaderTexts(o, &why) || !BuildEdits(o, edits.get(), &why))
      message = why.Message;
  } catch (...) {
    message = "Out of memory";
  }
  if (error && error_size > 0) std::snprintf(error, error_size, "%s", message.c_str());
  return message.empty() ? RAWCONV_OK : RAWCONV_INVALID;
}

RAWCONV_API int rawconv_convert(rawconv_session* session, const rawconv_options* options,
                                rawconv_report* report) {
  try {
    return Run(session, options, report, false);
  } catch (...) {
    return RAWCONV_FAILED;
  }
}

RAWCONV_API int rawconv_plan(rawconv_session* session, const rawconv_options* options,
                             rawconv_report* report) {
  try {
    return Run(session, options, report, true);
  } catch (...) {
    return RAWCONV_FAILED;
  }
}

RAWCONV_API rawconv_gpb_reader* rawconv_gpb_open(const char* gpb_path, const char* epp_path,
                                                 int32_t week_override, char* error,
                                                 size_t error_size) {
  auto fail = [&](const std::string& text) -> rawconv_gpb_reader* {
    if (error && error_size > 0) std::snprintf(error, error_size, "%s", text.c_str());
    return nullptr;
  };
  try {
    std::string why;
    rawconv_gpb_reader* r = OpenReader(gpb_path, &why);
    if (!r) return fail(why);
    ContextScope scope(r->context);
    if (week_override >= 0) {
      DateByWeek(r, week_override);
    } else if (epp_path) {
      r->ref = LookupWeekReference(epp_path);
      r->dated = r->ref.Found != 0;
    }
    if (error && error_size > 0) error[0] = '\0';
    return r;
  } catch (...) {
    return fail("Internal error");
  }
}

RAWCONV_API rawconv_gpb_reader* rawconv_gpb_open_dated(const char* gpb_path, const char* epp_path,
                                                       int32_t week, const char* date,
                                                       char* error, size_t error_size) {
  auto fail = [&](const std::string& text) -> rawconv_gpb_reader* {
    if (error && error_size > 0) std::snprintf(error, error_size, "%s", text.c_str());
    return nullptr;
  };
  try {
    std::string why;
    // The dating first: a bad request reads nothing.
    WeekReference ref{};
    bool dated = false;
    {
      Context scratch{};
      ContextScope scope(scratch);
      if (!ChooseDating(epp_path, week, date, &ref, &dated, &why)) return fail(why);
    }
    rawconv_gpb_reader* r = OpenReader(gpb_path, &why);
    if (!r) return fail(why);
    r->ref = ref;
    r->dated = dated;
    if (error && error_size > 0) error[0] = '\0';
    return r;
  } catch (...) {
    return fail("Internal error");
  }
}

RAWCONV_API int rawconv_gpb_next(rawconv_gpb_reader* r, rawconv_epoch* epoch) {
  if (!r || !epoch) return -1;
  try {
    ContextScope scope(r->context);
    return ReadEpoch(r, epoch);
  } catch (...) {
    return EndInError(r);
  }
}

RAWCONV_API int rawconv_gpb_read(rawconv_gpb_reader* r, rawconv_epoch* epochs, size_t capacity,
                                 size_t* count) {
  if (count) *count = 0;
  if (!r || !count || (!epochs && capacity > 0)) return -1;
  try {
    ContextScope scope(r->context);
    size_t done = 0;
    int code = 1;
    while (done < capacity) {
      code = ReadEpoch(r, &epochs[done]);
      if (code != 1) break;
      ++done;
    }
    *count = done;
    if (capacity == 0 && r->ended) return r->end_code;
    return code;
  } catch (...) {
    return EndInError(r);
  }
}

RAWCONV_API const char* rawconv_gpb_error(const rawconv_gpb_reader* r) {
  return r ? r->error : "";
}

RAWCONV_API void rawconv_columns_init_sized(rawconv_columns* columns, uint32_t size) {
  if (!columns || size < sizeof(uint32_t)) return;
  std::memset(columns, 0, size);
  columns->size = size;
}

RAWCONV_API int rawconv_gpb_read_columns(rawconv_gpb_reader* r, const rawconv_columns* columns,
                                         size_t capacity, size_t* count) {
  if (count) *count = 0;
  if (!r || !columns || !count || columns->size < sizeof(uint32_t)) return -1;
  try {
    // The caller's record as far as it reaches; pointers past it stay NULL.
    rawconv_columns c;
    std::memset(&c, 0, sizeof c);
    std::memcpy(&c, columns, columns->size < sizeof c ? columns->size : sizeof c);
    ContextScope scope(r->context);
    std::unique_ptr<rawconv_epoch> epoch(new rawconv_epoch);
    size_t done = 0;
    int code = 1;
    while (done < capacity) {
      code = ReadEpoch(r, epoch.get());
      if (code != 1) break;
      ToColumns(*epoch, c, done);
      ++done;
    }
    *count = done;
    if (capacity == 0 && r->ended) return r->end_code;
    return code;
  } catch (...) {
    return EndInError(r);
  }
}

RAWCONV_API const char* rawconv_rinex3_code(char system, int32_t type) {
  if ((system != 'G' && system != 'R') || type < 0 || type >= kRinex3CodeCount) return nullptr;
  return Rinex3ObsCode(type, system == 'R');
}

RAWCONV_API void rawconv_strength_indicators(const double* cn0, size_t n, uint8_t* ssi) {
  if (!cn0 || !ssi) return;
  for (size_t i = 0; i < n; ++i) ssi[i] = static_cast<uint8_t>(StrengthIndicator(cn0[i]));
}

RAWCONV_API const char* rawconv_gpb_receiver(const rawconv_gpb_reader* r) {
  return r ? r->receiver : "";
}

RAWCONV_API void rawconv_gpb_close(rawconv_gpb_reader* r) {
  if (!r) return;
  ContextScope scope(r->context);
  r->gpb.CloseGpbFile();
  delete r;
}

}  // extern "C"
