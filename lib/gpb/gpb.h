// GpbClass: the reader of GPB raw data files, both format generations.
//
// Use one object per pass over a file: OpenGpbFile, ReadGpbEpoch until it
// returns non-zero, CloseGpbFile. Every failure leaves a one-line message in
// ErrorText(), and a failed open also says why in OpenReason(). The byte
// layout of the files is described in gpb_format.h. Files are opened
// through lib/io: a gzip file is read as the GPB file it holds.
// Records are read from large blocks of the file (gpb_input.h), not one
// library call each; after a pass, PassEnd(), BytesUsed() and FileSize() tell
// how far the file was good.
#ifndef RAWCONV_GPB_GPB_H_
#define RAWCONV_GPB_GPB_H_

#include <cstdint>
#include <string>
#include <cstdio>

#include "gpb/gpb_input.h"

namespace rawconv {

constexpr int kMaxChannels = 24;

// Flags bits of GpbEpoch.
constexpr int16_t kEpochPositionValid = 0x0001;
constexpr int16_t kEpochKinematic = 0x0002;

// ObsMask bits of GpbChannel.
constexpr uint32_t kObsC1 = 0x0001;
constexpr uint32_t kObsL1 = 0x0002;
constexpr uint32_t kObsD1 = 0x0004;
constexpr uint32_t kObsLock1 = 0x0008;  // LockTime1 and LockSec1
constexpr uint32_t kObsCn0L1 = 0x0010;
constexpr uint32_t kObsP1 = 0x0020;
constexpr uint32_t kObsP2 = 0x0040;
constexpr uint32_t kObsL2 = 0x0080;
constexpr uint32_t kObsLock2 = 0x0100;
constexpr uint32_t kObsCn0L2 = 0x0200;
constexpr uint32_t kObsL1Status80 = 0x10000;  // new format: L1 status bit 7 with C1

// One epoch. In new-format files this is stored verbatim (68 bytes, see
// gpb_format.h); in memory it has natural alignment.
struct GpbEpoch {
  int16_t Flags;        // bit 0 position valid, bit 1 kinematic
  int16_t NumChannels;  // 0..24
  double Latitude;      // degrees, WGS 84
  double Longitude;     // degrees
  float Height;         // metres above the ellipsoid
  double RawRcvTime;    // receiver's raw time tag, seconds of week
  double RcvTime;       // epoch time, seconds of week
  double ClockRefTime;  // seconds
  int32_t RcvTimeMs;    // RcvTime in whole milliseconds (always recomputed)
  double ClockBias;     // metres
  float ExtraFloat;
  int16_t ExtraWord1;
  int16_t ExtraWord2;
};

// One tracked satellite of an epoch. Phases carry the opposite sign to RINEX.
struct GpbChannel {
  int32_t Prn;  // > 32: GLONASS
  uint32_t ObsMask;
  int32_t Reserved;
  double C1;
  double L1;
  double D1;
  double LockTime1;  // 0: lock lost
  double Cn0L1;
  uint8_t LockSec1;
  double P1;
  double P2;
  double L2;
  double LockTime2;
  double Cn0L2;
  uint8_t Spare;
};

// How the current reading pass over a file has ended so far.
enum class GpbPassEnd {
  kNotEnded,   // no read has failed since the pass began
  kClean,      // the file ended right after a good record (or the header)
  kTruncated,  // the file ended inside a record: its last record is cut short
  kDamaged,    // a record failed its checks (size, header, timing, checksum,
               // length); with reads going on past it, the file then ended
               // without a good record after the damage
};

// Name of a receiver-type code, or "UNKNOWN" (static text).
const char* ReceiverTypeName(int code);

class GpbClass {
 public:
  GpbClass();
  ~GpbClass();
  GpbClass(const GpbClass&) = delete;
  GpbClass& operator=(const GpbClass&) = delete;

  // 1 new format, 0 old format, -1 neither, -2 cannot be opened.
  int GetGpbFileType(const char* path);

  // Reasons OpenReason gives besides the system's texts for the open's
  // error ("No such file or directory", "Permission denied", ...) and those
  // of lib/io ("it is a folder", "damaged gzip data").
  static constexpr const char* kReasonNotGpb =
      "not a GPB file (neither the new nor the old format)";
  static constexpr const char* kReasonBadHeader = "not a GPB file (invalid header)";
  static constexpr const char* kReasonShortHeader = "the file ends within its header";

