// JAM bases (see jam.h): the fixed header, message headers with their
// subfields, the index, the attribute mapping, replacing and deleting with
// the repair of reply chains, and the link operations.
#include "msgbase/jam.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/base_change.h"
#include "msgbase/baseid.h"
#include "msgbase/control_line.h"
#include "msgbase/fts_writer.h"
#include "msgbase/message.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"

namespace kelvane {

namespace {

constexpr char Soh = 1;
constexpr uint8_t Signature[4] = {'J', 'A', 'M', 0};
constexpr uint8_t NoIndexRec[JamIndexRecSize] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// The sender's offset from UTC ("0300", "-0500"): the TZUTC kludge of the
// other formats.
constexpr uint32_t sfTzUtc = 2004;
constexpr std::string_view TzUtcPrefix = "\001TZUTC: ";
// The subfields of one message read at the most. Real headers carry a few
// kilobytes (long SEEN-BY lists included); a SubfieldLen that claims more
// is not believed further.
constexpr int64_t MaxSubfieldBytes = 4 << 20;
constexpr int64_t MaxHeaderOffset = std::numeric_limits<int32_t>::max();  // HdrOffset is signed

// The JAM attribute bits and their counterparts: an Attr bit, or (Ext >= 0)
// a FLAGS-only flag of ExtFlags.
struct tAttrPair {
  uint32_t Jam;
  uint32_t AttrBit;
  int Ext;
};
constexpr tAttrPair AttrPairs[] = {
    {0x00000001, maLocal, -1},        {0x00000002, maInTransit, -1},   {0x00000004, maPrivate, -1},
    {0x00000008, maReceived, -1},     {0x00000010, maSent, -1},        {0x00000020, maKillSent, -1},
    {0x00000040, 0, efArchiveSent},   {0x00000080, maHold, -1},        {0x00000100, maCrash, -1},
    {0x00000200, 0, efImmediate},     {0x00000400, 0, efDirect},       {0x00001000, maFileRequest, -1},
    {0x00002000, maFileAttached, -1}, {0x00004000, 0, efTruncFileSent}, {0x00008000, 0, efKillFileSent},
    {0x00010000, maReceiptReq, -1},   {0x00020000, maIsReceipt, -1},   {0x00040000, maOrphan, -1},
    {0x40000000, 0, efLock},          {0x80000000, maDeleted, -1},
};

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> T{};
  for (uint32_t I = 0; I < 256; ++I) {
    uint32_t C = I;
    for (int K = 0; K < 8; ++K) C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
    T[I] = C;
  }
  return T;
}
constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();

bool IsValidHeader(const uint8_t* H) {
  return std::memcmp(H + jhSignature, Signature, 4) == 0 || GetU16(H + jhRevision) == 1;
}

// A message header as this library starts a new one: zero but for the
// signature, revision 1 and no password.
void ResetHeader(uint8_t* H) {
  std::memset(H, 0, JamHeaderSize);
  std::memcpy(H + jhSignature, Signature, 4);
  PutU16(H + jhRevision, 1);
  PutU32(H + jhPasswordCrc, 0xFFFFFFFF);
}

// A header with the deleted bit and no text.
void MarkDeleted(uint8_t* H) {
  PutU32(H + jhAttribute, GetU32(H + jhAttribute) | jaDeleted);
  PutU32(H + jhTxtOffset, 0);
  PutU32(H + jhTxtLen, 0);
}

int32_t LinkField(const uint8_t* H, uint32_t Field) { return static_cast<int32_t>(GetU32(H + Field)); }

// A subfield's text: the data up to its first NUL (some writers count a
// terminator in DatLen).
std::string_view SubfieldText(std::string_view Data) { return Data.substr(0, Data.find('\0')); }

// Walks the subfields of Buf in their order, calling Each(Id, Data) for
// every one that lies whole in Buf. A subfield header that reads "JAM\0"
// is the next message's header, which a SubfieldLen too large (jamnntpd on
// 64-bit systems) runs into: the walk ends there.
template <class F>
void WalkSubfields(std::string_view Buf, F&& Each) {
  size_t Pos = 0;
  while (Buf.size() - Pos >= JamSubfieldHdrSize) {
    const uint8_t* P = reinterpret_cast<const uint8_t*>(Buf.data()) + Pos;
    if (std::memcmp(P, Signature, 4) == 0) break;
    uint32_t Id = GetU32(P);
    uint32_t Len = GetU32(P + 4);
    Pos += JamSubfieldHdrSize;
    if (Len > Buf.size() - Pos) break;
    Each(Id, Buf.substr(Pos, Len));
    Pos += Len;
  }
}

// Whether the last sender's and the last recipient's address subfields
// (the ones a read keeps) both give every address word, cut as a read
// cuts them.
bool AddressesWhole(std::string_view Subfields) {
  bool Orig = false, Dest = false;
  WalkSubfields(Subfields, [&Orig, &Dest](uint32_t Id, std::string_view Data) {
    if (Id != sfOAddress && Id != sfDAddress) return;
    std::string_view Text = SubfieldText(Data);
    (Id == sfOAddress ? Orig : Dest) = AddressTextWhole(Text.substr(0, tShortString::MaxLength));
  });
  return Orig && Dest;
}

void AppendCapped(tStringList& List, const tShortString& Line) {
  if (List.Count() < MaxListLines) List.Append(Line);
}

// An address word as a subfield stores it: an unknown one as 0.
uint16_t KnownWord(uint16_t W) { return W == UnsetWord ? 0 : W; }

// A TRACE subfield as a Via line. A trace that begins with the 14 digits of
// a date and time (YYYYMMDDhhmmss) and then names the address becomes the
// address, " @", the date, ".", the time and " from jam area by Pelm"; any
// other is a Via text already (what other writers put there) and is kept.
tShortString TraceToVia(std::string_view Trace) {
  tShortString T(Trace);
  bool Stamped = T.Length() >= 14;
  for (size_t I = 0; I < 14 && Stamped; ++I) Stamped = T[I] >= '0' && T[I] <= '9';
  if (!Stamped) return T;
  T.Insert(8, ".");
  tShortString Stamp = T.Sub(0, 15);
  T += " @";
  T += Stamp;
  T.Erase(0, 15);
  T += " from jam area by Pelm";
  return T;
}

}  // namespace

