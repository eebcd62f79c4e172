// RINEX 3 observation files (versions 3.02, 3.03, 3.04, 3.05) and RINEX 4.00
// observation files, written from the same pre-scan and the same epoch
// stream as the RINEX 2 files.
//
// Header (values in columns 1-60, label from column 61; texts of the request
// are cut to their columns):
//
//        3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE
//   RAWCONV v7.00       <RunBy>             20051207 143000 LCL PGM / RUN BY / DATE
//   MARKER NAME, MARKER NUMBER (when given)              (as in RINEX 2)
//   GEODETIC                                             MARKER TYPE (A20; when given)
//   OBSERVER / AGENCY, REC # / TYPE / VERS, ANT # / TYPE,
//   APPROX POSITION XYZ, ANTENNA: DELTA H/E/N            (as in RINEX 2)
//   G    6 C1C L1C L2W C1W C2W D1C                       SYS / # / OBS TYPES
//   R    6 C1C L1C L2P C1P C2P D1C                       (GLONASS present)
//   DBHZ                                                 SIGNAL STRENGTH UNIT (S types)
//       30.000                                           INTERVAL (when known)
//     2005    10    27     0     0    0.0000000     GPS  TIME OF FIRST OBS
//     2005    10    27    23    59   30.0000000     GPS  TIME OF LAST OBS
//   G L1C  0.00000                                       SYS / PHASE SHIFT (one per phase type; 3.0x)
//    12 R01  1 R02 -4 ...                                GLONASS SLOT / FRQ # (GLONASS present)
//    C1C          C1P          C2C          C2P          GLONASS COD/PHS/BIS (GLONASS present; 3.0x)
//                                                        END OF HEADER
//
// What differs between the versions:
//   3.02, 3.03, 3.04, 3.05: the same records; SYS / PHASE SHIFT is required
//     from 3.01 on, GLONASS SLOT / FRQ # and GLONASS COD/PHS/BIS from 3.02 on
//     in files with GLONASS (blank biases: unknown, as 3.03 spells out).
//   4.00: the version line says 4.00; SYS / PHASE SHIFT and GLONASS
//     COD/PHS/BIS are deprecated there (readers and writers are to ignore
//     them) and are not written. Epoch and satellite records as 3.0x.
// MARKER TYPE is wanted by 3.0x and 4.00 unless the marker is GEODETIC (the
// meaning when the record is absent); its names are kMarkerTypeNames.
//
// The system letter is "G (GPS)", or "M (MIXED)" as soon as a GLONASS
// satellite occurs. No phase correction is applied to the data, so every
// phase type is listed with the correction 0. The GLONASS biases are
// unknown to the receiver data and left blank; frequency channels are those
// the pre-scan found from the data (satellites it could not tell are left
// out of the list).
//
// Observation codes, in the order of the RINEX 2 types C1 L1 L2 P1 P2 D1 S1 S2
// (table in rinex3_codes.h):
//   GPS:     C1C L1C L2W C1W C2W D1C S1C S2W
//   GLONASS: C1C L1C L2P C1P C2P D1C S1C S2P
//
// Epoch record:
//   "> yyyy mm dd hh mm ss.sssssss  f nn" (A1,1X,I4,4(1X,I2.2),F11.7,2X,I1,I3)
//   then one line per satellite: "Gnn"/"Rnn" and per type F14.3, the
//   loss-of-lock indicator (I1) and the signal strength indicator (I1).
//   A value of 0 (not observed) is written as 16 blanks. LLI 1: lock lost
//   (same rule as RINEX 2). SSI 1..9 from the carrier-to-noise density of
//   the frequency (dB-Hz / 6, at least 1, at most 9) on the code, phase and
//   Doppler values; blank when the receiver gave none.
//   Satellites: GPB 1..32 are Gnn; GPB 33..96 are GLONASS slot GPB - 32, Rnn.
//   Satellites with no RINEX 3 number (below 1 or above 96) are left out.
// Event records (flag 2 start of kinematic data, flag 3 new site occupation
// from the station file or end of kinematic data) carry the epoch's date and
// the number of header records that follow, which are those of RINEX 2.
#ifndef RAWCONV_OBS_RINEX3_OBS_H_
#define RAWCONV_OBS_RINEX3_OBS_H_

#include <cstddef>
#include <memory>

#include "obs/obs_writer.h"
#include "sink/sink.h"

