// The netmail scan: every message of FastEcho's netmail directory whose
// sender, recipient and subject meet the control file's conditions is a
// request; each of its body lines goes through every MatchStr pair, and
// each tag that comes out names an area to remove (its message base
// deleted first when RemoveBase is on). The requests stay as they are.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/markup.h"
#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/case866.h"
#include "runtime/clock.h"
#include "runtime/console.h"
#include "text/regexp.h"

namespace kelvane {

namespace {

// The mode the netmail is opened with: reading, others may read and write.
constexpr int32_t NetmailOpenMode = 0x3D40;
constexpr uint32_t ProgressThrottleMs = 200;

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

}  // namespace

bool tApplication::ScanNetmail() {
  WriteMarkup("~0F~" KELV_BULLET "~07~scanning netmail base:\r\n");
  Changed_ = false;
  tShortString NetmailDir = Config.NetmailPath();
  NetmailBase = OpenBase(tShortString("F") + NetmailDir, NetmailOpenMode);
  Msg = std::make_unique<tMessage>();
  if (!NetmailBase) {
    // Nothing can be walked; the run goes on as with an empty folder.
    tShortString Say = "~0E~" KELV_BULLET "~07~cannot open netmail base [";
    Say += NetmailDir;
    Say += "], no requests are read";
    WriteMarkup(Say);
    WriteMarkup("\r\n");
  }
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
  int64_t N = 0;
  bool Drawn = false;
  uint32_t LastDrawn = 0;
  while (N <= Count) {
    while (N <= Count && !Exists(N)) N = std::min<int64_t>(NextCandidate(N + 1), int64_t{Count} + 1);
    Msg->Clear();
    if (NetmailBase && N <= Count && !NetmailBase->ReadMessage(static_cast<int32_t>(N), Msg.get())) {
      Console().Write("\r" + std::string(59, ' ') + "\r");
      tShortString From = OrigAddrStr(*Msg), To = DestAddrStr(*Msg);
      if (Admits(FromNames, UpperCase866(Msg->From)) && Admits(FromAddrs, NormalizeAddress(From)) &&
          Admits(ToNames, UpperCase866(Msg->To)) && Admits(ToAddrs, NormalizeAddress(To)) &&
          Admits(Subjects, UpperCase866(Msg->Subject))) {
        tShortString Valid = "   valid msg #";
        Valid += std::to_string(N).c_str();
        Valid += ": ";
        Valid += Msg->From;
        Valid += " (";
        Valid += From;
        Valid += ") -> ";
        Valid += Msg->To;
        Valid += " (";
        Valid += To;
        Valid += ")";
        Console().WriteLn(Valid);
        ScanRequestBody();
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
  return Changed_;
}

void tApplication::ScanRequestBody() {
  std::string_view Text = Msg->Text.View();
  size_t Pos = 0;
  tShortString Body;
  while (NextLine(Text, Pos, Body)) {
    if (Body.Empty()) continue;
    tShortString Upper = UpperCase866(Body);
    for (size_t I = 0; I < StopStrings.Count(); ++I)
      if (Upper.Contains(StopStrings.At(I))) return;
    for (size_t J = 0; J < MatchPatterns.Count(); ++J) {
      tShortString Area = RegSubst(MatchPatterns[J], Body, MatchTemplates[J], false);
      if (!Area.Empty()) RemoveNamedArea(Area);
    }
  }
}

void tApplication::RemoveNamedArea(const tShortString& Area) {
  int32_t Index = Config.FindArea(Area);
  tShortString Report = "   . area [";
  Report += Area;
  Report += Index < 0 ? "] not found;" : "] removed;";
  Console().WriteLn(Report);
  if (Index < 0) return;
  if (RemoveBase) {
    // The base goes while the index still names the area.
    tShortString Path = Config.AreaPath(Index);
    if (!Path.Empty()) {
      switch (Config.AreaBaseType(Index)) {
        case 1: DeleteBase(tShortString("F") + Path); break;
        case 2: DeleteBase(tShortString("S") + Path); break;
        case 3: DeleteBase(tShortString("J") + Path); break;
        case 0:
        case 7: break;  // no base of ours to delete
        default: DeleteBase(Path); break;  // the path tells its own type
      }
    }
  }
  Config.RemoveArea(Index);
  Changed_ = true;
}

}  // namespace kelvane
