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
//
// Line syntax: a line opens a block when a "{" comes before any ";" with
// fewer than 16 characters before it, at least one of them a blank or tab and
// one something else; the block's name is the line's first word. Entry lines
// follow (the first is the rest of the opening line); a ";" starts a comment,
// a "}" ends the block, blanks between double quotes are stored as
// backquotes. Lines are read kBlockLineChars characters at a time: a longer
// line is taken as several consecutive lines, each piece an entry line of
// its own. A line ends at LF, CR LF or a lone CR; a NUL byte reads as a
// blank.
#ifndef RAWCONV_EPHEM_BLOCK_READER_H_
#define RAWCONV_EPHEM_BLOCK_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace rawconv {

constexpr int kBlockMaxEntries = 32;
constexpr int kBlockMaxValues = 15;
constexpr int kBlockValueSize = 256;
constexpr int kBlockKeySize = 32;   // keys longer than 31 characters are cut
constexpr int kBlockNameSize = 32;  // names longer than 31 characters are cut
constexpr int kBlockLineChars = 254;  // characters taken per line read
constexpr int kBlockMaxPrefix = 16;   // an opening line has fewer before "{"
constexpr int kBlockJoinedChars = 767;  // joined values longer than this are cut
// Every "%s"/"%S" output of GetBlockValues/ScanValues must hold this many bytes.
constexpr size_t kScanTextSize = 768;

struct BlockEntry {
  char Key[kBlockKeySize];  // first word of the line, colon included
  int16_t ValueCount;
  int16_t Used;      // set by the first lookup that finds the entry
  char Values[kBlockMaxValues][kBlockValueSize];  // quotes kept, quoted blanks as '`'
};

struct BlockRecord {
  char Name[kBlockNameSize];
  int32_t EntryCount;  // 0..kBlockMaxEntries
  BlockEntry Entries[kBlockMaxEntries];
};

// Reads from the stream's position to the end of the next block into record
// (overwritten). 0 a block was read (perhaps without entries), -1 end of the
// stream before an opening line was complete, 1 the opening line gave no
// name. After kBlockMaxEntries entries the block counts as complete; its
// remaining lines are passed over by the next call.
int ReadBlock(std::FILE* stream, BlockRecord* record);

// Reads one text line into line (size bytes, at least 2): its first size - 1
// characters without the line end, NUL-terminated; the rest of a longer line
// is read and dropped. Line ends and NUL bytes as for ReadBlock. false at
// the end of the stream when no character was left.
bool ReadTextLine(std::FILE* stream, char* line, size_t size);

// Reads the start of a text line into line (size bytes, at least 2): at most
// size - 1 characters without the line end, NUL-terminated. Unlike
// ReadTextLine, the rest of a longer line stays in the stream: the next read
// begins with it. Line ends and NUL bytes as for ReadBlock. false at the end
// of the stream when no character was left.
bool ReadLineStart(std::FILE* stream, char* line, size_t size);

// Converts the values of the first unused entry with the key (any letter
// case) and marks the entry used. The values are joined without their double
// quotes, each followed by a blank, at most kBlockJoinedChars characters, and
// scanned with ScanValues (same output contract). -1 no such entry, else the
// number of values converted (0 also for an unrecognised directive).
int GetBlockValues(const char* key, BlockRecord* record, const char* format, ...);

// scanf-like conversion of text, which is modified (word ends become NULs).
// Words are separated by blanks, commas and tabs; characters of the format
// other than directives are ignored. Outputs by directive:
//   %c          char*     first character of the word
//   %d %ld %l   int32_t*  decimal prefix (0 if none); a word beginning with
//                         "." ends the scan before the conversion. A bare %l
//                         is one at the end of the format or before a "%".
//   %e %f       float*    numeric prefix
//   %le %lf     double*   numeric prefix
//   %s          char*     the word
//   %S          char*     the rest of the text, unsplit; ends the scan
// Every %s/%S output must hold kScanTextSize bytes (longer texts are cut).
// Returns the number of conversions made (the scan ends at the end of the
// text), or -1 for an unrecognised directive.
int ScanValues(char* text, const char* format, ...);

// Replaces every backquote in text by c.
void ReplaceBackquotes(char* text, char c);

// Copies source (cut in place to size - 1 characters) into a field of size
// bytes, backquotes becoming blanks and trailing blanks removed.
void CopyFieldText(char* dest, char* source, size_t size);

}  // namespace rawconv

#endif  // RAWCONV_EPHEM_BLOCK_READER_H_
