// The netmail scan as kelvane shows it: the walk of netmail_walk.h (every
// message of FastEcho's netmail directory whose sender, recipient and
// subject meet the control file's conditions is a request; each of its
// body lines goes through every MatchStr pair, and each tag that comes out
// names an area to remove from the configuration in memory), drawn on the
// console as it goes. The bases of the removed areas go only once the
// configuration is stored (DeleteRemovedBases). The requests stay as they
// are, but for the Received attribute MarkRequests gives them at the end of
// the run (MarkRequestsReceived).
#include <algorithm>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/markup.h"
#include "app/netmail_walk.h"
#include "app/removal_rules.h"
#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "runtime/clock.h"
#include "runtime/console.h"

namespace kelvane {

namespace {

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

// What kelvane shows of the walk: a line for each request and for each
// area it names, and the progress line, drawn in place.
class tKelvaneScan : public tScanListener {
 public:
  void NetmailUnopened(const tShortString& Dir) override {
    // Nothing can be walked; the run goes on as with an empty folder.
    WriteMarkup(Line({"~0E~" KELV_BULLET "~07~cannot open netmail base [", MarkupData(Dir), "], no requests are read"}));
    WriteMarkup("\r\n");
  }
  void MessageRead(int64_t N, const tMessage& Msg, tCondition Failed) override {
    Console().Write(WipeText_);
    if (Failed != rcRequest) return;
    Console().WriteLn(Line({"   valid msg #", IntToStr(N), ": ", Msg.From, " (", OrigAddrStr(Msg), ") -> ", Msg.To,
                            " (", DestAddrStr(Msg), ")"}));
  }
  void AreaNamed(const tShortString& Tag, int32_t Index, const tBaseToGo&) override {
    Console().WriteLn(Line({"   . area [", Tag, Index < 0 ? "] not found;" : "] removed;"}));
  }
  void Passed(int64_t N, int32_t Count) override {
    uint32_t Now = GetTicks();
    uint32_t Since = Now >= LastDrawn_ ? Now - LastDrawn_ : LastDrawn_ - Now;
    if (!Drawn_ || Since > ProgressThrottleMs || N == Count) {
      DrawProgress(N);
      LastDrawn_ = Now;
      Drawn_ = true;
    }
    Last_ = N;
  }
  // The last message read wipes the row its progress was drawn on when no
  // drawing followed it; the final number is drawn once more so the line
  // the scan leaves behind always tells how far it went.
  void Finish() {
    DrawProgress(Last_);
    Console().Write("\r\n");
  }

 private:
  static void DrawProgress(int64_t At) { Console().WriteInPlace("   searhing for next message: " + std::to_string(At)); }
  const std::string WipeText_ = Wipe();
  bool Drawn_ = false;
  uint32_t LastDrawn_ = 0;
  int64_t Last_ = 0;
};

}  // namespace

bool tApplication::ScanNetmail() {
  WriteMarkup("~0F~" KELV_BULLET "~07~scanning netmail base:\r\n");
  Msg = std::make_unique<tMessage>();
  const tRemovalRules Rules(*this, ControlFile, Config.NetmailPath());
  tKelvaneScan Scan;
  bool Changed = WalkNetmail(Config, Rules, NetmailBase, *Msg, BasesToGo, Requests, Scan);
  Scan.Finish();
  return Changed;
}

void tApplication::DeleteRemovedBases() {
  std::vector<tShortString> Deleted;  // the identifiers of the bases gone
  for (const tBaseToGo& Base : BasesToGo) {
    auto Say = [&Base](std::string_view Bullet, std::string_view What) {
      WriteMarkup(Line({Bullet, KELV_BULLET "~07~base [", MarkupData(Base.Path), "] of area [", MarkupData(Base.Tag),
                        "] ", What}));
      WriteMarkup("\r\n");
    };
    switch (Base.Fate) {
      case bfNone:
        break;
      case bfDelete: {
        // Two areas removed on one base: it went with the first, and its
        // line said so.
        if (std::any_of(Deleted.begin(), Deleted.end(), [&](const tShortString& Id) { return SameBase(Id, Base.Id); }))
          break;
        // Whole or not at all: a JAM header without its text is worse than
        // a base that is still there. What goes is counted before it goes.
        std::vector<tShortString> Files;
        BaseFiles(Base.Id, Files);
        if (DeleteBase(Base.Id)) {
          Say("~0C~", "is in use or read-only, none of its files deleted");
        } else {
          Deleted.push_back(Base.Id);
          const size_t Gone = Files.size();
          Say("~0A~", Line({"deleted (", IntToStr(static_cast<long long>(Gone)), Gone == 1 ? " file)" : " files)"}));
        }
        break;
      }
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
