// *.MSG directory bases and the FTS text writer shared with packets. Each
// operation opens and releases its one message file, so other processes
// may change the directory between calls; only the last-read file stays
// open while the base is.
#include "msgbase/msgdir.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "msgbase/address.h"
#include "msgbase/baseid.h"
#include "msgbase/fts_writer.h"
#include "msgbase/message.h"
#include "runtime/coding.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/replacing_file.h"
#include "runtime/stream.h"

namespace kelvane {

namespace {

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

// An address word as the header stores it: an unknown one as 0, which is
// how other tossers write an address they do not know (net 0 and node 0
// read back as unknown).
uint16_t HeaderWord(uint16_t W) { return W == UnsetWord ? 0 : W; }

}  // namespace

bool tFtsTextBase::WriteFtsText(tMessage* Msg, int32_t /*Position*/) {
  if (!DataStream || !Msg) return true;
  Msg->Text.Reset();
  WriteKludgeLines(*DataStream, *Msg, ksTextLines);
  WriteBodyAndTail(*DataStream, *Msg, tpAll);
  return DataStream->Status != stOk;
}

bool tFtsTextBase::ReadThread(int32_t N, tMessage* Msg) {
  ClearError();
  if (Closed == cbOpen && Msg && Exists(N)) return ReadMessage(N, Msg);
  return true;
}

tMsgDirBase::tMsgDirBase() = default;

tMsgDirBase::~tMsgDirBase() = default;

tShortString tMsgDirBase::DirName() const { return AddBackslash(DirPart(Path)); }

tShortString tMsgDirBase::MessageFileName(int32_t N) const {
  tShortString Name;
  WholeName(Name, {DirName(), IntToStr(N), ".", ExtensionOf(Path)});
  return Name;
}

tShortString tMsgDirBase::LastReadFileName() const {
  tShortString Name;
  WholeName(Name, {DirName(), LastReadName});
  return Name;
}

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
  DateForWriting(*Msg);
  Msg->DateStr.Truncate(MsgDateWidth);
  PutTextField(H + mhDate, MsgDateWidth, Msg->DateStr, MsgDateWidth - 1);
  PutU16(H + mhTimesRead, Msg->TimesRead);
  PutU16(H + mhDestNode, HeaderWord(Msg->DestNode));
  PutU16(H + mhOrigNode, HeaderWord(Msg->OrigNode));
  PutU16(H + mhOrigNet, HeaderWord(Msg->OrigNet));
  PutU16(H + mhDestNet, HeaderWord(Msg->DestNet));
  PutU16(H + mhAttr, static_cast<uint16_t>(Msg->Attr));
  PutU16(H + mhNextReply, static_cast<uint16_t>(Msg->Replies[1]));
}

