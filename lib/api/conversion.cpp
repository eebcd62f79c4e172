#include "api/conversion.h"

#include <cstdio>
#include <cstring>

#include "api/context.h"
#include "api/file_ext.h"
#include "api/file_identity.h"
#include "ephem/epp.h"
#include "ephem/gps_time.h"
#include "ephem/nav_writer.h"
#include "gpb/gpb.h"
#include "obs/obs_writer.h"
#include "obs/station_table.h"

namespace rawconv {
namespace {

constexpr size_t kPathFieldSize = sizeof(ObsRequest::GpbFile);

// A path field of a request as a NUL-terminated text: the field's text, or
// the whole field when it holds no terminator (never read past its end).
struct PathText {
  char Text[kPathFieldSize + 1];
};

PathText PathOf(const char* field) {
  PathText path;
  const void* end = std::memchr(field, '\0', kPathFieldSize);
  const size_t length =
      end ? static_cast<size_t>(static_cast<const char*>(end) - field) : kPathFieldSize;
  std::memcpy(path.Text, field, length);
  path.Text[length] = '\0';
  return path;
}

bool IsTerminated(const char* field) { return std::memchr(field, '\0', kPathFieldSize) != nullptr; }

// Closes a stream if it is open.
void CloseStream(std::FILE*& stream) {
  if (stream) std::fclose(stream);
  stream = nullptr;
}

// Closes an output stream. false when a write to it failed or the close
// itself did (the last buffered data could not be written): every byte of
// the outputs goes through the stream, so this catches a full disk, a file
// size limit and the like.
bool CloseOutput(std::FILE*& stream) {
  if (!stream) return true;
  const bool write_failed = std::ferror(stream) != 0;
  const bool close_failed = std::fclose(stream) != 0;
  stream = nullptr;
  return !write_failed && !close_failed;
}

// The week reference of the conversion: the reference ephemeris of the EPP
// file, looked up once. Without one, a week override stands in for it (its
// week is then used as it is for every date of the call); without either the
// reference is unusable and no date can be given to the data.
WeekReference ConversionWeekReference(const ObsRequest& obs, const char* epp_file) {
  WeekReference ref = LookupWeekReference(epp_file);
  if (!ref.Found && obs.UseGpsWeek == 1) {
    ref.Week = obs.GpsWeek;
    ref.Toe = 0.0;
    ref.FixedWeek = 1;
  }
  return ref;
}

bool IsUsable(const WeekReference& ref) { return ref.Found || ref.FixedWeek; }

// Output naming: both extensions become ".YY" + "o"/"n" after the year of the
// first epoch. Returns 0, or 1 with a message when a path cannot hold its
// new extension.
int NameOutputs(ObsRequest* obs, NavRequest* nav, const WeekReference& ref,
                double first_rcv_time) {
  int hour = 0, minute = 0, month = 0, day = 0, year = 0;
  double seconds = 0.0;
  GpsToDate(ReferenceWeekOf(ref, first_rcv_time), first_rcv_time, hour, minute, seconds, month,
            day, year);
  // The last two digits are the third and fourth characters of the year.
  char year_text[16];
  std::snprintf(year_text, sizeof year_text, "%d", year);
  const char* digits = std::strlen(year_text) >= 4 ? year_text + 2 : "00";
  char obs_ext[8], nav_ext[8];
  std::snprintf(obs_ext, sizeof obs_ext, ".%.2so", digits);
  std::snprintf(nav_ext, sizeof nav_ext, ".%.2sn", digits);
  if (SetFileExt(obs->ObsFile, obs_ext, sizeof obs->ObsFile) != 0) {
    SetErrorText("Output path too long: %s", obs->ObsFile);
    return 1;
  }
  if (SetFileExt(nav->NavFile, nav_ext, sizeof nav->NavFile) != 0) {
    SetErrorText("Output path too long: %s", nav->NavFile);
    return 1;
  }
  return 0;
}

// Refuses outputs that would destroy data before anything is opened for
// writing: an output that is one of the call's inputs (the GPB file, the EPP
// file, the station file beside the GPB file), by file identity, so that a
// hard link or another spelling of the path is caught too, or an
// observation output that is the navigation output. 0 when both outputs
// are safe to write; 1 with a message otherwise.
int CheckOutputs(const char* obs_file, const char* nav_file, const char* gpb_file,
                 const char* epp_file) {
  char station_file[kStationPathSize];
  if (MakeStationFileName(gpb_file, station_file, sizeof station_file) != 0) {
    station_file[0] = '\0';
  }
  const char* const inputs[] = {gpb_file, epp_file, station_file};
  const char* const outputs[] = {nav_file, obs_file};
  for (const char* output : outputs) {
    for (const char* input : inputs) {
      if (SameFile(output, input)) {
        SetErrorText("Output file %s is an input of the conversion; it is not overwritten",
                     output);
        return 1;
      }
    }
  }
  if (SameFile(obs_file, nav_file)) {
    SetErrorText("Output file %s is also the navigation output %s", obs_file, nav_file);
    return 1;
  }
  return 0;
}

// Navigation step: EPP file -> RINEX navigation file; saves the request.
int NavigationStep(NavRequest* nav, const char* epp_file, int rinex_version) {
  // Both opens are tried before either result is looked at.
  std::FILE* epp = std::fopen(epp_file, "r");
  std::FILE* out = std::fopen(nav->NavFile, "w");
  int result = 1;
  if (!epp) {
    SetErrorText("Error opening input epp file %s", epp_file);
  } else if (!out) {
    SetErrorText("Error opening ouput nav file %s", nav->NavFile);
  } else if (WriteNavHeader(out, nav->RunBy) != 0) {
    // The date text could not be made; the header writer left no message.
  } else if (ConvertEppToNav(epp, out, rinex_version) != 0) {
    // The EPP reader has put its message into the error text.
  } else {
    result = 0;
  }
  CloseStream(epp);
  // A write failure fails a step that went well so far; an earlier failure
  // keeps its own message.
  if (!CloseOutput(out) && result == 0) {
    SetErrorText("Error writing %s", nav->NavFile);
    result = 1;
  }
  if (result == 0) std::memcpy(&Ctx().SavedNav, nav, sizeof Ctx().SavedNav);
  return result;
}

// Observation step: pre-scan, header and epochs of the GPB file.
int ObservationStep(const ObsRequest* obs, const WeekReference& ref, int rinex_version) {
  std::FILE* out = std::fopen(obs->ObsFile, "w");
  if (!out) {
    SetErrorText("Error opening obs file %s.", obs->ObsFile);
    return 1;
  }
  ObsHeaderSummary summary{};
  ScanObsSummary(*obs, &summary);
  // A header cut short by a date failure does not stop the epochs.
  WriteObsHeader(out, *obs, Ctx().SavedNav, summary, rinex_version, ref);
  WriteObsEpochs(out, *obs, Ctx().SavedNav, summary, rinex_version, ref);
  if (!CloseOutput(out)) {
    SetErrorText("Error writing %s", obs->ObsFile);
    return 1;
  }
  return 0;
}

}  // namespace

int ValidateGpbFile(const char* gpb_path, double* first_rcv_time) {
  GpbClass reader;
  if (reader.OpenGpbFile(gpb_path, 0, 4096, GIO_READ, 0) != 0) {
    CopyErrorText(reader.ErrorText());
    return -1;
  }
  GpbEpoch epoch{};
  GpbChannel channels[kMaxChannels]{};
  if (reader.ReadGpbEpoch(&epoch, channels) != 0) {
    CopyErrorText(reader.ErrorText());
    return -1;
  }
  reader.CloseGpbFile();
  *first_rcv_time = epoch.RcvTime;
  return 0;
}

// One conversion: validation, naming, navigation step, observation step.
//
// When the EPP file yields no reference ephemeris, the data cannot be dated
// from it. With the week override set, its week then serves as the reference
// week everywhere (output names, TIME OF FIRST OBS, epochs). Without it the
// output paths keep the caller's extensions, the navigation step still runs
// (so a missing or invalid EPP file reports its own message), and after it the
// call fails with a message naming the EPP file, before any observation file
// is created: no observation file is ever written with invented dates.
//
// Before the navigation step both output paths are checked against the
// inputs (CheckOutputs): a call never truncates its own input files.
int ConvertGpbFile(ObsRequest* obs, NavRequest* nav, int rinex_version) {
  // Paths are read only up to the end of their fields.
  const PathText gpb_file = PathOf(obs->GpbFile);
  const PathText epp_file = PathOf(nav->EppFile);

  double first_rcv_time = 0.0;
  if (ValidateGpbFile(gpb_file.Text, &first_rcv_time) != 0) return -1;

  // The output fields are rewritten in place, so they must hold their own
  // terminator.
  if (!IsTerminated(obs->ObsFile) || !IsTerminated(nav->NavFile)) {
    const char* field = IsTerminated(obs->ObsFile) ? nav->NavFile : obs->ObsFile;
    SetErrorText("Output path too long: %.*s", static_cast<int>(kPathFieldSize), field);
    return 1;
  }

  const WeekReference ref = ConversionWeekReference(*obs, epp_file.Text);
  if (IsUsable(ref) && NameOutputs(obs, nav, ref, first_rcv_time) != 0) return 1;
  if (CheckOutputs(obs->ObsFile, nav->NavFile, gpb_file.Text, epp_file.Text) != 0) return 1;

  Ctx().UseGpsWeek = obs->UseGpsWeek;
  Ctx().GpsWeek = obs->GpsWeek;

  if (NavigationStep(nav, epp_file.Text, rinex_version) != 0) return 1;
  if (!IsUsable(ref)) {
    SetErrorText("No usable ephemeris record in %s: the GPS week of the data is unknown",
                 epp_file.Text);
    return 1;
  }
  return ObservationStep(obs, ref, rinex_version);
}

}  // namespace rawconv
