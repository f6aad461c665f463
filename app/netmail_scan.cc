// The netmail scan: every message of FastEcho's netmail directory whose
// sender, recipient and subject meet the control file's conditions is a
// request; each of its body lines goes through every MatchStr pair, and
// each tag that comes out names an area to remove. The decisions are
// tRemovalRules'; this file does what they say: it prints, removes the
// areas from the configuration in memory and notes their bases, which go
// only once the configuration is stored (DeleteRemovedBases). The requests
// stay as they are.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/markup.h"
#include "app/removal_rules.h"
#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "runtime/file_system.h"

namespace kelvane {

namespace {

// The mode the netmail is opened with: reading, others may read and write.
constexpr int32_t NetmailOpenMode = 0x3D40;
constexpr uint32_t ProgressThrottleMs = 200;
// The progress line is wiped with this many blanks, or one fewer than the
// console has columns: a wipe that reached the last column would wrap and
// leave an empty row behind every message.
constexpr int WipeWidth = 59;

std::string Wipe() {
  int Width = Console().Width();
  int Blanks = Width > 0 ? std::min(WipeWidth, Width - 1) : WipeWidth;
  std::string Text(static_cast<size_t>(std::max(Blanks, 0)) + 2, ' ');
  Text.front() = Text.back() = '\r';
  return Text;
}

}  // namespace

bool tApplication::ScanNetmail() {
  WriteMarkup("~0F~" KELV_BULLET "~07~scanning netmail base:\r\n");
  bool Changed = false;
  BasesToGo.clear();
  tShortString NetmailDir = Config.NetmailPath();
  // A folder that is not there is not made: a mistyped path must not give
  // a quiet run that reads nothing and leaves an empty folder behind.
  if (DirExists(NetmailDir)) NetmailBase = OpenBase(tShortString("F") + NetmailDir, NetmailOpenMode);
  Msg = std::make_unique<tMessage>();
  if (!NetmailBase) {
    // Nothing can be walked; the run goes on as with an empty folder.
    WriteMarkup(Line({"~0E~" KELV_BULLET "~07~cannot open netmail base [", MarkupData(NetmailDir),
                      "], no requests are read"}));
    WriteMarkup("\r\n");
  }
  const tRemovalRules Rules(*this, ControlFile, NetmailDir);
  const int32_t Count = NetmailBase ? NetmailBase->Count : 0;
  // The numbers are walked from 0 to Count, but only those with a message
  // file when the walk began are asked about: a stray file with a huge
  // number would otherwise cost a lookup for every number below it (up to
  // two thousand million of them). The walk counts in 64 bits, so a file
  // numbered 2147483647 ends it like any other.
  const auto* Dir = dynamic_cast<const tMsgDirBase*>(NetmailBase.get());
  auto NextCandidate = [Dir](int64_t From) -> int64_t {
    if (!Dir) return From;  // a base that lists no numbers: every one may exist
    const std::vector<int32_t>& Numbers = Dir->Numbers();
    auto It = std::lower_bound(Numbers.begin(), Numbers.end(), From);
    return It == Numbers.end() ? std::numeric_limits<int64_t>::max() : *It;
  };
  auto Exists = [&](int64_t N) { return NetmailBase && NetmailBase->Exists(static_cast<int32_t>(N)); };

  auto DrawProgress = [](int64_t At) {
    Console().WriteInPlace("   searhing for next message: " + std::to_string(At));
  };
  const std::string WipeText = Wipe();
  std::vector<tShortString> Tags;
  int64_t N = 0;
  bool Drawn = false;
  uint32_t LastDrawn = 0;
  while (N <= Count) {
    while (N <= Count && !Exists(N)) N = std::min<int64_t>(NextCandidate(N + 1), int64_t{Count} + 1);
    Msg->Clear();
    if (NetmailBase && N <= Count && !NetmailBase->ReadMessage(static_cast<int32_t>(N), Msg.get())) {
      Console().Write(WipeText);
      if (Rules.IsRequest(*Msg)) {
        Console().WriteLn(Line({"   valid msg #", IntToStr(N), ": ", Msg->From, " (", OrigAddrStr(*Msg), ") -> ",
                                Msg->To, " (", DestAddrStr(*Msg), ")"}));
        Tags.clear();
        Rules.NamedTags(*Msg, Tags);
        for (const tShortString& Tag : Tags) Changed |= RemoveNamedArea(Rules, Tag);
      }
    }
    ++N;
    uint32_t Now = GetTicks();
    uint32_t Since = Now >= LastDrawn ? Now - LastDrawn : LastDrawn - Now;
    if (!Drawn || Since > ProgressThrottleMs || N == Count) {
      DrawProgress(N);
      LastDrawn = Now;
      Drawn = true;
    }
  }
  // The last message read wipes the row its progress was drawn on when no
  // drawing followed it; draw the final number once more so the line the
  // scan leaves behind always tells how far it went.
  DrawProgress(N);
  Console().Write("\r\n");
  Rules.KeepSharedBases(Config, BasesToGo);
  return Changed;
}

bool tApplication::RemoveNamedArea(const tRemovalRules& Rules, const tShortString& Tag) {
  int32_t Index = Config.FindArea(Tag);
  Console().WriteLn(Line({"   . area [", Tag, Index < 0 ? "] not found;" : "] removed;"}));
  if (Index < 0) return false;
  // The base is noted while the index still names the area; it goes only
  // after the configuration without the area is stored.
  tBaseToGo Base = Rules.BaseOf(Config, Index);
  if (Base.Fate != bfNone) BasesToGo.push_back(Base);
  Config.RemoveArea(Index);
  return true;
}

void tApplication::DeleteRemovedBases() {
  for (const tBaseToGo& Base : BasesToGo) {
    auto Say = [&Base](std::string_view Bullet, std::string_view What) {
      WriteMarkup(Line({Bullet, KELV_BULLET "~07~base [", MarkupData(Base.Path), "] of area [", MarkupData(Base.Tag),
                        "] ", What}));
      WriteMarkup("\r\n");
    };
    switch (Base.Fate) {
      case bfNone:
        break;
      case bfDelete:
        // Whole or not at all: a JAM header without its text is worse than
        // a base that is still there.
        if (DeleteBase(Base.Id)) Say("~0C~", "is in use or read-only, none of its files deleted");
        break;
      case bfNetmail:
        Say("~0E~", "is the netmail folder, kept");
        break;
      case bfOwnFile:
        Say("~0E~", Line({"holds [", MarkupData(Base.OwnFile), "], kept"}));
        break;
      case bfShared:
        Say("~0E~", Line({"is also the base of area [", MarkupData(Base.SharedWith), "], kept"}));
        break;
    }
  }
}

}  // namespace kelvane
