// Station files in the older list layout: "STA:" records of asterisk-
// separated fields (time, quoted name, height, two quoted comments).
#ifndef RAWCONV_OBS_STA_LIST_H_
#define RAWCONV_OBS_STA_LIST_H_

namespace rawconv {

constexpr int kMaxStaRecords = 500;

struct StaRecord {
  double StaTime;  // seconds of week
  char StaName[5];
  double StaHeight;
  char StaComment1[128];
  char StaComment2[128];
};

// Reads up to kMaxStaRecords records into table (zeroed by the caller);
// returns the number read.
int ReadStaList(const char* path, StaRecord* table);

// Fills record from one record text.
void ParseStaLine(const char* text, StaRecord* record);

}  // namespace rawconv

#endif  // RAWCONV_OBS_STA_LIST_H_