  // 0 open (stream at the first epoch record), 1 failure. A path of any
  // length is taken unless LimitPathLength set a limit; a new-format receiver
  // description is kept to its first 31 characters. buffer_size (at least 2)
  // sizes the stream buffer, which the stream library allocates; the records
  // themselves are read in blocks of up to GpbInput::kMaxRead bytes whatever
  // its size.
  int OpenGpbFile(const char* path, int buffer_size);

  // Paths of limit characters or more are refused by OpenGpbFile like a
  // missing file (the fixed path fields of older callers hold less).
  void LimitPathLength(size_t limit) { path_limit_ = limit; }

  // false: files opened for reading afterwards are read on the caller's
  // thread alone, without the read-ahead thread (true by default).
  void SetReadAhead(bool read_ahead) { read_ahead_ = read_ahead; }

  // Positions the stream at the first epoch record when a file is open, and
  // begins a new pass: the pass facts below start again.
  void RewindGpbFile();

  // Reads the next epoch into epoch/channels (nullptr: the internal buffers;
  // a channel buffer must hold kMaxChannels records). 0 read, -1 end of
  // file, 1 other failure.
  int ReadGpbEpoch(GpbEpoch* epoch, GpbChannel* channels);

  // Facts of the current pass (since OpenGpbFile or RewindGpbFile), for
  // telling a clean file from a truncated or damaged one once ReadGpbEpoch
  // has returned non-zero.
  //
  // How the pass has ended; kNotEnded while every read succeeded (also
  // before the first read, and when no file is open).
  GpbPassEnd PassEnd() const { return pass_end_; }
  // True when the pass ended in a truncated or damaged record.
  bool EndedInDamage() const {
    return pass_end_ == GpbPassEnd::kTruncated || pass_end_ == GpbPassEnd::kDamaged;
  }
  // Bytes from the start of the file to the end of the last good record
  // read in this pass (the header size before the first); 0 with no file.
  uint64_t BytesUsed() const { return bytes_used_; }
  // Size of the open file in bytes when it was opened; 0 with no file.
  uint64_t FileSize() const { return file_size_; }
  // Records that failed their checks in this pass (result 1 of
  // ReadGpbEpoch); a reader that goes on after damage can count them here.
  int DamagedRecords() const { return damaged_records_; }

  int IsPositionValid(const GpbEpoch* epoch) const;
  int IsKinematic(const GpbEpoch* epoch) const;

  // Copies the receiver-type name (buffer of at least 25 characters); 0.
  int GetReceiverTypeName(char* buffer) const;

  // Releases everything and returns to the constructed state.
  void CloseGpbFile();

  int State() const { return state_; }
  const char* ErrorText() const { return error_text_; }
  // Why the last OpenGpbFile failed, for messages of the form "cannot open
  // GPB file X: <reason>": the system's reason, "it is a folder", "damaged
  // gzip data", kReasonNotGpb, kReasonBadHeader, kReasonShortHeader, "path
  // too long" (LimitPathLength), "another file is open", "cannot set up
  // the read buffer". Empty after a successful open and before any.
  // ErrorText keeps the reader's own one-line messages, whose texts callers
  // rely on.
  const std::string& OpenReason() const { return open_reason_; }
  int IsNewFormat() const { return is_new_format_; }
  int ReceiverType() const { return receiver_type_; }
  const char* ReceiverDescription() const { return receiver_description_; }
  const char* Path() const { return path_.c_str(); }
  const GpbEpoch& InternalEpoch() const { return epoch_; }
  const GpbChannel* InternalChannels() const { return channels_; }
  const uint8_t* OldHeaderImage() const { return old_header_; }
  const uint8_t* NewHeaderImage() const { return new_header_; }

 private:
  void ResetToConstructed();
  void SetError(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  int ReadOldEpoch(GpbEpoch* epoch, GpbChannel* channels);
  int ReadNewEpoch(GpbEpoch* epoch, GpbChannel* channels);
  void NotePassEnd(int result);
  uint64_t FirstRecordOffset() const;

  int32_t state_;
  char error_text_[512];
  GpbEpoch epoch_;
  GpbChannel channels_[kMaxChannels];
  int32_t is_new_format_;
  uint8_t old_header_[202];
  uint8_t new_header_[512];
  int32_t receiver_type_;
  char receiver_description_[32];
  std::string path_;
  std::string open_reason_;
  size_t path_limit_ = static_cast<size_t>(-1);
  bool read_ahead_ = true;
  std::FILE* stream_;
  GpbInput input_;  // reads stream_ in blocks; every record goes through it
  uint64_t file_size_;
  uint64_t bytes_used_;
  GpbPassEnd pass_end_;
  int32_t damaged_records_;
};

}  // namespace rawconv

#endif  // RAWCONV_GPB_GPB_H_
