// Base identifiers: the canonical form, the factory that opens a base, and
// the deletion of a base's files (see baseid.h for the identifier forms).
#include "msgbase/baseid.h"

#include <string>
#include <vector>

#include "msgbase/jam.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "msgbase/pkt.h"
#include "msgbase/squish.h"
#include "runtime/case866.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"

namespace kelvane {

namespace {

// The letter table in the order packet, Squish, JAM, *.MSG, and the
// alternative letters of the last three.
constexpr char BaseLetters[] = "PSJF";
constexpr char AltLetters[] = "\0$!#";

// The file-name part of a path without the 64-character cut of
// FileNamePart: a base whose name is longer must keep its whole name, or
// the cut name could be that of another base, which DeleteBase would then
// erase.
std::string_view WholeFileName(std::string_view Path) {
  size_t I = Path.size();
  while (I > 0 && !IsPathDelim(Path[I - 1])) --I;
  return Path.substr(I);
}

std::string_view ExtensionPart(std::string_view Path) {
  std::string_view Name = WholeFileName(Path);
  size_t Dot = Name.rfind('.');
  return Dot == std::string_view::npos ? std::string_view() : Name.substr(Dot + 1);
}

std::string_view BaseNamePart(std::string_view Path) {
  std::string_view Name = WholeFileName(Path);
  size_t Dot = Name.rfind('.');
  return Dot == std::string_view::npos ? Name : Name.substr(0, Dot);
}

// Path with a separator added as AddBackslash adds it, but never cut: the
// caller checks the length of the whole.
std::string WithSeparator(std::string_view Path) {
  std::string R(Path);
  if (!Path.empty() && !IsPathDelim(Path.back())) R += PathSeparator;
  return R;
}

bool IsOneOf(std::string_view Ext, std::initializer_list<std::string_view> Names) {
  for (std::string_view N : Names)
    if (SameText866(Ext, N)) return true;
  return false;
}

// The extensions that name a Squish or JAM base file; they are dropped from
// a canonical identifier, which names the base, not one of its files.
bool IsBaseFileExtension(std::string_view Ext) { return IsOneOf(Ext, {"jhr", "jdt", "jdx", "sqd", "sqi"}); }

// The type letter a bare path gets from its extension; empty when the
// extension names no format.
std::string_view LetterOfExtension(std::string_view Path) {
  std::string_view Ext = ExtensionPart(Path);
  return IsOneOf(Ext, {"jhr", "jdt", "jdx"}) ? "!"
         : IsOneOf(Ext, {"sqd", "sqi"})      ? "$"
         : Ext.empty()                       ? "#"
         : SameText866(Ext, "pkt")           ? "P"
                                             : "";
}

}  // namespace

tBaseKind BaseKindOf(char Letter) {
  char Up = UpperCase866(Letter);
  for (int I = 0; I < 4; ++I)
    if (Up == BaseLetters[I] || (Up == AltLetters[I] && Up != '\0')) return static_cast<tBaseKind>(I);
  return bkNone;
}

tShortString NormaliseBasePath(std::string_view Identifier) {
  // Built in full and refused when it does not fit: an identifier cut at
  // 255 characters could name another base (its mask or its last letters
  // gone, or a parent folder).
  if (Identifier.empty() || Identifier.size() > tShortString::MaxLength) return tShortString();
  std::string Id(Identifier);

  if (BaseKindOf(Id[0]) == bkNone) Id = std::string(LetterOfExtension(Id)) + Id;

  // The pieces of the path are cut from what follows the type letter: with
  // the letter in front, "SC:\AREA" would not be seen as a base in the root
  // of drive C: and would lose the root's backslash, naming AREA in drive
  // C:'s current directory instead.
  auto Letter = [&Id] { return Id.substr(0, 1); };
  auto PathOf = [&Id] { return std::string_view(Id).substr(1); };

  if (IsBaseFileExtension(ExtensionPart(Id))) {
    std::string Stem(BaseNamePart(PathOf()));
    Id = Letter() + AddBackslash(DirPart(PathOf())).ToStdString() + Stem;
  }

  switch (BaseKindOf(Id[0])) {
    case bkMsgDir:
      // A canonical identifier already ends in the mask; adding it again
      // would name a directory called "*.msg".
      if (!SameText866(WholeFileName(Id), "*.msg")) Id = WithSeparator(Id) + "*.msg";
      break;
    case bkPacket:
    case bkSquish:
    case bkJam: {
      std::string Name(WholeFileName(PathOf()));
      Id = Letter() + AddBackslash(DirPart(PathOf())).ToStdString() + Name;
      break;
    }
    case bkNone:
      break;
  }
  if (Id.size() > tShortString::MaxLength) return tShortString();
  return tShortString(Id);
}

bool WholeName(tShortString& Out, std::initializer_list<std::string_view> Parts) {
  size_t Length = 0;
  for (std::string_view P : Parts) Length += P.size();
  Out.Clear();
  if (Length > tShortString::MaxLength) return false;
  for (std::string_view P : Parts) Out.Append(P);
  return true;
}

bool SplitBaseId(std::string_view Identifier, tBaseKind& Kind, tShortString& Path) {
  Kind = bkNone;
  Path.Clear();
  if (Identifier.size() <= 1) return true;
  tShortString Id = NormaliseBasePath(Identifier);
  if (Id.Empty()) return true;  // it does not fit
  Kind = BaseKindOf(Id[0]);
  Path = Id.Sub(1);
  return false;
}

std::unique_ptr<tMsgBase> OpenBase(std::string_view Identifier, int32_t Mode,
                                   const std::function<void(tMsgBase&)>& Prepare) {
  tBaseKind Kind;
  tShortString Path;
  if (SplitBaseId(Identifier, Kind, Path)) return nullptr;

  std::unique_ptr<tMsgBase> Base;
  switch (Kind) {
    case bkMsgDir:
      Base = std::make_unique<tMsgDirBase>();
      break;
    case bkJam:
      Base = std::make_unique<tJamBase>();
      break;
    case bkPacket:
      Base = std::make_unique<tPktBase>();
      break;
    case bkSquish:
      Base = std::make_unique<tSquishBase>();
      break;
    default:
      return nullptr;
  }
  if (Prepare) Prepare(*Base);
  if (Base->Open(Path, Mode) || Base->Closed != cbOpen) {
    // Another writer may have made the base between the two: it is opened.
    if (Base->Create(Path, Mode) && (Base->Open(Path, Mode) || Base->Closed != cbOpen)) return nullptr;
  }
  return Base;
}

const char* FormatName(tBaseKind Kind) {
  static const char* const Names[] = {"packet", "Squish", "JAM", "*.MSG", "no format"};
  return Names[Kind >= bkPacket && Kind <= bkNone ? Kind : bkNone];
}

tShortString BarePathId(std::string_view Path) {
  tShortString Id;
  std::string_view Letter = LetterOfExtension(Path);
  if (Path.empty() || Letter.empty() || !WholeName(Id, {Letter, Path})) Id.Clear();
  return Id;
}

bool SameBase(std::string_view A, std::string_view B) {
  tBaseKind KindA, KindB;
  tShortString PathA, PathB;
  return !SplitBaseId(A, KindA, PathA) && !SplitBaseId(B, KindB, PathB) && KindA == KindB && SamePath(PathA, PathB);
}

namespace {

// The last name of a path, without trailing separators or a drive letter
// before it, and without the dots and blanks at its end that Windows drops
// from a name; empty when that leaves no name ("", "." or "..").
std::string_view LastName(std::string_view P) {
  while (!P.empty() && IsPathSep(P.back())) P.remove_suffix(1);
  size_t Sep = P.find_last_of("\\/");
  if (Sep != std::string_view::npos) P.remove_prefix(Sep + 1);
  if (P.size() >= 2 && P[1] == ':') P.remove_prefix(2);
  if (P == "." || P == "..") return std::string_view();
  while (!P.empty() && (P.back() == '.' || P.back() == ' ')) P.remove_suffix(1);
  return P;
}

}  // namespace

bool SamePath(std::string_view A, std::string_view B) {
  // Two paths of one file end in the same name: most pairs differ there,
  // and are told apart without making either path whole (which costs a
  // call to the system for a relative path). Paths that end in "." or
  // ".." are made whole to be compared.
  std::string_view NameA = LastName(A), NameB = LastName(B);
  if (!NameA.empty() && !NameB.empty() && !SameText866(NameA, NameB)) return false;
  // Links are not followed; a trailing separator does not count.
  auto Canonical = [](std::string_view P) {
    tShortString Full = FullPathOf(P);
    while (Full.Length() > 1 && IsPathSep(Full.Last()) && Full[Full.Length() - 2] != ':') Full.Truncate(Full.Length() - 1);
    return Full;
  };
  return SameText866(Canonical(A), Canonical(B));
}

namespace {

// Whether two names are one to the file layer: ASCII letters in either
// case, as it finds names.
bool SameFolded(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    char X = A[I], Y = B[I];
    if (X >= 'a' && X <= 'z') X = static_cast<char>(X - 32);
    if (Y >= 'a' && Y <= 'z') Y = static_cast<char>(Y - 32);
    if (X != Y) return false;
  }
  return true;
}

// The files Path + each of Exts that exist, under the names they have on
// disk, into Files; false when a name would not fit. Names are found
// whatever their case, as Windows finds them. On a system where names
// differ by case, a base whose name differs from this one's only by case
// is another base: when a file of exactly this base's name is there, only
// files of exactly its name are its own.
bool AddBaseFiles(std::string_view Path, std::initializer_list<const char*> Exts, std::vector<tShortString>& Files) {
  std::string_view Stem = WholeFileName(Path);
  tShortString Mask, Name;
  for (const char* Ext : Exts)
    if (!WholeName(Name, {Path, Ext})) return false;
  if (!WholeName(Mask, {Path, ".*"})) return false;
  std::vector<tDirEntry> Entries;
  ListDir(Mask, Entries);
  auto Ours = [&](const tDirEntry& E, const char* Ext) {
    return !E.IsDir && SameFolded(E.Name.View(), std::string(Stem) + Ext);
  };
  bool Exact = false;
  for (const tDirEntry& E : Entries)
    for (const char* Ext : Exts) Exact = Exact || (Ours(E, Ext) && E.Name.View().substr(0, Stem.size()) == Stem);
  tShortString Prefix = AddBackslash(DirPart(Path));
  for (const char* Ext : Exts) {
    // The listing is in byte order: the first match is the one the file
    // layer would open.
    for (const tDirEntry& E : Entries) {
      if (!Ours(E, Ext) || (Exact && E.Name.View().substr(0, Stem.size()) != Stem)) continue;
      if (!WholeName(Name, {Prefix, E.Name})) return false;
      Files.push_back(Name);
      break;
    }
  }
  return true;
}

}  // namespace

