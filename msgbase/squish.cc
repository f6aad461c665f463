// Squish bases (see squish.h and doc/formats/squish.md).
//
// Every offset, length and count read from a file is bounded by the file
// before it is used: a frame offset must leave room for the frame's two
// headers, the control information and the text are cut where the frame
// or the file ends, and the message count never exceeds what the index
// holds. Changes are ordered so that a failure part-way leaves a base that
// reads: the new frame is written first, then what points to it (index
// record, frame chain), the free chain and the base header last.
#include "msgbase/squish.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "msgbase/address.h"
#include "msgbase/control_line.h"
#include "msgbase/fts_writer.h"
#include "msgbase/message.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"

namespace kelvane {

namespace {

constexpr uint32_t NameWidth = 36;
constexpr uint32_t SubjectWidth = 72;
constexpr uint32_t DateWidth = 20;
// Frame offsets and lengths are 32-bit unsigned: a data file reaches 4 GiB
// less one byte, and no frame lies or is put beyond.
constexpr int64_t MaxDataSize = std::numeric_limits<uint32_t>::max();

// Squish dates are MS-DOS dates with the two halves exchanged: the date in
// the low 16 bits, the time in the high 16 bits. 0 is no date.
tDateTime UnpackSquishDate(uint32_t V) {
  if (V == 0) return tDateTime();
  return UnpackDateTime((V << 16) | (V >> 16));
}

uint32_t PackSquishDate(const tDateTime& T) {
  if (T == tDateTime()) return 0;
  uint32_t P = PackDateTime(T);
  return (P << 16) | (P >> 16);
}

// An address word as the header stores it: an unknown one as 0.
uint16_t HeaderWord(uint16_t W) { return W == UnsetWord ? 0 : W; }

}  // namespace

uint32_t SquishHash(std::string_view Name) {
  // Only A-Z fold: every other Squish program hashes so (the C library's
  // tolower), and a hash they cannot compute again finds no mail for them.
  uint32_t H = 0;
  for (char C : Name) {
    uint8_t Byte = static_cast<uint8_t>(C);
    H = (H << 4) + (Byte >= 'A' && Byte <= 'Z' ? Byte + 32u : Byte);
    uint32_t G = H & 0xF0000000u;
    if (G != 0) H |= (G >> 24) | G;
  }
  return H & 0x7FFFFFFFu;
}

tSquishBase::tSquishBase() { ResetBaseHeader(); }

tSquishBase::~tSquishBase() {
  Change_.Close();
  AuxStream.reset();
  DataStream.reset();
  std::memset(SqBase, 0, sizeof SqBase);
  std::memset(SqMsg, 0, sizeof SqMsg);
  std::memset(SqIdx, 0, sizeof SqIdx);
  ResetBaseHeader();
  IndexStream.reset();
}

void tSquishBase::ResetBaseHeader() {
  PutU16(SqBase + sbLength, SqBaseSize);
  if (GetU32(SqBase + sbNextUid) == 0) PutU32(SqBase + sbNextUid, 2);
  PutU16(SqBase + sbFrameSize, SqFrameSize);
  if (GetU32(SqBase + sbEndFrame) == 0) PutU32(SqBase + sbEndFrame, SqBaseSize);
  PutU32(SqFrame + sfId, SqFrameId);
}

uint32_t tSquishBase::IndexField(int32_t N, uint32_t Field) const {
  if (N < 1 || N > Count || static_cast<size_t>(N) * SqIdxSize > Index_.size()) return 0;
  return GetU32(Index_.data() + (static_cast<size_t>(N) - 1) * SqIdxSize + Field);
}

int32_t tSquishBase::NumberOfUid(uint32_t Uid) const {
  if (Uid == 0) return 0;
  // UMSGIDs grow with the message number in every base written in order;
  // a base where they do not is searched through.
  int32_t Lo = 1, Hi = Count;
  while (Lo <= Hi) {
    int32_t Mid = Lo + (Hi - Lo) / 2;
    uint32_t U = UmsgIdOf(Mid);
    if (U == Uid) return Mid;
    if (U < Uid)
      Lo = Mid + 1;
    else
      Hi = Mid - 1;
  }
  for (int32_t N = 1; N <= Count; ++N)
    if (UmsgIdOf(N) == Uid) return N;
  return 0;
}

int64_t tSquishBase::FileDataSize() {
  if (!DataStream) return 0;
  return std::min<int64_t>(DataStream->GetSize(), MaxDataSize);
}

bool tSquishBase::LoadState() {
  Count = 0;
  Index_.clear();
  if (!DataStream || !IndexStream) return false;
  DataSize_ = FileDataSize();
  DataStream->Seek(0);
  DataStream->Read(SqBase, SqBaseSize);
  if (DataStream->Status != stOk) return false;
  // The count is what the header says, but never more than the index
  // holds: other software leaves records past the count, and a damaged
  // header may claim any number.
  int64_t Records = IndexStream->GetSize() / SqIdxSize;
  int64_t Claimed = GetU32(SqBase + sbNumMsg);
  int64_t N = std::min({Claimed, Records, static_cast<int64_t>(std::numeric_limits<int32_t>::max() / SqIdxSize)});
  try {
    Index_.resize(static_cast<size_t>(N) * SqIdxSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  IndexStream->Seek(0);
  if (N > 0) IndexStream->Read(Index_.data(), static_cast<uint32_t>(Index_.size()));
  if (IndexStream->Status != stOk) {
    Index_.clear();
    return false;
  }
  Count = static_cast<int32_t>(N);
  OwnHeader_ = false;
  return true;
}

void tSquishBase::Reload() {
  ForgetLinks();
  if (DataStream) DataStream->Reset();
  if (IndexStream) IndexStream->Reset();
  if (!LoadState()) {
    Count = 0;
    Index_.clear();
  }
  ClearError();
}

bool tSquishBase::Fail() {
  Reload();
  return true;
}

bool tSquishBase::OpenStreams(std::unique_ptr<tStream> Data, std::unique_ptr<tStream> Index) {
  Change_.Close();
  DataStream = std::move(Data);
  IndexStream = std::move(Index);
  if (!DataStream || !IndexStream || DataStream->Status != stOk || IndexStream->Status != stOk || !LoadState()) {
    Closed = cbFailed;
    AuxStream.reset();
    DataStream.reset();
    IndexStream.reset();
    Index_.clear();
    Count = 0;
    return true;
  }
  Closed = cbOpen;
  return false;
}

bool tSquishBase::StartOver(std::string_view APath, int32_t Mode) {
  Change_.Close();
  PrepareBase(APath, Mode);
  AuxStream.reset();
  DataStream.reset();
  IndexStream.reset();
  Index_.clear();
  Count = 0;
  Closed = cbFailed;
  // PrepareBase stores nothing for a path that does not fit or whose
  // folder cannot be made.
  return Path == APath;
}

bool tSquishBase::Open(std::string_view APath, int32_t Mode) {
  if (!StartOver(APath, Mode)) return true;
  tShortString DataName = Path + ".sqd", IndexName = Path + ".sqi", LastReadName = Path + ".sql";
  // A base the process may not write (a read-only file or medium) still
  // reads; its writes then fail and say so.
  auto OpenFile = [this](const tShortString& Name) {
    auto S = std::make_unique<tBufStream>(Name, StreamMode(smOpenReadWrite));
    if (S->Status != stOk) S = std::make_unique<tBufStream>(Name, static_cast<uint16_t>(StreamMode(smOpenRead) & ~0x03));
    return S;
  };
  std::unique_ptr<tStream> Data = OpenFile(DataName), Index = OpenFile(IndexName);
  if (OpenStreams(std::move(Data), std::move(Index))) return true;
  // The last-read file only beside a base that opened: a failed open
  // leaves no file behind.
  AuxStream = std::make_unique<tBufStream>(LastReadName, StreamMode(FileExists(LastReadName) ? smOpenReadWrite : smCreate));
  return false;
}

bool tSquishBase::Create(std::string_view APath, int32_t Mode) {
  if (!StartOver(APath, Mode)) return true;
  // A mode that only opens (0x3D40 OR-ed into the create) makes nothing.
  uint16_t CreateMode = StreamMode(smCreate);
  tOpenMode Decoded = DecodeOpenMode(CreateMode);
  if (!Decoded.Valid || !Decoded.Create) return true;
  uint16_t NewMode = static_cast<uint16_t>(fmCreateNew | (CreateMode & 0x00FF));
  tShortString DataName = Path + ".sqd", IndexName = Path + ".sqi", LastReadName = Path + ".sql";
  // Files that are there belong to a base that did not open (damaged, or
  // held by another program): a new base is never made over them. Both
  // are made new, never through a link; what was made is removed again
  // when the rest fails.
  auto Index = std::make_unique<tBufStream>(IndexName, NewMode);
  if (Index->Status != stOk) return true;
  auto Data = std::make_unique<tBufStream>(DataName, NewMode);
  if (Data->Status != stOk) {
    Index->Close();
    RemoveFile(IndexName);
    return true;
  }
  std::memset(SqBase, 0, sizeof SqBase);
  PutU32(SqBase + sbFirstFrame, SqBaseSize);
  PutU32(SqBase + sbHighWater, 1);
  ResetBaseHeader();
  Data->Write(SqBase, SqBaseSize);
  Data->Flush();
  if (Data->Status != stOk) {
    Data->Close();
    Index->Close();
    RemoveFile(DataName);
    RemoveFile(IndexName);
    return true;
  }
  if (OpenStreams(std::move(Data), std::move(Index))) return true;
  AuxStream = std::make_unique<tBufStream>(LastReadName, FileExists(LastReadName) ? StreamMode(smOpenReadWrite) : CreateMode);
  return false;
}

void tSquishBase::ClearError() {
  tMsgBase::ClearError();
  if (IndexStream) IndexStream->Reset();
}

bool tSquishBase::ReadFrameHeader(uint32_t Offset, uint8_t* Frame, int Type) {
  if (Offset < SqBaseSize || Offset + static_cast<int64_t>(SqFrameSize) > DataSize_) return false;
  DataStream->Seek(Offset);
  DataStream->Read(Frame, SqFrameSize);
  if (DataStream->Status != stOk) {
    DataStream->Reset();
    return false;
  }
  return GetU32(Frame + sfId) == SqFrameId && (Type < 0 || GetU16(Frame + sfType) == Type);
}

bool tSquishBase::ReadHeaders(int32_t N) {
  if (Closed != cbOpen || !Exists(N)) return false;
  uint32_t Offset = FrameOffset(N);
  std::memcpy(SqIdx, Index_.data() + (static_cast<size_t>(N) - 1) * SqIdxSize, SqIdxSize);
  if (Offset + static_cast<int64_t>(SqFrameSize + SqMsgSize) > DataSize_) return false;
  if (!ReadFrameHeader(Offset, SqFrame)) return false;
  DataStream->Read(SqMsg, SqMsgSize);
  if (DataStream->Status != stOk) {
    DataStream->Reset();
    return false;
  }
  return true;
}

void tSquishBase::ConvertHeader(bool ToMessage, tMessage* Msg) {
  if (!Msg) return;
  uint8_t* H = SqMsg;
  if (ToMessage) {
    Msg->Attr = GetU32(H + sxAttr);
    Msg->TimesRead = (Msg->Attr & SqReadBit) ? 1 : 0;
    Msg->From = GetTextField(H + sxFrom, NameWidth);
    Msg->To = GetTextField(H + sxTo, NameWidth);
    Msg->Subject = GetTextField(H + sxSubject, SubjectWidth);
    Msg->OrigZone = GetU16(H + sxOrig), Msg->OrigNet = GetU16(H + sxOrig + 2);
    Msg->OrigNode = GetU16(H + sxOrig + 4), Msg->OrigPoint = GetU16(H + sxOrig + 6);
    Msg->DestZone = GetU16(H + sxDest), Msg->DestNet = GetU16(H + sxDest + 2);
    Msg->DestNode = GetU16(H + sxDest + 4), Msg->DestPoint = GetU16(H + sxDest + 6);
    Msg->DateWritten = UnpackSquishDate(GetU32(H + sxDateWritten));
    Msg->DateArrived = UnpackSquishDate(GetU32(H + sxDateArrived));
    Msg->UtcOfs = GetI16(H + sxUtcOfs);
    Msg->ReplyTo = GetI32(H + sxReplyTo);
    std::memset(Msg->Replies, 0, sizeof Msg->Replies);
    for (int I = 0; I < SqReplyCount; ++I) Msg->Replies[I + 1] = GetI32(H + sxReplies + 4 * I);
    Msg->DateStr = GetTextField(H + sxDateStr, DateWidth);
    if (Msg->DateStr.Empty() && !(Msg->DateArrived == tDateTime())) Msg->DateStr = DateTimeToStr(Msg->DateArrived);
    return;
  }

  std::memset(H, 0, SqMsgSize);
  // A message with neither date nor date text is dated by its arrival when
  // it has one, as a read dates it.
  if (Msg->DateWritten == tDateTime() && Msg->DateStr.Empty() && !(Msg->DateArrived == tDateTime()))
    Msg->DateStr = DateTimeToStr(Msg->DateArrived);
  DateForWriting(*Msg);
  Msg->DateStr.Truncate(DateWidth);
  uint32_t Attr = Msg->TimesRead ? (Msg->Attr | SqReadBit) : (Msg->Attr & ~SqReadBit);
  PutU32(H + sxAttr, Attr);
  PutTextField(H + sxFrom, NameWidth, Msg->From, NameWidth - 1);
  PutTextField(H + sxTo, NameWidth, Msg->To, NameWidth - 1);
  PutTextField(H + sxSubject, SubjectWidth, Msg->Subject, SubjectWidth - 1);
  const uint16_t Words[8] = {Msg->OrigZone, Msg->OrigNet, Msg->OrigNode, Msg->OrigPoint,
                             Msg->DestZone, Msg->DestNet, Msg->DestNode, Msg->DestPoint};
  for (int I = 0; I < 8; ++I) PutU16(H + sxOrig + 2 * I, HeaderWord(Words[I]));
  PutU32(H + sxDateWritten, PackSquishDate(Msg->DateWritten));
  PutU32(H + sxDateArrived, PackSquishDate(Msg->DateArrived));
  PutU16(H + sxUtcOfs, static_cast<uint16_t>(Msg->UtcOfs));
  PutU32(H + sxReplyTo, static_cast<uint32_t>(Msg->ReplyTo));
  for (int I = 0; I < SqReplyCount; ++I) PutU32(H + sxReplies + 4 * I, static_cast<uint32_t>(Msg->Replies[I + 1]));
  PutTextField(H + sxDateStr, DateWidth, Msg->DateStr, DateWidth);
}

bool tSquishBase::ReadMessage(int32_t N, tMessage* Msg) {
  tMsgBase::ReadMessage(N, Msg);
  if (Closed != cbOpen || !Msg || !Exists(N)) return true;
  if (!ReadHeaders(N)) {
    Msg->Clear();
    return true;
  }
  Msg->Clear();
  ConvertHeader(true, Msg);
  Msg->MsgNum = UmsgIdOf(N);
  Msg->NextUid = GetU32(SqBase + sbNextUid);
  tShortString StoredDate = GetTextField(SqMsg + sxDateStr, DateWidth);

  // What the frame holds after its header, cut where the file ends.
  int64_t Start = static_cast<int64_t>(FrameOffset(N)) + SqFrameSize;
  int64_t Used = std::min<int64_t>(GetU32(SqFrame + sfMsgLength), DataSize_ - Start);
  int64_t CtrlLength = std::clamp<int64_t>(GetU32(SqFrame + sfCtrlLength), 0, std::max<int64_t>(Used - SqMsgSize, 0));
  int64_t TextStart = Start + SqMsgSize + CtrlLength, TextEnd = Start + std::max<int64_t>(Used, SqMsgSize);
  if (CtrlLength > 0) {
    ReadControlInfo(*Msg, Start + SqMsgSize, Start + SqMsgSize + CtrlLength);
    DataStream->Reset();
  }
  if (TextStart < TextEnd) ReadText(Msg, TextStart, TextEnd);
  Msg->Text.Reset();
  Msg->SyncFlags(true);
  CompleteHeader(*Msg);
  // The packed date holds even seconds only; a date text that says the
  // same moment to the second is the finer of the two.
  tDateTime Fine;
  if (!StoredDate.Empty() && ParseDateStr(StoredDate, Fine) && !(Fine == Msg->DateWritten) &&
      PackDateTime(Fine) == PackDateTime(Msg->DateWritten)) {
    Msg->DateWritten = Fine;
    Msg->DateStr = DateTimeToStr(Fine);
  }
  Msg->State = msRead;
  return false;
}

bool tSquishBase::ReadThread(int32_t N, tMessage* Msg) {
  ClearError();
  if (Closed == cbOpen && Msg && Exists(N)) return ReadMessage(N, Msg);
  return true;
}

void tSquishBase::WriteAt(tStream& S, int64_t At, const void* Bytes, uint32_t Length) {
  S.Seek(At);
  S.Write(Bytes, Length);
}

bool tSquishBase::Flushed() {
  DataStream->Flush();
  IndexStream->Flush();
  return DataStream->Status == stOk && IndexStream->Status == stOk;
}

void tSquishBase::SetCounts(int32_t Messages) {
  PutU32(SqBase + sbNumMsg, static_cast<uint32_t>(Messages));
  PutU32(SqBase + sbHighMsg, static_cast<uint32_t>(Messages));
  PutU16(SqBase + sbLength, SqBaseSize);
  PutU16(SqBase + sbFrameSize, SqFrameSize);
}

void tSquishBase::WriteBaseHeader() {
  SetCounts(Count);
  WriteAt(*DataStream, 0, SqBase, SqBaseSize);
}

void tSquishBase::FreeFrame(uint32_t Offset, uint8_t* Frame) {
  PutU16(Frame + sfType, sqFreeFrame);
  uint32_t First = GetU32(SqBase + sbFirstFree), Last = GetU32(SqBase + sbLastFree);
  uint8_t Other[SqFrameSize];
  if (Offset == First || Offset == Last) {
    // Already on the chain (a damaged base): linked twice, it would loop.
  } else if (First == 0 || Last == 0 || !ReadFrameHeader(First, Other, sqFreeFrame) ||
             !ReadFrameHeader(Last, Other, sqFreeFrame)) {
    // No chain, or one that cannot be followed: this frame is all of it.
    PutU32(Frame + sfNext, 0);
    PutU32(Frame + sfPrev, 0);
    PutU32(SqBase + sbFirstFree, Offset);
    PutU32(SqBase + sbLastFree, Offset);
  } else if (Offset < First) {
    PutU32(Frame + sfNext, First);
    PutU32(Frame + sfPrev, 0);
    ReadFrameHeader(First, Other, sqFreeFrame);
    PutU32(Other + sfPrev, Offset);
    WriteAt(*DataStream, Offset, Frame, SqFrameSize);
    WriteAt(*DataStream, First, Other, SqFrameSize);
    PutU32(SqBase + sbFirstFree, Offset);
    return;
  } else {
    PutU32(Frame + sfNext, 0);
    PutU32(Frame + sfPrev, Last);
    PutU32(Other + sfNext, Offset);
    WriteAt(*DataStream, Offset, Frame, SqFrameSize);
    WriteAt(*DataStream, Last, Other, SqFrameSize);
    PutU32(SqBase + sbLastFree, Offset);
    return;
  }
  WriteAt(*DataStream, Offset, Frame, SqFrameSize);
}

bool tSquishBase::StartChange(bool WholeIndex) {
  auto Reopen = [this]() -> tStream* {
    tShortString Again = Path;
    return Open(Again, OpenMode) ? nullptr : DataStream.get();
  };
  if (!Change_.Start(*this, DataStream.get(), Path + ".sqd", Reopen)) return false;
  if (!Change_.Fresh() && !WholeIndex) return true;
  bool Ok = true;
  if (Change_.Fresh()) {
    DataStream->Refresh();
    IndexStream->Refresh();
    uint8_t Header[SqBaseSize];
    DataStream->Seek(0);
    DataStream->Read(Header, SqBaseSize);
    Ok = DataStream->Status == stOk;
    // Another writer changes the header with every message it adds or
    // removes: while it is the one this object holds, so is the index (a
    // writer cut off before its header leaves only bytes nothing counts).
    if (std::memcmp(Header, SqBase, SqBaseSize) != 0) {
      WholeIndex = true;
      OwnHeader_ = false;
    }
  }
  if (Ok && WholeIndex) Ok = LoadState();
  if (Ok) return true;
  Change_.End();
  Reload();
  return false;
}

bool tSquishBase::WriteMessage(int32_t N, tMessage* Msg) {
  tMsgBase::WriteMessage(N, Msg);
  if (Closed != cbOpen || !Msg || N < 1) return true;
  // Above the messages the caller knows: an append, after whatever the
  // base holds once the lock is had.
  bool Append = N > Count;
  Msg->SyncFlags(false);
  ConvertHeader(false, Msg);
  tMemoryStream Ctrl, Body;
  WriteKludgeLines(Ctrl, *Msg, ksControlInfo);
  WriteBodyAndTail(Body, *Msg, tpAll);
  Body.Write("", 1);
  if (Ctrl.Status != stOk || Body.Status != stOk) return true;

  tChangeScope Change(Change_, StartChange());
  if (!Change) return true;
  if (Append || N > Count) N = Count + 1;
  bool Replacing = Exists(N);
  ForgetLinks();

  // Where the frame goes: at the end of file of a header this object wrote
  // last (bytes past it are what a writer cut off left, which nothing
  // points at); after any other writer, at the end of the file as it is
  // now, never over bytes that are there, whatever the header says.
  int64_t At = OwnHeader_ ? GetU32(SqBase + sbEndFrame) : FileDataSize();
  int64_t MsgLength = SqMsgSize + Ctrl.GetSize() + Body.GetSize();
  if (At < SqBaseSize || At + SqFrameSize + MsgLength > MaxDataSize) return true;
  // Room for the new record before anything is written: an append that
  // could not keep its index record must not leave its frame behind.
  std::string Bytes;
  try {
    if (!Replacing) Index_.reserve(Index_.size() + SqIdxSize);
    Bytes.reserve(static_cast<size_t>(SqFrameSize + MsgLength));
  } catch (const std::bad_alloc&) {
    return true;
  }

  // A replacement keeps the UMSGID that links to the message name; an
  // append takes the next one, above every UMSGID the index holds.
  uint32_t Uid = Replacing ? UmsgIdOf(N) : GetU32(SqBase + sbNextUid);
  if (!Replacing) Uid = std::max({Uid, Count > 0 ? UmsgIdOf(Count) + 1 : 1u, 1u});
  uint32_t Prev = N > 1 ? FrameOffset(N - 1) : 0;
  uint32_t Next = Replacing && N < Count ? FrameOffset(N + 1) : 0;
  uint32_t Old = Replacing ? FrameOffset(N) : 0;

  // 1. The new frame at the end of the file, where nothing points.
  uint8_t Frame[SqFrameSize] = {};
  PutU32(Frame + sfId, SqFrameId);
  PutU32(Frame + sfNext, Next);
  PutU32(Frame + sfPrev, Prev);
  PutU32(Frame + sfLength, static_cast<uint32_t>(MsgLength));
  PutU32(Frame + sfMsgLength, static_cast<uint32_t>(MsgLength));
  PutU32(Frame + sfCtrlLength, static_cast<uint32_t>(Ctrl.GetSize()));
  PutU16(Frame + sfType, sqMessageFrame);
  PutU32(SqMsg + sxUmsgId, Uid);
  std::memcpy(SqFrame, Frame, SqFrameSize);
  for (std::string_view Part : {std::string_view(reinterpret_cast<const char*>(Frame), SqFrameSize),
                                std::string_view(reinterpret_cast<const char*>(SqMsg), SqMsgSize), Ctrl.View(), Body.View()})
    Bytes.append(Part);
  // What this change wrote goes again when a step fails: the frame, the
  // links to it and its index record, and the header as it was.
  tUndoLog Undo;
  uint8_t OldBase[SqBaseSize];
  std::memcpy(OldBase, SqBase, SqBaseSize);
  auto Failed = [&] {
    Undo.Undo();
    std::memcpy(SqBase, OldBase, SqBaseSize);
    return Fail();
  };
  if (!Undo.PutAtEnd(*DataStream, At, Bytes.data(), static_cast<uint32_t>(Bytes.size()))) return Failed();
  int64_t End = At + SqFrameSize + MsgLength;
  DataSize_ = std::max(DataSize_, End);

  uint8_t Record[SqIdxSize];
  PutU32(Record + siFrame, static_cast<uint32_t>(At));
  PutU32(Record + siUmsgId, Uid);
  // The top bit marks a received message, as other Squish software sets it
  // and looks for when it scans for new mail.
  PutU32(Record + siHash, SquishHash(Msg->To) | (Msg->HasAttr(maReceived) ? 0x80000000u : 0));
  std::memcpy(SqIdx, Record, SqIdxSize);
  auto LinkNeighbours = [&] {
    uint8_t Other[SqFrameSize], Linked[SqFrameSize];
    for (auto [Neighbour, Field] : {std::pair{Prev, sfNext}, std::pair{Next, sfPrev}}) {
      if (!Neighbour || !ReadFrameHeader(Neighbour, Other, sqMessageFrame)) continue;
      std::memcpy(Linked, Other, SqFrameSize);
      PutU32(Linked + Field, static_cast<uint32_t>(At));
      if (!Undo.Put(*DataStream, Neighbour, Linked, SqFrameSize, Other)) return false;
    }
    return true;
  };

  if (!Replacing) {
    // 2. The index record past the count (no reader sees it yet), 3. the
    // chain: a link from the last frame into bytes past the header's end
    // of file, which nothing counts yet, 4. the header that counts it.
    // The record needs no undo: past the count it is no message.
    WriteAt(*IndexStream, static_cast<int64_t>(Count) * SqIdxSize, Record, SqIdxSize);
    IndexStream->Flush();
    if (IndexStream->Status != stOk || !LinkNeighbours()) return Failed();
    PutU32(SqBase + sbHighWater, Uid);
    PutU32(SqBase + sbNextUid, Uid + 1);
  } else {
    // 2. The chain through the new frame, 3. the index record in place:
    // until it is written the old message is the one that reads. 4. The
    // old frame to the free chain.
    if (!LinkNeighbours() || !Undo.Put(*IndexStream, static_cast<int64_t>(N - 1) * SqIdxSize, Record, SqIdxSize))
      return Failed();
    std::memcpy(Index_.data() + static_cast<size_t>(N - 1) * SqIdxSize, Record, SqIdxSize);
    uint8_t Other[SqFrameSize];
    if (ReadFrameHeader(Old, Other, sqMessageFrame)) FreeFrame(Old, Other);
    if (!Flushed()) return Fail();
  }
  if (N >= Count) PutU32(SqBase + sbLastFrame, static_cast<uint32_t>(At));
  if (N == 1) PutU32(SqBase + sbFirstFrame, static_cast<uint32_t>(At));
  PutU32(SqBase + sbEndFrame, static_cast<uint32_t>(End));
  int32_t NewCount = Replacing ? Count : Count + 1;
  SetCounts(NewCount);
  if (!Undo.Put(*DataStream, 0, SqBase, SqBaseSize, OldBase)) return Replacing ? Fail() : Failed();
  if (!Replacing) {
    Index_.insert(Index_.end(), Record, Record + SqIdxSize);
    Count = NewCount;
  }
  OwnHeader_ = true;
  Msg->MsgNum = Uid;
  Msg->State = msWritten;
  return false;
}

bool tSquishBase::DeleteMessage(int32_t N) {
  tMsgBase::DeleteMessage(N);
  if (Closed != cbOpen || !Exists(N)) return true;
  // The records after N are written back from memory: they must be the
  // file's, whatever the header says.
  tChangeScope Change(Change_, StartChange(true));
  if (!Change || !Exists(N)) return true;
  ForgetLinks();
  uint32_t Offset = FrameOffset(N);
  std::memcpy(SqIdx, Index_.data() + static_cast<size_t>(N - 1) * SqIdxSize, SqIdxSize);

  // 1. The index record goes: the records after it move down and the file
  // ends one record earlier. The index is in memory already, so nothing
  // has to be allocated for this.
  size_t From = static_cast<size_t>(N - 1) * SqIdxSize;
  std::memmove(Index_.data() + From, Index_.data() + From + SqIdxSize, Index_.size() - From - SqIdxSize);
  Index_.resize(Index_.size() - SqIdxSize);
  if (Index_.size() > From) WriteAt(*IndexStream, From, Index_.data() + From, static_cast<uint32_t>(Index_.size() - From));
  IndexStream->Seek(static_cast<int64_t>(Index_.size()));
  IndexStream->Truncate();
  if (!Flushed()) return Fail();
  --Count;

  // 2. The frame leaves the message chain and joins the free chain. A
  // record that led to no frame only leaves the index.
  if (ReadFrameHeader(Offset, SqFrame, sqMessageFrame)) {
    uint32_t Prev = GetU32(SqFrame + sfPrev), Next = GetU32(SqFrame + sfNext);
    // A frame that names itself as its neighbour (a damaged chain) leaves
    // nothing that points to it.
    if (Prev == Offset) Prev = 0;
    if (Next == Offset) Next = 0;
    uint8_t Other[SqFrameSize];
    if (Prev && ReadFrameHeader(Prev, Other, sqMessageFrame) && GetU32(Other + sfNext) == Offset) {
      PutU32(Other + sfNext, Next);
      WriteAt(*DataStream, Prev, Other, SqFrameSize);
    }
    if (Next && ReadFrameHeader(Next, Other, sqMessageFrame) && GetU32(Other + sfPrev) == Offset) {
      PutU32(Other + sfPrev, Prev);
      WriteAt(*DataStream, Next, Other, SqFrameSize);
    }
    if (GetU32(SqBase + sbFirstFrame) == Offset) PutU32(SqBase + sbFirstFrame, Next);
    if (GetU32(SqBase + sbLastFrame) == Offset) PutU32(SqBase + sbLastFrame, Prev);
    FreeFrame(Offset, SqFrame);
  }
  // 3. The header.
  WriteBaseHeader();
  if (!Flushed()) return Fail();
  return false;
}

void tSquishBase::LoadLinks(int32_t N) {
  if (Closed != cbOpen || !Exists(N)) return;
  LinkCache = tLinkCache{N, 0, 0, 0};
  if (!ReadHeaders(N)) return;
  LinkCache.ReplyTo = NumberOfUid(GetU32(SqMsg + sxReplyTo));
  LinkCache.Reply1st = NumberOfUid(GetU32(SqMsg + sxReplies));
  LinkCache.ReplyNext = NumberOfUid(GetU32(SqMsg + sxReplies + 4));
}

int32_t tSquishBase::GetReplyTo(int32_t N) {
  int32_t R = tMsgBase::GetReplyTo(N);
  if (Closed != cbOpen || !Exists(N) || R > 0) return R;
  LoadLinks(N);
  return tMsgBase::GetReplyTo(N);
}

int32_t tSquishBase::GetReply1st(int32_t N) {
  int32_t R = tMsgBase::GetReply1st(N);
  if (Closed != cbOpen || !Exists(N) || R > 0) return R;
  LoadLinks(N);
  return tMsgBase::GetReply1st(N);
}

int32_t tSquishBase::GetReplyNext(int32_t N) {
  int32_t R = tMsgBase::GetReplyNext(N);
  if (Closed != cbOpen || !Exists(N) || R > 0) return R;
  LoadLinks(N);
  return tMsgBase::GetReplyNext(N);
}

void tSquishBase::SetLink(int32_t N, uint32_t Field, int32_t Value) {
  if (Closed != cbOpen || !Exists(N)) return;
  if (Value != 0 && !Exists(Value)) return;
  tChangeScope Change(Change_, StartChange());
  if (!Change || !Exists(N) || (Value != 0 && !Exists(Value))) return;
  ClearError();
  ForgetLinks();
  if (!ReadHeaders(N)) return;
  PutU32(SqMsg + Field, Value == 0 ? 0 : UmsgIdOf(Value));
  WriteAt(*DataStream, static_cast<int64_t>(FrameOffset(N)) + SqFrameSize, SqMsg, SqMsgSize);
  DataStream->Flush();
}

void tSquishBase::SetReplyTo(int32_t N, int32_t Value) { SetLink(N, sxReplyTo, Value); }
void tSquishBase::SetReply1st(int32_t N, int32_t Value) { SetLink(N, sxReplies, Value); }
void tSquishBase::SetReplyNext(int32_t N, int32_t Value) { SetLink(N, sxReplies + 4, Value); }

void tSquishBase::LinkReply(int32_t N, int32_t M) {
  if (Closed != cbOpen || !Exists(N) || !Exists(M) || M == N) return;
  // Both headers in one change.
  tChangeScope Change(Change_, StartChange());
  if (!Change || !Exists(N) || !Exists(M)) return;
  ClearError();
  SetReplyTo(M, N);
  if (!ReadHeaders(N)) return;
  uint32_t Uid = UmsgIdOf(M);
  for (int I = 0; I < SqReplyCount; ++I) {
    uint32_t R = GetU32(SqMsg + sxReplies + 4 * I);
    if (R == Uid) return;
    if (R == 0) {
      PutU32(SqMsg + sxReplies + 4 * I, Uid);
      WriteAt(*DataStream, static_cast<int64_t>(FrameOffset(N)) + SqFrameSize, SqMsg, SqMsgSize);
      DataStream->Flush();
      return;
    }
  }
}

void tSquishBase::MarkRead(int32_t N) {
  if (Closed != cbOpen || !Exists(N)) return;
  tChangeScope Change(Change_, StartChange());
  if (!Change || !Exists(N)) return;
  ClearError();
  if (!ReadHeaders(N)) return;
  PutU32(SqMsg + sxAttr, GetU32(SqMsg + sxAttr) | SqReadBit);
  WriteAt(*DataStream, static_cast<int64_t>(FrameOffset(N)) + SqFrameSize, SqMsg, SqMsgSize);
  DataStream->Flush();
}

}  // namespace kelvane
