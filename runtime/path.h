// Path text helpers. The system's paths split at '\' and ':' (drive
// letters); on POSIX '/' is a separator too, and the separator the helpers
// add is '/', so the paths kelvane prints look native on each system.
#ifndef KELVANE_RUNTIME_PATH_H_
#define KELVANE_RUNTIME_PATH_H_

#include <string_view>

#include "runtime/short_string.h"

namespace kelvane {

#ifdef _WIN32
constexpr char PathSeparator = '\\';
#else
constexpr char PathSeparator = '/';
#endif

// '\' everywhere, and '/' on POSIX.
inline bool IsPathSep(char C) {
#ifdef _WIN32
  return C == '\\';
#else
  return C == '\\' || C == '/';
#endif
}
inline bool IsPathDelim(char C) { return IsPathSep(C) || C == ':'; }

// Everything before the last separator or ':'. A ':' stays with the drive
// ("C:X" gives "C:"), and a root keeps its separator ("C:\X" gives "C:\",
// "/x" gives "/"). A path with neither gives "".
tShortString DirPart(std::string_view Path);
// Appends the separator unless Path is empty or already ends in a separator
// or ':'.
tShortString AddBackslash(std::string_view Path);
// Everything after the last separator or ':', at most 64 characters.
tShortString FileNamePart(std::string_view Path);
// The text after the last dot of the file-name part, without the dot.
tShortString ExtensionOf(std::string_view Path);
// The file-name part without its extension and dot.
tShortString BaseNameOf(std::string_view Path);

}  // namespace kelvane

#endif  // KELVANE_RUNTIME_PATH_H_
