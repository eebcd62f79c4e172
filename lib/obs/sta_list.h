// Station files in the older list layout: "STA:" records of asterisk-
// separated fields (time, quoted name, height, two quoted comments):
//
//     STA: *86400.5*"BASE"*1.523*"first comment"*"second comment"*
//
// The file is read as whitespace-separated words; a record starts at the
// word "STA:" and its text is the rest of that line up to a line feed or an
// apostrophe. Other words are passed over.
#ifndef RAWCONV_OBS_STA_LIST_H_
#define RAWCONV_OBS_STA_LIST_H_

namespace rawconv {

constexpr int kMaxStaRecords = 500;
// Longest word and longest record text taken from a STA: list. A longer word
// or record text is cut there and the rest of its line is dropped.
constexpr int kMaxStaText = 111;

struct StaRecord {
  double StaTime;  // seconds of week
  char StaName[5];
  double StaHeight;
  char StaComment1[128];
  char StaComment2[128];
};

// Reads up to kMaxStaRecords records into table (kMaxStaRecords records,
// zeroed by the caller); returns the number read, 0 when the file cannot be
// opened or holds no record. Reports nothing in the error text.
int ReadStaList(const char* path, StaRecord* table);

// Fills record (zeroed by the caller) from one record text. Fields are
// delimited by asterisks; anything before the first is ignored:
//   1st..2nd  time (a number, 0 when there is none)
//   2nd..3rd  name without its first and last character (the quote marks),
//             empty when shorter than two characters, cut to 4 characters
//   3rd..4th  height; with no 4th asterisk height and comments stay empty
//   4th..5th  comment 1 without its quote marks; a field shorter than two
//             characters empties both comments
//   5th..6th  comment 2 without its quote marks
// A field whose closing asterisk is missing runs to the end of the text.
// Comments are cut to 127 characters.
void ParseStaLine(const char* text, StaRecord* record);

}  // namespace rawconv

#endif  // RAWCONV_OBS_STA_LIST_H_
