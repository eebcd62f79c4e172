// EPP ephemeris files: a "$EPHREC" header line, then "GpsEph" blocks of GPS
// broadcast ephemerides in RINEX units.
#ifndef RAWCONV_EPHEM_EPP_H_
#define RAWCONV_EPHEM_EPP_H_

#include <cstdint>
#include <cstdio>

namespace rawconv {

struct EphemerisRecord {
  int32_t Prn;
  int32_t Week;  // below 700 in the file: stored plus 1024
  int32_t Extra;
  double Tgd;
  int32_t Iodc;
  int32_t Toc;
  double Af2;
  double Af1;
  double Af0;
  int32_t Iode;
  double DeltaN;
  double M0;
  double Ecc;
  double SqrtA;
  int32_t Toe;
  double Cic;
  double Crc;
  double Cis;
  double Crs;
  double Cuc;
  double Cus;
  double Omega0;
  double Omega;
  double I0;
  double OmegaDot;
  double Idot;
};

// Reads the first three words of the stream; the first must be "$EPHREC".
// 0 valid; 1 with "Header of EPP file invalid, not EPP file" in the error text.
int CheckEppHeader(std::FILE* stream);

// Reads the next "GpsEph" record. 0 read, -1 no further record.
int ReadEphemerisRecord(std::FILE* stream, EphemerisRecord* record);

// Week (as read, no completion) and toe of the reference ephemeris of the
// file. 0 found; 1 (no message) when the path is empty or missing, the file
// cannot be read, or it holds no acceptable record.
int FindReferenceEphemeris(const char* path, int* week, double* toe);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_EPP_H_
