#include "station/station_file.h"

#include <cstdarg>

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "ephem/block_reader.h"
#include "ephem/gps_time.h"
#include "io/input_file.h"

namespace rawconv {
namespace {

// Formats the message of a read into the station file record.
void SetMessage(StationFile* file, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void SetMessage(StationFile* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(file->Message, sizeof file->Message, format, args);
  va_end(args);
}


// Compares two texts without regard to letter case (ASCII); true when equal.
bool EqualNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = std::tolower(static_cast<unsigned char>(*a));
    int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (ca == '\0') return true;
  }
}

constexpr char kStationMagic[] = "$STAINFO";
constexpr size_t kStationMagicLength = sizeof kStationMagic - 1;
// The first line is read with this buffer: at most 79 characters of it.
constexpr int kFirstLineSize = 80;
constexpr double kPi = 3.14159265358979323846;

// Field sizes of the texts that are cut shorter than their arrays.
constexpr size_t kShortText = 32;  // at most 31 characters
constexpr size_t kLongText = 64;   // at most 63 characters

struct KindName {
  const char* Name;
  uint32_t Kind;
};

constexpr KindName kKindNames[] = {
    {"hdr", kStationHdr}, {"sta", kStationSta}, {"mrk", kStationMrk},
    {"gis", kStationGis}, {"rtk", kStationRtk},
};

struct WordValue {
  const char* Word;
  int32_t Value;
};

constexpr WordValue kHeightSystems[] = {{"ELL", 1}, {"ORTHO", 2}};
constexpr WordValue kSolutionModes[] = {{"SP", 1},   {"DGPS", 2}, {"RTK", 3},
                                        {"RTFL", 4}, {"RTFX", 5}, {"FIX", 6}};
constexpr WordValue kHeightTypes[] = {{"SLANT", 2}};
constexpr WordValue kFeatureTypes[] = {{"POINT", 0}, {"LINE", 1}, {"POLYGON", 2}};
constexpr WordValue kFeatureEnds[] = {{"START", 1}, {"END", 2}};
constexpr WordValue kFeatureDirections[] = {{"CW", 1}, {"CCW", 2}};

template <size_t N>
int32_t WordToValue(const WordValue (&table)[N], const char* word, int32_t other) {
  for (const WordValue& entry : table) {
    if (EqualNoCase(entry.Word, word)) return entry.Value;
  }
  return other;
}

// Kind value of a block name, 0 for names of no kind.
uint32_t KindOfBlock(const char* name) {
  for (const KindName& entry : kKindNames) {
    if (EqualNoCase(entry.Name, name)) return entry.Kind;
  }
  return 0;
}

struct FileCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Running numbers of one read.
struct Numbering {
  int32_t NextFeature;  // gis: next FeatureNumber for a block without "Count:"
  int32_t LastRtk;      // rtk: number of the last rtk block processed
};

// One text word of a value (GetBlockValues writes up to kScanTextSize bytes
// for each "%s").
struct Word {
  char Text[kScanTextSize];
};

// Looks up a one-word text value; true when a word was found (word is then
// the value, quoted blanks still as backquotes).
bool GetWord(BlockRecord* block, const char* key, Word* word) {
  word->Text[0] = '\0';
  return GetBlockValues(key, block, "%s", word->Text) >= 1;
}

// Copies the value of a text key into a field of size bytes; an absent key
// leaves the field empty.
void GetText(BlockRecord* block, const char* key, char* field, size_t size) {
  Word word;
  if (GetWord(block, key, &word)) CopyFieldText(field, word.Text, size);
}

// Identifier of a sta or mrk block: quoted blanks become "_". false when the
// key yields no word.
bool GetIdentifier(BlockRecord* block, const char* key, StationRecord* record) {
  Word word;
  if (!GetWord(block, key, &word)) return false;
  ReplaceBackquotes(word.Text, '_');
  CopyFieldText(record->Name, word.Text, kShortText);
  return true;
}

void FillHeader(BlockRecord* block, StationRecord* record) {
  Word time_text, zone, date_text;
  time_text.Text[0] = zone.Text[0] = date_text.Text[0] = '\0';
  bool have_time = GetBlockValues("Time:", block, "%s%s", time_text.Text, zone.Text) == 2;
  bool have_date = GetWord(block, "Date:", &date_text);
  GetText(block, "Proj:", record->Name, kLongText);
  GetText(block, "User:", record->Text1, kShortText);
  GetText(block, "RxName:", record->Text2, kShortText);
  GetText(block, "RxSub:", record->Text3, kShortText);

  // The texts are taken as GPS time: no time zone, no leap seconds.
  double gps_seconds = 0.0;
  if (have_time && have_date && DateStrToGps(time_text.Text, date_text.Text, gps_seconds) == 0) {
    double week = std::floor(gps_seconds / kSecondsPerWeek);
    if (week >= INT32_MIN && week <= INT32_MAX) {
      record->Week = static_cast<int32_t>(week);
      record->Seconds = gps_seconds - week * kSecondsPerWeek;
      record->TimeSystem = EqualNoCase(zone.Text, "LOCAL") ? 3 : 2;
    }
  }
}

// Kind-specific part of the other kinds. false when the record is dropped.
bool FillKindPart(BlockRecord* block, StationRecord* record, Numbering* numbering) {
  switch (record->Kind) {
    case kStationSta:
    case kStationMrk: {
      if (!GetIdentifier(block, record->Kind == kStationSta ? "ID:" : "Event:", record)) {
        return false;
      }
      GetText(block, "Desc:", record->Text1, kLongText);
      GetText(block, "Rem:", record->Text2, kLongText);
      return true;
    }
    case kStationGis: {
      // Every gis block moves the running number, also one dropped below. The
      // sum is taken in unsigned arithmetic so that "Count: 2147483647" wraps
      // instead of overflowing.
      int32_t count = 0;
      if (GetBlockValues("Count:", block, "%d", &count) >= 1) {
        record->FeatureNumber = count;
      } else {
        record->FeatureNumber = numbering->NextFeature;
      }
      numbering->NextFeature =
          static_cast<int32_t>(static_cast<uint32_t>(record->FeatureNumber) + 1u);

      Word type, end, direction;
      type.Text[0] = end.Text[0] = direction.Text[0] = '\0';
      if (GetBlockValues("Type:", block, "%s%s%s", type.Text, end.Text, direction.Text) == 3) {
        record->FeatureType = WordToValue(kFeatureTypes, type.Text, 0);
        record->FeatureEnd = WordToValue(kFeatureEnds, end.Text, 0);
        record->FeatureDirection = WordToValue(kFeatureDirections, direction.Text, 0);
      }
      Word feature;
      if (!GetWord(block, "Feat:", &feature)) return false;
      CopyFieldText(record->Name, feature.Text, kLongText);
      GetText(block, "Attrib:", record->Text1, kLongText);
      GetText(block, "Value:", record->Text3, kLongText);
      GetText(block, "Rem:", record->Text2, kLongText);
      return true;
    }
    case kStationRtk: {
      // Every rtk block gets the next number, also one dropped below.
      numbering->LastRtk = static_cast<int32_t>(static_cast<uint32_t>(numbering->LastRtk) + 1u);
      std::snprintf(record->Name, sizeof record->Name, "Rtk#%05d", numbering->LastRtk);
      return true;
    }
    default:
      return false;
  }
}

// "GTim:" (GPS time) or else "UTim:" (UTC): seconds of week and, when given,
// the week. false when neither yields a value.
bool FillTimeTag(BlockRecord* block, StationRecord* record) {
  static constexpr struct {
    const char* Key;
    int32_t TimeSystem;
  } kTimeKeys[] = {{"GTim:", 1}, {"UTim:", 2}};
  for (const auto& key : kTimeKeys) {
    double seconds = 0.0;
    int32_t week = 0;
    int n = GetBlockValues(key.Key, block, "%lf%d", &seconds, &week);
    if (n >= 1) {
      record->TimeSystem = key.TimeSystem;
      record->Seconds = seconds;
      record->Week = n >= 2 ? week : -1;
      return true;
    }
  }
  return false;
}

// Single-precision copy of the height of "Pos:"; values beyond the float
// range become infinities instead of an undefined conversion.
float ToFloat(double value) {
  if (value > FLT_MAX) return HUGE_VALF;
  if (value < -FLT_MAX) return -HUGE_VALF;
  return static_cast<float>(value);
}

// Reads three reals; true (and values stored) only when all three are given.
bool GetThree(BlockRecord* block, const char* key, double* out) {
  double v[3] = {0.0, 0.0, 0.0};
  if (GetBlockValues(key, block, "%lf%lf%lf", &v[0], &v[1], &v[2]) != 3) return false;
  out[0] = v[0];
  out[1] = v[1];
  out[2] = v[2];
  return true;
}

void FillCommonPart(BlockRecord* block, StationRecord* record) {
  {
    double position[3] = {0.0, 0.0, 0.0};
    Word system;
    system.Text[0] = '\0';
    int n = GetBlockValues("Pos:", block, "%lf%lf%lf%s", &position[0], &position[1], &position[2],
                           system.Text);
    if (n >= 3) {
      record->Position[0] = position[0];
      record->Position[1] = position[1];
      record->PositionHeight = ToFloat(position[2]);
      record->HeightSystem = n >= 4 ? WordToValue(kHeightSystems, system.Text, 0) : 0;
      Word mode;
      record->SolutionMode = GetWord(block, "Mode:", &mode) ? WordToValue(kSolutionModes, mode.Text, 7)
                                                            : 7;
    }
  }
  if (GetThree(block, "Std:", record->Std)) record->HasStd = 1;
  {
    double age = 0.0;
    if (GetBlockValues("Age:", block, "%lf", &age) == 1) {
      record->HasAge = 1;
      record->Age = age;
    }
  }
  {
    double height = 0.0;
    Word type;
    type.Text[0] = '\0';
    int n = GetBlockValues("Hi:", block, "%lf%s", &height, type.Text);
    if (n >= 1) {
      record->AntennaHeight = height;
      record->HeightType = n >= 2 ? WordToValue(kHeightTypes, type.Text, 1) : 1;
      double value1 = 0.0, value2 = 0.0;
      Word name;
      name.Text[0] = '\0';
      if (GetBlockValues("Ant:", block, "%lf%lf%s", &value1, &value2, name.Text) == 3) {
        record->AntennaValue1 = value1;
        record->AntennaValue2 = value2;
        CopyFieldText(record->AntennaName, name.Text, sizeof record->AntennaName);
      }
    }
  }
  {
    int32_t nsv[3] = {0, 0, 0};
    if (GetBlockValues("Nsv:", block, "%d%d%d", &nsv[0], &nsv[1], &nsv[2]) == 3) {
      record->HasNsv = 1;
      record->Nsv[0] = nsv[1];
      record->Nsv[1] = nsv[2];
      record->Nsv[2] = nsv[0];
    }
  }
  if (GetThree(block, "Dop:", record->Dop)) record->HasDop = 1;
  {
    double rms[2] = {0.0, 0.0};
    if (GetBlockValues("Rms:", block, "%lf%lf", &rms[0], &rms[1]) == 2) {
      record->HasRms = 1;
      record->Rms[0] = rms[0];
      record->Rms[1] = rms[1];
    }
  }
  // Offsets: the last of "Vel:", "OffR:", "OffL:", "OffB:" that is present
  // decides. "Vel:" is a distance, a direction in degrees and a height.
  {
    double v[3];
    if (GetThree(block, "Vel:", v)) {
      record->OffsetKind = 1;
      record->Offset[0] = v[0] * std::sin(v[1] * kPi / 180.0);
      record->Offset[1] = v[0] * std::cos(v[1] * kPi / 180.0);
      record->Offset[2] = v[2];
    }
    static constexpr struct {
      const char* Key;
      int32_t Kind;
    } kOffsetKeys[] = {{"OffR:", 1}, {"OffL:", 2}, {"OffB:", 3}};
    for (const auto& key : kOffsetKeys) {
      if (GetThree(block, key.Key, record->Offset)) record->OffsetKind = key.Kind;
    }
  }
  if (GetThree(block, "Att:", record->Attitude)) record->HasAttitude = 1;
  {
    int32_t enable = 0;
    if (GetBlockValues("Enable:", block, "%d", &enable) == 1) {
      record->HasEnable = 1;
      record->Enable = enable;
    }
  }
}

// Fills one record of the block's kind (record->Kind set, the rest zero).
// false when the record is dropped.
bool FillRecord(BlockRecord* block, StationRecord* record, Numbering* numbering) {
  if (record->Kind == kStationHdr) {
    FillHeader(block, record);  // a header record is never dropped
  } else {
    if (!FillKindPart(block, record, numbering)) return false;
    if (!FillTimeTag(block, record)) return false;
  }
  FillCommonPart(block, record);
  return true;
}

// The records accepted so far: room grows by doubling, up to the number of
// candidates of the first pass.
class RecordArray {
 public:
  RecordArray() = default;
  ~RecordArray() { delete[] records_; }
  RecordArray(const RecordArray&) = delete;
  RecordArray& operator=(const RecordArray&) = delete;

