// A Squish base written anew (doc/formats/squish.md): its message frames,
// one after another from offset 256 in the order of their UMSGIDs, each
// frame as long as its message, no free frame; the index rebuilt from
// them (frame offsets, the UMSGIDs they had, the recipients' hashes); the
// base header's counts, chains and end of file right. UMSGIDs, reply
// links (UMSGIDs themselves), attributes and every byte of a message stay,
// so the last-read file (.sql, UMSGIDs) stays right untouched.
//
// The messages are the frames of the chain of message frames when it is
// whole; where it is broken (a link that leads nowhere a frame is, a loop,
// a frame that is none), every frame found by its identifier in the data
// file; and, either way, every message frame a counted index record points
// at. A frame's UMSGID is its index record's, else its message header's;
// of two frames with one UMSGID (a rewrite cut off before the old frame
// was freed) the one the index points at, else the later, is kept.
#include <algorithm>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "msgbase/base_repair.h"
#include "msgbase/message.h"
#include "msgbase/squish.h"
#include "runtime/coding.h"

namespace kelvane {

namespace {

using std::to_string;

struct tSqFrame {
  uint32_t Offset;
  uint32_t Length;  // bytes after the frame header that are the message
  uint32_t Ctrl;
  uint32_t Uid = 0;
  uint32_t HeaderUid = 0;  // as its message header has it
  bool Indexed = false;    // a counted index record points at it
  bool Free = false;       // marked free (an index record points at it all the same)
};

class tSquishRebuild {
 public:
  tSquishRebuild(tCheckedFile& Data, tCheckedFile& Index, tRebuildReport& Report)
      : Data_(Data), Index_(Index), Report_(Report) {}

  void Collect() {
    Data_.ReadAt(0, Base_, SqBaseSize);
    const uint32_t Eof = GetU32(Base_ + sbEndFrame);
    End_ = Eof >= SqBaseSize && Eof < Data_.Size ? Eof : Data_.Size;
    const int64_t Counted = std::min<int64_t>(GetU32(Base_ + sbNumMsg), Index_.Size / SqIdxSize);
    for (int64_t K = 0; K < Counted; ++K) {
      uint8_t R[SqIdxSize];
      Index_.ReadAt(K * SqIdxSize, R, SqIdxSize);
      Indexed_.emplace(GetU32(R + siFrame), GetU32(R + siUmsgId));
    }
    if (!WalkChain()) {
      Report_.Notes.push_back("the chain of message frames is broken: the messages were found by their frame identifiers");
      Frames_.clear();
      Scan();
    }
    for (const auto& [Offset, Uid] : Indexed_) Take(Offset);
    Order();
  }

  bool Write(tStream& Sqi, tStream& Sqd) {
    uint32_t NextUid = GetU32(Base_ + sbNextUid);
    for (const tSqFrame& F : Frames_) NextUid = std::max(NextUid, F.Uid + 1);
    const uint32_t Count = static_cast<uint32_t>(Frames_.size());
    uint32_t At = SqBaseSize;
    for (const tSqFrame& F : Frames_) At += SqFrameSize + F.Length;
    PutU16(Base_ + sbLength, SqBaseSize);
    PutU16(Base_ + sbFrameSize, SqFrameSize);
    PutU32(Base_ + sbNumMsg, Count);
    PutU32(Base_ + sbHighMsg, Count);
    PutU32(Base_ + sbNextUid, NextUid);
    if (GetU32(Base_ + sbHighWater) >= NextUid) PutU32(Base_ + sbHighWater, NextUid - 1);
    PutU32(Base_ + sbFirstFrame, SqBaseSize);
    PutU32(Base_ + sbLastFrame, Count ? At - SqFrameSize - Frames_.back().Length : 0);
    PutU32(Base_ + sbFirstFree, 0);
    PutU32(Base_ + sbLastFree, 0);
    PutU32(Base_ + sbEndFrame, At);
    Sqd.Write(Base_, SqBaseSize);
    std::vector<uint8_t> Buf;
    uint32_t Pos = SqBaseSize, Prev = 0;
    for (size_t I = 0; I < Frames_.size(); ++I) {
      const tSqFrame& F = Frames_[I];
      uint8_t H[SqFrameSize] = {};
      PutU32(H + sfId, SqFrameId);
      PutU32(H + sfNext, I + 1 < Frames_.size() ? Pos + SqFrameSize + F.Length : 0);
      PutU32(H + sfPrev, Prev);
      PutU32(H + sfLength, F.Length);
      PutU32(H + sfMsgLength, F.Length);
      PutU32(H + sfCtrlLength, F.Ctrl);
      PutU16(H + sfType, sqMessageFrame);
      Buf.resize(F.Length);
      Data_.ReadAt(int64_t{F.Offset} + SqFrameSize, Buf.data(), F.Length);
      PutU32(Buf.data() + sxUmsgId, F.Uid);
      Sqd.Write(H, SqFrameSize);
      Sqd.Write(Buf.data(), F.Length);
      uint8_t R[SqIdxSize];
      PutU32(R + siFrame, Pos);
      PutU32(R + siUmsgId, F.Uid);
      PutU32(R + siHash, SquishHash(GetTextField(Buf.data() + sxTo, 36).View()) |
                             ((GetU32(Buf.data() + sxAttr) & maReceived) ? 0x80000000u : 0));
      Sqi.Write(R, SqIdxSize);
      Prev = Pos;
      Pos += SqFrameSize + F.Length;
    }
    Report_.MessagesKept = Count;
    return Sqd.Status == stOk && Sqi.Status == stOk;
  }