bool BaseFiles(std::string_view Identifier, std::vector<tShortString>& Files) {
  Files.clear();
  if (Identifier.empty()) return true;
  // A type letter alone names no base: its path would be empty, and for a
  // *.MSG directory the mask would then stand for the root directory.
  if (Identifier.size() == 1 && BaseKindOf(Identifier[0]) != bkNone) return false;
  // An identifier, or a file name of its base, that does not fit is no
  // base to name: cut, it would be another file's.
  tShortString Id = NormaliseBasePath(Identifier);
  if (Id.Empty()) return true;
  tBaseKind Kind = BaseKindOf(Id[0]);
  std::string_view Path = Id.View().substr(1);
  tShortString Name;
  auto Add = [&](std::initializer_list<std::string_view> Parts) {
    if (!WholeName(Name, Parts)) return false;
    if (FileExists(Name)) Files.push_back(Name);
    return true;
  };
  bool Whole = true;
  switch (Kind) {
    case bkMsgDir: {
      tShortString Dir = DirPart(Path);
      if (!Dir.Empty() && !DirExists(Dir)) break;
      std::vector<tDirEntry> Entries;
      if (!ListDir(Path, Entries)) break;
      tShortString Prefix = AddBackslash(Dir);
      for (const tDirEntry& E : Entries) {
        // The listing matches "*.msg" the way the system does, which may
        // also return names such as "1.msgold"; only MSG files go.
        if (E.IsDir || !SameText866(ExtensionPart(E.Name), "MSG")) continue;
        Whole = Whole && Add({Prefix, E.Name});
      }
      break;
    }
    case bkPacket:
      Whole = Add({Path});
      break;
    case bkSquish:
      Whole = AddBaseFiles(Path, {".sqd", ".sqi", ".sql"}, Files);
      break;
    case bkJam:
      Whole = AddBaseFiles(Path, {".jhr", ".jdt", ".jdx", ".jlr", ".jqv"}, Files);
      break;
    case bkNone:
      break;
  }
  if (!Whole) Files.clear();
  return !Whole;
}

