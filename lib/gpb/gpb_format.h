// Byte layout of GPB files. All values little-endian, IEEE 754 floats,
// packed without padding.
//
// Old format (first generation):
//   header, 202 bytes at offset 0
//     0  u16  header size (202)      6  i8  receiver-type code
//     2..5, 7, 8..201                not interpreted (8..19: three int32 words)
//   epoch record = position record (68) + NumChannels measurement records (44)
//   position record
//     0  i16  record size (68)       2  i8   number of measurement records
//     3  i8   epoch flags            4..7    not interpreted
//     8  f64  latitude (deg)        16  f64  longitude (deg)
//    24  f32  height (m)            28  f64  epoch time (s of week)
//    36  f64  clock reference time  44  f64  clock bias (m)
//    52  f64  extra value (kept as float)   60  i16  extra word
//    62..67   not interpreted
//   measurement record
//     0  i16  record size (44)       2  i8   satellite number
//     3  u8   L1 lock time (s)       4  f64  C1      12  f64  L1
//    20  f64  D1                    28  f64  P2      36  f64  L2
//
// New format (second generation):
//   header, 512 bytes at offset 0
//     0  char[7] "$NEWGPB"          16  i32  header size (512)
//    20  i32  receiver-type code    24..35   three int32 words
//    36  char[] receiver description, NUL-terminated; the rest not interpreted
//   epoch record = record header (84) + per channel an L1 block (28) and,
//   with 56 bytes per channel, an L2 block (28) right after it
//   record header
//     0  u16  sync word 0xC33C       2  u16  record type (1 = epoch)
//     4  u16  record length, header included
//     6  u16  checksum: low 16 bits of the unsigned sum of every record byte
//             from offset 8 to the end of the record
//     8  u16  epoch block size (68) 10  u16  bytes per channel (28 or 56)
//    12  u32  reserved (0)          16  epoch block (68)
//   epoch block (GpbEpoch as stored)
//     0  i16  Flags                  2  i16  NumChannels
//     4  f64  Latitude              12  f64  Longitude     20  f32  Height
//    24  f64  RawRcvTime            32  f64  RcvTime       40  f64  ClockRefTime
//    48  i32  RcvTimeMs (ignored)   52  f64  ClockBias     60  f32  ExtraFloat
//    64  i16  ExtraWord1            66  i16  ExtraWord2
//   L1 block
//     0  u8   satellite number       1..3    not interpreted
//     4  u8   status (0x01 C1, 0x02 L1, 0x04 D1, 0x08 lock, 0x10 C/N0, 0x80 flag)
//     5  u8   C/N0 (0.25 dB-Hz)      6  u16  lock count (0.05 s)
//     8  f64  C1                    16  f64  L1            24  f32  D1
//   L2 block
//     0  u8   status (0x01 P2, 0x02 L2, 0x08 lock, 0x10 C/N0, 0x20 P1)
//     1  u8   C/N0 (0.25 dB-Hz)      2  u16  lock count (0.05 s)
//     4  f64  P1                    12  f64  P2            20  f64  L2
#ifndef RAWCONV_GPB_GPB_FORMAT_H_
#define RAWCONV_GPB_GPB_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace rawconv {
namespace gpbfmt {

// --- file headers ---
constexpr char kNewMagic[] = "$NEWGPB";
constexpr size_t kNewMagicSize = 7;
constexpr uint8_t kOldMagicByte = 202;  // low byte of the old header's size field

constexpr size_t kOldHeaderSize = 202;
constexpr size_t kOldHeaderSizeField = 0;  // u16
constexpr size_t kOldReceiverType = 6;     // i8

constexpr size_t kNewHeaderSize = 512;
constexpr size_t kNewHeaderSizeField = 16;  // i32
constexpr size_t kNewReceiverType = 20;     // i32
constexpr size_t kNewDescription = 36;      // NUL-terminated text

static_assert(kNewMagicSize == sizeof kNewMagic - 1, "magic without terminator");
static_assert(kNewDescription < kNewHeaderSize, "description inside the header");

// --- old-format epoch records ---
constexpr size_t kOldPositionSize = 68;
constexpr size_t kOldPosSize = 0;          // i16
constexpr size_t kOldPosChannels = 2;      // i8
constexpr size_t kOldPosFlags = 3;         // i8
constexpr size_t kOldPosLatitude = 8;      // f64
constexpr size_t kOldPosLongitude = 16;    // f64
constexpr size_t kOldPosHeight = 24;       // f32
constexpr size_t kOldPosTime = 28;         // f64
constexpr size_t kOldPosClockRef = 36;     // f64
constexpr size_t kOldPosClockBias = 44;    // f64
constexpr size_t kOldPosExtraValue = 52;   // f64
constexpr size_t kOldPosExtraWord = 60;    // i16

constexpr size_t kOldMeasurementSize = 44;
constexpr size_t kOldMeasSize = 0;   // i16
constexpr size_t kOldMeasPrn = 2;    // i8
constexpr size_t kOldMeasLock = 3;   // u8
constexpr size_t kOldMeasC1 = 4;     // f64
constexpr size_t kOldMeasL1 = 12;    // f64
constexpr size_t kOldMeasD1 = 20;    // f64
constexpr size_t kOldMeasP2 = 28;    // f64
constexpr size_t kOldMeasL2 = 36;    // f64
static_assert(kOldMeasL2 + 8 == kOldMeasurementSize, "measurement record ends with L2");
static_assert(kOldPosExtraWord + 2 + 6 == kOldPositionSize, "position record tail");

// Channels above this limit cannot occur in a valid record.
constexpr int kMaxRecordChannels = 24;

// Below this magnitude an old-format code or phase value counts as absent.
constexpr double kOldMinValue = 100.0;

// --- new-format epoch records ---
constexpr size_t kRecordHeaderSize = 84;
constexpr size_t kRecSync = 0;           // u16
constexpr size_t kRecType = 2;           // u16
constexpr size_t kRecLength = 4;         // u16
constexpr size_t kRecChecksum = 6;       // u16
constexpr size_t kRecBlockSize = 8;      // u16
constexpr size_t kRecBytesPerChannel = 10;  // u16
constexpr size_t kRecReserved = 12;      // u32
constexpr size_t kRecEpoch = 16;         // epoch block
constexpr size_t kChecksumStart = 8;     // first byte the checksum covers

constexpr uint16_t kSyncWord = 0xC33C;
constexpr uint16_t kRecordTypeEpoch = 1;

constexpr size_t kEpochBlockSize = 68;
constexpr size_t kEpFlags = 0;         // i16
constexpr size_t kEpNumChannels = 2;   // i16
constexpr size_t kEpLatitude = 4;      // f64
constexpr size_t kEpLongitude = 12;    // f64
constexpr size_t kEpHeight = 20;       // f32
constexpr size_t kEpRawRcvTime = 24;   // f64
constexpr size_t kEpRcvTime = 32;      // f64
constexpr size_t kEpClockRefTime = 40; // f64
constexpr size_t kEpRcvTimeMs = 48;    // i32
constexpr size_t kEpClockBias = 52;    // f64
constexpr size_t kEpExtraFloat = 60;   // f32
constexpr size_t kEpExtraWord1 = 64;   // i16
constexpr size_t kEpExtraWord2 = 66;   // i16
static_assert(kRecEpoch + kEpochBlockSize == kRecordHeaderSize, "epoch block closes the header");
static_assert(kEpExtraWord2 + 2 == kEpochBlockSize, "epoch block ends with ExtraWord2");

constexpr size_t kL1BlockSize = 28;
constexpr size_t kL1Prn = 0;     // u8
constexpr size_t kL1Status = 4;  // u8
constexpr size_t kL1Cn0 = 5;     // u8
constexpr size_t kL1Lock = 6;    // u16
constexpr size_t kL1C1 = 8;      // f64
constexpr size_t kL1L1 = 16;     // f64
constexpr size_t kL1D1 = 24;     // f32
static_assert(kL1D1 + 4 == kL1BlockSize, "L1 block ends with D1");

constexpr size_t kL2BlockSize = 28;
constexpr size_t kL2Status = 0;  // u8
constexpr size_t kL2Cn0 = 1;     // u8
constexpr size_t kL2Lock = 2;    // u16
constexpr size_t kL2P1 = 4;      // f64
constexpr size_t kL2P2 = 12;     // f64
constexpr size_t kL2L2 = 20;     // f64
static_assert(kL2L2 + 8 == kL2BlockSize, "L2 block ends with L2");

constexpr uint16_t kBytesPerChannelL1 = 28;
constexpr uint16_t kBytesPerChannelL1L2 = 56;
static_assert(kBytesPerChannelL1L2 == kL1BlockSize + kL2BlockSize, "L1 + L2 blocks");

// L1 block status bits.
constexpr uint8_t kL1StatusC1 = 0x01;
constexpr uint8_t kL1StatusL1 = 0x02;
constexpr uint8_t kL1StatusD1 = 0x04;
constexpr uint8_t kL1StatusLock = 0x08;
constexpr uint8_t kL1StatusCn0 = 0x10;
constexpr uint8_t kL1StatusFlag80 = 0x80;

// L2 block status bits.
constexpr uint8_t kL2StatusP2 = 0x01;
constexpr uint8_t kL2StatusL2 = 0x02;
constexpr uint8_t kL2StatusLock = 0x08;
constexpr uint8_t kL2StatusCn0 = 0x10;
constexpr uint8_t kL2StatusP1 = 0x20;

// Scales and limits of the new-format channel values.
constexpr double kCn0Unit = 0.25;       // dB-Hz per C/N0 count
constexpr double kLockUnit = 0.05;      // seconds per lock count
constexpr double kMaxLockTime = 1200.0; // lock times are limited to 0..1200
constexpr double kNewMinCode = 10.0;    // |code| at or below: absent
constexpr double kNewMinPhase = 0.01;   // |phase| at or below: absent

// Largest accepted distance between RawRcvTime and RcvTime, seconds.
constexpr double kMaxTimeOffset = 30.0;

}  // namespace gpbfmt
}  // namespace rawconv

#endif  // RAWCONV_GPB_GPB_FORMAT_H_
