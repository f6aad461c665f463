// The check of a Squish base (doc/formats/squish.md): the base header
// against the files, the chain of message frames and the free chain each
// walked from the header's first frame (every frame's identifier, type,
// previous link and lengths; loops; frames past the end or on both
// chains), frames that overlap, and the counted index records against the
// frames they point at (a message frame each, its recipient's hash, the
// UMSGIDs ascending, below the next one and the same in the message
// header). Index records beyond the
// count are not messages: other software leaves deleted ones there (often
// as offset 0 and all 0xFF), so they are no finding. The top bit of a
// record's hash marks a received message and is not compared. Bytes past
// the header's end of file are what an append cut off before its header
// left (a frame, the last frame's link to it): no part of the base, and the
// next append writes over them or after them; a frame of the base that
// lies there is a finding.
//
// One pass over the frames, each header read once; what is kept in memory
// is bounded by the file (one entry per frame found in it).
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/squish.h"
#include "runtime/coding.h"
#include "msgbase/base_check.h"

namespace kelvane {

namespace {

using std::to_string;

enum tChain : uint8_t { chMessages, chFree };

struct tFrame {
  uint32_t Offset;
  uint32_t Length;  // frame length, as read
  tChain Chain;
  uint32_t Position;  // 1 for the first frame of its chain
  uint32_t Records = 0;  // index records that point at it
};

class tSquishCheck {
 public:
  tSquishCheck(tCheckedFile& Data, tCheckedFile& Index, tFindings& Findings)
      : Data_(Data), Index_(Index), Findings_(Findings) {}

  void Run() {
    Data_.ReadAt(0, Base_, SqBaseSize);
    CheckHeader();
    WalkChain(chMessages, sbFirstFrame, sbLastFrame);
    WalkChain(chFree, sbFirstFree, sbLastFree);
    CheckOverlaps();
    CheckIndex();
  }

 private:
  void AddData(int64_t At, const std::string& What) { Findings_.Add(Data_.Name, At, What); }
  uint32_t Field(uint32_t At) const { return GetU32(Base_ + At); }
  // Where the base ends: the header's end of file when the file holds more
  // (a tail an append cut off left), else the file's end.
  int64_t End() const {
    return Field(sbEndFrame) >= SqBaseSize && Field(sbEndFrame) < Data_.Size ? Field(sbEndFrame) : Data_.Size;
  }

  void CheckHeader() {
    if (GetU16(Base_ + sbLength) != SqBaseSize)
      AddData(sbLength, "header length " + to_string(GetU16(Base_ + sbLength)) + ", not 256");
    if (GetU16(Base_ + sbFrameSize) != SqFrameSize)
      AddData(sbFrameSize, "frame header size " + to_string(GetU16(Base_ + sbFrameSize)) + ", not 28");
    if (Field(sbHighMsg) != Field(sbNumMsg))
      AddData(sbHighMsg, "highest message " + to_string(Field(sbHighMsg)) + ", but the header counts " +
                             to_string(Field(sbNumMsg)) + " messages");
    if (Field(sbHighWater) >= Field(sbNextUid) && Field(sbHighWater) != 0)
      AddData(sbHighWater, "high-water mark " + to_string(Field(sbHighWater)) + " is not below the next UMSGID " +
                               to_string(Field(sbNextUid)));
    if (Field(sbEndFrame) > Data_.Size || Field(sbEndFrame) < SqBaseSize)
      AddData(sbEndFrame, "end of file " + to_string(Field(sbEndFrame)) + ", but the file has " +
                              to_string(Data_.Size) + " bytes");
    if (Index_.Size % SqIdxSize != 0)
      Findings_.Add(Index_.Name, Index_.Size - Index_.Size % SqIdxSize,
                    "the index ends in a part record of " + to_string(Index_.Size % SqIdxSize) + " bytes");
    if (Field(sbNumMsg) > Index_.Size / SqIdxSize)
      AddData(sbNumMsg, "the header counts " + to_string(Field(sbNumMsg)) + " messages, the index holds " +
                            to_string(Index_.Size / SqIdxSize) + " records");
  }

