// A JAM base written anew (doc/formats/jam.md): the headers of its live
// messages one after another after the fixed header, their texts one after
// another in .jdt, and the index with a record for every message number
// the base had. Message numbers stay: a deleted message keeps its number
// as a record of two 0xFFFFFFFF words, so reply links and the last-read
// records of .jlr (message numbers both) stay right untouched. Every byte
// of a live message's header, subfields and text stays, but for what
// points into the new files (TxtOffset) and what was wrong: the CRCs (the
// recipient's, the MSGID's, the REPLY's) made from the subfields,
// SubfieldLen the subfields that are whole, a text cut where readers stop, links
// to numbers the base does not have cleared, the header's signature and
// revision; ActiveMsgs counts the live messages and ModCounter is raised.
//
// Dropped: headers of deleted messages (a deleted bit, or a record
// cleared), headers no record points at, texts no live header points at,
// and records that point at no header (their messages cannot be read;
// their numbers stay, as deleted ones).
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "msgbase/base_repair.h"
#include "msgbase/jam.h"
#include "runtime/coding.h"

namespace kelvane {

namespace {

using std::to_string;

constexpr uint32_t Deleted = 0xFFFFFFFF;

class tJamRebuild {
 public:
  tJamRebuild(tCheckedFile& Jhr, tCheckedFile& Jdt, tCheckedFile& Jdx, tRebuildReport& Report)
      : Jhr_(Jhr), Jdt_(Jdt), Jdx_(Jdx), Report_(Report) {}

  bool Write(tStream& NewJdt, tStream& NewJdx, tStream& NewJhr) {
    uint8_t Fixed[JamFixedHeaderSize];
    Jhr_.ReadAt(0, Fixed, JamFixedHeaderSize);
    std::memcpy(Fixed + fhSignature, "JAM", 4);
    const int64_t Count = Jdx_.Size / JamIndexRecSize;
    if (Jdx_.Size % JamIndexRecSize)
      Report_.Notes.push_back("the part record at the end of .jdx is dropped");
    NewJhr.Write(Fixed, JamFixedHeaderSize);  // ActiveMsgs and ModCounter at the end
    std::unordered_set<uint32_t> Headers;
    std::string Sub, Text;
    uint32_t Active = 0;
    int64_t HdrAt = JamFixedHeaderSize, TxtAt = 0;
    std::vector<uint8_t> Records(JamIndexRecSize * 4096);
    size_t Filled = 0;
    for (int64_t K = 0; K < Count; ++K) {
      uint8_t R[JamIndexRecSize], H[JamHeaderSize];
      Jdx_.ReadAt(K * JamIndexRecSize, R, JamIndexRecSize);
      const uint32_t Offset = GetU32(R + 4);
      uint32_t UserCrc = Deleted, NewOffset = Deleted;
      if (Offset != Deleted && Live(K, Offset, H, Headers)) {
        std::string To, MsgId, ReplyId;
        Subfields(Offset, H, Sub, To, MsgId, ReplyId);
        TextOf(K, H, Text);
        PutU32(H + jhSubfieldLen, static_cast<uint32_t>(Sub.size()));
        PutU32(H + jhTxtOffset, static_cast<uint32_t>(TxtAt));
        PutU32(H + jhTxtLen, static_cast<uint32_t>(Text.size()));
        PutU32(H + jhMsgIdCrc, JamCrc(MsgId));
        PutU32(H + jhReplyCrc, JamCrc(ReplyId));
        for (uint32_t Link : {jhReplyTo, jhReply1st, jhReplyNext})
          if (GetU32(H + Link) > Count) PutU32(H + Link, 0);
        NewJhr.Write(H, JamHeaderSize);
        NewJhr.WriteStr(Sub);
        NewJdt.WriteStr(Text);
        UserCrc = JamCrc(To);
        NewOffset = static_cast<uint32_t>(HdrAt);
        HdrAt += JamHeaderSize + Sub.size();
        TxtAt += Text.size();
        ++Active;
      }
      PutU32(Records.data() + Filled, UserCrc);
      PutU32(Records.data() + Filled + 4, NewOffset);
      Filled += JamIndexRecSize;
      if (Filled == Records.size() || K + 1 == Count) {
        NewJdx.Write(Records.data(), static_cast<uint32_t>(Filled));
        Filled = 0;
      }
    }
    if (HdrAt > 0xFFFFFFFFLL || TxtAt > 0xFFFFFFFFLL) return false;
    PutU32(Fixed + fhActiveMsgs, Active);
    PutU32(Fixed + fhModCounter, GetU32(Fixed + fhModCounter) + 1);
    NewJhr.Seek(0);
    NewJhr.Write(Fixed, JamFixedHeaderSize);
    Report_.MessagesKept = Active;
    return NewJhr.Status == stOk && NewJdt.Status == stOk && NewJdx.Status == stOk;
  }

 private:
  // Whether record K's header at Offset is a live message's: it lies in
  // .jhr, no earlier record took it, a reader takes it for a header (its
  // signature, or else revision 1), and it is not deleted. H: the header,
  // its signature and revision made right.
  bool Live(int64_t K, uint32_t Offset, uint8_t* H, std::unordered_set<uint32_t>& Headers) {
    const std::string Message = "message " + to_string(K + 1);
    if (Offset < JamFixedHeaderSize || int64_t{Offset} + JamHeaderSize > Jhr_.Size) {
      Report_.Notes.push_back(Message + " points at no header: it cannot be read and is deleted");
      return false;
    }
    if (!Headers.insert(Offset).second) {
      Report_.Notes.push_back(Message + " points at the header of an earlier message: it is deleted");
      return false;
    }
    Jhr_.ReadAt(Offset, H, JamHeaderSize);
    const bool Signed = std::memcmp(H, "JAM", 4) == 0;
    if (!Signed && GetU16(H + jhRevision) != 1) {
      Report_.Notes.push_back(Message + " points at offset " + to_string(Offset) +
                              ", where no header begins: it cannot be read and is deleted");
      return false;
    }
    std::memcpy(H + jhSignature, "JAM", 4);
    PutU16(H + jhRevision, 1);
    return (GetU32(H + jhAttribute) & jaDeleted) == 0;
  }