uint32_t JamCrc(std::string_view S) {
  uint32_t Crc = 0xFFFFFFFF;
  for (char Ch : S) {
    uint8_t C = static_cast<uint8_t>(Ch);
    if (C >= 'A' && C <= 'Z') C = static_cast<uint8_t>(C + 32);
    Crc = CrcTable[(Crc ^ C) & 0xFF] ^ (Crc >> 8);
  }
  return Crc;
}

tJamBase::tJamBase() { InitHeaders(); }

tJamBase::~tJamBase() { CloseStreams(); }

void tJamBase::InitHeaders() {
  std::memcpy(FixedHeader + fhSignature, Signature, 4);
  PutU32(FixedHeader + fhPasswordCrc, 0xFFFFFFFF);
  if (GetU32(FixedHeader + fhDateCreated) == 0)
    PutU32(FixedHeader + fhDateCreated, static_cast<uint32_t>(DateTimeToUnix(CurrentDateTime())));
  if (GetU32(FixedHeader + fhModCounter) == 0) PutU32(FixedHeader + fhModCounter, 1);
  std::memset(FixedHeader + 24, 0, JamFixedHeaderSize - 24);
  PutU32(FixedHeader + fhBaseMsgNum, 1);
  std::memcpy(MsgHeader + jhSignature, Signature, 4);
  PutU16(MsgHeader + jhRevision, 1);
  PutU16(MsgHeader + jhReserved, 0);
  PutU32(MsgHeader + jhPasswordCrc, 0xFFFFFFFF);
}

void tJamBase::CloseStreams() {
  Change_.Close();
  Counted_ = false;
  TextStartsKnown_ = false;
  HeaderStream.reset();
  DataStream.reset();
  IndexStream.reset();
  AuxStream.reset();
}

void tJamBase::Fail() {
  CloseStreams();
  Closed = cbFailed;
}

void tJamBase::ClearError() {
  if (DataStream) DataStream->Reset();
  if (IndexStream) IndexStream->Reset();
  if (HeaderStream) HeaderStream->Reset();
}

void tJamBase::ConvertHeader(bool ToMessage, tMessage* Msg) {
  if (!Msg) return;
  uint8_t* H = MsgHeader;
  if (ToMessage) {
    // A stamp of 0 is no date (the writer had none), not the first second
    // of 1970.
    auto Stamp = [H](size_t At) {
      uint32_t Seconds = GetU32(H + At);
      return Seconds == 0 ? tDateTime() : UnixToDateTime(static_cast<int32_t>(Seconds));
    };
    Msg->DateWritten = Stamp(jhDateWritten);
    if (!(Msg->DateWritten == tDateTime())) {
      Msg->DateStr = DateTimeToStr(Msg->DateWritten);
      Msg->DateStr.Truncate(20);
    }
    Msg->DateArrived = Stamp(jhDateProcessed);
    Msg->ReplyTo = LinkField(H, jhReplyTo);
    Msg->Cost = static_cast<uint16_t>(GetU32(H + jhCost));
    Msg->Replies[1] = LinkField(H, jhReply1st);
    Msg->MsgNum = GetU32(H + jhMessageNumber);
    uint32_t Attribute = GetU32(H + jhAttribute);
    Msg->Attr = 0;
    tShortString Flags = Msg->Flags;
    for (const tAttrPair& P : AttrPairs) {
      if (!(Attribute & P.Jam)) continue;
      if (P.Ext < 0) {
        Msg->Attr |= P.AttrBit;
      } else {
        if (!Flags.Empty()) Flags += ' ';
        Flags.Append(std::string_view(ExtFlagNames[P.Ext], 3));
      }
    }
    Msg->Flags = Flags;
    Msg->Kind = (Attribute & jaTypeNet)     ? mkNetmail
                : (Attribute & jaTypeEcho)  ? mkEchomail
                : (Attribute & jaTypeLocal) ? mkLocal
                                            : mkUnknown;
    Msg->TimesRead = static_cast<uint16_t>(GetU32(H + jhTimesRead));
    return;
  }

  DateForWriting(*Msg);
  PutU32(H + jhDateWritten, static_cast<uint32_t>(DateTimeToUnix(Msg->DateWritten)));
  // No arrival date is no date, not the day number arithmetic of a zero year.
  uint32_t Processed = Msg->DateArrived == tDateTime() ? 0 : static_cast<uint32_t>(DateTimeToUnix(Msg->DateArrived));
  PutU32(H + jhDateProcessed, Processed);
  PutU32(H + jhReplyTo, static_cast<uint32_t>(Msg->ReplyTo));
  std::memcpy(H + jhSignature, Signature, 4);
  PutU16(H + jhRevision, 1);
  PutU16(H + jhReserved, 0);
  PutU32(H + jhMsgIdCrc, JamCrc(MsgIdToWrite(*Msg)));
  PutU32(H + jhReplyCrc, JamCrc(Msg->ReplyId));
  PutU32(H + jhReply1st, static_cast<uint32_t>(Msg->Replies[1]));
  PutU32(H + jhCost, Msg->Cost);
  uint32_t Attribute = 0;
  for (const tAttrPair& P : AttrPairs)
    if (P.Ext < 0 ? Msg->HasAttr(P.AttrBit) : Msg->ExtFlags[P.Ext] != 0) Attribute |= P.Jam;
  tMessageKind Kind = KindOf(*Msg);
  Attribute |= Kind == mkNetmail ? jaTypeNet : Kind == mkEchomail ? jaTypeEcho : jaTypeLocal;
  PutU32(H + jhAttribute, Attribute);
  PutU32(H + jhTimesRead, Msg->TimesRead);
}

