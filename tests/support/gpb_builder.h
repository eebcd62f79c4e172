// Builds GPB files byte by byte for tests and tools (header-only).
//
// The builder writes every field in file order with explicit little-endian
// appends, independently of the reader's offset table, so a wrong offset in
// either shows up as a test failure.
//
// Low level (exact control of every stored bit):
//   OldHeader / NewHeader             file headers (receiver type, description,
//                                     a wrong size field on request)
//   OldPosition + OldMeasurement      -> EncodeOldRecord   old-format record
//   RecordEpoch + L1Block + L2Block   -> EncodeNewRecord   new-format record
//                                     (length and checksum computed)
// High level (from the reader's own in-memory types):
//   EncodeOldEpoch(epoch, channels, n)            old record from a GpbEpoch
//   EncodeNewEpoch(epoch, channels, n, with_l2)   new record; the status bits
//        follow each channel's ObsMask, lock and C/N0 values are scaled to
//        their 0.05 s and 0.25 dB-Hz counts
// Files:
//   GpbFileBuilder::Old(type) / ::New(type, description), Add(record),
//   Record(i) for damaging a record in place, TruncateBy(n), Bytes(), Write(path)
// Damage (on one encoded record; names say which field):
//   SetSync, SetRecordType, SetRecordLength, SetChecksum, SetBlockSize,
//   SetBytesPerChannel, SetReserved, SetNewChannelCount, SetRawRcvTime,
//   FixChecksum (recompute after a deliberate change that should stay valid),
//   SetOldPositionSize, SetOldChannelCount, SetOldMeasurementSize(i).
//
// Everything is in namespace rawconv::gpbtest.
#ifndef RAWCONV_TESTS_SUPPORT_GPB_BUILDER_H_
#define RAWCONV_TESTS_SUPPORT_GPB_BUILDER_H_

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gpb/byte_io.h"
#include "gpb/gpb.h"
#include "gpb/gpb_format.h"

namespace rawconv {
namespace gpbtest {

using ByteVec = std::vector<uint8_t>;

// Appends little-endian values to a byte vector.
class ByteWriter {
 public:
  explicit ByteWriter(ByteVec* out) : out_(out) {}
  void U8(uint8_t v) { out_->push_back(v); }
  void I8(int8_t v) { out_->push_back(static_cast<uint8_t>(v)); }
  void U16(uint16_t v) { Put(2, [&](uint8_t* p) { PutU16(p, v); }); }
  void I16(int16_t v) { U16(static_cast<uint16_t>(v)); }
  void U32(uint32_t v) { Put(4, [&](uint8_t* p) { PutU32(p, v); }); }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void F32(float v) { Put(4, [&](uint8_t* p) { PutF32(p, v); }); }
  void F64(double v) { Put(8, [&](uint8_t* p) { PutF64(p, v); }); }
  void Zeros(size_t n) { out_->insert(out_->end(), n, 0); }
  // Text into a field of n bytes, cut or NUL-padded.
  void Text(const char* text, size_t n) {
    const size_t len = std::strlen(text);
    for (size_t i = 0; i < n; ++i) out_->push_back(i < len ? static_cast<uint8_t>(text[i]) : 0);
  }

