#include "app/removal_rules.h"

#include "fecfg/feconfig.h"
#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "runtime/case866.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "text/regexp.h"

namespace kelvane {

namespace {

// A condition set that is empty places no condition.
bool Admits(const tSortedStrings& Set, std::string_view Value) {
  return Set.Count() == 0 || Set.Contains(Value);
}

// The next line of Text from Pos: bytes up to CR or LF, the break consumed
// (CR LF and LF CR count as one), at most 255 bytes kept. Returns false at
// the end of the text.
bool NextLine(std::string_view Text, size_t& Pos, tShortString& Line) {
  if (Pos >= Text.size()) return false;
  size_t End = Text.find_first_of("\r\n", Pos);
  if (End == std::string_view::npos) End = Text.size();
  Line.Assign(Text.substr(Pos, End - Pos));
  Pos = End;
  if (Pos < Text.size()) {
    char Break = Text[Pos++];
    if (Pos < Text.size() && (Text[Pos] == '\r' || Text[Pos] == '\n') && Text[Pos] != Break) ++Pos;
  }
  return true;
}

// Whether two paths name the same file or folder, the way Windows sees
// names: full paths compared without regard to case, a trailing separator
// not counting. Links are not followed.
bool SamePlace(std::string_view A, std::string_view B) {
  auto Canonical = [](std::string_view P) {
    tShortString Full = FullPathOf(P);
    while (Full.Length() > 1 && IsPathSep(Full.Last()) && Full[Full.Length() - 2] != ':') Full.Truncate(Full.Length() - 1);
    return Full;
  };
  return SameText866(Canonical(A), Canonical(B));
}

}  // namespace

tRemovalRules::tRemovalRules(const tControlSettings& Settings, std::string_view ControlFile,
                             std::string_view NetmailDir)
    : Settings_(Settings), ControlFile_(ControlFile), NetmailDir_(NetmailDir) {}

bool tRemovalRules::IsRequest(const tMessage& Msg) const {
  const tControlSettings& S = Settings_;
  return Admits(S.FromNames, UpperCase866(Msg.From)) && Admits(S.FromAddrs, NormalizeAddress(OrigAddrStr(Msg))) &&
         Admits(S.ToNames, UpperCase866(Msg.To)) && Admits(S.ToAddrs, NormalizeAddress(DestAddrStr(Msg))) &&
         Admits(S.Subjects, UpperCase866(Msg.Subject));
}

void tRemovalRules::NamedTags(const tMessage& Msg, std::vector<tShortString>& Tags) const {
  const tControlSettings& S = Settings_;
  std::string_view Text = Msg.Text.View();
  size_t Pos = 0;
  tShortString Body;
  while (NextLine(Text, Pos, Body)) {
    if (Body.Empty()) continue;
    tShortString Upper = UpperCase866(Body);
    for (size_t I = 0; I < S.StopStrings.Count(); ++I)
      if (Upper.Contains(S.StopStrings.At(I))) return;
    for (size_t J = 0; J < S.MatchPatterns.Count(); ++J) {
      tShortString Tag(TrimBlanks(RegSubst(S.MatchPatterns[J], Body, S.MatchTemplates[J], false)));
      if (!Tag.Empty()) Tags.push_back(Tag);
    }
  }
}

namespace {

// The base identifier of area Index, by its storage type; empty for an area
// with no path or no base of ours (types 0 and 7).
tShortString AreaBaseId(const tFastEchoConfig& Config, int32_t Index) {
  tShortString Path = Config.AreaPath(Index);
  if (Path.Empty()) return Path;
  switch (Config.AreaBaseType(Index)) {
    case 1: return "F" + Path;
    case 2: return "S" + Path;
    case 3: return "J" + Path;
    case 0:
    case 7: return tShortString();
    default: return Path;  // the path tells its own type
  }
}

// Whether two base identifiers name one base: the same format on the same
// path.
bool SameBase(std::string_view A, std::string_view B) {
  tBaseKind KindA, KindB;
  tShortString PathA, PathB;
  return !SplitBaseId(A, KindA, PathA) && !SplitBaseId(B, KindB, PathB) && KindA == KindB && SamePlace(PathA, PathB);
}

}  // namespace

tBaseToGo tRemovalRules::BaseOf(const tFastEchoConfig& Config, int32_t Index) const {
  tBaseToGo Base;
  if (Index < 0 || static_cast<size_t>(Index) >= Config.Areas.Count()) return Base;
  Base.Tag = Config.Areas[static_cast<size_t>(Index)].Tag();
  Base.Path = Config.AreaPath(Index);
  if (!Settings_.RemoveBase) return Base;
  Base.Id = AreaBaseId(Config, Index);
  if (Base.Id.Empty()) return Base;
  Base.Fate = bfDelete;

  // Never through an area's base: the netmail the requests come in, and
  // the files this program reads.
  tBaseKind Kind;
  tShortString Path;
  if (!SplitBaseId(Base.Id, Kind, Path) && Kind == bkMsgDir && !NetmailDir_.Empty() &&
      SamePlace(DirPart(Path), NetmailDir_)) {
    Base.Fate = bfNetmail;
    return Base;
  }
  std::vector<tShortString> Files;
  BaseFiles(Base.Id, Files);
  for (const tShortString& File : Files) {
    for (std::string_view Own : {ControlFile_.View(), Settings_.ConfigPath.View()}) {
      if (!Own.empty() && SamePlace(File, Own)) {
        Base.Fate = bfOwnFile;
        Base.OwnFile = Own;
        return Base;
      }
    }
  }
  return Base;
}

void tRemovalRules::KeepSharedBases(const tFastEchoConfig& Config, std::vector<tBaseToGo>& Bases) const {
  bool Any = false;
  for (const tBaseToGo& Base : Bases) Any |= Base.Fate == bfDelete;
  if (!Any) return;
  for (size_t Index = 0; Index < Config.Areas.Count(); ++Index) {
    tShortString Id = AreaBaseId(Config, static_cast<int32_t>(Index));
    if (Id.Empty()) continue;
    for (tBaseToGo& Base : Bases) {
      if (Base.Fate != bfDelete || !SameBase(Base.Id, Id)) continue;
      Base.Fate = bfShared;
      Base.SharedWith = Config.Areas[Index].Tag();
    }
  }
}

}  // namespace kelvane