bool tJamBase::OpenFiles(std::string_view APath, int32_t Mode, bool Make) {
  CloseStreams();
  // A path cut to 255 characters, or a file name that would be, names
  // another base: nothing is made or opened for it.
  if (APath.empty() || APath.size() > tShortString::MaxLength) {
    Fail();
    return true;
  }
  PrepareBase(APath, Mode);
  tShortString IdxName, DatName, HdrName, AuxName, LastReadName;
  if (Path != APath || !WholeName(IdxName, {Path, ".jdx"}) || !WholeName(DatName, {Path, ".jdt"}) ||
      !WholeName(HdrName, {Path, ".jhr"}) || !WholeName(AuxName, {Path, ".jqv"}) ||
      !WholeName(LastReadName, {Path, ".jlr"})) {
    Fail();
    return true;
  }

  if (Make) {
    uint16_t NewMode = NewFileMode();
    std::vector<tShortString> Made;
    // A file that is there is used only while it is empty: a base whose
    // files hold data is never emptied by Create.
    auto MakeOne = [&](const tShortString& Name, std::unique_ptr<tStream>& S) {
      if (FileExists(Name)) {
        auto B = std::make_unique<tBufStream>(Name, StreamMode(smOpenReadWrite));
        if (B->Status != stOk || B->GetSize() != 0) return false;
        S = std::move(B);
        return true;
      }
      if (!NewMode) return false;
      auto B = std::make_unique<tBufStream>(Name, NewMode);
      if (B->Status != stOk) return false;
      Made.push_back(Name);
      S = std::move(B);
      return true;
    };
    bool Ok = MakeOne(IdxName, IndexStream) && MakeOne(DatName, DataStream) && MakeOne(HdrName, HeaderStream);
    // Other JAM software opens the last-read file with the other three: a
    // base without one is no base to it (jamnntpd refuses it, crashmail
    // makes a new base in its place). It is made empty and left alone.
    if (Ok && !FileExists(LastReadName)) {
      tBufStream LastRead(LastReadName, NewMode);
      Ok = LastRead.Close();
      if (Ok) Made.push_back(LastReadName);
    }
    if (Ok) {
      std::memset(FixedHeader, 0, JamFixedHeaderSize);
      InitHeaders();
      HeaderStream->Seek(0);
      HeaderStream->Write(FixedHeader, JamFixedHeaderSize);
      HeaderStream->Flush();
      Ok = HeaderStream->Status == stOk && DataStream->Status == stOk && IndexStream->Status == stOk;
    }
    if (!Ok) {
      Fail();
      for (const tShortString& Name : Made) RemoveFile(Name);
      return true;
    }
  } else {
    auto OpenAll = [&](uint16_t M) {
      IndexStream = std::make_unique<tBufStream>(IdxName, M);
      DataStream = std::make_unique<tBufStream>(DatName, M);
      HeaderStream = std::make_unique<tBufStream>(HdrName, M);
      return IndexStream->Status == stOk && DataStream->Status == stOk && HeaderStream->Status == stOk;
    };
    // A base that may not be written (read-only files or medium) is still
    // read; its writes then fail.
    if (!OpenAll(StreamMode(smOpenReadWrite)) && !OpenAll(StreamMode(smOpenRead))) {
      Fail();
      return true;
    }
    HeaderStream->Seek(0);
    HeaderStream->Read(FixedHeader, JamFixedHeaderSize);
    if (HeaderStream->Status != stOk) {
      Fail();
      return true;
    }
  }

  // The companion file is held whatever becomes of it.
  if (FileExists(AuxName))
    AuxStream = std::make_unique<tBufStream>(AuxName, StreamMode(smOpenReadWrite));
  else if (uint16_t NewMode = NewFileMode())
    AuxStream = std::make_unique<tBufStream>(AuxName, NewMode);
  Count = static_cast<int32_t>(
      std::min<int64_t>(IndexStream->GetSize() / JamIndexRecSize, std::numeric_limits<int32_t>::max()));
  LinkCache = tLinkCache();
  Closed = cbOpen;
  return false;
}

bool tJamBase::Open(std::string_view APath, int32_t Mode) { return OpenFiles(APath, Mode, false); }

bool tJamBase::StartChange() {
  auto Reopen = [this]() -> tStream* {
    tShortString Again = Path;
    return Open(Again, OpenMode) ? nullptr : HeaderStream.get();
  };
  if (!Change_.Start(*this, HeaderStream.get(), Path + ".jhr", Reopen)) return false;
  if (!Change_.Fresh()) return true;
  for (tStream* S : {HeaderStream.get(), DataStream.get(), IndexStream.get()}) S->Refresh();
  uint8_t Fixed[JamFixedHeaderSize];
  HeaderStream->Seek(0);
  HeaderStream->Read(Fixed, JamFixedHeaderSize);
  if (HeaderStream->Status != stOk) {
    ClearError();
    Change_.End();
    return false;
  }
  std::memcpy(FixedHeader, Fixed, JamFixedHeaderSize);
  Count = static_cast<int32_t>(
      std::min<int64_t>(IndexStream->GetSize() / JamIndexRecSize, std::numeric_limits<int32_t>::max()));
  LinkCache = tLinkCache();
  if (!Counted_) {
    // A writer that stopped between a message's index record and the
    // ActiveMsgs counting it (a crash, a kill) left ActiveMsgs wrong.
    Counted_ = true;
    uint32_t Active = CountActive();
    if (Active != GetU32(FixedHeader + fhActiveMsgs)) {
      PutU32(FixedHeader + fhActiveMsgs, Active);
      HeaderStream->Seek(0);
      HeaderStream->Write(FixedHeader, JamFixedHeaderSize);
      HeaderStream->Flush();
      ClearError();
    }
  }
  return true;
}