 private:
  template <typename F>
  void Put(size_t n, F put) {
    const size_t at = out_->size();
    out_->resize(at + n);
    put(out_->data() + at);
  }
  ByteVec* out_;
};

// ---------------------------------------------------------------- headers

// Old header: size field, receiver-type byte (stored as a signed byte, so
// 0x80..0xFF read back negative), three words, the rest zero.
inline ByteVec OldHeader(int receiver_type_byte, uint16_t size_field = 202) {
  ByteVec out;
  ByteWriter w(&out);
  w.U16(size_field);
  w.Zeros(4);
  w.U8(static_cast<uint8_t>(receiver_type_byte));
  w.Zeros(1);
  w.I32(11);
  w.I32(22);
  w.I32(33);
  w.Zeros(182);
  return out;
}

// New header: magic, size field, receiver type, three words, description
// (any length up to the header's end; a NUL follows when there is room).
inline ByteVec NewHeader(int32_t receiver_type, const char* description,
                         int32_t size_field = 512) {
  ByteVec out;
  ByteWriter w(&out);
  w.Text("$NEWGPB", 7);
  w.Zeros(9);
  w.I32(size_field);
  w.I32(receiver_type);
  w.I32(11);
  w.I32(22);
  w.I32(33);
  const size_t room = 512 - out.size();
  const size_t len = std::strlen(description);
  w.Text(description, len < room ? len : room);
  out.resize(512, 0);
  return out;
}

// ---------------------------------------------------------------- old records

struct OldPosition {
  int16_t Size = 68;
  int8_t NumChannels = -1;  // -1: the number of measurement records given
  int8_t Flags = 1;
  double Latitude = 0.0;
  double Longitude = 0.0;
  float Height = 0.0f;
  double Time = 0.0;
  double ClockRefTime = 0.0;
  double ClockBias = 0.0;
  double ExtraValue = 0.0;
  int16_t ExtraWord = 0;
};

struct OldMeasurement {
  int16_t Size = 44;
  int8_t Prn = 1;
  uint8_t Lock = 0;
  double C1 = 0.0;
  double L1 = 0.0;
  double D1 = 0.0;
  double P2 = 0.0;
  double L2 = 0.0;
};

inline ByteVec EncodeOldRecord(const OldPosition& pos, const std::vector<OldMeasurement>& meas) {
  ByteVec out;
  ByteWriter w(&out);
  w.I16(pos.Size);
  w.I8(pos.NumChannels >= 0 ? pos.NumChannels : static_cast<int8_t>(meas.size()));
  w.I8(pos.Flags);
  w.Zeros(4);
  w.F64(pos.Latitude);
  w.F64(pos.Longitude);
  w.F32(pos.Height);
  w.F64(pos.Time);
  w.F64(pos.ClockRefTime);
  w.F64(pos.ClockBias);
  w.F64(pos.ExtraValue);
  w.I16(pos.ExtraWord);
  w.Zeros(6);
  for (const OldMeasurement& m : meas) {
    w.I16(m.Size);
    w.I8(m.Prn);
    w.U8(m.Lock);
    w.F64(m.C1);
    w.F64(m.L1);
    w.F64(m.D1);
    w.F64(m.P2);
    w.F64(m.L2);
  }
  return out;
}

// Old record from the in-memory types: C1, L1, D1, P2, L2 and the lock
// seconds (LockSec1) are stored whatever the ObsMask says; P1 and the C/N0
// values have no place in the old format and are dropped.
inline ByteVec EncodeOldEpoch(const GpbEpoch& e, const GpbChannel* ch, int n) {
  OldPosition pos;
  pos.NumChannels = static_cast<int8_t>(n);
  pos.Flags = static_cast<int8_t>(e.Flags);
  pos.Latitude = e.Latitude;
  pos.Longitude = e.Longitude;
  pos.Height = e.Height;
  pos.Time = e.RcvTime;
  pos.ClockRefTime = e.ClockRefTime;
  pos.ClockBias = e.ClockBias;
  pos.ExtraValue = e.ExtraFloat;
  pos.ExtraWord = e.ExtraWord2;
  std::vector<OldMeasurement> meas;
  for (int i = 0; i < n; ++i) {
    OldMeasurement m;
    m.Prn = static_cast<int8_t>(ch[i].Prn);
    m.Lock = ch[i].LockSec1;
    m.C1 = ch[i].C1;
    m.L1 = ch[i].L1;
    m.D1 = ch[i].D1;
    m.P2 = ch[i].P2;
    m.L2 = ch[i].L2;
    meas.push_back(m);
  }
  return EncodeOldRecord(pos, meas);
}

// ---------------------------------------------------------------- new records

struct L1Block {
  uint8_t Prn = 1;
  uint8_t Status = 0;
  uint8_t Cn0 = 0;     // 0.25 dB-Hz
  uint16_t Lock = 0;   // 0.05 s
  double C1 = 0.0;
  double L1 = 0.0;
  float D1 = 0.0f;
};

struct L2Block {
  uint8_t Status = 0;
  uint8_t Cn0 = 0;
  uint16_t Lock = 0;
  double P1 = 0.0;
  double P2 = 0.0;
  double L2 = 0.0;
};

// Record header fields that are normally derived; tests override them to
// build damaged records. -1 in Length/Checksum: computed.
struct RecordFrame {
  uint16_t Sync = 0xC33C;
  uint16_t Type = 1;
  int32_t Length = -1;
  int32_t Checksum = -1;
  uint16_t BlockSize = 68;
  uint16_t BytesPerChannel = 0;  // 0: 28 or 56 from the presence of L2 blocks
  uint32_t Reserved = 0;
};

inline void AppendEpochBlock(ByteWriter& w, const GpbEpoch& e) {
  w.I16(e.Flags);
  w.I16(e.NumChannels);
  w.F64(e.Latitude);
  w.F64(e.Longitude);
  w.F32(e.Height);
  w.F64(e.RawRcvTime);
  w.F64(e.RcvTime);
  w.F64(e.ClockRefTime);
  w.I32(e.RcvTimeMs);
  w.F64(e.ClockBias);
  w.F32(e.ExtraFloat);
  w.I16(e.ExtraWord1);
  w.I16(e.ExtraWord2);
}

// Checksum over record bytes 8 to the end, as the reader expects.
inline uint16_t RecordChecksum(const ByteVec& rec) {
  uint32_t sum = 0;
  for (size_t i = 8; i < rec.size(); ++i) sum += rec[i];
  return static_cast<uint16_t>(sum & 0xFFFF);
}

// New record from an epoch block and channel blocks. The epoch's
// NumChannels is written as given (set it to l1.size() for a sound record);
// l2 is empty for an L1-only record or as long as l1.
inline ByteVec EncodeNewRecord(const GpbEpoch& epoch, const std::vector<L1Block>& l1,
                               const std::vector<L2Block>& l2 = {},
                               const RecordFrame& frame = RecordFrame()) {
  ByteVec out;
  ByteWriter w(&out);
  const bool with_l2 = !l2.empty();
  w.U16(frame.Sync);
  w.U16(frame.Type);
  w.U16(0);  // length, patched below
  w.U16(0);  // checksum, patched below
  w.U16(frame.BlockSize);
  w.U16(frame.BytesPerChannel != 0 ? frame.BytesPerChannel : (with_l2 ? 56 : 28));
  w.U32(frame.Reserved);
  AppendEpochBlock(w, epoch);
  for (size_t i = 0; i < l1.size(); ++i) {
    const L1Block& b = l1[i];
    w.U8(b.Prn);
    w.Zeros(3);
    w.U8(b.Status);
    w.U8(b.Cn0);
    w.U16(b.Lock);
    w.F64(b.C1);
    w.F64(b.L1);
    w.F32(b.D1);
    if (with_l2 && i < l2.size()) {
      const L2Block& c = l2[i];
      w.U8(c.Status);
      w.U8(c.Cn0);
      w.U16(c.Lock);
      w.F64(c.P1);
      w.F64(c.P2);
      w.F64(c.L2);
    }
  }
  PutU16(out.data() + 4, static_cast<uint16_t>(frame.Length >= 0 ? frame.Length : out.size()));
  PutU16(out.data() + 6,
         static_cast<uint16_t>(frame.Checksum >= 0 ? frame.Checksum : RecordChecksum(out)));
  return out;
}

// Count of a value in units (0.05 s lock, 0.25 dB-Hz), rounded and held to
// the field's range.
template <typename T>
T ScaledCount(double value, double unit) {
  double n = std::floor(value / unit + 0.5);
  const double top = static_cast<double>(static_cast<T>(~T(0)));
  if (!(n > 0.0)) n = 0.0;
  if (n > top) n = top;
  return static_cast<T>(n);
}

inline L1Block L1FromChannel(const GpbChannel& c) {
  L1Block b;
  b.Prn = static_cast<uint8_t>(c.Prn);
  if (c.ObsMask & kObsC1) b.Status |= 0x01;
  if (c.ObsMask & kObsL1) b.Status |= 0x02;
  if (c.ObsMask & kObsD1) b.Status |= 0x04;
  if (c.ObsMask & kObsLock1) b.Status |= 0x08;
  if (c.ObsMask & kObsCn0L1) b.Status |= 0x10;
  if (c.ObsMask & kObsL1Status80) b.Status |= 0x80;
  b.Cn0 = ScaledCount<uint8_t>(c.Cn0L1, 0.25);
  b.Lock = ScaledCount<uint16_t>(c.LockTime1, 0.05);
  b.C1 = c.C1;
  b.L1 = c.L1;
  b.D1 = static_cast<float>(c.D1);
  return b;
}

inline L2Block L2FromChannel(const GpbChannel& c) {
  L2Block b;
  if (c.ObsMask & kObsP2) b.Status |= 0x01;
  if (c.ObsMask & kObsL2) b.Status |= 0x02;
  if (c.ObsMask & kObsLock2) b.Status |= 0x08;
  if (c.ObsMask & kObsCn0L2) b.Status |= 0x10;
  if (c.ObsMask & kObsP1) b.Status |= 0x20;
  b.Cn0 = ScaledCount<uint8_t>(c.Cn0L2, 0.25);
  b.Lock = ScaledCount<uint16_t>(c.LockTime2, 0.05);
  b.P1 = c.P1;
  b.P2 = c.P2;
  b.L2 = c.L2;
  return b;
}

// New record from the in-memory types; NumChannels is taken from n.
inline ByteVec EncodeNewEpoch(const GpbEpoch& epoch, const GpbChannel* ch, int n, bool with_l2) {
  GpbEpoch e = epoch;
  e.NumChannels = static_cast<int16_t>(n);
  std::vector<L1Block> l1;
  std::vector<L2Block> l2;
  for (int i = 0; i < n; ++i) {
    l1.push_back(L1FromChannel(ch[i]));
    if (with_l2) l2.push_back(L2FromChannel(ch[i]));
  }
  RecordFrame frame;
  frame.BytesPerChannel = with_l2 ? 56 : 28;  // also for n == 0
  return EncodeNewRecord(e, l1, l2, frame);
}

// A plain epoch at time t (RawRcvTime = RcvTime), position valid.
inline GpbEpoch MakeEpoch(double t, double lat = 38.9, double lon = -77.07, float height = 50.0f,
                          int16_t flags = 1) {
  GpbEpoch e{};
  e.Flags = flags;
  e.Latitude = lat;
  e.Longitude = lon;
  e.Height = height;
  e.RawRcvTime = t;
  e.RcvTime = t;
  return e;
}

// ---------------------------------------------------------------- damage

inline void SetSync(ByteVec& rec, uint16_t v) { PutU16(rec.data() + 0, v); }
inline void SetRecordType(ByteVec& rec, uint16_t v) { PutU16(rec.data() + 2, v); }
inline void SetRecordLength(ByteVec& rec, uint16_t v) { PutU16(rec.data() + 4, v); }
inline void SetChecksum(ByteVec& rec, uint16_t v) { PutU16(rec.data() + 6, v); }
inline void SetBlockSize(ByteVec& rec, uint16_t v) { PutU16(rec.data() + 8, v); }
inline void SetBytesPerChannel(ByteVec& rec, uint16_t v) { PutU16(rec.data() + 10, v); }
inline void SetReserved(ByteVec& rec, uint32_t v) { PutU32(rec.data() + 12, v); }
inline void SetNewChannelCount(ByteVec& rec, int16_t v) {
  PutU16(rec.data() + 18, static_cast<uint16_t>(v));
}
inline void SetRawRcvTime(ByteVec& rec, double v) { PutF64(rec.data() + 16 + 24, v); }
inline void FixChecksum(ByteVec& rec) { PutU16(rec.data() + 6, RecordChecksum(rec)); }

inline void SetOldPositionSize(ByteVec& rec, int16_t v) {
  PutU16(rec.data(), static_cast<uint16_t>(v));
}
inline void SetOldChannelCount(ByteVec& rec, int v) { rec[2] = static_cast<uint8_t>(v); }
inline void SetOldMeasurementSize(ByteVec& rec, int i, int16_t v) {
  PutU16(rec.data() + 68 + 44 * static_cast<size_t>(i), static_cast<uint16_t>(v));
}

// ---------------------------------------------------------------- files

// Writes raw bytes to a file (for files of neither format); true on success.
inline bool WriteBytes(const std::string& path, const ByteVec& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}


class GpbFileBuilder {
 public:
  static GpbFileBuilder Old(int receiver_type_byte = 2) {
    return GpbFileBuilder(OldHeader(receiver_type_byte), false);
  }
  static GpbFileBuilder New(int32_t receiver_type = 6, const char* description = "") {
    return GpbFileBuilder(NewHeader(receiver_type, description), true);
  }
  // A file with any header bytes (a damaged or short header).
  static GpbFileBuilder Raw(ByteVec header, bool is_new) {
    return GpbFileBuilder(std::move(header), is_new);
  }

