// GpbClass::ScanGpbFile: the epoch index and the summary figures of a file.
#include <cstdio>
#include <cstring>
#include <new>

#include "gpb/gpb.h"

namespace rawconv {
namespace {

// TimeMs of the end entry: later than any time of week.
constexpr int32_t kEndEntryTimeMs = 1000000000;

// Interval search: differences outside (0.005, 1000) are ignored, and the
// smallest one found becomes the interval only when it is below 300 s.
constexpr double kMinInterval = 0.005;
constexpr double kNoInterval = 1000.0;
constexpr double kMaxInterval = 300.0;

// Signal strengths counted as in range, dB-Hz.
constexpr double kCn0Low = 25.0;
constexpr double kCn0High = 58.0;

// A channel is well tracked with more than this many seconds of L1 lock; an
// epoch needs more than kMinWellTracked such channels for the mean position.
constexpr int kMinLockSeconds = 12;
constexpr int kMinWellTracked = 3;

constexpr int kMaxScanPrn = 71;
constexpr int kFirstGlonassPrn = 33;

// The interval is looked for only past the first epochs, fewer of them the
// smaller the planned count.
bool ConsidersInterval(int i, int count) {
  if (count < 10) return i > 2;
  if (count < 100) return i > 5;
  return i > 50;
}

bool InRange(double cn0) { return cn0 >= kCn0Low && cn0 <= kCn0High; }

}  // namespace

int GpbClass::ScanGpbFile(int ptr_alloc_size, int max_scan_rec) {
  if (stream_ == nullptr || state_ != 1) {
    SetError("GPB File not Opened");
    return 1;
  }
  if (ptr_alloc_size >= 1 && max_scan_rec >= 1) {
    SetError("GpbClass error: Both PtrAllocSize and MaxScanRec cannot be used in ScanGpbFile()");
    return 1;
  }

  ReleaseIndex();
  std::memset(scan_.PrnChannelCount, 0, sizeof scan_.PrnChannelCount);
  scan_.ScanEpochCount = 0;
  scan_.CountC1 = scan_.CountP1 = scan_.CountP2 = scan_.CountL1 = scan_.CountL2 = 0;
  scan_.CountD1 = scan_.CountGlonass = scan_.CountCn0L1 = 0;
  scan_.CountCn0L1InRange = scan_.CountCn0L2InRange = scan_.CountChannels = 0;

  // Counting pass, unless the caller sized the index. A negative size is
  // taken like 0: the records are counted.
  char kept_error[sizeof error_text_];
  kept_error[0] = '\0';
  int count = 0;
  if (ptr_alloc_size <= 0) {
    RewindGpbFile();
    while (max_scan_rec < 1 || count < max_scan_rec) {
      const int result = ReadGpbEpoch(nullptr, nullptr);
      if (result == 0) {
        ++count;
      } else if (result == 1) {
        // Every failed read has consumed at least a record header, so the
        // pass moves on and ends.
        ++scan_.ScanErrorCount;
        std::snprintf(kept_error, sizeof kept_error, "%s", error_text_);
      } else {
        break;
      }
    }
  } else {
    count = ptr_alloc_size;
  }
  RewindGpbFile();

  if (count > 0) {
    // Entries are filled as epochs are read; the end entry follows the last.
    GpbScanEntry* index = new (std::nothrow) GpbScanEntry[static_cast<size_t>(count) + 1];
    if (index == nullptr) {
      SetError("Not enough memory");
      return 1;
    }
    scan_.Index = index;
    scan_.EpochInterval = 0.0;
    double smallest = kNoInterval;
    double previous_time = 0.0;

    double sum_lat = 0.0, sum_lon = 0.0, sum_height = 0.0;
    int static_epochs = 0;
    bool have_kinematic = false;
    double kin_lat = 0.0, kin_lon = 0.0;
    float kin_height = 0.0f;

    int read = 0;
    while (read < count) {
      const uint64_t position = input_.Position();
      if (ReadGpbEpoch(nullptr, nullptr) != 0) break;
      const int i = read++;
      GpbScanEntry& entry = index[i];
      entry.TimeMs = epoch_.RcvTimeMs;
      entry.FilePos = static_cast<int32_t>(position);
      entry.NumChannels = epoch_.NumChannels;
      entry.Flags = epoch_.Flags;
      entry.Latitude = epoch_.Latitude;
      entry.Longitude = epoch_.Longitude;
      entry.Height = epoch_.Height;

      if (i == 0) {
        scan_.FirstRcvTime = epoch_.RcvTime;
      } else {
        scan_.LastRcvTime = epoch_.RcvTime;
      }
      if (ConsidersInterval(i, count)) {
        const double d = epoch_.RcvTime - previous_time;
        if (d > kMinInterval && d < kNoInterval && d < smallest) smallest = d;
      }
      previous_time = epoch_.RcvTime;

      int well_tracked = 0;
      for (int c = 0; c < epoch_.NumChannels; ++c) {
        const GpbChannel& ch = channels_[c];
        if (ch.Prn < 1 || ch.Prn > kMaxScanPrn) continue;
        ++scan_.PrnChannelCount[ch.Prn];
        const uint32_t mask = ch.ObsMask;
        if (mask & kObsC1) ++scan_.CountC1;
        if (mask & kObsP1) {
          ++scan_.CountP1;
          scan_.HasP1 = 1;
        }
        if (mask & kObsP2) ++scan_.CountP2;
        if (mask & kObsL1) ++scan_.CountL1;
        if (mask & kObsL2) {
          ++scan_.CountL2;
          scan_.HasL2Phase = 1;
        }
        if (mask & kObsD1) ++scan_.CountD1;
        if (mask & kObsCn0L1) {
          ++scan_.CountCn0L1;
          if (InRange(ch.Cn0L1)) ++scan_.CountCn0L1InRange;
        }
        if ((mask & kObsCn0L2) && InRange(ch.Cn0L2)) ++scan_.CountCn0L2InRange;
        if (ch.Prn >= kFirstGlonassPrn) ++scan_.CountGlonass;
        ++scan_.CountChannels;
        if ((mask & kObsLock1) && ch.LockSec1 > kMinLockSeconds) ++well_tracked;
      }

      if (well_tracked > kMinWellTracked && IsPositionValid(nullptr)) {
        if (!IsKinematic(nullptr)) {
          sum_lat += epoch_.Latitude;
          sum_lon += epoch_.Longitude;
          sum_height += epoch_.Height;
          ++static_epochs;
        } else if (!have_kinematic) {
          have_kinematic = true;
          kin_lat = epoch_.Latitude;
          kin_lon = epoch_.Longitude;
          kin_height = epoch_.Height;
        }
      }
    }
    scan_.ScanEpochCount = read;
    if (smallest < kMaxInterval) scan_.EpochInterval = smallest;

    if (static_epochs > 0) {
      scan_.MeanPosValid = 1;
      scan_.MeanLatitude = sum_lat / static_epochs;
      scan_.MeanLongitude = sum_lon / static_epochs;
      scan_.MeanHeight = static_cast<float>(sum_height / static_epochs);
    } else if (have_kinematic) {
      scan_.MeanPosValid = 1;
      scan_.MeanLatitude = kin_lat;
      scan_.MeanLongitude = kin_lon;
      scan_.MeanHeight = kin_height;
    } else {
      scan_.MeanPosValid = 0;
      scan_.MeanLatitude = 0.0;
      scan_.MeanLongitude = 0.0;
      scan_.MeanHeight = 0.0f;
    }

    GpbScanEntry& end = index[read];
    end = GpbScanEntry{};
    end.TimeMs = kEndEntryTimeMs;
    end.FilePos = static_cast<int32_t>(input_.Position());
    scan_.IndexValid = 1;
    RewindGpbFile();
  }

  if (kept_error[0] != '\0') std::snprintf(error_text_, sizeof error_text_, "%s", kept_error);
  return 0;
}

}  // namespace rawconv