bool DeleteBase(std::string_view Identifier) {
  std::vector<tShortString> Files;
  if (BaseFiles(Identifier, Files)) return true;
  // The format's lock is had and held while the files go: a tosser that
  // holds it is writing the base, and one that waits for it finds the base
  // gone. Its file is the first BaseFiles names: the data file of Squish,
  // .jhr of JAM, the packet (*.MSG has none).
  tBaseKind Kind;
  tShortString Path;
  SplitBaseId(Identifier, Kind, Path);
  int Locked = -1;
  if (Kind != bkMsgDir && !Files.empty()) {
    std::string_view Ext = Kind == bkSquish ? "sqd" : Kind == bkJam ? "jhr" : "";
    if (Ext.empty() || SameText866(ExtensionPart(Files[0]), Ext)) Locked = 0;
  }
  // Whole or not at all: a JAM header without its texts, or a Squish index
  // without its data, is a damaged base; a base left whole is only one that
  // is still there.
  return !Files.empty() && !RemoveFilesAllOrNone(Files, Locked);
}

bool SyncBase(std::string_view Identifier) {
  std::vector<tShortString> Files;
  if (BaseFiles(Identifier, Files)) return true;
  // A folder of many message files goes in one call where the system has one.
  if (Files.size() > 16 && FileSystem().SyncAll(Files.back())) return false;
  bool Failed = false;
  for (const tShortString& Name : Files) {
    tBufStream File(Name, smOpenReadWrite);
    if (File.Status == stOk) File.Flush(true);
    Failed = !File.Close() || Failed;
  }
  return (!Files.empty() && !FileSystem().SyncDir(Files.back())) || Failed;
}

void EraseFile(std::string_view Name) {
  if (!FileExists(Name)) return;
  {
    // Opening with no sharing fails while any other process has the file
    // open; such a file stays.
    tBufStream Probe(Name, static_cast<uint16_t>(smOpenRead | fmDenyAll));
    if (Probe.Status != stOk) return;
    Probe.Close();
  }
  RemoveFile(Name);
}

}  // namespace kelvane
