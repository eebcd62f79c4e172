#include "obs/station_table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "naming/file_ext.h"
#include "obs/rinex_format.h"

namespace rawconv {
namespace {

// Compares two texts without regard to letter case (ASCII); true when equal.
bool EqualNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = std::tolower(static_cast<unsigned char>(*a));
    int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (ca == '\0') return true;
  }
}

double WritableHeight(double height) { return AntennaHeightFits(height) ? height : 0.0; }

constexpr char kGpbExtension[] = ".gpb";
constexpr char kStationExtension[] = ".sta";

}  // namespace

bool AntennaHeightFits(double height) {
  // The field's own formatter decides, so that rounding counts exactly as it
  // is written: 999999999.99994 fits, 999999999.99995 becomes
  // "1000000000.0000" and does not.
  if (!std::isfinite(height)) return false;
  char text[kFixedFieldMax];
  return FormatFixed(height, kFmtPosition, text, sizeof text) <=
         static_cast<size_t>(kFmtPosition.Width);
}

int MakeStationFileName(const char* gpb_path, char* out, size_t size) {
  // The name a gzip input goes by: site1.gpb.gz is site1.gpb.
  const std::string name(gpb_path, WithoutGzipSuffixLength(gpb_path));
  size_t stem = name.size();
  constexpr size_t kGpbLength = sizeof kGpbExtension - 1;
  if (stem >= kGpbLength && EqualNoCase(name.c_str() + stem - kGpbLength, kGpbExtension)) {
    stem -= kGpbLength;
  }
  return FindInputFileAnyCaseExt(name.c_str(), stem, kStationExtension, out, size);
}

std::string StationFileName(const char* gpb_path) {
  std::vector<char> out(std::strlen(gpb_path) + sizeof kStationExtension + 3);
  if (MakeStationFileName(gpb_path, out.data(), out.size()) != 0) return std::string();
  return out.data();
}

StationTable::StationTable()
    : file_(), sta_records_(nullptr), count_(0), index_(nullptr), index_count_(0) {}

StationTable::~StationTable() { Release(); }

void StationTable::Release() {
  ReleaseStationFile(&file_);
  std::memset(&file_, 0, sizeof file_);
  delete[] sta_records_;
  sta_records_ = nullptr;
  delete[] index_;
  index_ = nullptr;
  count_ = 0;
  index_count_ = 0;
}

int StationTable::Load(const char* gpb_path, StationSource source, const char* station_path) {
  Release();
  open_reason_.clear();
  // The conversion may name its own station file, or ask for none.
  if (source == kStationNone) return 0;
  if (source == kStationFile) return LoadFile(station_path ? station_path : "");
  const std::string path = StationFileName(gpb_path);
  if (path.empty()) return 0;
  return LoadFile(path.c_str());
}

int StationTable::LoadFile(const char* station_path) {
  Release();
  std::FILE* probe = OpenStationFile(station_path, &open_reason_);
  if (probe == nullptr) return 0;  // no station file: no events, no message
  std::fclose(probe);

  if (IsStationInfoFile(station_path)) {
    // A file without usable records leaves the table empty; its message
    // stays in the error text but does not fail the conversion.
    ReadStationFile(station_path, kStationAllKinds, &file_);
    count_ = file_.Count;
  } else {
    sta_records_ = new (std::nothrow) StaRecord[kMaxStaRecords]();
    if (sta_records_ == nullptr) return 0;
    count_ = ReadStaList(station_path, sta_records_);
  }
  BuildIndex();
  return count_;
}

double StationTable::RecordTime(int position) const {
  return sta_records_ != nullptr ? sta_records_[position].StaTime : file_.Records[position].Seconds;
}

void StationTable::BuildIndex() {
  if (count_ <= 0) return;
  index_ = new (std::nothrow) IndexEntry[count_];
  if (index_ == nullptr) {
    // Without an index the lookup still works, by a walk in table order.
    return;
  }
  for (int i = 0; i < count_; ++i) {
    double time = RecordTime(i);
    // A NaN time equals no epoch time, and it would break the ordering.
    if (std::isnan(time)) continue;
    index_[index_count_].Time = time;
    index_[index_count_].Position = i;
    ++index_count_;
  }
  // Among equal times the lower table position comes first, so the lookup
  // finds the first record in file order.
  std::sort(index_, index_ + index_count_, [](const IndexEntry& a, const IndexEntry& b) {
    if (a.Time < b.Time) return true;
    if (b.Time < a.Time) return false;
    return a.Position < b.Position;
  });
}

void StationTable::FillEvent(int position, StationEvent* event) const {
  std::memset(event, 0, sizeof *event);
  if (sta_records_ != nullptr) {
    const StaRecord& record = sta_records_[position];
    event->Time = record.StaTime;
    std::snprintf(event->Name, sizeof event->Name, "%s", record.StaName);
    event->AntennaHeight = WritableHeight(record.StaHeight);
    std::snprintf(event->Comment1, sizeof event->Comment1, "%s", record.StaComment1);
    std::snprintf(event->Comment2, sizeof event->Comment2, "%s", record.StaComment2);
  } else {
    const StationRecord& record = file_.Records[position];
    event->Time = record.Seconds;
    std::snprintf(event->Name, sizeof event->Name, "%s", record.Name);
    event->AntennaHeight = WritableHeight(record.AntennaHeight);
    std::snprintf(event->Comment1, sizeof event->Comment1, "%s", record.Text1);
    std::snprintf(event->Comment2, sizeof event->Comment2, "%s", record.Text2);
  }
}

bool StationTable::Find(double rcv_time, StationEvent* event) const {
  if (count_ <= 0 || std::isnan(rcv_time)) return false;
  int position = -1;
  if (index_ != nullptr) {
    const IndexEntry* begin = index_;
    const IndexEntry* end = index_ + index_count_;
    const IndexEntry* found =
        std::lower_bound(begin, end, rcv_time,
                         [](const IndexEntry& entry, double time) { return entry.Time < time; });
    if (found != end && found->Time == rcv_time) position = found->Position;
  } else {
    for (int i = 0; i < count_; ++i) {
      if (RecordTime(i) == rcv_time) {
        position = i;
        break;
      }
    }
  }
  if (position < 0) return false;
  FillEvent(position, event);
  return true;
}

}  // namespace rawconv