  // Follows one chain from the header field First; Last is the header
  // field that must name its last frame. A link that leads nowhere a frame
  // can be ends the walk, told at the link.
  void WalkChain(tChain Chain, uint32_t First, uint32_t Last) {
    const char* Name = Chain == chMessages ? "the chain of message frames" : "the free chain";
    uint32_t At = Field(First), Prev = 0, Count = 0;
    int64_t Link = First;  // where the offset At was read
    // A base with no message yet may name the end of the file, where the
    // first frame will go, as its first frame.
    if (Chain == chMessages && At == End() && Field(Last) == 0) At = 0;
    while (At != 0) {
      // The last frame's link past the end of file: an append cut off.
      if (Chain == chMessages && Prev != 0 && Prev == Field(Last) && At >= End())
        break;
      auto Seen = Where_.find(At);
      if (Seen != Where_.end()) {
        AddData(Link, Seen->second.Chain == Chain
                          ? Name + std::string(" runs in a circle back to frame ") + to_string(At)
                          : "frame " + to_string(At) + " is on both the chain of message frames and the free chain");
        break;
      }
      if (At < SqBaseSize || int64_t{At} + SqFrameSize > End()) {
        AddData(Link, "points at frame " + to_string(At) + (At < SqBaseSize ? ", inside the base header"
                                                                              : ", past the end of the file (" +
                                                                                    to_string(End()) + " bytes)"));
        break;
      }
      uint8_t H[SqFrameSize];
      Data_.ReadAt(At, H, SqFrameSize);
      if (GetU32(H + sfId) != SqFrameId) {
        AddData(At, "frame identifier " + Hex32(GetU32(H + sfId)) + ", not " + Hex32(SqFrameId) + " (reached from offset " +
                        to_string(Link) + ")");
        break;
      }
      Where_.emplace(At, tFrame{At, GetU32(H + sfLength), Chain, ++Count});
      CheckFrame(At, H, Chain, Prev);
      Prev = At;
      Link = At + sfNext;
      At = GetU32(H + sfNext);
    }
    if (Prev != Field(Last))
      AddData(Last, std::string(Chain == chMessages ? "last frame " : "last free frame ") + to_string(Field(Last)) +
                        ", but " + Name + " ends at " + (Prev ? "frame " + to_string(Prev) : std::string("none")));
    if (Chain == chMessages && Count != Field(sbNumMsg))
      AddData(sbNumMsg, "the header counts " + to_string(Field(sbNumMsg)) + " messages, the chain of message frames holds " +
                            to_string(Count));
  }

  void CheckFrame(uint32_t At, const uint8_t* H, tChain Chain, uint32_t Prev) {
    const uint16_t Type = GetU16(H + sfType);
    if (Type != (Chain == chMessages ? sqMessageFrame : sqFreeFrame))
      AddData(At + sfType, "frame type " + to_string(Type) + " on " +
                               (Chain == chMessages ? "the chain of message frames" : "the free chain"));
    if (GetU32(H + sfPrev) != Prev)
      AddData(At + sfPrev, "previous frame " + to_string(GetU32(H + sfPrev)) + ", but the frame before it is " +
                               (Prev ? to_string(Prev) : std::string("none")));
    const uint32_t Length = GetU32(H + sfLength), Used = GetU32(H + sfMsgLength), Ctrl = GetU32(H + sfCtrlLength);
    if (Length > End() - At - SqFrameSize)
      AddData(At + sfLength, "frame length " + to_string(Length) + " runs past the end of the file (" +
                                 to_string(End()) + " bytes)");
    if (Chain != chMessages) return;
    if (Used > Length)
      AddData(At + sfMsgLength, "message length " + to_string(Used) + " is above the frame length " + to_string(Length));
    else if (Used < SqMsgSize)
      AddData(At + sfMsgLength, "message length " + to_string(Used) + " is below the 238-byte message header");
    else if (Ctrl > Used - SqMsgSize)
      AddData(At + sfCtrlLength, "control length " + to_string(Ctrl) + " does not fit the message length " +
                                     to_string(Used) + " after the 238-byte header");
  }

  // Frames found on the chains, in file order: one must end before the
  // next begins.
  void CheckOverlaps() {
    Frames_.reserve(Where_.size());
    for (auto& [Offset, F] : Where_) Frames_.push_back(&F);
    std::sort(Frames_.begin(), Frames_.end(), [](const tFrame* A, const tFrame* B) { return A->Offset < B->Offset; });
    for (size_t I = 0; I + 1 < Frames_.size(); ++I) {
      const tFrame& A = *Frames_[I];
      if (int64_t{A.Offset} + SqFrameSize + A.Length > Frames_[I + 1]->Offset)
        AddData(A.Offset + sfLength, "frame length " + to_string(A.Length) + " runs into the frame at " +
                                         to_string(Frames_[I + 1]->Offset));
    }
  }