uint32_t tJamBase::CountActive() {
  // The records alone tell it when every message that is not deleted has
  // an index record that leads somewhere: the headers are read only when
  // the count of those differs from ActiveMsgs.
  std::vector<uint8_t> Records;
  uint32_t Leading = 0;
  try {
    Records.resize(static_cast<size_t>(Count) * JamIndexRecSize);
  } catch (const std::bad_alloc&) {
    return GetU32(FixedHeader + fhActiveMsgs);
  }
  IndexStream->Seek(0);
  if (!Records.empty()) IndexStream->Read(Records.data(), static_cast<uint32_t>(Records.size()));
  if (IndexStream->Status != stOk) {
    ClearError();
    return GetU32(FixedHeader + fhActiveMsgs);
  }
  int64_t HeaderSize = HeaderStream->GetSize();
  for (int32_t N = 1; N <= Count; ++N) {
    int64_t Offset = static_cast<int32_t>(GetU32(Records.data() + static_cast<size_t>(N - 1) * JamIndexRecSize + 4));
    if (Offset >= JamFixedHeaderSize && Offset + JamHeaderSize <= HeaderSize) ++Leading;
  }
  if (Leading == GetU32(FixedHeader + fhActiveMsgs)) return Leading;
  uint32_t Active = 0;
  uint8_t H[JamHeaderSize];
  for (int32_t N = 1; N <= Count; ++N) {
    int64_t Offset = static_cast<int32_t>(GetU32(Records.data() + static_cast<size_t>(N - 1) * JamIndexRecSize + 4));
    if (Offset >= JamFixedHeaderSize && Offset + JamHeaderSize <= HeaderSize && ReadHeaderAt(Offset, H) &&
        !(GetU32(H + jhAttribute) & jaDeleted))
      ++Active;
  }
  ClearError();
  return Active;
}

bool tJamBase::Create(std::string_view APath, int32_t Mode) { return OpenFiles(APath, Mode, true); }

bool tJamBase::OpenImages(std::string_view Jhr, std::string_view Jdt, std::string_view Jdx) {
  CloseStreams();
  auto Image = [](std::string_view Bytes) {
    auto M = std::make_unique<tMemoryStream>();
    M->WriteStr(Bytes);
    M->Seek(0);
    return M;
  };
  HeaderStream = Image(Jhr);
  DataStream = Image(Jdt);
  IndexStream = Image(Jdx);
  HeaderStream->Read(FixedHeader, JamFixedHeaderSize);
  if (HeaderStream->Status != stOk) {
    Fail();
    return false;
  }
  Path.Clear();
  OpenMode = 0;
  Count = static_cast<int32_t>(std::min<int64_t>(IndexStream->GetSize() / JamIndexRecSize, 0x7FFFFFFF));
  LinkCache = tLinkCache();
  Closed = cbOpen;
  return true;
}

int64_t tJamBase::HeaderOffsetOf(int32_t N) {
  if (Closed != cbOpen || N < 1 || N > Count || !IndexStream || !HeaderStream) return -1;
  IndexStream->Seek(static_cast<int64_t>(N - 1) * JamIndexRecSize);
  IndexStream->Read(IndexRec, JamIndexRecSize);
  if (IndexStream->Status != stOk) {
    IndexStream->Reset();
    return -1;
  }
  // The field is signed: a deleted message's 0xFFFFFFFF is no offset. No
  // message header lies inside the fixed header, nor runs past the file.
  int64_t Offset = static_cast<int32_t>(GetU32(IndexRec + 4));
  if (Offset < JamFixedHeaderSize || Offset + JamHeaderSize > HeaderStream->GetSize()) return -1;
  return Offset;
}

bool tJamBase::DeletedAt(int64_t Offset) {
  uint8_t H[JamHeaderSize];
  return ReadHeaderAt(Offset, H) && (GetU32(H + jhAttribute) & jaDeleted);
}

bool tJamBase::Exists(int32_t N) {
  ClearError();
  int64_t Offset = HeaderOffsetOf(N);
  bool There = Offset >= 0 && !DeletedAt(Offset);
  ClearError();
  return There;
}

bool tJamBase::IsMarkedDeleted(int32_t N) {
  ClearError();
  int64_t Offset = HeaderOffsetOf(N);
  bool Deleted = Offset >= 0 && DeletedAt(Offset);
  ClearError();
  return Deleted;
}

bool tJamBase::ReadMarkedDeleted(int32_t N, tMessage* Msg) {
  TakeDeleted_ = true;
  bool Failed = !IsMarkedDeleted(N) || ReadMessage(N, Msg);
  TakeDeleted_ = false;
  return Failed;
}

void tJamBase::RaiseModCounter() { PutU32(FixedHeader + fhModCounter, GetU32(FixedHeader + fhModCounter) + 1); }

bool tJamBase::ReadHeaderAt(int64_t Offset, uint8_t* H) {
  HeaderStream->Seek(Offset);
  HeaderStream->Read(H, JamHeaderSize);
  bool Read = HeaderStream->Status == stOk;
  HeaderStream->Reset();
  return Read && IsValidHeader(H);
}

bool tJamBase::ReadHeaderOf(int32_t N, uint8_t* H, int64_t& Offset) {
  Offset = HeaderOffsetOf(N);
  return Offset >= 0 && ReadHeaderAt(Offset, H);
}

bool tJamBase::ReadSubfields(int64_t Offset, const uint8_t* H, std::string& Out) {
  int64_t Start = Offset + JamHeaderSize;
  int64_t Len = std::min<int64_t>({GetU32(H + jhSubfieldLen), HeaderStream->GetSize() - Start, MaxSubfieldBytes});
  Out.resize(static_cast<size_t>(std::max<int64_t>(Len, 0)));
  HeaderStream->Seek(Start);
  Out.resize(HeaderStream->Read(Out.data(), static_cast<uint32_t>(Out.size())));
  bool Whole = HeaderStream->Status == stOk;
  HeaderStream->Reset();
  return Whole;
}

int64_t tJamBase::NextTextStart(int64_t From) {
  if (!TextStartsKnown_) {
    TextStarts_.clear();
    uint8_t H[JamHeaderSize];
    int64_t Offset;
    for (int32_t N = 1; N <= Count; ++N)
      if (ReadHeaderOf(N, H, Offset) && GetU32(H + jhTxtLen) > 0) TextStarts_.push_back(GetU32(H + jhTxtOffset));
    std::sort(TextStarts_.begin(), TextStarts_.end());
    TextStartsKnown_ = true;
  }
  auto It = std::upper_bound(TextStarts_.begin(), TextStarts_.end(), From);
  return It == TextStarts_.end() ? std::numeric_limits<int64_t>::max() : *It;
}

