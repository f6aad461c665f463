// Path text helpers: the pieces of a path as the system cuts them.
#include "runtime/path.h"

namespace kelvane {

namespace {

// Position of the last separator or ':', or npos.
size_t LastDelim(std::string_view Path) {
  for (size_t I = Path.size(); I-- > 0;)
    if (IsPathDelim(Path[I])) return I;
  return std::string_view::npos;
}

}  // namespace

tShortString DirPart(std::string_view Path) {
  size_t I = LastDelim(Path);
  if (I == std::string_view::npos) return tShortString();
  // The drive's colon stays, and so does the separator of a root ("\",
  // "C:\", "/").
  bool Root = Path[I] == ':' || I == 0 || (I == 2 && Path[1] == ':');
  return tShortString(Path.substr(0, Root ? I + 1 : I));
}

tShortString AddBackslash(std::string_view Path) {
  tShortString R(Path);
  if (!Path.empty() && !IsPathDelim(Path.back())) R.Append(PathSeparator);
  return R;
}

tShortString FileNamePart(std::string_view Path) {
  size_t I = LastDelim(Path);
  std::string_view Name = I == std::string_view::npos ? Path : Path.substr(I + 1);
  return tShortString(Name.substr(0, 64));
}

tShortString ExtensionOf(std::string_view Path) {
  tShortString Name = FileNamePart(Path);
  size_t Dot = Name.FindLast('.');
  return Dot == tShortString::npos ? tShortString() : Name.Sub(Dot + 1);
}

tShortString BaseNameOf(std::string_view Path) {
  tShortString Name = FileNamePart(Path);
  size_t Dot = Name.FindLast('.');
  if (Dot != tShortString::npos) Name.Truncate(Dot);
  return Name;
}

}  // namespace kelvane
