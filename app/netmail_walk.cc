// The netmail walk shared by kelvane and kelvutil plan (see netmail_walk.h).
#include "app/netmail_walk.h"

#include <algorithm>
#include <limits>

#include "fecfg/feconfig.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "msgbase/text_body.h"
#include "runtime/file_system.h"

namespace kelvane {

namespace {

// The mode the netmail is opened with: reading, others may read and write.
constexpr int32_t NetmailOpenMode = 0x3D40;

}  // namespace

tScanListener::~tScanListener() = default;
void tScanListener::NetmailOpened(const tShortString&, const tMsgBase&) {}
void tScanListener::NetmailUnopened(const tShortString&) {}
void tScanListener::MessageRead(int64_t, const tMessage&, tCondition) {}
void tScanListener::MessageUnreadable(int64_t) {}
void tScanListener::RequestLine(int64_t, const tRequestLine&) {}
void tScanListener::AreaNamed(const tShortString&, int32_t, const tBaseToGo&) {}
void tScanListener::Passed(int64_t, int32_t) {}

bool WalkNetmail(tFastEchoConfig& Config, const tRemovalRules& Rules, std::unique_ptr<tMsgBase>& Netmail,
                 tMessage& Msg, std::vector<tBaseToGo>& BasesToGo, std::vector<tRequestRead>& Requests,
                 tScanListener& Listener) {
  bool Changed = false;
  BasesToGo.clear();
  Requests.clear();
  tShortString NetmailDir = Config.NetmailPath();
  // A folder that is not there is not made: a mistyped path must not give
  // a quiet run that reads nothing and leaves an empty folder behind.
  if (DirExists(NetmailDir)) Netmail = OpenBase(tShortString("F") + NetmailDir, NetmailOpenMode);
  if (Netmail)
    Listener.NetmailOpened(NetmailDir, *Netmail);
  else
    Listener.NetmailUnopened(NetmailDir);  // the walk goes on as over an empty folder
  const int32_t Count = Netmail ? Netmail->Count : 0;
  // A request's body is read from its file line by line as the walk needs
  // it, never held whole: a netmail message of any size costs a line of
  // memory.
  if (Netmail) Netmail->StreamBody = 1;
  // The numbers are walked from 0 to Count, but only those with a message
  // file when the walk began are read: a stray file with a huge number
  // would otherwise cost a lookup for every number below it (up to two
  // thousand million of them), and each file is opened once, with no
  // lookup before (a read that fails asks whether the file is still
  // there). The walk counts in 64 bits, so a file numbered 2147483647 ends
  // it like any other.
  auto* Dir = dynamic_cast<tMsgDirBase*>(Netmail.get());
  auto NextCandidate = [Dir](int64_t From) -> int64_t {
    const std::vector<int32_t>& Numbers = Dir->Numbers();
    auto It = std::lower_bound(Numbers.begin(), Numbers.end(), From);
    return It == Numbers.end() ? std::numeric_limits<int64_t>::max() : *It;
  };
  auto Exists = [&](int64_t N) { return Netmail && Netmail->Exists(static_cast<int32_t>(N)); };

  int64_t N = 0;
  while (N <= Count) {
    if (Dir)
      N = std::min<int64_t>(NextCandidate(N), int64_t{Count} + 1);
    else
      while (N <= Count && !Exists(N)) ++N;  // a base that lists no numbers: every one may exist
    Msg.Clear();
    if (Netmail && N <= Count) {
      if (Netmail->ReadMessage(static_cast<int32_t>(N), &Msg)) {
        // A file removed since the walk began is passed over unseen.
        if (!Dir || Exists(N)) Listener.MessageUnreadable(N);
      } else {
        tCondition Failed = Rules.FirstFailed(Msg);
        Listener.MessageRead(N, Msg, Failed);
        if (Failed == rcRequest) {
          if (Dir) {
            tRequestRead& Read = Requests.emplace_back();
            Read.Number = static_cast<int32_t>(N);
            std::copy(std::begin(Dir->HeaderBuf), std::end(Dir->HeaderBuf), Read.Header);
          }
          tRequestLine Line;
          while (Netmail->Body && Rules.NextRequestLine(*Netmail->Body, Line)) {
            Listener.RequestLine(N, Line);
            for (const tShortString& Tag : Line.Tags) {
              int32_t Index = Config.FindArea(Tag);
              // The base is noted while the index still names the area.
              tBaseToGo Base = Rules.BaseOf(Config, Index);
              Listener.AreaNamed(Tag, Index, Base);
              if (Index < 0) continue;
              if (Base.Fate != bfNone) BasesToGo.push_back(Base);
              Config.RemoveArea(Index);
              Changed = true;
            }
          }
        }
      }
    }
    ++N;
    Listener.Passed(N, Count);
  }
  // The last message's file is not held open past the walk.
  if (Netmail) Netmail->Body.reset();
  Rules.KeepSharedBases(Config, BasesToGo);
  return Changed;
}

std::vector<int32_t> MarkReceived(std::string_view Dir, const std::vector<tRequestRead>& Requests) {
  std::vector<int32_t> Unmarked;
  if (Requests.empty()) return Unmarked;
  // Opened anew for writing: the walk's base only reads. A folder that has
  // gone is not made again.
  std::unique_ptr<tMsgBase> Base;
  if (DirExists(Dir)) Base = OpenBase(tShortString("F") + Dir, smOpenReadWrite);
  auto* Folder = dynamic_cast<tMsgDirBase*>(Base.get());
  for (const tRequestRead& R : Requests)
    if (!Folder || Folder->SetAttrBits(R.Number, maReceived, R.Header)) Unmarked.push_back(R.Number);
  return Unmarked;
}

}  // namespace kelvane