bool tJamBase::ReadMessage(int32_t N, tMessage* Msg) {
  Losses_ = tReadLosses();
  tMsgBase::ReadMessage(N, Msg);
  if (Closed != cbOpen || !Msg) return true;
  int64_t Offset = HeaderOffsetOf(N);
  if (Offset < 0) return true;
  if (!ReadHeaderAt(Offset, MsgHeader)) {
    Msg->State = msEmpty;
    return true;
  }
  // A header marked deleted is a deleted message, whatever the index says.
  if ((GetU32(MsgHeader + jhAttribute) & jaDeleted) && !TakeDeleted_) return true;
  Msg->Clear();
  ConvertHeader(true, Msg);

  ReadSubfields(Offset, MsgHeader, SubfieldBuf_);

  // The text as far as its header and the file allow. One that runs past
  // the end of .jdt (a TxtLen that is wrong) stops there, or where the
  // next message's text begins: those bytes are another message's. The cut
  // is told in Losses. A listing needs none of it when the address
  // subfields name both addresses whole: they are taken after the text,
  // over whatever its kludges said.
  if (HeaderOnly != 2 || !AddressesWhole(SubfieldBuf_)) {
    int64_t From = GetU32(MsgHeader + jhTxtOffset), Len = GetU32(MsgHeader + jhTxtLen);
    int64_t To = From + Len, Size = DataStream->GetSize();
    if (To > Size) {
      To = std::max(From, std::min(Size, NextTextStart(From)));
      Losses_.TextCut = true;
      Losses_.TextKept = static_cast<uint32_t>(To - From);
      Losses_.TextLen = static_cast<uint32_t>(Len);
    }
    if (From < To) ReadText(Msg, From, To);
  }
  tShortString FlagsOfAttributes = Msg->Flags;
  std::vector<uint32_t>& Skipped = Losses_.Skipped;
  WalkSubfields(SubfieldBuf_, [this, Msg, &FlagsOfAttributes, &Skipped](uint32_t Id, std::string_view Data) {
    std::string_view Text = SubfieldText(Data);
    // A kludge kept with its SOH by its writer loses the extra one.
    bool Kludge = Id == sfFtsKludge || Id == sfEmbinDat;
    if (Kludge && !Text.empty() && Text[0] == Soh) Text.remove_prefix(1);
    // Cut where the string it goes into ends, as every string of the
    // system is, and told.
    size_t Room = tShortString::MaxLength - (Kludge ? 1 : Id == sfTzUtc ? TzUtcPrefix.size() : 0);
    if (Text.size() > Room) {
      Text = Text.substr(0, Room);
      Losses_.Cut.push_back(Id);
    }
    switch (Id) {
      case sfOAddress:
        SetOrigAddrStr(*Msg, Text);
        break;
      case sfDAddress:
        SetDestAddrStr(*Msg, Text);
        break;
      case sfSenderName:
        Msg->From = Text;
        break;
      case sfReceiverName:
        Msg->To = Text;
        break;
      case sfMsgId:
        Msg->MsgId = Text;
        break;
      case sfReplyId:
        Msg->ReplyId = Text;
        break;
      case sfSubject:
        Msg->Subject = Text;
        break;
      case sfPid:
        Msg->Pid = Text;
        break;
      case sfTrace:
        if (Msg->RouteLines.Count() < MaxListLines) Msg->AddVia(TraceToVia(Text));
        break;
      case sfEnclosedFile:
      case sfEnclosedFileWAlias:
      case sfEnclosedFileWCard:
      case sfEnclosedIndirectFile:
        if (Msg->HasAttr(maFileAttached))
          Msg->Subject = Text;
        else
          Skipped.push_back(Id);
        break;
      case sfEnclosedFreq:
        if (Msg->HasAttr(maFileRequest))
          Msg->Subject = Text;
        else
          Skipped.push_back(Id);
        break;
      case sfEmbinDat:
      case sfFtsKludge: {
        if (HeaderOnly == 2) break;  // a listing shows no kludge
        tShortString Line(std::string_view(&Soh, 1));
        Line += Text;
        tControlLine C = ClassifyControlLine(Line);
        if (C.Kind == ckIntl || C.Kind == ckTopt || C.Kind == ckFmpt) break;  // the address subfields say it
        // JAM has no subfield of its own for the TID: it travels as a kludge
        // and comes back into its field.
        if (C.Kind == ckTid && Msg->Tid.Empty()) {
          Msg->Tid = C.Rest;
          break;
        }
        if (C.Kind == ckVia || C.Kind == ckRecd || C.Kind == ckForwarded) {
          tShortString Route(ControlPrefix(C.Kind));
          Route += C.Rest;
          AppendCapped(Msg->RouteLines, Route);
          break;
        }
        tControlLine Area = ClassifyControlLine(Text);
        if (Area.Kind == ckArea)
          Msg->Area = Area.Rest;
        else
          AppendCapped(Msg->Kludges, Line);
        break;
      }
      case sfTzUtc:
        AppendCapped(Msg->Kludges, tShortString(TzUtcPrefix) + Text);
        break;
      // SEEN-BY and PATH lines end a stored text: a read of the head
      // leaves them, as it leaves them in the text formats.
      case sfSeenBy2D:
        if (!HeaderOnly) AppendCapped(Msg->SeenByLines, tShortString(Text));
        break;
      case sfPath2D:
        if (!HeaderOnly) AppendCapped(Msg->PathLines, tShortString(Text));
        break;
      case sfFlags:
        // The FLAGS subfield, then the names the attribute bits gave.
        Msg->Flags = Text;
        if (!FlagsOfAttributes.Empty()) {
          if (!Msg->Flags.Empty()) Msg->Flags += ' ';
          Msg->Flags += FlagsOfAttributes;
        }
        break;
      default:
        Skipped.push_back(Id);
        break;
    }
  });
  Msg->SyncFlags(true);
  CompleteHeader(*Msg);
  Msg->State = msRead;
  ClearError();
  return false;
}

