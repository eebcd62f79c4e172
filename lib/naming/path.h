// Taking paths apart: folder part, file name, stem and extension, in one
// place for the whole library.
//
// Two separator rules exist. The native rule splits at '/' and, on Windows
// only, at '\\' too; it is the default and names files as the system sees
// them. The either-slash rule splits at '/' and '\\' on every system: the
// paths of the dialog library and the names derived from an input's name
// (output names, station codes) have always been read that way, since they
// may come from Windows, and their outputs must not change.
#ifndef RAWCONV_NAMING_PATH_H_
#define RAWCONV_NAMING_PATH_H_

#include <cstddef>
#include <string>

namespace rawconv {

enum class PathRule { kNative, kEitherSlash };

// Whether c separates the components of a path under the rule.
bool IsPathSeparator(char c, PathRule rule = PathRule::kNative);

// Offset of the last component of path (0 when it has no folder part).
size_t FileNameStart(const char* path, PathRule rule = PathRule::kNative);

// The last component of path, pointing into it ("site1.gpb" of
// "/data/site1.gpb"; "" for "/data/").
const char* FileNameOf(const char* path, PathRule rule = PathRule::kNative);

// The folder part of path with its trailing separator ("/data/" of
// "/data/site1.gpb"; "" for a bare name).
std::string FolderOf(const char* path, PathRule rule = PathRule::kNative);

// The file name without its extension ("site1" of "/data/site1.gpb"). A name
// whose only dot is its first character (".hidden") is kept whole.
std::string StemOf(const char* path, PathRule rule = PathRule::kNative);

// Length of path without the extension of its last component: the part up
// to the last '.' after the last separator, or the whole path when there is
// none. Unlike StemOf, a leading dot of the name starts an extension.
size_t WithoutExtensionLength(const char* path, PathRule rule = PathRule::kNative);

// folder and name joined by a '/' unless folder is empty or already ends
// in a separator under the rule.
std::string JoinPath(const std::string& folder, const char* name,
                     PathRule rule = PathRule::kNative);

}  // namespace rawconv

#endif  // RAWCONV_NAMING_PATH_H_
