#include "app/removal_rules.h"

#include "fecfg/feconfig.h"
#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/text_body.h"
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

}  // namespace

tRemovalRules::tRemovalRules(const tControlSettings& Settings, std::string_view ControlFile,
                             std::string_view NetmailDir)
    : Settings_(Settings), ControlFile_(ControlFile), NetmailDir_(NetmailDir) {}

const char* ConditionName(tCondition Condition) {
  static const char* const Names[] = {"", "FromName", "FromAddr", "ToName", "ToAddr", "Subject", "MarkRequests"};
  return Names[Condition];
}

tCondition tRemovalRules::FirstFailed(const tMessage& Msg) const {
  const tControlSettings& S = Settings_;
  if (!Admits(S.FromNames, UpperCase866(Msg.From))) return rcFromName;
  if (!Admits(S.FromAddrs, NormalizeAddress(OrigAddrStr(Msg)))) return rcFromAddr;
  if (!Admits(S.ToNames, UpperCase866(Msg.To))) return rcToName;
  if (!Admits(S.ToAddrs, NormalizeAddress(DestAddrStr(Msg)))) return rcToAddr;
  if (!Admits(S.Subjects, UpperCase866(Msg.Subject))) return rcSubject;
  if (S.MarkRequests && (Msg.Attr & maReceived)) return rcReceived;
  return rcRequest;
}

bool tRemovalRules::NextRequestLine(tTextBody& Body, tRequestLine& Line) const {
  const tControlSettings& S = Settings_;
  if (!Line.Stop.Empty()) return false;
  while (Body.ReadLine(Line.Text)) {
    ++Line.Number;
    if (Line.Text.Empty()) continue;
    Line.Tags.clear();
    tShortString Upper = UpperCase866(Line.Text);
    for (size_t I = 0; I < S.StopStrings.Count() && Line.Stop.Empty(); ++I)
      if (Upper.Contains(S.StopStrings.At(I))) Line.Stop = S.StopStrings.At(I);
    if (!Line.Stop.Empty()) return true;
    for (size_t J = 0; J < S.MatchPatterns.Count(); ++J) {
      tShortString Tag(TrimBlanks(RegSubst(S.MatchPatterns[J], Line.Text, S.MatchTemplates[J], false)));
      if (!Tag.Empty()) Line.Tags.push_back(Tag);
    }
    return true;
  }
  return false;
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
      SamePath(DirPart(Path), NetmailDir_)) {
    Base.Fate = bfNetmail;
    return Base;
  }
  std::vector<tShortString> Files;
  BaseFiles(Base.Id, Files);
  for (const tShortString& File : Files) {
    for (std::string_view Own : {ControlFile_.View(), Settings_.ConfigPath.View()}) {
      if (!Own.empty() && SamePath(File, Own)) {
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
