// GpbClass: format probe, opening, headers, receiver types and epoch records.
#include "gpb/gpb.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gpb/byte_io.h"
#include "gpb/gpb_format.h"
#include "io/input_file.h"

namespace rawconv {
namespace {

using namespace gpbfmt;

struct ReceiverTypeEntry {
  int Code;
  const char* Name;
  bool ClockRebuild;  // old format: RawRcvTime is rebuilt from the clock terms
};

constexpr ReceiverTypeEntry kReceiverTypes[] = {
    {1, "Leica MX", false},
    {2, "Ashtech GPS", false},
    {3, "Trimble DAT", false},
    {4, "NovAtel OEM2/3", false},
    {5, "Motorola Oncore", false},
    {6, "RINEX", true},
    {7, "FURUNO", false},
    {8, "Parthus", true},
    {9, "Rockwell PLGR", false},
    {10, "Canadian Marconi", false},
    {11, "AOA Turbo Binary", false},
    {12, "RTCM", false},
    {13, "Leica SR", false},
    {14, "Rockwell Jupiter", false},
    {15, "Trimble SV6", true},
    {16, "GpbMerge Resampled", false},
    {17, "Ashtech GPS-GLN", false},
    {18, "UKOA", false},
    {19, "Rockwell PLGR2", false},
    {20, "Magellan", true},
    {21, "Position Correction", false},
    {22, "Javad", false},
    {23, "Trimble CMR", false},
    {24, "Garmin 25/35", true},
    {25, "Trimble TIPY", false},
    {26, "Trimble TSIP", false},
    {27, "UniStrong Custom", false},
    {28, "NavSys AGR", true},
    {29, "Trimble Real-Time", false},
    {31, "SIRF Binary", true},
    {32, "NAVCOM RawData", false},
    {33, "CSI-SLX", false},
    {34, "NovAtel OEM4", false},
    {35, "GRAM-S", true},
    {36, "Septentrio Binary Format", false},
    {37, "DSNP", false},
    {39, "U-Blox", false},
    {40, "Leica System 1200", false},
};

constexpr char kUnknownReceiver[] = "UNKNOWN";

// Seconds per metre of clock bias: the reciprocal of the speed of light.
constexpr double kSecondsPerMetre = 3.3356409519815204e-9;

// GetGpbFileType results.
constexpr int kTypeNew = 1;
constexpr int kTypeOld = 0;
constexpr int kTypeNeither = -1;
constexpr int kTypeUnreadable = -2;

// The format of a file from its first bytes.
int TypeOfStart(const uint8_t* start, size_t size) {
  if (size >= kNewMagicSize && std::memcmp(start, kNewMagic, kNewMagicSize) == 0) return kTypeNew;
  if (size >= 1 && start[0] == kOldMagicByte) return kTypeOld;
  return kTypeNeither;
}

const ReceiverTypeEntry* FindReceiverType(int code) {
  for (const ReceiverTypeEntry& entry : kReceiverTypes) {
    if (entry.Code == code) return &entry;
  }
  return nullptr;
}

// (RcvTime + 0.0005) x 1000 truncated toward zero. Values outside the int32
// range (only corrupt files have them) are held at its limits and NaN gives
// 0, so the conversion is always defined.
int32_t MillisecondsOf(double seconds) {
  const double ms = (seconds + 0.0005) * 1000.0;
  if (!(ms == ms)) return 0;
  if (ms >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (ms <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(ms);
}

// A double narrowed to float; values beyond the float range become infinite
// instead of undefined.
float NarrowToFloat(double value) {
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// Lock count in 0.05 s units as seconds, limited to 0..1200.
double LockTimeOf(uint16_t count) {
  double t = count * kLockUnit;
  if (t < 0.0) t = 0.0;
  if (t > kMaxLockTime) t = kMaxLockTime;
  return t;
}

// Position check of both formats: a position-valid flag without a position
// is cleared.
void CheckPosition(GpbEpoch* epoch) {
  if ((epoch->Flags & kEpochPositionValid) && epoch->Latitude == 0.0 && epoch->Longitude == 0.0) {
    epoch->Flags = static_cast<int16_t>(epoch->Flags & ~kEpochPositionValid);
  }
}

void DecodeEpochBlock(const uint8_t* p, GpbEpoch* e) {
  e->Flags = GetI16(p + kEpFlags);
  e->NumChannels = GetI16(p + kEpNumChannels);
  e->Latitude = GetF64(p + kEpLatitude);
  e->Longitude = GetF64(p + kEpLongitude);
  e->Height = GetF32(p + kEpHeight);
  e->RawRcvTime = GetF64(p + kEpRawRcvTime);
  e->RcvTime = GetF64(p + kEpRcvTime);
  e->ClockRefTime = GetF64(p + kEpClockRefTime);
  e->RcvTimeMs = GetI32(p + kEpRcvTimeMs);
  e->ClockBias = GetF64(p + kEpClockBias);
  e->ExtraFloat = GetF32(p + kEpExtraFloat);
  e->ExtraWord1 = GetI16(p + kEpExtraWord1);
  e->ExtraWord2 = GetI16(p + kEpExtraWord2);
}

// Sum of n bytes as unsigned values. With SSE2, sixteen bytes at a time
// (PSADBW sums eight bytes into each 64-bit lane). Otherwise eight at a
// time: the even and the odd bytes of a word are added into four 16-bit
// lanes, which hold the sums of up to 128 words before they are folded into
// the total.
uint32_t ByteSum(const uint8_t* p, size_t n) {
  uint32_t sum = 0;
#if defined(__SSE2__)
  __m128i lanes = _mm_setzero_si128();
  for (; n >= 16; n -= 16, p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    lanes = _mm_add_epi64(lanes, _mm_sad_epu8(bytes, _mm_setzero_si128()));
  }
  sum = static_cast<uint32_t>(_mm_cvtsi128_si32(lanes)) +
        static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(lanes, 8)));
#else
  constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFu;
  constexpr size_t kWordsPerFold = 128;  // 128 x 2 x 255 < 65536
  while (n >= 8) {
    size_t words = n / 8;
    if (words > kWordsPerFold) words = kWordsPerFold;
    uint64_t lanes = 0;
    for (size_t i = 0; i < words; ++i, p += 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      lanes += (word & kLowBytes) + ((word >> 8) & kLowBytes);
    }
    lanes = (lanes & 0x0000FFFF0000FFFFu) + ((lanes >> 16) & 0x0000FFFF0000FFFFu);
    sum += static_cast<uint32_t>(lanes & 0xFFFFFFFFu) + static_cast<uint32_t>(lanes >> 32);
    n -= words * 8;
  }
#endif
  for (; n > 0; --n) sum += *p++;
  return sum;
}

// Every named field is stored once, absent values as 0: clearing the whole
// record first (a block fill per channel) cost more than the decoding.
void FillNewChannel(const uint8_t* l1, const uint8_t* l2, GpbChannel* ch) {
  uint32_t mask = 0;

  const uint8_t status = GetU8(l1 + kL1Status);
  double c1 = GetF64(l1 + kL1C1);
  if ((status & kL1StatusC1) && std::fabs(c1) > kNewMinCode) {
    mask |= kObsC1;
    if (status & kL1StatusFlag80) mask |= kObsL1Status80;
  } else {
    c1 = 0.0;
  }
  double phase1 = GetF64(l1 + kL1L1);
  if ((status & kL1StatusL1) && std::fabs(phase1) > kNewMinPhase) {
    mask |= kObsL1;
  } else {
    phase1 = 0.0;
  }
  double d1 = 0.0;
  if (status & kL1StatusD1) {
    d1 = GetF32(l1 + kL1D1);
    mask |= kObsD1;
  }
  double lock1 = 0.0;
  uint8_t lock_sec1 = 0;
  if (status & kL1StatusLock) {
    lock1 = LockTimeOf(GetU16(l1 + kL1Lock));
    lock_sec1 = lock1 > 255.0 ? 255 : static_cast<uint8_t>(lock1);
    mask |= kObsLock1;
  }
  double cn0_1 = 0.0;
  if (status & kL1StatusCn0) {
    mask |= kObsCn0L1;
    cn0_1 = GetU8(l1 + kL1Cn0) * kCn0Unit;
  }

  double p1 = 0.0, p2 = 0.0, phase2 = 0.0, lock2 = 0.0, cn0_2 = 0.0;
  if (l2 != nullptr) {
    const uint8_t status2 = GetU8(l2 + kL2Status);
    p1 = GetF64(l2 + kL2P1);
    if ((status2 & kL2StatusP1) && std::fabs(p1) > kNewMinCode) {
      mask |= kObsP1;
    } else {
      p1 = 0.0;
    }
    p2 = GetF64(l2 + kL2P2);
    if ((status2 & kL2StatusP2) && std::fabs(p2) > kNewMinCode) {
      mask |= kObsP2;
    } else {
      p2 = 0.0;
    }
    phase2 = GetF64(l2 + kL2L2);
    if ((status2 & kL2StatusL2) && std::fabs(phase2) > kNewMinPhase) {
      mask |= kObsL2;
    } else {
      phase2 = 0.0;
    }
    if (status2 & kL2StatusLock) {
      lock2 = LockTimeOf(GetU16(l2 + kL2Lock));
      mask |= kObsLock2;
    }
    if (status2 & kL2StatusCn0) {
      mask |= kObsCn0L2;
      cn0_2 = GetU8(l2 + kL2Cn0) * kCn0Unit;
    }
  }

  ch->Prn = GetU8(l1 + kL1Prn);
  ch->ObsMask = mask;
  ch->Reserved = 0;
  ch->C1 = c1;
  ch->L1 = phase1;
  ch->D1 = d1;
  ch->LockTime1 = lock1;
  ch->Cn0L1 = cn0_1;
  ch->LockSec1 = lock_sec1;
  ch->P1 = p1;
  ch->P2 = p2;
  ch->L2 = phase2;
  ch->LockTime2 = lock2;
  ch->Cn0L2 = cn0_2;
  ch->Spare = 0;
}

void FillOldChannel(const uint8_t* m, GpbChannel* ch) {
  *ch = GpbChannel{};
  ch->Prn = GetI8(m + kOldMeasPrn);
  ch->Reserved = 0;
  ch->C1 = GetF64(m + kOldMeasC1);
  ch->L1 = GetF64(m + kOldMeasL1);
  ch->D1 = GetF64(m + kOldMeasD1);
  ch->P2 = GetF64(m + kOldMeasP2);
  ch->L2 = GetF64(m + kOldMeasL2);
  ch->LockSec1 = GetU8(m + kOldMeasLock);
  ch->LockTime1 = ch->LockSec1;
  ch->ObsMask = kObsD1 | kObsLock1;
  if (std::fabs(ch->C1) > kOldMinValue) ch->ObsMask |= kObsC1;
  if (std::fabs(ch->L1) > kOldMinValue) ch->ObsMask |= kObsL1;
  if (std::fabs(ch->P2) > kOldMinValue) ch->ObsMask |= kObsP2;
  if (std::fabs(ch->L2) > kOldMinValue) ch->ObsMask |= kObsL2;
}

}  // namespace

const char* ReceiverTypeName(int code) {
  const ReceiverTypeEntry* entry = FindReceiverType(code);
  return entry ? entry->Name : kUnknownReceiver;
}

GpbClass::GpbClass() : stream_(nullptr) { ResetToConstructed(); }

GpbClass::~GpbClass() { CloseGpbFile(); }

void GpbClass::ResetToConstructed() {
  state_ = 0;
  std::memset(error_text_, 0, sizeof error_text_);
  epoch_ = GpbEpoch{};
  for (GpbChannel& ch : channels_) ch = GpbChannel{};
  is_new_format_ = 0;
  std::memset(old_header_, 0, sizeof old_header_);
  std::memset(new_header_, 0, sizeof new_header_);
  receiver_type_ = 0;
  std::memset(receiver_description_, 0, sizeof receiver_description_);
  path_.clear();
  open_reason_.clear();
  stream_ = nullptr;
  input_.Detach();
  file_size_ = 0;
  bytes_used_ = 0;
  pass_end_ = GpbPassEnd::kNotEnded;
  damaged_records_ = 0;
}

void GpbClass::SetError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(error_text_, sizeof error_text_, format, args);
  va_end(args);
}

int GpbClass::GetGpbFileType(const char* path) {
  InputFile file;
  if (path == nullptr || !file.Open(path)) {
    SetError("Unable to open GPB file %s for reading", path ? path : "");
    return kTypeUnreadable;
  }
  static_assert(kNewMagicSize <= InputFile::kHeadSize, "the head holds the magic");
  return TypeOfStart(file.Head(), file.HeadSize());
}

int GpbClass::OpenGpbFile(const char* path, int buffer_size) {
  // One open serves the format probe and the reading. A path beyond the
  // caller's limit is refused like a missing file.
  open_reason_.clear();
  InputFile file;
  int type = kTypeUnreadable;
  if (path == nullptr) {
    open_reason_ = "no path";
  } else if (std::strlen(path) >= path_limit_) {
    open_reason_ = "path too long";
  } else if (!file.Open(path)) {
    open_reason_ = file.Reason();
  } else {
    type = TypeOfStart(file.Head(), file.HeadSize());
  }
  if (type == kTypeUnreadable) {
    SetError("GPB file '%s' does not exits or cannot be opened", path ? path : "");
    return 1;
  }
  if (type == kTypeNeither) {
    open_reason_ = kReasonNotGpb;
    SetError("Invalid GPB file type for '%s'--neither new or old format", path);
    return 1;
  }
  if (state_ == 1) {
    open_reason_ = "another file is open";
    SetError("Cannot create file--class already using a file %s", path);
    state_ = -1;
    return 1;
  }

  // A stream left attached by a refused second open (state -1) is closed
  // here so that it does not leak.
  if (stream_ != nullptr) {
    input_.Detach();
    std::fclose(stream_);
    stream_ = nullptr;
  }

  stream_ = file.Release();

  // The stream library allocates and owns its buffer; the block buffer of
  // the input is ours.
  if (buffer_size < 2 ||
      std::setvbuf(stream_, nullptr, _IOFBF, static_cast<size_t>(buffer_size)) != 0 ||
      !input_.Attach(stream_, 0, read_ahead_)) {
    std::fclose(stream_);
    stream_ = nullptr;
    open_reason_ = "cannot set up the read buffer";
    SetError("Unable to create file buffer for '%s'", path);
    state_ = -1;
    return 1;
  }

  is_new_format_ = type == kTypeNew ? 1 : 0;
  // The whole header in one piece; the other format's image stays zero.
  uint8_t* image = is_new_format_ ? new_header_ : old_header_;
  const size_t header_size = is_new_format_ ? kNewHeaderSize : kOldHeaderSize;
  std::memset(old_header_, 0, sizeof old_header_);
  std::memset(new_header_, 0, sizeof new_header_);
  const uint8_t* header = input_.Take(header_size);
  if (header != nullptr) std::memcpy(image, header, header_size);
  bool header_ok = false;
  if (header == nullptr) {
    open_reason_ = kReasonShortHeader;
    SetError("Failure to read header for '%s'", path);
  } else if (is_new_format_ ? GetI32(new_header_ + kNewHeaderSizeField) !=
                                  static_cast<int32_t>(kNewHeaderSize)
                            : GetU16(old_header_ + kOldHeaderSizeField) != kOldHeaderSize) {
    open_reason_ = kReasonBadHeader;
    SetError("File '%s' is not a GPB file--Invalid header", path);
  } else {
    header_ok = true;
  }
  if (!header_ok) {
    input_.Detach();
    std::fclose(stream_);
    stream_ = nullptr;
    state_ = -1;
    return 1;
  }

  std::memset(receiver_description_, 0, sizeof receiver_description_);
  if (is_new_format_) {
    receiver_type_ = GetI32(new_header_ + kNewReceiverType);
    // The description is cut to what the member holds (31 characters); the
    // header image bounds the search for its terminator.
    const char* text = reinterpret_cast<const char*>(new_header_ + kNewDescription);
    size_t len = 0;
    while (len < sizeof receiver_description_ - 1 && kNewDescription + len < kNewHeaderSize &&
           text[len] != '\0') {
      ++len;
    }
    std::memcpy(receiver_description_, text, len);
  } else {
    receiver_type_ = GetI8(old_header_ + kOldReceiverType);
  }
  error_text_[0] = '\0';
  path_ = path;
  file_size_ = StreamFileSize(stream_);
  bytes_used_ = FirstRecordOffset();
  pass_end_ = GpbPassEnd::kNotEnded;
  damaged_records_ = 0;
  state_ = 1;
  return 0;
}

uint64_t GpbClass::FirstRecordOffset() const {
  return is_new_format_ ? kNewHeaderSize : kOldHeaderSize;
}

void GpbClass::RewindGpbFile() {
  if (stream_ == nullptr || state_ != 1) return;
  input_.Seek(FirstRecordOffset());
  bytes_used_ = FirstRecordOffset();
  pass_end_ = GpbPassEnd::kNotEnded;
  damaged_records_ = 0;
}

int GpbClass::ReadGpbEpoch(GpbEpoch* epoch, GpbChannel* channels) {
  if (stream_ == nullptr || state_ != 1) {
    SetError("Invalid GPB class setup");
    return 1;
  }
  if (epoch == nullptr) epoch = &epoch_;
  if (channels == nullptr) channels = channels_;
  const int result =
      is_new_format_ ? ReadNewEpoch(epoch, channels) : ReadOldEpoch(epoch, channels);
  NotePassEnd(result);
  return result;
}

// A short read consumes what was left, so after one the position is the end
// of the file: bytes between the last good record and there are either a
// cut-short record or what damaged records left behind.
void GpbClass::NotePassEnd(int result) {
  if (result == 0) {
    bytes_used_ = input_.Position();
    pass_end_ = GpbPassEnd::kNotEnded;
  } else if (result == 1) {
    ++damaged_records_;
    pass_end_ = GpbPassEnd::kDamaged;
  } else if (input_.ShortBy() > 0) {
    pass_end_ = GpbPassEnd::kTruncated;
  } else if (input_.Position() == bytes_used_) {
    pass_end_ = GpbPassEnd::kClean;
  } else if (pass_end_ != GpbPassEnd::kTruncated) {
    pass_end_ = GpbPassEnd::kDamaged;
  }
}

int GpbClass::ReadOldEpoch(GpbEpoch* epoch, GpbChannel* channels) {
  // Position record first, then all measurement records at once; both are
  // read in place in the input's block.
  const uint8_t* pos = input_.Take(kOldPositionSize);
  if (pos == nullptr) {
    SetError("Reached end of file");
    return -1;
  }
  if (GetI16(pos + kOldPosSize) != static_cast<int16_t>(kOldPositionSize)) {
    SetError("Corruption detected in GPB file '%s'--invalid position record size", path_.c_str());
    return 1;
  }
  const int count = GetI8(pos + kOldPosChannels);
  if (count < 0 || count > kMaxRecordChannels) {
    SetError("Too many channels in data. Possible corruption detected in GPB file '%s'",
             path_.c_str());
    return 1;
  }

  // ExtraWord1 is not part of old-format records: it keeps the caller's value.
  epoch->Flags = GetI8(pos + kOldPosFlags);
  epoch->NumChannels = static_cast<int16_t>(count);
  epoch->Latitude = GetF64(pos + kOldPosLatitude);
  epoch->Longitude = GetF64(pos + kOldPosLongitude);
  epoch->Height = GetF32(pos + kOldPosHeight);
  epoch->RcvTime = GetF64(pos + kOldPosTime);
  epoch->RawRcvTime = epoch->RcvTime;
  epoch->ClockRefTime = GetF64(pos + kOldPosClockRef);
  epoch->ClockBias = GetF64(pos + kOldPosClockBias);
  epoch->ExtraFloat = NarrowToFloat(GetF64(pos + kOldPosExtraValue));
  epoch->ExtraWord2 = GetI16(pos + kOldPosExtraWord);
  epoch->RcvTimeMs = MillisecondsOf(epoch->RcvTime);
  CheckPosition(epoch);

  const ReceiverTypeEntry* type = FindReceiverType(receiver_type_);
  if (type != nullptr && type->ClockRebuild) {
    epoch->RawRcvTime = epoch->ClockRefTime + epoch->ClockBias * kSecondsPerMetre;
  }

  if (count == 0) return 0;
  // At most 24 records: the input hands them out without allocating, so
  // obtaining them cannot fail. pos is not used past this point.
  const size_t want = static_cast<size_t>(count) * kOldMeasurementSize;
  const uint8_t* meas = input_.Take(want);
  if (meas == nullptr) {
    SetError("Reached end of file");
    return -1;
  }
  for (int i = 0; i < count; ++i) {
    const uint8_t* m = meas + static_cast<size_t>(i) * kOldMeasurementSize;
    if (GetI16(m + kOldMeasSize) != static_cast<int16_t>(kOldMeasurementSize)) {
      SetError("Corruption detected in GPB file '%s'--invalid measurement record size",
               path_.c_str());
      return 1;
    }
    FillOldChannel(m, &channels[i]);
  }
  return 0;
}

int GpbClass::ReadNewEpoch(GpbEpoch* epoch, GpbChannel* channels) {
  // The header is read in place; what is needed of it is taken out before
  // the channel blocks are read, which may move the input's block.
  const uint8_t* header = input_.Take(kRecordHeaderSize);
  if (header == nullptr) {
    SetError("Reached end of file");
    return -1;
  }
  uint32_t checksum = ByteSum(header + kChecksumStart, kRecordHeaderSize - kChecksumStart);
  uint32_t byte_count = kRecordHeaderSize;
  const uint16_t stored_checksum = GetU16(header + kRecChecksum);
  const uint16_t stored_length = GetU16(header + kRecLength);

  const uint16_t bytes_per_channel = GetU16(header + kRecBytesPerChannel);
  if (GetU16(header + kRecSync) != kSyncWord || GetU16(header + kRecBlockSize) != kEpochBlockSize ||
      (bytes_per_channel != kBytesPerChannelL1 && bytes_per_channel != kBytesPerChannelL1L2) ||
      GetU32(header + kRecReserved) != 0 || GetU16(header + kRecType) != kRecordTypeEpoch) {
    SetError("Corruption detected in GPB file '%s'--invalid record header", path_.c_str());
    return 1;
  }

  GpbEpoch decoded;
  DecodeEpochBlock(header + kRecEpoch, &decoded);
  if (decoded.NumChannels < 0 || decoded.NumChannels > kMaxRecordChannels) {
    SetError("Too many channels in data. Possible corruption detected in GPB file '%s'",
             path_.c_str());
    return 1;
  }
  if (std::fabs(decoded.RawRcvTime - decoded.RcvTime) > kMaxTimeOffset) {
    SetError("Timing error in %s (RawRcvTime %.3lf too distant from RcvTime %.3lf)", path_.c_str(),
             decoded.RawRcvTime, decoded.RcvTime);
    return 1;
  }
  CheckPosition(&decoded);
  decoded.RcvTimeMs = MillisecondsOf(decoded.RcvTime);
  *epoch = decoded;

  // The channel blocks of one record (L1 and L2 blocks alternating) come
  // in one piece, at most 24 x 56 bytes, handed out in place without
  // allocating, so obtaining them cannot fail; a short read leaves the input
  // at the end of the file, as block-wise reads would.
  const bool with_l2 = bytes_per_channel == kBytesPerChannelL1L2;
  const int count = decoded.NumChannels;
  const size_t block_bytes = static_cast<size_t>(count) * bytes_per_channel;
  const uint8_t* blocks = header;  // any address: no block is read when there are none
  if (block_bytes > 0) {
    blocks = input_.Take(block_bytes);
    if (blocks == nullptr) {
      SetError("Reached end of file");
      return -1;
    }
  }
  checksum += ByteSum(blocks, block_bytes);
  byte_count += static_cast<uint32_t>(block_bytes);
  if ((checksum & 0xFFFFu) != stored_checksum) {
    SetError("Invalid Record Checksum in %s--file may have been corrupted", path_.c_str());
    return 1;
  }
  if (byte_count != stored_length) {
    SetError("Invalid Record Data Length in %s--possibly file corruption", path_.c_str());
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    const uint8_t* block = blocks + static_cast<size_t>(i) * bytes_per_channel;
    FillNewChannel(block, with_l2 ? block + kL1BlockSize : nullptr, &channels[i]);
  }
  return 0;
}

int GpbClass::IsPositionValid(const GpbEpoch* epoch) const {
  const GpbEpoch& e = epoch ? *epoch : epoch_;
  return ((e.Flags & kEpochPositionValid) && e.Latitude != 0.0 && e.Longitude != 0.0) ? 1 : 0;
}

int GpbClass::IsKinematic(const GpbEpoch* epoch) const {
  const GpbEpoch& e = epoch ? *epoch : epoch_;
  return (e.Flags & kEpochKinematic) ? 1 : 0;
}

int GpbClass::GetReceiverTypeName(char* buffer) const {
  // The longest name has 24 characters: 25 bytes hold any of them.
  constexpr size_t kNameRoom = 24;
  const char* name = ReceiverTypeName(receiver_type_);
  const size_t len = std::min(std::strlen(name), kNameRoom);
  std::memcpy(buffer, name, len);
  buffer[len] = '\0';
  return 0;
}

void GpbClass::CloseGpbFile() {
  input_.Detach();
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  ResetToConstructed();
}

}  // namespace rawconv