  // false when no room can be had.
  bool Append(const StationRecord& record, int most) {
    if (count_ == room_) {
      const int64_t wanted = room_ == 0 ? 16 : int64_t{room_} * 2;
      const int room = static_cast<int>(wanted < most ? wanted : most);
      StationRecord* grown = new (std::nothrow) StationRecord[room];
      if (grown == nullptr) return false;
      if (count_ > 0) std::memcpy(grown, records_, sizeof(StationRecord) * static_cast<size_t>(count_));
      delete[] records_;
      records_ = grown;
      room_ = room;
    }
    records_[count_++] = record;
    return true;
  }

  // Hands the records to the caller.
  StationRecord* Release() {
    StationRecord* records = records_;
    records_ = nullptr;
    count_ = room_ = 0;
    return records;
  }

 private:
  StationRecord* records_ = nullptr;
  int count_ = 0;
  int room_ = 0;
};

}  // namespace

std::FILE* OpenStationFile(const char* path, std::string* reason) {
  return OpenInputStream(path, true, reason);
}

int IsStationInfoFile(const char* path) {
  FilePtr stream(OpenStationFile(path, nullptr));
  if (!stream) return 0;
  char line[kFirstLineSize];
  if (std::fgets(line, sizeof line, stream.get()) == nullptr) return 0;
  return std::strncmp(line, kStationMagic, kStationMagicLength) == 0 ? 1 : 0;
}

