// The extension rule shared by the library's output naming and the front
// end's request filling, and the lookup of the files that lie beside a GPB
// file (its ephemeris and station files) whatever the letter case of their
// extensions.
#ifndef RAWCONV_NAMING_FILE_EXT_H_
#define RAWCONV_NAMING_FILE_EXT_H_

#include <cstddef>
#include <string>

namespace rawconv {

// Removes leading blanks from path (in place), then replaces the extension
// of its last component by ext (which begins with "."), or appends ext when
// that component has none. Components are separated by backslashes (and,
// outside Windows paths, slashes). path holds capacity bytes; returns 0, or 1
// when the result would not fit (path is then left with its blanks removed).
int SetFileExt(char* path, const char* ext, size_t capacity = 256);

// The same rule on a path of any length. capacity 0 sets no limit; another
// value refuses, as above, a result that would not fit in capacity bytes
// (path is then left with its blanks removed).
int SetFileExt(std::string* path, const char* ext, size_t capacity = 0);

// The path of an existing file named by the first stem_length characters of
// stem followed by ext (".epp", ".sta"), the extension in any letter case.
// The spellings are tried in this order:
//   1. ext in lower case                          site.epp
//   2. ext in upper case                          site.EPP
//   3. any other case of ext, in the folder of stem; among several the
//      smallest name in byte order, so the choice does not depend on the
//      order of the folder's entries          site.Epp
// The part of the name before the extension is never varied, and folders
// do not count as files. When no file of these names exists, out gets the
// lower-case spelling, so that a message about the missing file names it.
// On Windows, whose file systems ignore letter case, out always gets the
// lower-case spelling.
// The folder is the part of stem up to its last slash (none: the current
// folder). out holds size bytes and must not overlap stem. Returns 0 with out set, or 1 when
// the name does not fit (out is then empty when size > 0).
int FindFileAnyCaseExt(const char* stem, size_t stem_length, const char* ext, char* out,
                       size_t size);

// Length of path without a trailing ".gz" (any letter case): the name a
// gzip input goes by (site1.gpb.gz -> site1.gpb), from which the names
// derived from an input are made.
size_t WithoutGzipSuffixLength(const char* path);

// The stem names are made from for an input file: its file name (after the
// last slash or backslash) without a ".gz" suffix, then without its
// extension (site1.gpb.gz -> site1, site1.gpb -> site1).
std::string InputStemOf(const char* path);

// FindFileAnyCaseExt for an input file: when no file of ext's spellings
// exists and the calling thread reads gzip inputs (lib/io InputRules), the
// same lookup with ext followed by ".gz" (site.epp, then site.epp.gz);
// when neither exists, out gets the lower-case spelling of ext without
// ".gz". Results as FindFileAnyCaseExt.
int FindInputFileAnyCaseExt(const char* stem, size_t stem_length, const char* ext, char* out,
                            size_t size);

// The file beside a GPB file: gpb_path without a ".gz" suffix, named as
// SetFileExt names it with ext (site.GPB -> site.epp, site.dat -> site.epp,
// site.gpb.gz -> site.epp; leading blanks dropped), then looked up with
// FindInputFileAnyCaseExt, so that UPPER.GPB finds UPPER.EPP, site.gpb finds
// site.Epp, and site.gpb finds site.epp.gz when there is no site.epp.
// Returns 0 with out set (the existing file's spelling, else the lower-case
// one), or 1 when the name does not fit in size bytes (out is then empty
// when size > 0).
int FindBesideFile(const char* gpb_path, const char* ext, char* out, size_t size);

// FindBesideFile without a size limit.
std::string BesideFile(const char* gpb_path, const char* ext);

}  // namespace rawconv

#endif  // RAWCONV_NAMING_FILE_EXT_H_