bool tMsgDirBase::OpenDir(std::string_view APath, int32_t Mode) {
  // A path that does not fit is no base: cut, it would name another folder,
  // which must not be created or read.
  if (APath.size() > tShortString::MaxLength) {
    Closed = cbFailed;
    return true;
  }
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
  if (!LastRead.Empty()) {
    uint16_t LastReadMode = StreamMode(FileExists(LastRead) ? smOpenReadWrite : smCreate);
    AuxStream = std::make_unique<tBufStream>(LastRead, LastReadMode);
  }

  Numbers_.clear();
  std::vector<tDirEntry> Entries;
  if (ListDirNames(Path, Entries)) {
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

bool tMsgDirBase::Exists(int32_t N) {
  if (N < 1) return false;
  tShortString Name = MessageFileName(N);
  return !Name.Empty() && FileExists(Name);
}

void tMsgDirBase::DecodeDataStream(tMessage* Msg) {
  // A file shorter than the header leaves the rest of the header zero,
  // never bytes of the message read before it.
  std::memset(HeaderBuf, 0, MsgHeaderSize);
  DataStream->Read(HeaderBuf, MsgHeaderSize);
  ConvertHeader(true, Msg);
  int64_t Size = DataStream->GetSize();
  if (Size > std::numeric_limits<int32_t>::max()) Size = std::numeric_limits<int32_t>::max();
  ReadText(Msg, MsgHeaderSize, Size);
  Msg->SyncFlags(true);
  CompleteHeader(*Msg);
}

bool tMsgDirBase::ReadMessage(int32_t N, tMessage* Msg) {
  tMsgBase::ReadMessage(N, Msg);
  if (Closed != cbOpen || !Msg || N < 1) return true;
  tShortString Name = MessageFileName(N);
  if (Name.Empty()) return true;
  // The file is opened straight away: asking first whether it exists would
  // cost a lookup for every message of a large folder. Only a failed open
  // asks, to tell a missing message (the record stays as it was) from one
  // that is there but cannot be read (the record is cleared).
  DataStream = std::make_unique<tBufStream>(Name, StreamMode(smOpenRead));
  if (DataStream->Status != stOk) {
    DataStream.reset();
    if (Exists(N)) Msg->Clear();
    return true;
  }
  Msg->Clear();
  DecodeDataStream(Msg);
  ReleaseDataStream();
  Msg->State = msRead;
  return false;
}

void tMsgDirBase::ReleaseDataStream() {
  // A body read as it is walked needs the file until the next operation.
  if (Body)
    Body->Keep(std::move(DataStream));
  else
    DataStream.reset();
}

bool tMsgDirBase::ReadImage(std::string_view Image, tMessage* Msg) {
  if (!Msg) return true;
  auto Mem = std::make_unique<tMemoryStream>();
  Mem->WriteStr(Image);
  Mem->Seek(0);
  DataStream = std::move(Mem);
  Body.reset();
  Msg->Clear();
  DecodeDataStream(Msg);
  ReleaseDataStream();
  Msg->State = msRead;
  return false;
}

std::string tMsgDirBase::MessageImage(tMessage* Msg) {
  if (!Msg) return std::string();
  Msg->SyncFlags(false);
  ConvertHeader(false, Msg);
  auto Mem = std::make_unique<tMemoryStream>();
  tMemoryStream* M = Mem.get();
  std::unique_ptr<tStream> Kept = std::move(DataStream);
  DataStream = std::move(Mem);
  M->Write(HeaderBuf, MsgHeaderSize);
  WriteFtsText(Msg, static_cast<int32_t>(M->GetPos()));
  // A stored text ends with a NUL, as other software writes it and as
  // readers that stop there (or check for it) expect; a file without one
  // looks cut short.
  M->Write("", 1);
  std::string Image = M->Status == stOk ? std::string(M->View()) : std::string();
  DataStream = std::move(Kept);
  return Image;
}

bool tMsgDirBase::WriteMessage(int32_t N, tMessage* Msg) {
  tMsgBase::WriteMessage(N, Msg);
  // Message files are numbered from 1; "0.msg" or "-1.msg" could never be
  // read back.
  if (Closed != cbOpen || !Msg || N < 1) return true;
  tShortString Name = MessageFileName(N);
  if (Name.Empty()) return true;  // cut, it would be another message's name
  // OR-ed with a mode that only opens (the netmail scan's 0x3D40), a create
  // is an open for reading: such a base writes nothing.
  uint16_t NewMode = NewFileMode();
  if (!NewMode) return true;

  std::string Image = MessageImage(Msg);
  if (Image.empty()) return true;
  if (N <= Count && FileExists(Name)) {
    // A message that is there is replaced whole: the new file is written
    // beside it, flushed, and put in its place in one step, so a write that
    // fails leaves the old message byte for byte.
    tReplacingFile File(Name);
    File.Out().WriteStr(Image);
    if (!File.Commit()) return true;
  } else {
    // A new message file is made new (never through a link, never over a
    // file that appeared meanwhile); one that could not be written whole is
    // removed again. A number above those the caller knows is always a new
    // message: when another writer took it meanwhile, the message goes to
    // the next free number, and Count says which.
    while (true) {
      tBufStream File(Name, NewMode);
      if (File.Status == stOk) {
        File.WriteStr(Image);
        if (File.Close()) break;
        RemoveFile(Name);
        return true;
      }
      if (N == std::numeric_limits<int32_t>::max() || !FileExists(Name)) return true;
      Name = MessageFileName(++N);
      if (Name.Empty()) return true;
    }
  }
  Msg->State = msWritten;
  auto At = std::lower_bound(Numbers_.begin(), Numbers_.end(), N);
  if (At == Numbers_.end() || *At != N) Numbers_.insert(At, N);
  if (N > Count) Count = N;
  return false;
}

bool tMsgDirBase::SetAttrBits(int32_t N, uint16_t Bits, const uint8_t (&Read)[MsgHeaderSize]) {
  Body.reset();  // it may hold the very file open
  // A base opened to write (0x3D42) or to create may; one opened only to
  // read (the scan's 0x3D40) may not.
  if (Closed != cbOpen || N < 1 || (!NewFileMode() && !DecodeOpenMode(static_cast<uint16_t>(OpenMode)).Write))
    return true;
  tShortString Name = MessageFileName(N);
  if (Name.Empty() || !FileExists(Name)) return true;
  // Others may read the file meanwhile, but not write it.
  tBufStream In(Name, fmOpen | fmRead | fmDenyWrite);
  uint8_t Header[MsgHeaderSize];
  int64_t Size = In.GetSize();
  if (In.Status != stOk || Size < MsgHeaderSize || In.Read(Header, MsgHeaderSize) != MsgHeaderSize ||
      std::memcmp(Header, Read, MsgHeaderSize) != 0)
    return true;
  uint16_t Attr = GetU16(Header + mhAttr);
  if ((Attr & Bits) == Bits) return false;
  PutU16(Header + mhAttr, static_cast<uint16_t>(Attr | Bits));
  tReplacingFile File(Name);
  File.Out().Write(Header, MsgHeaderSize);
  File.Out().CopyFrom(In, Size - MsgHeaderSize);
  // Whatever stopped the copy short, the old file stays.
  bool Whole = In.Status == stOk && File.Out().GetSize() == Size;
  In.Close();
  return !Whole || !File.Commit();
}

bool tMsgDirBase::DeleteMessage(int32_t N) {
  tMsgBase::DeleteMessage(N);
  if (Closed != cbOpen || !Exists(N)) return true;
  EraseFile(MessageFileName(N));
  return false;
}

}  // namespace kelvane