bool tJamBase::ReadRaw(int32_t N, tJamRawMessage& Out) {
  ClearError();
  Out = tJamRawMessage();
  int64_t Offset = HeaderOffsetOf(N);
  if (Offset < 0 || !ReadHeaderAt(Offset, Out.Header)) return false;
  Out.HdrOffset = Offset;
  Out.UserCrc = GetU32(IndexRec);
  std::string Buf;
  ReadSubfields(Offset, Out.Header, Buf);
  WalkSubfields(Buf, [&Out](uint32_t Id, std::string_view Data) { Out.Subfields.emplace_back(Id, std::string(Data)); });
  ClearError();
  return true;
}

void tJamBase::BuildSubfields(tMessage& Msg, std::string& Out) {
  Out.clear();
  auto Put = [&Out](uint32_t Id, std::string_view Data) {
    if (Data.empty()) return;
    uint8_t H[JamSubfieldHdrSize];
    PutU32(H, Id);
    PutU32(H + 4, static_cast<uint32_t>(Data.size()));
    Out.append(reinterpret_cast<const char*>(H), JamSubfieldHdrSize);
    Out.append(Data);
  };
  // Kludges are stored without their SOH.
  auto Kludge = [&Put](std::string_view Line) {
    if (!Line.empty() && Line[0] == Soh) Line.remove_prefix(1);
    Put(sfFtsKludge, Line);
  };
  Put(sfOAddress, AddrStr(KnownWord(Msg.OrigZone), KnownWord(Msg.OrigNet), KnownWord(Msg.OrigNode),
                          KnownWord(Msg.OrigPoint)));
  Put(sfDAddress, AddrStr(KnownWord(Msg.DestZone), KnownWord(Msg.DestNet), KnownWord(Msg.DestNode),
                          KnownWord(Msg.DestPoint)));
  Put(sfSenderName, Msg.From);
  Put(sfReceiverName, Msg.To);
  Put(sfMsgId, MsgIdToWrite(Msg));
  Put(sfReplyId, Msg.ReplyId);
  Put(sfSubject, Msg.Subject);
  Put(sfPid, Msg.Pid);
  if (Msg.HasAttr(maFileRequest)) Put(sfEnclosedFreq, Msg.Subject);
  if (Msg.HasAttr(maFileAttached)) Put(sfEnclosedFile, Msg.Subject);
  for (const tShortString& Line : Msg.RouteLines) Kludge(Line);
  // JAM has no subfield of its own for TID: it travels as a kludge.
  if (!Msg.Tid.Empty()) Kludge(tShortString("TID: ") + Msg.Tid);
  for (const tShortString& Line : Msg.Kludges) {
    // The TZUTC kludge has a subfield of its own, where other JAM software
    // looks for it; a line a read would not give back as it is stays a
    // kludge.
    std::string_view Tz = Line.View();
    if (Tz.size() > TzUtcPrefix.size() && Tz.substr(0, TzUtcPrefix.size()) == TzUtcPrefix &&
        Tz[TzUtcPrefix.size()] != ' ')
      Put(sfTzUtc, Tz.substr(TzUtcPrefix.size()));
    else
      Kludge(Line);
  }
  Put(sfFlags, FlagsToWrite(Msg));
  for (const tShortString& Line : Msg.SeenByLines) Put(sfSeenBy2D, Line);
  for (const tShortString& Line : Msg.PathLines) Put(sfPath2D, Line);
}