int ReadStationFile(const char* path, uint32_t mask, StationFile* file) {
  std::memset(file, 0, sizeof *file);
  // Path is a record of the name; a longer path is cut there but still
  // opened whole.
  std::snprintf(file->Path, sizeof file->Path, "%s", path);
  file->SectionMask = mask;

  std::string reason;
  FilePtr stream(OpenStationFile(path, &reason));
  if (!stream) {
    std::snprintf(file->OpenReason, sizeof file->OpenReason, "%s", reason.c_str());
    SetMessage(file, "Unable to open %s", path);
    return 1;
  }
  char line[kFirstLineSize];
  if (std::fgets(line, sizeof line, stream.get()) == nullptr) {
    SetMessage(file, "Missing (first) $STAINFO line in %s", path);
    return 1;
  }
  if (std::strncmp(line, kStationMagic, kStationMagicLength) != 0) {
    SetMessage(file, "File %s is not the NewSta format", path);
    return 1;
  }

  std::unique_ptr<BlockRecord> block(new (std::nothrow) BlockRecord);
  if (!block) {
    SetMessage(file, "Not enough memory");
    return 1;
  }

  // Both passes start at the beginning of the file, so they see the same
  // blocks whatever the first line holds (the block search passes over the
  // "$STAINFO" line like any other non-block line).
  std::rewind(stream.get());
  int candidates = 0;
  while (candidates < INT32_MAX) {
    int result = ReadBlock(stream.get(), block.get());
    if (result == -1) break;
    if (result == 0 && (KindOfBlock(block->Name) & mask) != 0) ++candidates;
  }
  if (candidates == 0) {
    SetMessage(file, "No station records found in %s", path);
    return 0;
  }

  // The array grows with the records accepted rather than being sized for
  // every candidate at once: a file of many blocks that are all dropped
  // (a few bytes each, against several hundred for a record) then needs no
  // memory at all.
  RecordArray records;
  std::rewind(stream.get());
  Numbering numbering = {0, 0};
  int accepted = 0;
  StationRecord record;
  while (accepted < candidates) {
    int result = ReadBlock(stream.get(), block.get());
    if (result == -1) break;
    if (result != 0) continue;
    uint32_t kind = KindOfBlock(block->Name);
    if ((kind & mask) == 0) continue;
    std::memset(&record, 0, sizeof record);
    record.Kind = kind;
    // A dropped record leaves its slot to the next block.
    if (!FillRecord(block.get(), &record, &numbering)) continue;
    if (!records.Append(record, candidates)) {
      SetMessage(file, "Not enough memory for station records");
      return 1;
    }
    ++accepted;
  }

  if (accepted == 0) {
    SetMessage(file, "%d station records found in %s, but all rejected", candidates, path);
    return 1;
  }
  file->Count = accepted;
  file->Records = records.Release();
  return 0;
}

void ReleaseStationFile(StationFile* file) {
  delete[] file->Records;
  file->Records = nullptr;
  file->Count = 0;
}

}  // namespace rawconv
