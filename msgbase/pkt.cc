// Type-2 packets as message bases (see pkt.h and doc/formats/packet.md).
//
// A packet has no index: Open finds the messages by searching the file for
// the zero byte that ends a text followed by the next message's type word
// (0, 2, 0), which also steps over a damaged message (one of another type,
// or one whose strings lack their NULs) into the next good one. Messages
// are appended in place, new data first and the type word that makes them
// part of the packet last; everything that removes bytes rewrites the whole
// file through a temporary file.
#include "msgbase/pkt.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/control_line.h"
#include "msgbase/message.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"
#include "runtime/replacing_file.h"

namespace kelvane {

namespace {

// Entry 0 of Offsets: the last byte of the packet header, so that message
// N always starts at entry N-1 + 1.
constexpr int32_t HeaderEnd = static_cast<int32_t>(PktHeaderSize) - 1;
// From a message's type word to its recipient name: the type word and the
// packed header.
constexpr int64_t FixedPart = 2 + PackedHeaderSize;
// Positions are 32-bit: a larger packet is no packet this library opens,
// and no write makes one.
constexpr int64_t MaxPacketSize = 0x7FFFFFF0;

constexpr uint8_t TypeWord[] = {2, 0};

// An address word as a header stores it: an unknown one as 0.
uint16_t HeaderWord(uint16_t W) { return W == UnsetWord ? 0 : W; }

// The position of the first NUL at or after From in S (Size bytes); -1
// when there is none.
int64_t NextNul(tStream& S, int64_t From, int64_t Size) {
  char Block[4096];
  S.Seek(From);
  while (From < Size) {
    uint32_t Want = static_cast<uint32_t>(std::min<int64_t>(sizeof Block, Size - From));
    uint32_t Got = S.Read(Block, Want);
    S.Reset();
    if (Got == 0) return -1;
    if (const void* Nul = std::memchr(Block, 0, Got)) return From + (static_cast<const char*>(Nul) - Block);
    From += Got;
  }
  return -1;
}

// Lists the messages of the packet in S (Size bytes): Offsets gets, after
// its entry 0, the position of the zero byte that ends each message's
// text. A message whose type word and packed header are not whole in the
// file is no message; the packet's last message ends at the zero byte
// before the closing zeros, or, when the file was cut short before that
// byte, at the end of the file. Keep entries of Offsets stay as they are
// and the search goes on from the last of them (after another writer
// appended, the messages before its last one are the same); 0 lists anew.
void ListMessages(tStream& S, int64_t Size, tCollection<int32_t>& Offsets, size_t Keep = 0) {
  if (Keep == 0 || Keep > Offsets.Count()) {
    Offsets.Clear();
    Offsets.Append(HeaderEnd);
  }
  while (Offsets.Count() > std::max<size_t>(Keep, 1)) Offsets.RemoveAt(Offsets.Count() - 1);
  int64_t Pos = Offsets[Offsets.Count() - 1] + 1 + FixedPart;
  if (Pos > Size) return;
  // A block of 64 KiB at most, no larger than what is left to search.
  std::vector<uint8_t> Buf(static_cast<size_t>(std::min<int64_t>(65536, Size - Pos)));
  int64_t BufStart = 0;
  size_t BufLen = 0;
  // The recipient, sender and subject end at the first three NULs behind
  // the packed header, as a tosser walking the packet reads them: a name
  // that is the byte 2 alone is no message's type word.
  int NamesLeft = 3;
  while (Pos + 3 <= Size) {
    if (Pos < BufStart || Pos + 3 > BufStart + static_cast<int64_t>(BufLen)) {
      BufStart = Pos;
      S.Seek(Pos);
      BufLen = S.Read(Buf.data(), static_cast<uint32_t>(std::min<int64_t>(Buf.size(), Size - Pos)));
      S.Reset();
      if (BufLen < 3) break;
    }
    const uint8_t* B = Buf.data();
    size_t I = static_cast<size_t>(Pos - BufStart);
    size_t Last = BufLen - 2;  // a match at I needs B[I + 2]
    bool Found = false;
    while (I < Last) {
      const void* Zero = std::memchr(B + I, 0, Last - I);
      if (!Zero) {
        I = Last;
        break;
      }
      I = static_cast<size_t>(static_cast<const uint8_t*>(Zero) - B);
      if (NamesLeft > 0) {
        --NamesLeft;
        ++I;
        continue;
      }
      if (B[I + 1] == TypeWord[0] && B[I + 2] == TypeWord[1]) {
        Found = true;
        break;
      }
      ++I;
    }
    Pos = BufStart + static_cast<int64_t>(I);
    if (!Found) continue;
    Offsets.Append(static_cast<int32_t>(Pos));
    // A type word with less than a packed header behind it is what is left
    // of a message cut off: the packet ends before it.
    if (Pos + 1 + FixedPart > Size) return;
    Pos += 1 + FixedPart;
    NamesLeft = 3;
  }
  // The last message: up to the zero byte before the two closing zeros (or
  // before half a type word, where the file was cut inside the next
  // message's), or to the end of a file cut before that byte. Only zeros
  // behind the names count: a zero byte before them ends a name.
  int64_t TextAt = Offsets[Offsets.Count() - 1] + 1 + FixedPart;
  for (int K = 0; K < 3 && TextAt >= 0; ++K) {
    int64_t Nul = TextAt < Size ? NextNul(S, TextAt, Size) : -1;
    TextAt = Nul < 0 ? -1 : Nul + 1;
  }
  int64_t TailAt = std::max(TextAt, Size - 3);
  int64_t End = Size;
  if (TextAt >= 0 && TailAt < Size) {
    uint8_t Tail[3] = {};
    S.Seek(TailAt);
    uint32_t Want = static_cast<uint32_t>(Size - TailAt);
    if (S.Read(Tail, Want) == Want) {
      uint32_t Kept = Want;
      if (Want >= 2 && Tail[Want - 2] == 0 && Tail[Want - 1] == TypeWord[0]) {
        Kept = Want - 2;
      } else {
        while (Kept > 0 && Tail[Kept - 1] == 0) --Kept;
      }
      if (Kept < Want) End = TailAt + Kept;
    }
    S.Reset();
  }
  Offsets.Append(static_cast<int32_t>(End));
}


// Reads a string that a NUL ends, from Pos up to End at most; Pos moves
// past the NUL (to End when there is none). At most 255 characters are
// kept.
void ReadZString(tStream& S, int64_t& Pos, int64_t End, tShortString& Out) {
  Out.Clear();
  if (Pos >= End) return;
  int64_t Nul = NextNul(S, Pos, End);
  char Buf[tShortString::MaxLength];
  S.Seek(Pos);
  uint32_t Got = S.Read(Buf, static_cast<uint32_t>(std::min<int64_t>(sizeof Buf, (Nul < 0 ? End : Nul) - Pos)));
  S.Reset();
  Out.Append(std::string_view(Buf, Got));
  Pos = Nul < 0 ? End : Nul + 1;
}

// Writes a name of at most Max characters and its NUL.
void WriteZString(tStream& S, std::string_view Text, size_t Max) {
  S.WriteStr(Text.substr(0, Max));
  S.Write("", 1);
}

// Appends Image, a message from its packed header to the two closing
// zeros, to the packet in S, whose last message ends at LastEnd (the file
// size when no zero byte ends it). The type word goes where the closing
// zeros are. Zeros: a tosser's walk found the closing zeros right after
// LastEnd, and whatever lies behind them is no part of the packet (what a
// writer cut off left): it is cut off first, the zeros kept, so a crash
// there leaves a whole packet. Otherwise at most the remains of one
// message cut short may follow LastEnd. The type word and the message go
// to the system in one write, so the packet never shows half a message.
// On failure S is put back as it was and false returned.
bool AppendMessage(tStream& S, int32_t& LastEnd, std::string_view Image, bool Zeros, int64_t NamesAt) {
  int64_t Size = S.GetSize();
  bool Unended = LastEnd >= Size;  // the last text needs its zero byte
  // A last message cut short in its names takes the NULs it lacks too
  // (three names and its text), so that a tosser walking its strings and
  // our listing both find the new message where it is written.
  int64_t Missing = Unended ? 4 : 0;
  for (int64_t Pos = NamesAt; Unended && Missing > 1 && Pos >= 0 && Pos < Size; --Missing) {
    Pos = NextNul(S, Pos, Size);
    if (Pos < 0) break;
    ++Pos;
  }
  S.Reset();
  int64_t TypeAt = Unended ? Size + Missing : LastEnd + 1;
  int64_t NewSize = TypeAt + 2 + static_cast<int64_t>(Image.size());
  if (NewSize > MaxPacketSize) return false;
  // What lies after the last text, to be put back if the write fails.
  int64_t OldLen = Unended ? 0 : Size - TypeAt;
  if (OldLen < 0 || (!Zeros && OldLen > FixedPart)) return false;
  std::string Old(static_cast<size_t>(OldLen), '\0');
  if (OldLen > 0) {
    S.Seek(TypeAt);
    S.Read(Old.data(), static_cast<uint32_t>(OldLen));
  }
  if (Zeros && OldLen > 2) {
    S.Seek(TypeAt + 2);
    S.Truncate();
    S.Flush();
  }
  std::string Bytes(static_cast<size_t>(Missing), '\0');
  Bytes.append(reinterpret_cast<const char*>(TypeWord), 2);
  Bytes.append(Image);
  // After a Refresh the buffer holds nothing: the write is one call.
  S.Refresh();
  S.Seek(Unended ? Size : TypeAt);
  S.WriteStr(Bytes);
  S.Flush();
  if (S.Status == stOk) {
    LastEnd = static_cast<int32_t>(NewSize - 3);
    return true;
  }
  // What was added goes first; then the bytes it may have overwritten or
  // dropped.
  S.Reset();
  S.Seek(Zeros && OldLen > 2 ? TypeAt + 2 : Size);
  S.Truncate();
  S.Reset();
  if (OldLen > 0) {
    S.Seek(TypeAt);
    S.WriteStr(Old);
    S.Flush();
  }
  S.Reset();
  return false;
}


}  // namespace

tPktBase::tPktBase() = default;

tPktBase::~tPktBase() { ApplyCuts(); }

void tPktBase::DoneKeep() {}

bool tPktBase::Writable() const {
  tOpenMode M = DecodeOpenMode(StreamMode(smCreate));
  return M.Valid && M.Create;
}

bool IsType22Header(const uint8_t* H) {
  uint16_t Cap = GetU16(H + phCapWord);
  bool Plus = (Cap & 1) && GetU16(H + phCapWordCopy) == static_cast<uint16_t>((Cap << 8) | (Cap >> 8));
  return !Plus && GetU16(H + p22SubVersion) == 2;
}

tShortString tPktBase::GetOrigAddr() {
  const uint8_t* H = PktHeader;
  if (IsType22Header(H))
    return AddrStr(GetU16(H + phOrigZone), GetU16(H + phOrigNet), GetU16(H + phOrigNode), GetU16(H + p22OrigPoint));
  return AddrStr(GetU16(H + phOrigZone2), GetU16(H + phOrigNet), GetU16(H + phOrigNode), GetU16(H + phOrigPoint));
}

tShortString tPktBase::GetDestAddr() {
  const uint8_t* H = PktHeader;
  if (IsType22Header(H))
    return AddrStr(GetU16(H + phDestZone), GetU16(H + phDestNet), GetU16(H + phDestNode), GetU16(H + p22DestPoint));
  return AddrStr(GetU16(H + phDestZone2), GetU16(H + phDestNet), GetU16(H + phDestNode), GetU16(H + phDestPoint));
}

tShortString tPktBase::GetPassword() { return GetTextField(PktHeader + phPassword, PktPasswordWidth); }

namespace {
constexpr std::string_view PktAddrDelims = ":/.";

void SetAddress(uint8_t* H, std::string_view Text, uint32_t Zone, uint32_t Zone2, uint32_t Net, uint32_t Node,
                uint32_t Point) {
  uint16_t Z = WordNumber(1, Text, PktAddrDelims);
  PutU16(H + Zone, Z);
  PutU16(H + Zone2, Z);
  PutU16(H + Net, WordNumber(2, Text, PktAddrDelims));
  PutU16(H + Node, WordNumber(3, Text, PktAddrDelims));
  PutU16(H + Point, WordNumber(4, Text, PktAddrDelims));
}
}  // namespace

void tPktBase::SetOrigAddr(std::string_view Text) {
  SetAddress(PktHeader, Text, phOrigZone, phOrigZone2, phOrigNet, phOrigNode, phOrigPoint);
}

void tPktBase::SetDestAddr(std::string_view Text) {
  SetAddress(PktHeader, Text, phDestZone, phDestZone2, phDestNet, phDestNode, phDestPoint);
}

void tPktBase::SetPassword(std::string_view Text) {
  PutTextField(PktHeader + phPassword, PktPasswordWidth, Text, PktPasswordWidth);
}

void tPktBase::ConvertHeader(bool ToMessage, tMessage* Msg) {
  if (!Msg) return;
  uint8_t* H = PackedHeader;
  if (ToMessage) {
    Msg->OrigNode = GetU16(H + pmOrigNode);
    Msg->DestNode = GetU16(H + pmDestNode);
    Msg->OrigNet = GetU16(H + pmOrigNet);
    Msg->DestNet = GetU16(H + pmDestNet);
    Msg->Attr = GetU16(H + pmAttr);
    Msg->Cost = GetU16(H + pmCost);
    Msg->DateStr = GetTextField(H + pmDate, PackedDateWidth);
    return;
  }
  std::memset(H, 0, PackedHeaderSize);
  PutU16(H + pmOrigNode, HeaderWord(Msg->OrigNode));
  PutU16(H + pmDestNode, HeaderWord(Msg->DestNode));
  PutU16(H + pmOrigNet, HeaderWord(Msg->OrigNet));
  PutU16(H + pmDestNet, HeaderWord(Msg->DestNet));
  PutU16(H + pmAttr, static_cast<uint16_t>(Msg->Attr));
  PutU16(H + pmCost, Msg->Cost);
  DateForWriting(*Msg);
  Msg->DateStr.Truncate(PackedDateWidth);
  PutTextField(H + pmDate, PackedDateWidth, Msg->DateStr, PackedDateWidth - 1);
}

void tPktBase::CloseFailed() {
  Change_.StreamClosing();
  DataStream.reset();
  Offsets.Clear();
  PendingCuts.Clear();
  Count = 0;
  Closed = cbFailed;
}

// Takes the packet in DataStream, whose header is in PktHeader: an empty
// packet, a type-2 packet whose messages are listed, or (false) none.
bool tPktBase::OpenStream(int32_t Mode) {
  OpenMode = Mode;
  Offsets.Clear();
  PendingCuts.Clear();
  Offsets.Append(HeaderEnd);
  int64_t Size = DataStream->GetSize();
  DataStream->Reset();
  if (Size > PktHeaderBufSize) {
    if (GetU16(PktHeader + phPacketType) != 2 || Size > MaxPacketSize) return false;
    ListMessages(*DataStream, Size, Offsets);
  }
  Count = static_cast<int32_t>(Offsets.Count() - 1);
  KnownSize_ = Size;
  RealEnd_ = -1;
  Closed = cbOpen;
  return true;
}

bool tPktBase::StartChange() {
  // Deletions marked in a packet another writer has since rewritten are
  // not the new packet's: the change fails.
  auto Reopen = [this]() -> tStream* {
    bool Cuts = !PendingCuts.Empty();
    tShortString Again = Path;
    return Open(Again, OpenMode) || Cuts ? nullptr : DataStream.get();
  };
  if (!DataStream || !Change_.Start(*this, DataStream.get(), tShortString(Path), Reopen)) return false;
  if (!Change_.Fresh()) return true;
  DataStream->Refresh();
  int64_t Size = DataStream->GetSize();
  if (Size != KnownSize_ && Size <= MaxPacketSize) {
    // Another writer added messages: the last one known is listed again
    // with what follows it. A packet that shrank is listed anew.
    ListMessages(*DataStream, Size, Offsets, Size > KnownSize_ ? Offsets.Count() - 1 : 0);
    if (Size < KnownSize_) RealEnd_ = -1;
    Count = static_cast<int32_t>(Offsets.Count() - 1);
    KnownSize_ = Size;
  }
  return true;
}

int64_t tPktBase::ClosingZeros() {
  tStream& S = *DataStream;
  int64_t Size = S.GetSize();
  // From the last place a walk or an append found them: another writer's
  // messages begin there.
  int64_t At = RealEnd_ >= static_cast<int64_t>(PktHeaderSize) ? RealEnd_ : PktHeaderSize;
  while (At + 2 <= Size) {
    uint8_t Type[2];
    S.Seek(At);
    S.Read(Type, 2);
    if (S.Status != stOk) break;
    if (GetU16(Type) == 0) return RealEnd_ = At;
    if (GetU16(Type) != 2) break;
    // The packed header, then recipient, sender, subject and text.
    int64_t Pos = At + FixedPart;
    for (int K = 0; K < 4 && Pos > 0; ++K) Pos = NextNul(S, Pos, Size) + 1;
    if (Pos <= 0) break;
    At = Pos;
  }
  S.Reset();
  return -1;
}

bool tPktBase::Open(std::string_view APath, int32_t Mode) {
  Change_.Close();
  PrepareBase(APath, Mode);
  DataStream.reset();
  if (Path != APath) return true;
  DataStream = std::make_unique<tBufStream>(Path, StreamMode(Writable() ? smOpenReadWrite : smOpenRead));
  if (DataStream->Status != stOk) {
    DataStream.reset();
    return true;
  }
  // A file shorter than the header reads zeros for what it lacks and is
  // an empty packet.
  std::memset(PktHeader, 0, PktHeaderBufSize);
  DataStream->Read(PktHeader, PktHeaderBufSize);
  if (OpenStream(Mode)) return false;
  CloseFailed();
  return true;
}

bool tPktBase::OpenImage(std::string_view Image) {
  Change_.Close();
  auto Mem = std::make_unique<tMemoryStream>();
  Mem->WriteStr(Image);
  Mem->Seek(0);
  std::memset(PktHeader, 0, PktHeaderBufSize);
  Mem->Read(PktHeader, PktHeaderBufSize);
  Path.Clear();
  DataStream = std::move(Mem);
  if (OpenStream(0)) return false;
  CloseFailed();
  return true;
}

bool tPktBase::Create(std::string_view APath, int32_t Mode) {
  Change_.Close();
  PrepareBase(APath, Mode);
  DataStream.reset();
  if (Path != APath) return true;
  if (!Writable()) {
    Closed = cbFailed;
    return true;
  }
  // A new file is made new: never through a link, never over a file that
  // appeared meanwhile.
  bool Existed = FileExists(Path);
  uint16_t NewMode = static_cast<uint16_t>(fmCreateNew | (StreamMode(smCreate) & 0x00FF));
  DataStream = std::make_unique<tBufStream>(Path, Existed ? StreamMode(smOpenReadWrite) : NewMode);
  if (DataStream->Status != stOk) {
    DataStream.reset();
    return true;
  }
  // Another of our writers may be appending to the packet: the header is
  // written under the lock, for the size the packet has then.
  tLockResult Locked = Change_.Begin(DataStream.get(), Path);
  tChangeScope Change(Change_, Locked == lkTaken);
  if (!Change) {
    Busy = Locked == lkBusy;
    CloseFailed();
    return true;
  }
  DataStream->Refresh();
  int64_t Size = DataStream->GetSize();
  if (Existed && Size > 0) {
    // Only a packet is taken over: the header of anything else (a packet
    // of another type, a file cut inside its header) is not ours to write.
    uint8_t Type[2] = {};
    DataStream->Seek(phPacketType);
    DataStream->Read(Type, 2);
    if (Size < PktHeaderBufSize || GetU16(Type) != 2 || Size > MaxPacketSize) {
      CloseFailed();
      return true;
    }
  }
  tDateTime Now = CurrentDateTime();
  uint8_t* H = PktHeader;
  PutU16(H + phPacketType, 2);
  PutU16(H + phYear, static_cast<uint16_t>(Now.Year));
  PutU16(H + phMonth, static_cast<uint16_t>(Now.Month - 1));
  PutU16(H + phDay, static_cast<uint16_t>(Now.Day));
  PutU16(H + phHour, static_cast<uint16_t>(Now.Hour));
  PutU16(H + phMinute, static_cast<uint16_t>(Now.Min));
  PutU16(H + phSecond, static_cast<uint16_t>(Now.Sec));
  PutU16(H + phFirstType, Size <= PktHeaderBufSize ? 0 : 2);
  DataStream->Reset();
  DataStream->Seek(0);
  DataStream->Write(H, PktHeaderBufSize);
  DataStream->Flush();
  if (DataStream->Status != stOk) {
    // A new file that could not take its header goes again.
    CloseFailed();
    if (!Existed) RemoveFile(Path);
    return true;
  }
  OpenStream(Mode);
  return false;
}

bool tPktBase::ReadMessage(int32_t N, tMessage* Msg) {
  tMsgBase::ReadMessage(N, Msg);
  if (Closed != cbOpen || !Msg || !Exists(N) || N >= static_cast<int32_t>(Offsets.Count())) return true;
  Msg->Clear();
  tStream& S = *DataStream;
  int64_t Start = Offsets[N - 1] + 1;  // the type word
  int64_t End = Offsets[N];            // the zero byte that ends the text
  std::memset(PackedHeader, 0, PackedHeaderSize);
  S.Seek(Start + 2);
  S.Read(PackedHeader, PackedHeaderSize);
  S.Reset();
  int64_t Pos = Start + FixedPart;
  ReadZString(S, Pos, End, Msg->To);
  ReadZString(S, Pos, End, Msg->From);
  ReadZString(S, Pos, End, Msg->Subject);
  if (Pos < End) {
    // Echomail names its area in the first line of the text.
    tShortString Line;
    S.Seek(Pos);
    ReadStreamLine(S, End, Line);
    tControlLine C = ClassifyControlLine(Line);
    if (C.Kind == ckArea) {
      Msg->Area = C.Rest;
      Pos = S.GetPos();
    }
    S.Reset();
  }
  // A packet carries echomail with its area line and netmail without.
  Msg->Kind = Msg->Area.Empty() ? mkNetmail : mkEchomail;
  ConvertHeader(true, Msg);
  ReadText(Msg, Pos, End);
  Msg->SyncFlags(true);
  CompleteHeader(*Msg);
  Msg->State = msRead;
  return false;
}

std::unique_ptr<tMemoryStream> tPktBase::BuildImage(tMessage* Msg) {
  Msg->SyncFlags(false);
  ConvertHeader(false, Msg);
  // A NUL ends every string and the text of a packed message: one inside
  // them would make the rest of the message a message of its own, or a
  // broken packet to every reader. A line break would move the rest of an
  // area tag into the text.
  auto HasNul = [](std::string_view S) { return S.find('\0') != std::string_view::npos; };
  std::string_view Area = Msg->Area.View();
  if (HasNul(Msg->To.View().substr(0, PackedNameMax)) || HasNul(Msg->From.View().substr(0, PackedNameMax)) ||
      HasNul(Msg->Subject.View().substr(0, PackedSubjectMax)) ||
      Area.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
    return nullptr;
  auto Image = std::make_unique<tMemoryStream>();
  tMemoryStream& M = *Image;
  M.Write(PackedHeader, PackedHeaderSize);
  WriteZString(M, Msg->To, PackedNameMax);
  WriteZString(M, Msg->From, PackedNameMax);
  WriteZString(M, Msg->Subject, PackedSubjectMax);
  int64_t AreaBreak = -1;
  if (!Area.empty()) {
    M.WriteStr(ControlPrefix(ckArea));
    M.WriteStr(Area);
    AreaBreak = M.GetPos();
    M.Write("\r", 1);
  }
  int64_t TextStart = M.GetPos();
  // The text goes through the writer every FTS format shares, into Image.
  std::unique_ptr<tStream> Kept = std::move(DataStream);
  DataStream = std::move(Image);
  bool Failed = WriteFtsText(Msg, static_cast<int32_t>(TextStart));
  Image.reset(static_cast<tMemoryStream*>(DataStream.release()));
  DataStream = std::move(Kept);
  if (Failed || HasNul(M.View().substr(static_cast<size_t>(TextStart)))) return nullptr;
  // With no kludge line between them, a body that begins with LF follows
  // the area line: that line ends with LF too, or a reader would take the
  // two for one CR LF break and lose the body's empty first line.
  if (AreaBreak >= 0 && M.GetSize() > AreaBreak + 1 && M.View()[static_cast<size_t>(AreaBreak) + 1] == '\n') {
    M.Seek(AreaBreak);
    M.Write("\n", 1);
    M.Seek(M.GetSize());
  }
  M.Write("\0\0\0", 3);
  if (M.Status != stOk) return nullptr;
  return Image;
}

bool tPktBase::WriteMessage(int32_t N, tMessage* Msg) {
  tMsgBase::WriteMessage(N, Msg);
  if (Closed != cbOpen || !Msg || !Writable()) return true;
  // A message the caller knows is replaced; any other number appends, after
  // whatever the packet holds once the lock is had.
  bool Replace = Exists(N) && N < static_cast<int32_t>(Offsets.Count());
  std::unique_ptr<tMemoryStream> Image = BuildImage(Msg);
  if (!Image) return true;
  tChangeScope Change(Change_, StartChange());
  if (!Change) return true;
  // Only a whole type-2 header takes messages.
  if (DataStream->GetSize() < PktHeaderBufSize || GetU16(PktHeader + phPacketType) != 2) return true;

  if (Replace && Exists(N) && N < static_cast<int32_t>(Offsets.Count())) {
    // Replacing: the packet is written anew without message N (and the
    // other pending cuts), the new message at its end. On failure the
    // packet is as it was and N is not left marked for deletion.
    tCollection<tPktCut> Before = PendingCuts;
    DeleteMessage(N);
    if (Rewrite(Image.get())) {
      PendingCuts = std::move(Before);
      return true;
    }
  } else {
    int64_t OldSize = DataStream->GetSize();
    // The end a tosser reads up to; a packet it cannot walk to its end (a
    // message cut short or of another type) takes the message after the
    // last one the search found, as before.
    int64_t Zeros = ClosingZeros();
    int32_t LastEnd = Zeros >= 0 ? static_cast<int32_t>(Zeros - 1) : Offsets[Offsets.Count() - 1];
    int64_t NamesAt = Offsets.Count() > 1 ? Offsets[Offsets.Count() - 2] + 1 + FixedPart : -1;
    if (!AppendMessage(*DataStream, LastEnd, Image->View(), Zeros >= 0, NamesAt)) return true;
    KnownSize_ = DataStream->GetSize();
    RealEnd_ = LastEnd + 1;
    if (Zeros >= 0 && (OldSize > Zeros + 2 || Offsets[Offsets.Count() - 1] != Zeros - 1)) {
      // Bytes behind the closing zeros were dropped, and with them what the
      // search took for messages there.
      ListMessages(*DataStream, KnownSize_, Offsets);
    } else {
      // A last text that no zero byte ended has one now (and the names it
      // lacked); a cut of that message takes them too.
      if (Offsets[Offsets.Count() - 1] >= OldSize) {
        int32_t Ended = LastEnd - static_cast<int32_t>(Image->View().size());
        Offsets[Offsets.Count() - 1] = Ended;
        for (tPktCut& C : PendingCuts)
          if (C.End == OldSize - 1) C.End = Ended;
      }
      Offsets.Append(LastEnd);
    }
    Count = static_cast<int32_t>(Offsets.Count() - 1);
  }
  Msg->State = msWritten;
  return false;
}

tPktCut tPktBase::RangeOf(int32_t N) {
  tPktCut C;
  C.Start = Offsets[N - 1] + 1;
  C.End = Offsets[N];
  int64_t Size = DataStream->GetSize();
  if (C.End >= Size) C.End = static_cast<int32_t>(Size - 1);
  return C;
}

bool tPktBase::DeleteMessage(int32_t N) {
  tMsgBase::DeleteMessage(N);
  if (Closed != cbOpen || !Exists(N) || N >= static_cast<int32_t>(Offsets.Count()) || !Writable()) return true;
  if (DataStream->GetSize() <= PktHeaderBufSize) return true;
  tPktCut Cut = RangeOf(N);
  auto At = std::lower_bound(PendingCuts.begin(), PendingCuts.end(), Cut,
                             [](const tPktCut& A, const tPktCut& B) { return A.Start < B.Start; });
  // A message deleted twice is cut once.
  if (At != PendingCuts.end() && At->Start == Cut.Start && At->End == Cut.End) return false;
  PendingCuts.Insert(static_cast<size_t>(At - PendingCuts.begin()), Cut);
  return false;
}

bool tPktBase::ApplyCuts() {
  if (PendingCuts.Empty()) return false;
  return Rewrite(nullptr);
}

bool tPktBase::Rewrite(const tMemoryStream* Appended) {
  if (Closed != cbOpen || !DataStream || !Writable()) return true;
  // The lock is held until the new packet has taken the old one's place:
  // a writer waiting for it then finds the name leads to another file.
  tChangeScope Change(Change_, StartChange());
  if (!Change) return true;
  tStream& In = *DataStream;
  int64_t Size = In.GetSize();
  // A cut beyond the end means the file changed under the base: nothing of
  // it is written.
  for (const tPktCut& C : PendingCuts)
    if (C.Start <= C.End && (C.End >= Size || C.Start < static_cast<int32_t>(PktHeaderSize))) return true;

  bool InMemory = Path.Empty();
  std::unique_ptr<tReplacingFile> File;
  std::unique_ptr<tMemoryStream> Memory;
  if (InMemory) {
    Memory = std::make_unique<tMemoryStream>();
  } else {
    File = std::make_unique<tReplacingFile>(Path);
  }
  tStream& Out = InMemory ? static_cast<tStream&>(*Memory) : File->Out();

  // The bytes before, between and after the cuts, in order.
  int64_t Pos = 0;
  for (const tPktCut& C : PendingCuts) {
    if (C.Start > C.End) continue;
    int64_t Start = std::max<int64_t>(C.Start, Pos);
    In.Seek(Pos);
    Out.CopyFrom(In, Start - Pos);
    Pos = std::max<int64_t>(Pos, C.End + 1);
  }
  In.Seek(Pos);
  Out.CopyFrom(In, Size - Pos);
  bool Ok = In.Status == stOk && Out.Status == stOk;
  In.Reset();
  if (Ok && Appended) {
    tCollection<int32_t> NewOffsets;
    ListMessages(Out, Out.GetSize(), NewOffsets);
    int32_t LastEnd = NewOffsets[NewOffsets.Count() - 1];
    int64_t NamesAt = NewOffsets.Count() > 1 ? NewOffsets[NewOffsets.Count() - 2] + 1 + FixedPart : -1;
    Ok = AppendMessage(Out, LastEnd, Appended->View(), false, NamesAt);
  }
  if (!Ok) return true;

  if (InMemory) {
    Memory->Seek(0);
    std::memset(PktHeader, 0, PktHeaderBufSize);
    Memory->Read(PktHeader, PktHeaderBufSize);
    DataStream = std::move(Memory);
    OpenStream(OpenMode);
    return false;
  }
  // The packet is closed while its new contents take its place: a file
  // held open cannot be replaced.
  Change_.StreamClosing();
  DataStream.reset();
  if (!File->Commit()) {
    tCollection<tPktCut> Kept = PendingCuts;
    Open(tShortString(Path), OpenMode);
    PendingCuts = std::move(Kept);
    return true;
  }
  Open(tShortString(Path), OpenMode);
  return false;
}

}  // namespace kelvane