bool tJamBase::WriteMessage(int32_t N, tMessage* Msg) {
  tMsgBase::WriteMessage(N, Msg);
  if (Closed != cbOpen || !Msg || N < 1) return true;
  // A number the caller does not know is an append, after whatever the base
  // holds once the lock is had.
  bool Replace = N <= Count;
  tChangeScope Change(Change_, StartChange());
  if (!Change) return true;
  Replace = Replace && N <= Count;
  if (!Replace && Count == std::numeric_limits<int32_t>::max()) return true;
  int64_t OldTextEnd = DataStream->GetSize();
  int64_t OldHeaderEnd = HeaderStream->GetSize();

  // A record that is there keeps its number; the header it points at gives
  // the new one DateReceived, ReplyNext and Attribute2, and is marked
  // deleted once the record points elsewhere. A record of a deleted message
  // starts afresh, as does an appended message.
  uint8_t OldRec[JamIndexRecSize];
  std::memcpy(OldRec, NoIndexRec, JamIndexRecSize);
  uint8_t OldHeader[JamHeaderSize];
  int64_t OldOffset = -1;
  bool OldValid = false, OldActive = false;
  if (Replace) {
    IndexStream->Seek(static_cast<int64_t>(N - 1) * JamIndexRecSize);
    IndexStream->Read(OldRec, JamIndexRecSize);
    if (IndexStream->Status != stOk) return true;
    OldValid = ReadHeaderOf(N, OldHeader, OldOffset);
    OldActive = OldValid && !(GetU32(OldHeader + jhAttribute) & jaDeleted);
  } else {
    N = Count + 1;
  }
  if (OldActive)
    std::memcpy(MsgHeader, OldHeader, JamHeaderSize);
  else
    ResetHeader(MsgHeader);

  Msg->SyncFlags(false);
  ConvertHeader(false, Msg);
  tMemoryStream Text;
  Msg->Text.Reset();
  WriteBodyAndTail(Text, *Msg, tpTearAndOrigin);
  BuildSubfields(*Msg, SubfieldBuf_);
  int64_t HdrOffset = std::max<int64_t>(OldHeaderEnd, JamFixedHeaderSize);
  if (Text.Status != stOk || OldTextEnd + Text.GetSize() > std::numeric_limits<uint32_t>::max() ||
      HdrOffset + JamHeaderSize + static_cast<int64_t>(SubfieldBuf_.size()) > MaxHeaderOffset)
    return true;
  PutU32(MsgHeader + jhSubfieldLen, static_cast<uint32_t>(SubfieldBuf_.size()));
  PutU32(MsgHeader + jhMessageNumber, static_cast<uint32_t>(N));
  PutU32(MsgHeader + jhTxtOffset, static_cast<uint32_t>(OldTextEnd));
  PutU32(MsgHeader + jhTxtLen, static_cast<uint32_t>(Text.GetSize()));
  PutU32(IndexRec, JamCrc(Msg->To));
  PutU32(IndexRec + 4, static_cast<uint32_t>(HdrOffset));

  // The new text and header at the ends of their files first; nothing
  // points at them yet.
  DataStream->Seek(OldTextEnd);
  DataStream->WriteStr(Text.View());
  DataStream->Flush();
  HeaderStream->Seek(HdrOffset);
  HeaderStream->Write(MsgHeader, JamHeaderSize);
  HeaderStream->WriteStr(SubfieldBuf_);
  HeaderStream->Flush();
  bool Ok = DataStream->Status == stOk && HeaderStream->Status == stOk;

  // Then the index record (from here on the new message is the one read),
  // the old header's mark and the counters.
  tUndoLog Undo;
  uint8_t OldFixed[JamFixedHeaderSize];
  std::memcpy(OldFixed, FixedHeader, JamFixedHeaderSize);
  int64_t RecPos = static_cast<int64_t>(N - 1) * JamIndexRecSize;
  if (Ok)
    Ok = Replace ? Undo.Put(*IndexStream, RecPos, IndexRec, JamIndexRecSize, OldRec)
                 : Undo.PutAtEnd(*IndexStream, RecPos, IndexRec, JamIndexRecSize);
  if (Ok && OldValid) {
    uint8_t Marked[JamHeaderSize];
    std::memcpy(Marked, OldHeader, JamHeaderSize);
    MarkDeleted(Marked);
    Ok = Undo.Put(*HeaderStream, OldOffset, Marked, JamHeaderSize, OldHeader, OldHeaderEnd);
  }
  if (Ok) {
    RaiseModCounter();
    if (!OldActive) PutU32(FixedHeader + fhActiveMsgs, GetU32(FixedHeader + fhActiveMsgs) + 1);
    Ok = Undo.Put(*HeaderStream, 0, FixedHeader, JamFixedHeaderSize, OldFixed, OldHeaderEnd);
  }
  if (!Ok) {
    Undo.Undo();
    std::memcpy(FixedHeader, OldFixed, JamFixedHeaderSize);
    // What was appended goes again, so the files are as they were.
    for (auto [S, End] : {std::pair<tStream*, int64_t>{DataStream.get(), OldTextEnd}, {HeaderStream.get(), OldHeaderEnd}}) {
      S->Reset();
      if (S->GetSize() > End) {
        S->Seek(End);
        S->Truncate();
        S->Flush();
      }
    }
    ClearError();
    return true;
  }
  if (!Replace) Count = N;
  LinkCache = tLinkCache();
  TextStartsKnown_ = false;
  Msg->State = msWritten;
  return false;
}

bool tJamBase::UnlinkFromParent(int32_t N, const uint8_t* H, tUndoLog& Undo) {
  int32_t Parent = LinkField(H, jhReplyTo);
  // What takes N's place: its next answer, when that names a message.
  int32_t Next = LinkField(H, jhReplyNext);
  if (Next == N || Next < 1 || Next > Count) Next = 0;
  uint8_t P[JamHeaderSize];
  int64_t POffset;
  if (Parent < 1 || !ReadHeaderOf(Parent, P, POffset)) return true;  // no parent to repair
  if (LinkField(P, jhReply1st) == N) {
    uint8_t Changed[JamHeaderSize];
    std::memcpy(Changed, P, JamHeaderSize);
    PutU32(Changed + jhReply1st, static_cast<uint32_t>(Next));
    return Undo.Put(*HeaderStream, POffset, Changed, JamHeaderSize, P);
  }
  // The answer before N, found by following the chain (whatever its order),
  // at most one step per message of the base, so a chain that runs in a
  // circle ends. When N is not in the chain, nothing changes.
  int32_t Cur = LinkField(P, jhReply1st);
  for (int64_t Steps = 0; Cur >= 1 && Steps < Count; ++Steps) {
    uint8_t L[JamHeaderSize];
    int64_t LOffset;
    if (!ReadHeaderOf(Cur, L, LOffset)) break;
    int32_t LNext = LinkField(L, jhReplyNext);
    if (LNext == N) {
      uint8_t Changed[JamHeaderSize];
      std::memcpy(Changed, L, JamHeaderSize);
      PutU32(Changed + jhReplyNext, static_cast<uint32_t>(Next));
      return Undo.Put(*HeaderStream, LOffset, Changed, JamHeaderSize, L);
    }
    Cur = LNext;
  }
  return true;
}

bool tJamBase::DeleteMessage(int32_t N) {
  tMsgBase::DeleteMessage(N);
  if (Closed != cbOpen) return true;
  tChangeScope Change(Change_, StartChange());
  if (!Change) return true;
  int64_t Offset = HeaderOffsetOf(N);
  if (Offset < 0) return true;
  uint8_t OldRec[JamIndexRecSize];
  std::memcpy(OldRec, IndexRec, JamIndexRecSize);
  uint8_t H[JamHeaderSize];
  // A record that points at no valid header is cleared all the same; such
  // a header is neither repaired nor written.
  bool Valid = ReadHeaderAt(Offset, H);
  bool Active = Valid && !(GetU32(H + jhAttribute) & jaDeleted);

  // Links to N go first, then N itself, then the counters.
  tUndoLog Undo;
  bool Ok = true;
  if (Valid && FixLinks == 1) Ok = UnlinkFromParent(N, H, Undo);
  if (Ok) Ok = Undo.Put(*IndexStream, static_cast<int64_t>(N - 1) * JamIndexRecSize, NoIndexRec, JamIndexRecSize, OldRec);
  uint8_t Marked[JamHeaderSize];
  std::memcpy(Marked, H, JamHeaderSize);
  MarkDeleted(Marked);
  if (Ok && Valid) Ok = Undo.Put(*HeaderStream, Offset, Marked, JamHeaderSize, H);
  uint8_t OldFixed[JamFixedHeaderSize];
  std::memcpy(OldFixed, FixedHeader, JamFixedHeaderSize);
  if (Ok) {
    uint32_t Active32 = GetU32(FixedHeader + fhActiveMsgs);
    if (Active && Active32 > 0) PutU32(FixedHeader + fhActiveMsgs, Active32 - 1);
    RaiseModCounter();
    Ok = Undo.Put(*HeaderStream, 0, FixedHeader, JamFixedHeaderSize, OldFixed);
  }
  LinkCache = tLinkCache();
  if (!Ok) {
    Undo.Undo();
    std::memcpy(FixedHeader, OldFixed, JamFixedHeaderSize);
    ClearError();
    return true;
  }
  if (Valid) std::memcpy(MsgHeader, Marked, JamHeaderSize);
  TextStartsKnown_ = false;
  return false;
}