 private:
  // The frame at At when it is a message frame that lies in the base: its
  // message length (the frame length when that is less), cut to the end of
  // the base, and its control length within it. False for anything else.
  bool MessageFrame(uint32_t At, tSqFrame& F, uint8_t* H, bool AnyType = false) {
    if (At < SqBaseSize || int64_t{At} + SqFrameSize > Data_.Size) return false;
    if (!Data_.ReadAt(At, H, SqFrameSize) || GetU32(H + sfId) != SqFrameId) return false;
    const bool Free = GetU16(H + sfType) != sqMessageFrame;
    if (Free && !AnyType) return false;
    // The message length, unless it is no length a message can have: then
    // the frame's.
    const uint32_t Used = GetU32(H + sfMsgLength), Whole = GetU32(H + sfLength);
    uint32_t Length = Used >= SqMsgSize && Used <= Whole ? Used : Whole;
    const int64_t Room = Data_.Size - At - SqFrameSize;
    if (Length > Room) {
      Length = static_cast<uint32_t>(Room);
      Report_.Notes.push_back("the message at frame " + to_string(At) + " runs past the end of the file: cut there");
    }
    if (Length < SqMsgSize) return false;
    F = tSqFrame{At, Length, std::min(GetU32(H + sfCtrlLength), Length - SqMsgSize)};
    F.Free = Free;
    return true;
  }

  // The chain of message frames from the header; false when it is broken.
  bool WalkChain() {
    std::unordered_set<uint32_t> Seen;
    uint32_t At = GetU32(Base_ + sbFirstFrame), Last = GetU32(Base_ + sbLastFrame), Prev = 0;
    if (At == End_ && Last == 0) return true;  // a base that never held a message
    while (At != 0) {
      if (Prev != 0 && Prev == Last && At >= End_) break;  // an append cut off
      uint8_t H[SqFrameSize];
      tSqFrame F;
      if (!Seen.insert(At).second || !MessageFrame(At, F, H)) return false;
      Frames_.push_back(F);
      Prev = At;
      At = GetU32(H + sfNext);
    }
    return true;
  }

  // Every message frame found by its identifier, front to back.
  void Scan() {
    std::vector<uint8_t> Block(64 * 1024);
    int64_t From = SqBaseSize;
    while (From + SqFrameSize <= End_) {
      const uint32_t Want = static_cast<uint32_t>(std::min<int64_t>(static_cast<int64_t>(Block.size()), End_ - From));
      if (!Data_.ReadAt(From, Block.data(), Want)) return;
      int64_t Next = From + Want - 3;  // an identifier across the blocks is found in the next
      for (uint32_t I = 0; I + 4 <= Want; ++I) {
        if (GetU32(Block.data() + I) != SqFrameId) continue;
        uint8_t H[SqFrameSize];
        tSqFrame F;
        if (MessageFrame(static_cast<uint32_t>(From + I), F, H)) {
          Frames_.push_back(F);
          Next = From + I + SqFrameSize + F.Length;
          break;
        }
      }
      if (Want < 4) break;
      From = std::max(Next, From + 1);
    }
  }

  // A frame a counted index record points at, when it is a message frame
  // the walk or the scan did not find.
  void Take(uint32_t Offset) {
    for (const tSqFrame& F : Frames_)
      if (F.Offset == Offset) return;
    uint8_t H[SqFrameSize];
    tSqFrame F;
    if (MessageFrame(Offset, F, H, true)) Frames_.push_back(F);
  }

