// *.MSG directory bases and the FTS text writer shared with packets. Each
// operation opens and releases its one message file, so other processes
// may change the directory between calls; only the last-read file stays
// open while the base is.
#include "msgbase/msgdir.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"

namespace kelvane {

namespace {

constexpr char Soh = 1;
constexpr char Cr = 13;
constexpr std::string_view LastReadName = "lastread.kvx";

// The message number a directory entry stands for: the first dot-separated
// word of its name as a decimal number, 0 when that word is no number or
// does not fit a message number.
int32_t NumberOfEntry(std::string_view Name) {
  std::string_view Word = Name.substr(0, Name.find('.'));
  long long Value = 0;
  if (Word.empty() || !StrToInt(Word, Value)) return 0;
  if (Value < 0 || Value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(Value);
}

void WriteLine(tStream& S, std::string_view Prefix, std::string_view Value) {
  S.WriteStr(Prefix);
  S.WriteStr(Value);
  S.Write(&Cr, 1);
}

void WriteKludge(tStream& S, std::string_view Name, std::string_view Value) {
  if (Value.empty()) return;
  S.Write(&Soh, 1);
  WriteLine(S, Name, Value);
}

// A point word worth an FMPT or TOPT line: neither 0 nor the unset mark,
// which no address can carry.
bool IsRealPoint(uint16_t Point) { return Point != 0 && Point != UnsetWord; }

}  // namespace

bool tFtsTextBase::WriteFtsText(tMessage* Msg, int32_t /*Position*/) {
  if (!DataStream || !Msg) return true;
  tStream& S = *DataStream;

  if (Msg->Area.Empty()) {
    if (IsRealPoint(Msg->OrigPoint)) WriteKludge(S, "FMPT ", IntToStr(Msg->OrigPoint));
    if (IsRealPoint(Msg->DestPoint)) WriteKludge(S, "TOPT ", IntToStr(Msg->DestPoint));
    WriteKludge(S, "INTL ", Msg->Intl);
  }
  WriteKludge(S, "MSGID: ", Msg->MsgId);
  WriteKludge(S, "REPLY: ", Msg->ReplyId);
  WriteKludge(S, "FLAGS ", Msg->Flags);
  WriteKludge(S, "PID: ", Msg->Pid);
  WriteKludge(S, "TID: ", Msg->Tid);
  for (const tShortString& Line : Msg->Kludges)
    if (!Line.Empty()) WriteLine(S, "", Line);

  Msg->Text.Reset();
  std::string_view Body = Msg->Text.View();
  S.WriteStr(Body);

  bool WantTear = !Msg->TearLine.Empty() && Msg->AddTearLine;
  bool WantOrigin = Msg->AddOrigin && (!Msg->Origin.Empty() || !Msg->Area.Empty());
  bool MoreLines = WantTear || WantOrigin || !Msg->SeenByLines.Empty() || !Msg->PathLines.Empty() ||
                   !Msg->RouteLines.Empty();
  // A body whose last line has no break would swallow the first control
  // line behind it; give that line its CR.
  if (MoreLines && !Body.empty() && Body.back() != Cr && Body.back() != '\n') S.Write(&Cr, 1);

  if (WantTear) WriteLine(S, "---", Msg->TearLine);
  if (WantOrigin) WriteLine(S, " * Origin: ", Msg->Origin + "(" + OrigAddrStr(*Msg) + ")");
  for (const tShortString& Line : Msg->SeenByLines) WriteLine(S, "SEEN-BY: ", Line);
  for (const tShortString& Line : Msg->PathLines) {
    S.Write(&Soh, 1);
    WriteLine(S, "PATH: ", Line);
  }
  for (const tShortString& Line : Msg->RouteLines)
    if (!Line.Empty()) WriteLine(S, "", Line);
  return S.Status != stOk;
}

tMsgDirBase::tMsgDirBase() = default;

tMsgDirBase::~tMsgDirBase() = default;

tShortString tMsgDirBase::DirName() const { return AddBackslash(DirPart(Path)); }

tShortString tMsgDirBase::MessageFileName(int32_t N) const {
  return DirName() + IntToStr(N) + "." + ExtensionOf(Path);
}

tShortString tMsgDirBase::LastReadFileName() const { return DirName() + LastReadName; }

void tMsgDirBase::ConvertHeader(bool ToMessage, tMessage* Msg) {
  if (!Msg) return;
  uint8_t* H = HeaderBuf;
  if (ToMessage) {
    Msg->From = GetTextField(H + mhFrom, MsgNameWidth);
    Msg->To = GetTextField(H + mhTo, MsgNameWidth);
    Msg->Subject = GetTextField(H + mhSubject, MsgSubjectWidth);
    Msg->DateStr = GetTextField(H + mhDate, MsgDateWidth);
    Msg->TimesRead = GetU16(H + mhTimesRead);
    Msg->DestNode = GetU16(H + mhDestNode);
    Msg->OrigNode = GetU16(H + mhOrigNode);
    Msg->OrigNet = GetU16(H + mhOrigNet);
    Msg->DestNet = GetU16(H + mhDestNet);
    Msg->Attr = GetU16(H + mhAttr);
    std::memset(Msg->Replies, 0, sizeof Msg->Replies);
    Msg->Replies[1] = GetU16(H + mhNextReply);
    Msg->DateWritten = tDateTime();
    Msg->DateArrived = tDateTime();
    return;
  }

  std::memset(H, 0, MsgHeaderSize);
  PutTextField(H + mhFrom, MsgNameWidth, Msg->From, MsgNameWidth - 1);
  PutTextField(H + mhTo, MsgNameWidth, Msg->To, MsgNameWidth - 1);
  PutTextField(H + mhSubject, MsgSubjectWidth, Msg->Subject, MsgSubjectWidth - 1);
  // The date text is made from DateWritten. A message that has no date
  // (all zero) keeps a date text it brings; one that has neither is dated
  // now, since "00  00  00:00:00" would be no date at all.
  if (!(Msg->DateWritten == tDateTime()))
    Msg->DateStr = DateTimeToStr(Msg->DateWritten);
  else if (Msg->DateStr.Empty())
    Msg->DateStr = DateTimeToStr(CurrentDateTime());
  Msg->DateStr.Truncate(MsgDateWidth);
  PutTextField(H + mhDate, MsgDateWidth, Msg->DateStr, MsgDateWidth - 1);
  PutU16(H + mhTimesRead, Msg->TimesRead);
  PutU16(H + mhDestNode, Msg->DestNode);
  PutU16(H + mhOrigNode, Msg->OrigNode);
  PutU16(H + mhOrigNet, Msg->OrigNet);
  PutU16(H + mhDestNet, Msg->DestNet);
  PutU16(H + mhAttr, static_cast<uint16_t>(Msg->Attr));
  PutU16(H + mhNextReply, static_cast<uint16_t>(Msg->Replies[1]));
}

bool tMsgDirBase::OpenDir(std::string_view APath, int32_t Mode) {
  PrepareBase(APath, Mode);
  AuxStream.reset();
  // PrepareBase leaves Path alone when it could not make the directory;
  // going on would read and count the messages of whatever directory the
  // old Path (or an empty one: the current directory) names.
  tShortString Dir = DirPart(APath);
  if (Path != APath || (!Dir.Empty() && !DirExists(Dir))) {
    Closed = cbFailed;
    return true;
  }

  tShortString LastRead = LastReadFileName();
  uint16_t LastReadMode = StreamMode(FileExists(LastRead) ? smOpenReadWrite : smCreate);
  AuxStream = std::make_unique<tBufStream>(LastRead, LastReadMode);

  Numbers_.clear();
  std::vector<tDirEntry> Entries;
  if (ListDir(Path, Entries)) {
    for (const tDirEntry& E : Entries) {
      int32_t N = NumberOfEntry(E.Name);
      if (N > 0) Numbers_.push_back(N);
    }
  }
  std::sort(Numbers_.begin(), Numbers_.end());
  Numbers_.erase(std::unique(Numbers_.begin(), Numbers_.end()), Numbers_.end());
  Count = Numbers_.empty() ? 0 : Numbers_.back();
  Closed = cbOpen;
  return false;
}

bool tMsgDirBase::Open(std::string_view APath, int32_t Mode) { return OpenDir(APath, Mode); }

bool tMsgDirBase::Create(std::string_view APath, int32_t Mode) { return OpenDir(APath, Mode); }

bool tMsgDirBase::Exists(int32_t N) { return N >= 1 && FileExists(MessageFileName(N)); }

void tMsgDirBase::DecodeDataStream(tMessage* Msg) {
  // A file shorter than the header leaves the rest of the header zero,
  // never bytes of the message read before it.
  std::memset(HeaderBuf, 0, MsgHeaderSize);
  DataStream->Read(HeaderBuf, MsgHeaderSize);
  ConvertHeader(true, Msg);
  int64_t Size = DataStream->GetSize();
  if (Size > std::numeric_limits<int32_t>::max()) Size = std::numeric_limits<int32_t>::max();
  ReadText(Msg, static_cast<int32_t>(MsgHeaderSize), static_cast<int32_t>(Size));
  Msg->SyncFlags(true);
  CompleteHeader(*Msg);
}

bool tMsgDirBase::ReadMessage(int32_t N, tMessage* Msg) {
  tMsgBase::ReadMessage(N, Msg);
  if (Closed != cbOpen || !Msg || N < 1) return true;
  // The file is opened straight away: asking first whether it exists would
  // cost a lookup for every message of a large folder. Only a failed open
  // asks, to tell a missing message (the record stays as it was) from one
  // that is there but cannot be read (the record is cleared).
  DataStream = std::make_unique<tBufStream>(MessageFileName(N), StreamMode(smOpenRead));
  if (DataStream->Status != stOk) {
    DataStream.reset();
    if (Exists(N)) Msg->Clear();
    return true;
  }
  Msg->Clear();
  DecodeDataStream(Msg);
  DataStream.reset();
  Msg->State = msRead;
  return false;
}

bool tMsgDirBase::ReadImage(std::string_view Image, tMessage* Msg) {
  if (!Msg) return true;
  auto Mem = std::make_unique<tMemoryStream>();
  Mem->WriteStr(Image);
  Mem->Seek(0);
  DataStream = std::move(Mem);
  Msg->Clear();
  DecodeDataStream(Msg);
  DataStream.reset();
  Msg->State = msRead;
  return false;
}

bool tMsgDirBase::ReadThread(int32_t N, tMessage* Msg) {
  ClearError();
  if (Closed == cbOpen && Msg && Exists(N)) return ReadMessage(N, Msg);
  return true;
}

bool tMsgDirBase::WriteMessage(int32_t N, tMessage* Msg) {
  tMsgBase::WriteMessage(N, Msg);
  // Message files are numbered from 1; "0.msg" or "-1.msg" could never be
  // read back.
  if (Closed != cbOpen || !Msg || N < 1) return true;
  Msg->SyncFlags(false);
  ConvertHeader(false, Msg);

  tShortString Name = MessageFileName(N);
  bool Existed = FileExists(Name);
  auto File = std::make_unique<tBufStream>(Name, StreamMode(smCreate));
  tBufStream* F = File.get();
  if (F->Status != stOk) return true;
  DataStream = std::move(File);
  F->Write(HeaderBuf, MsgHeaderSize);
  WriteFtsText(Msg, static_cast<int32_t>(F->GetPos()));
  bool Failed = F->Status != stOk;
  if (!F->Close()) Failed = true;
  DataStream.reset();
  if (Failed) {
    // A message file that is not whole must not be read as a message.
    if (!Existed) RemoveFile(Name);
    return true;
  }
  Msg->State = msWritten;
  auto At = std::lower_bound(Numbers_.begin(), Numbers_.end(), N);
  if (At == Numbers_.end() || *At != N) Numbers_.insert(At, N);
  if (N > Count) Count = N;
  return false;
}

bool tMsgDirBase::DeleteMessage(int32_t N) {
  tMsgBase::DeleteMessage(N);
  if (Closed != cbOpen || !Exists(N)) return true;
  EraseFile(MessageFileName(N));
  return false;
}

}  // namespace kelvane