bool tJamBase::ReadThread(int32_t N, tMessage* Msg) {
  ClearError();
  if (Closed != cbOpen || !Msg || !Exists(N)) return true;
  if (ReadMessage(N, Msg)) return true;
  for (int K = 2; K <= ReplyCount; ++K) Msg->Replies[K] = 0;
  int32_t Cur = Msg->Replies[1];
  for (int K = 2; K <= ReplyCount && Cur != 0; ++K) {
    uint8_t L[JamHeaderSize];
    int64_t LOffset;
    if (!ReadHeaderOf(Cur, L, LOffset)) break;
    Cur = LinkField(L, jhReplyNext);
    Msg->Replies[K] = Cur;
  }
  ClearError();
  return false;
}

void tJamBase::LoadLinks(int32_t N) {
  ClearError();
  int64_t Offset;
  if (!ReadHeaderOf(N, MsgHeader, Offset)) return;
  LinkCache.MsgNo = N;
  LinkCache.ReplyTo = LinkField(MsgHeader, jhReplyTo);
  LinkCache.Reply1st = LinkField(MsgHeader, jhReply1st);
  LinkCache.ReplyNext = LinkField(MsgHeader, jhReplyNext);
}

namespace {

// The cached link of N, loaded when the cache does not hold a positive one
// for N. A miss leaves the cache standing for N with no links, so that the
// values of another message are never taken for N's.
int32_t CachedLink(tJamBase& Base, int32_t N, int32_t tLinkCache::*Field) {
  int32_t Value = -1;
  if (Base.LinkCache.MsgNo == N)
    Value = Base.LinkCache.*Field;
  else
    Base.LinkCache = tLinkCache{N, 0, 0, 0};
  if (Value < 1 && Base.Closed == cbOpen && Base.Exists(N)) {
    Base.LoadLinks(N);
    return Base.LinkCache.*Field;
  }
  return Value;
}

}  // namespace

int32_t tJamBase::GetReplyTo(int32_t N) { return CachedLink(*this, N, &tLinkCache::ReplyTo); }
int32_t tJamBase::GetReply1st(int32_t N) { return CachedLink(*this, N, &tLinkCache::Reply1st); }
int32_t tJamBase::GetReplyNext(int32_t N) { return CachedLink(*this, N, &tLinkCache::ReplyNext); }

void tJamBase::ChangeField(int32_t N, uint32_t Field, uint32_t Value, bool Add) {
  ClearError();
  tChangeScope Change(Change_, StartChange());
  if (!Change) return;
  int64_t Offset;
  if (!Exists(N) || !ReadHeaderOf(N, MsgHeader, Offset)) return;
  PutU32(MsgHeader + Field, Add ? GetU32(MsgHeader + Field) + Value : Value);
  HeaderStream->Seek(Offset);
  HeaderStream->Write(MsgHeader, JamHeaderSize);
  HeaderStream->Flush();
  if (HeaderStream->Status == stOk) {
    RaiseModCounter();
    HeaderStream->Seek(0);
    HeaderStream->Write(FixedHeader, JamFixedHeaderSize);
    HeaderStream->Flush();
  }
  LinkCache = tLinkCache();
  ClearError();
}

void tJamBase::SetReplyTo(int32_t N, int32_t Value) { ChangeField(N, jhReplyTo, static_cast<uint32_t>(Value), false); }
void tJamBase::SetReply1st(int32_t N, int32_t Value) { ChangeField(N, jhReply1st, static_cast<uint32_t>(Value), false); }
void tJamBase::SetReplyNext(int32_t N, int32_t Value) { ChangeField(N, jhReplyNext, static_cast<uint32_t>(Value), false); }

void tJamBase::LinkReply(int32_t N, int32_t M) {
  if (Closed != cbOpen || M == N) return;
  // Every header it writes in one update.
  tChangeScope Change(Change_, StartChange());
  if (!Change || !Exists(N) || !Exists(M)) return;
  int32_t First = GetReply1st(N);
  if (First < 1 || !Exists(First)) {
    SetReply1st(N, M);
    SetReplyTo(M, N);
    return;
  }
  if (M < First) {
    SetReply1st(N, M);
    SetReplyTo(M, N);
    SetReplyNext(M, First);
    return;
  }
  if (M == First) {
    SetReplyTo(M, N);
    return;
  }
  // The last answer below M; at most one step per message of the base, so a
  // chain that runs in a circle ends.
  int32_t Cur = First;
  for (int64_t Steps = 0; Steps < Count; ++Steps) {
    int32_t X = GetReplyNext(Cur);
    if (X < 1 || X >= M || X == Cur || !Exists(X)) break;
    Cur = X;
  }
  int32_t After = GetReplyNext(Cur);
  SetReplyNext(Cur, M);
  SetReplyTo(M, N);
  if (After != M) SetReplyNext(M, std::max(After, 0));
}

void tJamBase::MarkRead(int32_t N) { ChangeField(N, jhTimesRead, 1, true); }

}  // namespace kelvane