  bool IsNew() const { return is_new_; }

  // Appends an encoded record; returns its number.
  size_t Add(ByteVec record) {
    records_.push_back(std::move(record));
    return records_.size() - 1;
  }
  // Appends an epoch in the file's format (with_l2 for new files only).
  size_t AddEpoch(const GpbEpoch& e, const GpbChannel* ch, int n, bool with_l2 = true) {
    return Add(is_new_ ? EncodeNewEpoch(e, ch, n, with_l2) : EncodeOldEpoch(e, ch, n));
  }

  ByteVec& Record(size_t i) { return records_.at(i); }
  ByteVec& Header() { return header_; }
  size_t RecordCount() const { return records_.size(); }

  // Byte offset of record i in the file.
  size_t RecordOffset(size_t i) const {
    size_t at = header_.size();
    for (size_t k = 0; k < i && k < records_.size(); ++k) at += records_[k].size();
    return at;
  }

  // Drops the last n bytes of the finished file.
  GpbFileBuilder& TruncateBy(size_t n) {
    truncate_ = n;
    return *this;
  }

  ByteVec Bytes() const {
    ByteVec out = header_;
    for (const ByteVec& r : records_) out.insert(out.end(), r.begin(), r.end());
    out.resize(out.size() > truncate_ ? out.size() - truncate_ : 0);
    return out;
  }

  // Writes the file; true on success.
  bool Write(const std::string& path) const { return WriteBytes(path, Bytes()); }

 private:
  GpbFileBuilder(ByteVec header, bool is_new) : header_(std::move(header)), is_new_(is_new) {}
  ByteVec header_;
  bool is_new_;
  std::vector<ByteVec> records_;
  size_t truncate_ = 0;
};

}  // namespace gpbtest
}  // namespace rawconv

#endif  // RAWCONV_TESTS_SUPPORT_GPB_BUILDER_H_
