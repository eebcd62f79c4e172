// Reader of block-structured text files (EPP "GpsEph" blocks, station
// information blocks):
//
//     sta {
//       ID: "Base 1"        ; comment
//       Hi: 1.523 SLANT
//     }
//
// ReadBlock reads one block at a time into a caller-owned BlockRecord;
// GetBlockValues finds an entry by key and converts its values with
// ScanValues. The working buffers live in the current context.
#ifndef RAWCONV_EPHEM_BLOCK_READER_H_
#define RAWCONV_EPHEM_BLOCK_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace rawconv {

constexpr int kBlockMaxEntries = 32;
constexpr int kBlockMaxValues = 15;
constexpr int kBlockValueSize = 256;
// Every "%s"/"%S" output of GetBlockValues/ScanValues must hold this many bytes.
constexpr size_t kScanTextSize = 768;

struct BlockEntry {
  char Key[32];      // first word of the line, colon included
  int16_t ValueCount;
  int16_t Used;      // set by the first lookup that finds the entry
  char Values[kBlockMaxValues][kBlockValueSize];  // quotes kept, quoted blanks as '`'
};

struct BlockRecord {
  char Name[32];
  int32_t EntryCount;
  BlockEntry Entries[kBlockMaxEntries];
};

// Reads up to the end of the next block. 0 a block was read, -1 end of the
// stream before an opening line, 1 the opening line gave no name.
int ReadBlock(std::FILE* stream, BlockRecord* record);

// Converts the values of the first unused entry with the key (any letter
// case). -1 no such entry, else the number of values converted.
int GetBlockValues(const char* key, BlockRecord* record, const char* format, ...);

// scanf-like conversion of text (which is modified) with the directives %c
// %d %ld %l %e %f %le %lf %s %S. Returns the number of conversions, -1 for an
// unrecognised directive.
int ScanValues(char* text, const char* format, ...);

// Replaces every backquote in text by c.
void ReplaceBackquotes(char* text, char c);

// Copies source (cut in place to size - 1 characters) into a field of size
// bytes, backquotes becoming blanks and trailing blanks removed.
void CopyFieldText(char* dest, char* source, size_t size);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_BLOCK_READER_H_