  // The subfields that lie whole within SubfieldLen and the file, up to
  // the next header, into Sub; the recipient, MSGID and REPLY as a reader
  // takes them (up to a NUL).
  void Subfields(uint32_t Offset, const uint8_t* H, std::string& Sub, std::string& To, std::string& MsgId,
                 std::string& ReplyId) {
    const int64_t Start = int64_t{Offset} + JamHeaderSize;
    const int64_t End = std::min(Start + GetU32(H + jhSubfieldLen), Jhr_.Size);
    Sub.resize(static_cast<size_t>(std::max<int64_t>(0, End - Start)));
    Jhr_.ReadAt(Start, Sub.data(), static_cast<uint32_t>(Sub.size()));
    size_t At = 0;
    while (At + JamSubfieldHdrSize <= Sub.size()) {
      const uint8_t* S = reinterpret_cast<const uint8_t*>(Sub.data() + At);
      if (std::memcmp(S, "JAM", 4) == 0) break;  // the next header
      const uint32_t Id = GetU32(S), Len = GetU32(S + 4);
      if (Len > Sub.size() - At - JamSubfieldHdrSize) break;
      std::string* Into = Id == sfReceiverName ? &To : Id == sfMsgId ? &MsgId : Id == sfReplyId ? &ReplyId : nullptr;
      if (Into) {
        Into->assign(Sub.data() + At + JamSubfieldHdrSize, Len);
        Into->resize(std::min(Into->find('\0'), Into->size()));
      }
      At += JamSubfieldHdrSize + Len;
    }
    Sub.resize(At);
  }

  // The text of the header H as a reader takes it: one that runs past the
  // end of .jdt (a TxtLen that is wrong, as crashmail's maintenance run
  // leaves them) stops there, or where the next message's text begins, so
  // that no text takes in another's bytes.
  void TextOf(int64_t K, const uint8_t* H, std::string& Text) {
    const int64_t At = GetU32(H + jhTxtOffset), Len = GetU32(H + jhTxtLen);
    int64_t Kept = Len;
    if (At + Len > Jdt_.Size) {
      Kept = std::max<int64_t>(0, std::min(Jdt_.Size, NextTextStart(At)) - At);
      Report_.Notes.push_back("message " + to_string(K + 1) + ": its text runs past the end of .jdt; " + to_string(Kept) +
                              " of its " + to_string(Len) + " bytes are kept");
    }
    Text.resize(static_cast<size_t>(Kept));
    Jdt_.ReadAt(At, Text.data(), static_cast<uint32_t>(Kept));
  }

  // The first text after From that a header the index points at begins
  // (deleted ones too, as readers count them); found once, when a text
  // first needs it.
  int64_t NextTextStart(int64_t From) {
    if (!TextStartsKnown_) {
      for (int64_t K = 0; K < Jdx_.Size / JamIndexRecSize; ++K) {
        uint8_t R[JamIndexRecSize], H[JamHeaderSize];
        Jdx_.ReadAt(K * JamIndexRecSize, R, JamIndexRecSize);
        const uint32_t Offset = GetU32(R + 4);
        if (Offset == Deleted || Offset < JamFixedHeaderSize || int64_t{Offset} + JamHeaderSize > Jhr_.Size) continue;
        Jhr_.ReadAt(Offset, H, JamHeaderSize);
        if ((std::memcmp(H, "JAM", 4) == 0 || GetU16(H + jhRevision) == 1) && GetU32(H + jhTxtLen) > 0)
          TextStarts_.push_back(GetU32(H + jhTxtOffset));
      }
      std::sort(TextStarts_.begin(), TextStarts_.end());
      TextStartsKnown_ = true;
    }
    auto It = std::upper_bound(TextStarts_.begin(), TextStarts_.end(), From);
    return It == TextStarts_.end() ? std::numeric_limits<int64_t>::max() : *It;
  }

  tCheckedFile& Jhr_;
  tCheckedFile& Jdt_;
  tCheckedFile& Jdx_;
  tRebuildReport& Report_;
  std::vector<int64_t> TextStarts_;
  bool TextStartsKnown_ = false;
};

}  // namespace

bool RebuildJam(const tShortString& Path, tRebuildReport& Report, tBaseSwap& Swap) {
  tShortString Names[3];
  const char* Extensions[3] = {".jhr", ".jdt", ".jdx"};
  for (int I = 0; I < 3; ++I) WholeName(Names[I], {Path, Extensions[I]});
  tCheckedFile Jhr(Names[0]), Jdt(Names[1]), Jdx(Names[2]);
  for (tCheckedFile* F : {&Jhr, &Jdt, &Jdx})
    if (!F->Opened()) {
      Report.Why = F->WhyNotOpened();
      return false;
    }
  if (!tJamRebuild(Jhr, Jdt, Jdx, Report).Write(Swap.Out(0), Swap.Out(1), Swap.Out(2))) {
    Report.Why = "writing the new files failed";
    return false;
  }
  return true;
}

}  // namespace kelvane