namespace rawconv {

constexpr char kRinex3ObsTypeText[] = "OBSERVATION DATA    ";  // columns 21-40
constexpr char kRinex3SystemGps[] = "G (GPS)";
constexpr char kRinex3SystemMixed[] = "M (MIXED)";
constexpr char kLabelMarkerType[] = "MARKER TYPE";
constexpr char kLabelSysObsTypes[] = "SYS / # / OBS TYPES";
constexpr char kLabelSignalUnit[] = "SIGNAL STRENGTH UNIT";
constexpr char kLabelPhaseShift[] = "SYS / PHASE SHIFT";
constexpr char kLabelGlonassSlots[] = "GLONASS SLOT / FRQ #";
constexpr char kLabelGlonassBiases[] = "GLONASS COD/PHS/BIS";
constexpr char kRinex3SignalUnit[] = "DBHZ";

// The MARKER TYPE names of RINEX 3 and 4.
constexpr int kMarkerTypeCount = 14;
constexpr const char* kMarkerTypeNames[kMarkerTypeCount] = {
    "GEODETIC",      "NON_GEODETIC", "NON_PHYSICAL",  "SPACEBORNE", "GROUND_CRAFT",
    "WATER_CRAFT",   "AIRBORNE",     "FIXED_BUOY",    "FLOATING_BUOY", "FLOATING_ICE",
    "GLACIER",       "BALLISTIC",    "ANIMAL",        "HUMAN"};
constexpr int kMarkerTypeColumns = 20;  // A20

constexpr FixedFormat kFmtRinex3Version{9, 2};  // "%9.2f"
constexpr FixedFormat kFmtRinex3EpochSec{11, 7};  // F11.7
constexpr FixedFormat kFmtPhaseShift{8, 5};       // F8.5
constexpr int kGlonassSlotsPerLine = 8;

// Signal strength indicator written after each value of a frequency, from
// that frequency's carrier-to-noise density in dB-Hz: 0 (a blank) for a
// density that is not above 0, else 1 below 12 dB-Hz, then one step per
// 6 dB-Hz, 9 from 54 on.
int StrengthIndicator(double cn0);

// The RINEX 3 code of RINEX 2 type `index` (0..7 in the order C1 L1 L2 P1
// P2 D1 S1 S2) for a GPS (glonass false) or GLONASS satellite.
const char* Rinex3ObsCode(int index, bool glonass);

// A MARKER TYPE name in any case -> its upper-case spelling in upper
// (kMarkerTypeColumns + 1 bytes). False (upper untouched) for any other text.
bool ParseMarkerType(const char* text, char* upper);

// Writes the header to sink. version: 302, 303, 304, 305 or 400
// (rinex_versions.h). TIME OF FIRST OBS and TIME OF LAST OBS take their week
// from ref, as the RINEX 2 header does. 0 when the whole header was written;
// 1 when the run date could not be formatted (only the first line is
// written); 2 for any other version (nothing is written).
// edits: the user's metadata (COMMENT lines after PGM / RUN BY / DATE,
// MARKER NUMBER, MARKER TYPE, receiver, antenna, position, antenna delta) and, with
// FullHeader, "# OF SATELLITES" and "PRN / # OF OBS" before END OF HEADER;
// null or zero leaves the header as above.
int WriteObs3Header(Sink& sink, const ObsInput& request, const ObsHeaderSummary& summary,
                    int version, const WeekReference& ref, const ObsEdits* edits = nullptr,
                    const RunClock& clock = DefaultRunClock());

// Second pass: every epoch of request.GpbFile with its station and
// kinematic events, in RINEX 3 layout. The week of an epoch follows the
// same rules as the RINEX 2 writer (week override, else ref). 0; 2 for a
// version WriteObs3Header does not take (nothing is written).
// edits->Select (when given) picks epochs and satellites as in
// StreamObsEpochs; the types written are those of summary.
int WriteObs3Epochs(Sink& sink, const ObsInput& request, const ObsHeaderSummary& summary,
                    int version, const WeekReference& ref, const ObsEdits* edits = nullptr,
                    ReadingPass* pass = nullptr);

// The RINEX 3 epoch writer of WriteObs3Epochs, writing the types of summary
// (which must outlive it) into sink.
std::unique_ptr<EpochRecordWriter> MakeRinex3EpochWriter(Sink& sink,
                                                         const ObsHeaderSummary& summary,
                                                         bool reference = false);

}  // namespace rawconv

#endif  // RAWCONV_OBS_RINEX3_OBS_H_