  // UMSGIDs given, frames of one UMSGID down to one, the frames in UMSGID
  // order, none running into the next in the file.
  void Order() {
    std::sort(Frames_.begin(), Frames_.end(), [](const tSqFrame& A, const tSqFrame& B) { return A.Offset < B.Offset; });
    for (size_t I = 0; I + 1 < Frames_.size(); ++I) {
      tSqFrame& F = Frames_[I];
      const uint32_t Room = Frames_[I + 1].Offset - F.Offset - SqFrameSize;
      if (F.Length > Room && Room >= SqMsgSize) {
        F.Length = Room;
        F.Ctrl = std::min(F.Ctrl, Room - SqMsgSize);
        Report_.Notes.push_back("the message at frame " + to_string(F.Offset) + " ran into the next frame: cut there");
      }
    }
    uint32_t NextUid = GetU32(Base_ + sbNextUid);
    for (tSqFrame& F : Frames_) {
      uint8_t Uid[4];
      Data_.ReadAt(int64_t{F.Offset} + SqFrameSize + sxUmsgId, Uid, 4);
      F.HeaderUid = GetU32(Uid);
      auto It = Indexed_.find(F.Offset);
      F.Indexed = It != Indexed_.end();
      F.Uid = F.Indexed ? It->second : F.HeaderUid;
      NextUid = std::max(NextUid, F.Uid + 1);
    }
    // Of frames with one UMSGID the one whose header has it, a message
    // frame, one the index points at, the later comes first.
    auto Rank = [](const tSqFrame& F) { return std::make_tuple(F.HeaderUid == F.Uid, !F.Free, F.Indexed, F.Offset); };
    std::sort(Frames_.begin(), Frames_.end(), [&Rank](const tSqFrame& A, const tSqFrame& B) {
      return A.Uid != B.Uid ? A.Uid < B.Uid : Rank(A) > Rank(B);
    });
    std::unordered_set<uint32_t> Used;
    std::vector<tSqFrame> Kept, Others;
    for (const tSqFrame& F : Frames_)
      if (F.Uid != 0 && Used.insert(F.Uid).second) Kept.push_back(F);
      else Others.push_back(F);
    // The others keep the UMSGID of their header when no frame has it; one
    // a reader saw (an index record points at it) gets a new one; the rest
    // are old copies of a message (a rewrite cut off before the old frame
    // was freed).
    for (tSqFrame& F : Others) {
      const uint32_t Was = F.Uid;
      if (F.HeaderUid != 0 && Used.insert(F.HeaderUid).second) {
        F.Uid = F.HeaderUid;
      } else if (F.Indexed) {
        F.Uid = NextUid++;
      } else {
        Report_.Notes.push_back("the frame at " + to_string(F.Offset) + " holds UMSGID " + to_string(Was) +
                                " of another message: an old copy, dropped");
        continue;
      }
      Report_.Notes.push_back("the message at frame " + to_string(F.Offset) + " had UMSGID " + to_string(Was) +
                              ", another's or none: it got " + to_string(F.Uid));
      Kept.push_back(F);
    }
    std::sort(Kept.begin(), Kept.end(), [](const tSqFrame& A, const tSqFrame& B) { return A.Uid < B.Uid; });
    Frames_ = std::move(Kept);
  }

  tCheckedFile& Data_;
  tCheckedFile& Index_;
  tRebuildReport& Report_;
  uint8_t Base_[SqBaseSize] = {};
  int64_t End_ = 0;
  std::unordered_map<uint32_t, uint32_t> Indexed_;  // frame offset: UMSGID, of the counted records
  std::vector<tSqFrame> Frames_;
};

}  // namespace

bool RebuildSquish(const tShortString& Path, tRebuildReport& Report, tBaseSwap& Swap) {
  tShortString DataName, IndexName;
  WholeName(DataName, {Path, ".sqd"});
  WholeName(IndexName, {Path, ".sqi"});
  tCheckedFile Data(DataName), Index(IndexName);
  if (!Data.Opened() || !Index.Opened() || Data.Size < SqBaseSize) {
    Report.Why = (Data.Opened() ? Index : Data).WhyNotOpened();
    return false;
  }
  tSquishRebuild Rebuild(Data, Index, Report);
  Rebuild.Collect();
  if (!Rebuild.Write(Swap.Out(0), Swap.Out(1))) {
    Report.Why = "writing the new files failed";
    return false;
  }
  return true;
}

}  // namespace kelvane
