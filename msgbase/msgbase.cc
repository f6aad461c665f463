// The behaviour the abstract message base supplies to every format: its
// construction and destruction, the operations that merely clear the error
// and fail, the reply-link getters over LinkCache, PrepareBase, and the
// MS-DOS date packing. ReadText lives in msgtext.cc.
#include "msgbase/msgbase.h"

#include "msgbase/message.h"
#include "runtime/abstract.h"
#include "runtime/file_system.h"
#include "runtime/path.h"

namespace kelvane {

namespace {
const char* const BaseTypeName = "tMsgBase";
}  // namespace

uint32_t PackDateTime(const tDateTime& T) {
  uint32_t Date = ((static_cast<uint32_t>(T.Year - 1980) & 0x7F) << 9) | ((static_cast<uint32_t>(T.Month) & 0x0F) << 5) |
                  (static_cast<uint32_t>(T.Day) & 0x1F);
  uint32_t Time = ((static_cast<uint32_t>(T.Hour) & 0x1F) << 11) | ((static_cast<uint32_t>(T.Min) & 0x3F) << 5) |
                  ((static_cast<uint32_t>(T.Sec) / 2) & 0x1F);
  return (Date << 16) | Time;
}

tDateTime UnpackDateTime(uint32_t Packed) {
  tDateTime T;
  uint32_t Date = Packed >> 16, Time = Packed & 0xFFFF;
  T.Year = static_cast<int32_t>((Date >> 9) & 0x7F) + 1980;
  T.Month = static_cast<int32_t>((Date >> 5) & 0x0F);
  T.Day = static_cast<int32_t>(Date & 0x1F);
  T.Hour = static_cast<int32_t>((Time >> 11) & 0x1F);
  T.Min = static_cast<int32_t>((Time >> 5) & 0x3F);
  T.Sec = static_cast<int32_t>(Time & 0x1F) * 2;
  return T;
}

tMsgBase::tMsgBase() = default;

tMsgBase::~tMsgBase() {
  Path.Clear();
  AuxStream.reset();
  DataStream.reset();
  Count = 0;
  Closed = cbClosed;
}

tShortString tMsgBase::GetOrigAddr() { AbstractCall(BaseTypeName, "GetOrigAddr"); }
tShortString tMsgBase::GetDestAddr() { AbstractCall(BaseTypeName, "GetDestAddr"); }
tShortString tMsgBase::GetPassword() { AbstractCall(BaseTypeName, "GetPassword"); }
void tMsgBase::SetOrigAddr(std::string_view) { AbstractCall(BaseTypeName, "SetOrigAddr"); }
void tMsgBase::SetDestAddr(std::string_view) { AbstractCall(BaseTypeName, "SetDestAddr"); }
void tMsgBase::SetPassword(std::string_view) { AbstractCall(BaseTypeName, "SetPassword"); }

void tMsgBase::ConvertHeader(bool, tMessage*) {}

bool tMsgBase::Open(std::string_view, int32_t) { AbstractCall(BaseTypeName, "Open"); }
bool tMsgBase::Create(std::string_view, int32_t) { AbstractCall(BaseTypeName, "Create"); }

bool tMsgBase::Exists(int32_t N) { return Closed == cbOpen && N >= 1 && N <= Count; }

bool tMsgBase::ReadMessage(int32_t, tMessage*) {
  Body.reset();
  ClearError();
  return true;
}

bool tMsgBase::ReadHeader(int32_t N, tMessage* Msg) {
  HeaderOnly = 1;
  bool Failed = ReadMessage(N, Msg);
  HeaderOnly = 0;
  return Failed;
}

bool tMsgBase::ReadListed(int32_t N, tMessage* Msg) {
  HeaderOnly = 2;
  bool Failed = ReadMessage(N, Msg);
  HeaderOnly = 0;
  // The origin line at the text's end may complete the sender's address
  // (and, through it, the recipient's).
  if (!Failed && (Msg->Completed & cvOrigNode)) Failed = ReadMessage(N, Msg);
  return Failed;
}

bool tMsgBase::WriteMessage(int32_t, tMessage*) {
  Body.reset();
  ClearError();
  return true;
}

bool tMsgBase::DeleteMessage(int32_t) {
  Body.reset();
  ClearError();
  return true;
}

bool tMsgBase::ReadThread(int32_t, tMessage*) {
  ClearError();
  return true;
}

void tMsgBase::ClearError() {
  if (DataStream) DataStream->Reset();
}

void tMsgBase::LoadLinks(int32_t) { AbstractCall(BaseTypeName, "LoadLinks"); }

int32_t tMsgBase::GetReplyTo(int32_t N) {
  if (LinkCache.MsgNo == N) return LinkCache.ReplyTo;
  LinkCache.MsgNo = N;
  return -1;
}

int32_t tMsgBase::GetReply1st(int32_t N) {
  if (LinkCache.MsgNo == N) return LinkCache.Reply1st;
  LinkCache.MsgNo = N;
  return -1;
}

int32_t tMsgBase::GetReplyNext(int32_t N) {
  if (LinkCache.MsgNo == N) return LinkCache.ReplyNext;
  LinkCache.MsgNo = N;
  return -1;
}

void tMsgBase::SetReplyTo(int32_t, int32_t) { AbstractCall(BaseTypeName, "SetReplyTo"); }
void tMsgBase::SetReply1st(int32_t, int32_t) { AbstractCall(BaseTypeName, "SetReply1st"); }
void tMsgBase::SetReplyNext(int32_t, int32_t) { AbstractCall(BaseTypeName, "SetReplyNext"); }
void tMsgBase::LinkReply(int32_t, int32_t) { AbstractCall(BaseTypeName, "LinkReply"); }
void tMsgBase::MarkRead(int32_t) { AbstractCall(BaseTypeName, "MarkRead"); }

uint16_t tMsgBase::NewFileMode() const {
  uint16_t CreateMode = StreamMode(smCreate);
  tOpenMode Decoded = DecodeOpenMode(CreateMode);
  if (!Decoded.Valid || !Decoded.Create) return 0;
  return static_cast<uint16_t>(fmCreateNew | (CreateMode & 0x00FF));
}

bool tMsgBase::PrepareBase(std::string_view ABasePath, int32_t Mode) {
  Body.reset();  // it reads a stream the open replaces
  // A path cut to 255 characters would be another base's: nothing is made
  // or stored for it.
  if (ABasePath.size() > tShortString::MaxLength) return true;
  // An empty directory part stands for the current directory, which exists.
  tShortString Dir = DirPart(ABasePath);
  if (!Dir.Empty() && !DirExists(Dir)) {
    MakeDirChain(Dir);
    // Whatever MakeDirChain reports, the directory is what counts.
    if (!DirExists(Dir)) return true;
  }
  Path = ABasePath;
  Closed = cbClosed;
  OpenMode = Mode;
  Count = 0;
  return true;
}

}  // namespace kelvane