  void CheckIndex() {
    const uint32_t Counted = static_cast<uint32_t>(std::min<int64_t>(Field(sbNumMsg), Index_.Size / SqIdxSize));
    uint32_t PrevUid = 0, PrevPosition = 0;
    for (uint32_t K = 0; K < Counted; ++K) {
      uint8_t R[SqIdxSize];
      const int64_t At = int64_t{K} * SqIdxSize;
      Index_.ReadAt(At, R, SqIdxSize);
      const uint32_t Offset = GetU32(R + siFrame), Uid = GetU32(R + siUmsgId), Hash = GetU32(R + siHash);
      const std::string Message = "message " + to_string(K + 1);
      if (K > 0 && Uid <= PrevUid)
        AddIndex(At + siUmsgId, Message + ": UMSGID " + to_string(Uid) + " is not above the one before, " + to_string(PrevUid));
      else if (Uid >= Field(sbNextUid))
        AddIndex(At + siUmsgId, Message + ": UMSGID " + to_string(Uid) + " is not below the next UMSGID " +
                                    to_string(Field(sbNextUid)));
      PrevUid = Uid;
      auto F = Where_.find(Offset);
      if (F == Where_.end() || F->second.Chain != chMessages) {
        AddIndex(At + siFrame, Message + " points at offset " + to_string(Offset) +
                                   (F == Where_.end() ? ", no frame of the chain of message frames" : ", a free frame"));
        continue;
      }
      tFrame& Frame = F->second;
      if (++Frame.Records > 1)
        AddIndex(At + siFrame, Message + " points at frame " + to_string(Offset) + ", which an earlier record points at");
      else if (Frame.Position < PrevPosition)
        AddIndex(At + siFrame, Message + " points at frame " + to_string(Offset) +
                                   ", which comes before the frame of the message before it on the chain");
      PrevPosition = Frame.Position;
      uint8_t Msg[SqMsgSize];
      const int64_t MsgAt = int64_t{Offset} + SqFrameSize;
      if (!Data_.ReadAt(MsgAt, Msg, SqMsgSize)) continue;  // the frame's length is told
      const uint32_t Want = SquishHash(GetTextField(Msg + sxTo, 36).View());
      if ((Hash & 0x7FFFFFFFu) != Want)
        AddIndex(At + siHash, Message + ": recipient hash " + Hex32(Hash) + ", but its recipient hashes to " + Hex32(Want));
      if (GetU32(Msg + sxUmsgId) != Uid)
        AddData(MsgAt + sxUmsgId, Message + ": UMSGID " + to_string(GetU32(Msg + sxUmsgId)) +
                                      " in the message header, " + to_string(Uid) + " in its index record");
    }
    for (const tFrame* F : Frames_)
      if (F->Chain == chMessages && F->Records == 0)
        AddData(F->Offset, "no counted index record points at this message frame: readers never see its message");
  }

  void AddIndex(int64_t At, const std::string& What) { Findings_.Add(Index_.Name, At, What); }

  tCheckedFile& Data_;
  tCheckedFile& Index_;
  tFindings& Findings_;
  uint8_t Base_[SqBaseSize] = {};
  std::unordered_map<uint32_t, tFrame> Where_;  // the frames of both chains by offset
  std::vector<tFrame*> Frames_;                 // the same in file order
};

}  // namespace

tCheckResult CheckSquish(const tShortString& Path, tFindings& Findings, std::string& Why) {
  tShortString DataName, IndexName;
  if (!WholeName(DataName, {Path, ".sqd"}) || !WholeName(IndexName, {Path, ".sqi"})) {
    Why = "the file names do not fit 255 characters";
    return crUnreadable;
  }
  tCheckedFile Data(DataName), Index(IndexName);
  if (!Data.Opened() || !Index.Opened()) {
    Why = (Data.Opened() ? Index : Data).WhyNotOpened();
    return crUnreadable;
  }
  Findings.Looked();
  Findings.Looked();
  if (Data.Size < SqBaseSize) {
    Why = "the data file ends inside its 256-byte header";
    return crUnreadable;
  }
  const long Before = Findings.Count();
  CheckPackMarker(Path, Findings);
  tSquishCheck(Data, Index, Findings).Run();
  return Findings.Count() > Before ? crDamaged : crClean;
}

}  // namespace kelvane
