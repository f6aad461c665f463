// tMsgBase: the one object model over every FidoNet storage format of the
// library (*.MSG directories, Squish, JAM, type-2 packets). A format is a
// descendant that keeps every virtual operation below in the same slot order
// and appends its own after them; callers use a base only through these
// slots. Messages travel between a base and its caller in one tMessage.
//
// Conventions every format keeps:
//  - a Boolean result true means failure, false success (Exists is the one
//    exception: true means the message is there);
//  - every file goes through a tBufStream whose mode word is one of 0x3D40,
//    0x3D42, 0x3C00 OR-ed with OpenMode as plain bits (StreamMode below);
//  - a read clears the message, converts the native header (ConvertHeader),
//    parses the stored text (ReadText), then runs SyncFlags(true) and
//    CompleteHeader; a write starts with SyncFlags(false).
// Also here: tDateTime, the date type of tMessage, and the MS-DOS packing
// of dates used by native headers.
#ifndef KELVANE_MSGBASE_MSGBASE_H_
#define KELVANE_MSGBASE_MSGBASE_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "msgbase/text_body.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

class tMessage;

// A calendar date and time, taken as is (local time, no zone). All zero
// means "no date".
struct tDateTime {
  int32_t Year = 0;  // full year, e.g. 2026
  int32_t Month = 0;  // 1..12
  int32_t Day = 0;
  int32_t Hour = 0;
  int32_t Min = 0;
  int32_t Sec = 0;
};

inline bool operator==(const tDateTime& A, const tDateTime& B) {
  return A.Year == B.Year && A.Month == B.Month && A.Day == B.Day && A.Hour == B.Hour && A.Min == B.Min &&
         A.Sec == B.Sec;
}

// The MS-DOS packed date and time: high 16 bits the date (bits 15-9 year
// minus 1980, 8-5 month, 4-0 day), low 16 bits the time (bits 15-11 hour,
// 10-5 minute, 4-0 seconds divided by 2). Unpacking doubles the seconds,
// packing halves them (an odd second is rounded down). Fields out of range
// are masked to their bit width.
uint32_t PackDateTime(const tDateTime& T);
tDateTime UnpackDateTime(uint32_t Packed);

// The reply links of one message, MsgNo being the message they belong to.
struct tLinkCache {
  int32_t MsgNo = 0;
  int32_t ReplyTo = 0;
  int32_t Reply1st = 0;
  int32_t ReplyNext = 0;
};

// Values of tMsgBase::Closed.
enum : uint8_t {
  cbOpen = 0,
  cbClosed = 1,
  cbFailed = 2,  // an open or create failed
};

// The stream modes the formats use; each is OR-ed with OpenMode.
constexpr uint16_t smOpenRead = 0x3D40;       // existing file, read, deny none
constexpr uint16_t smOpenReadWrite = 0x3D42;  // existing file, read/write, deny none
constexpr uint16_t smCreate = 0x3C00;         // create or empty

class tMsgBase {
 public:
  // Init: Path empty, no streams, Closed 1, Count 0, OpenMode -1, LinkCache
  // zero, HeaderOnly 0.
  tMsgBase();
  tMsgBase(const tMsgBase&) = delete;
  tMsgBase& operator=(const tMsgBase&) = delete;

  // Slot 0, Done: empties Path, releases AuxStream and DataStream, Count 0,
  // Closed 1. Formats release what they added, then this runs.
  virtual ~tMsgBase();

  // Slots 1-6: packet addressing and password; abstract here (only packet
  // bases supply them).
  virtual tShortString GetOrigAddr();
  virtual tShortString GetDestAddr();
  virtual tShortString GetPassword();
  virtual void SetOrigAddr(std::string_view Text);
  virtual void SetDestAddr(std::string_view Text);
  virtual void SetPassword(std::string_view Text);

  // Slot 7. ToMessage true: the format's native header into Msg; false:
  // the native header built from Msg. The base does nothing.
  virtual void ConvertHeader(bool ToMessage, tMessage* Msg);

  // Slots 8, 9: Path is the base path without its type letter. On success
  // false, Closed 0 and Count set; on failure true, Closed 1 or 2.
  // Abstract here.
  virtual bool Open(std::string_view Path, int32_t Mode);
  virtual bool Create(std::string_view Path, int32_t Mode);

  // Slot 10: true when message N is there. Base: Closed 0 and 1 <= N <= Count.
  virtual bool Exists(int32_t N);

  // Slot 11: parses the bytes [From, To) of DataStream as FidoNet message
  // text into Msg: control lines at the head and the tail leave the body
  // and fill Msg's fields and line lists; the body stays in Msg->Text
  // (with HeaderOnly set only the head is parsed and Text stays empty).
  // Returns true, changing nothing, unless DataStream and Msg are present
  // and From < To <= size of DataStream; false when it ran. Formats call it;
  // callers of a base do not. (msgtext.cc)
  virtual bool ReadText(tMessage* Msg, int64_t From, int64_t To);

  // Slots 12-16. The base behaviour is ClearError, then true; every format
  // runs that step first so an earlier stream error never fails the next
  // operation (and the first three drop Body). ReadHeader sets HeaderOnly
  // around a ReadMessage call and always leaves it 0.
  virtual bool ReadMessage(int32_t N, tMessage* Msg);
  virtual bool ReadHeader(int32_t N, tMessage* Msg);
  virtual bool WriteMessage(int32_t N, tMessage* Msg);
  virtual bool DeleteMessage(int32_t N);
  virtual bool ReadThread(int32_t N, tMessage* Msg);

  // Slot 17: resets the status of DataStream when there is one.
  virtual void ClearError();

  // Slot 18: fills LinkCache for message N (Squish, JAM); abstract here.
  virtual void LoadLinks(int32_t N);
  // Slots 19-21: the cached link when LinkCache.MsgNo is N; otherwise
  // LinkCache.MsgNo := N and -1. The base never fills the cached values, so
  // asking again for the same number gives 0.
  virtual int32_t GetReplyTo(int32_t N);
  virtual int32_t GetReply1st(int32_t N);
  virtual int32_t GetReplyNext(int32_t N);
  // Slots 22-26: abstract here (Squish, JAM).
  virtual void SetReplyTo(int32_t N, int32_t Value);
  virtual void SetReply1st(int32_t N, int32_t Value);
  virtual void SetReplyNext(int32_t N, int32_t Value);
  virtual void LinkReply(int32_t N, int32_t M);  // M becomes a reply of N
  virtual void MarkRead(int32_t N);

  // Takes kludges apart that are stored one after the other without line
  // breaks, each starting with SOH, as in Squish control information: each
  // non-empty piece between two SOH bytes (or before the first) is the
  // line SOH + piece, and the lines go through the rows that hold at the
  // head of a stored text, as ReadText's forward scan applies them (fields
  // of their own, routing lines, every other SOH line to Kludges). The
  // information is the bytes [From, To) of DataStream, read through the
  // block ReadText uses, and ends at its first NUL. Formats call it.
  // (msgtext.cc)
  void ReadControlInfo(tMessage& Msg, int64_t From, int64_t To);

  // What a listing of the base shows of message N: sender, recipient,
  // their addresses, subject and date, exactly as ReadMessage gives them,
  // read no further than they need: the head of the text (where the
  // kludges are), and none of it when the format's own fields name both
  // addresses whole (JAM's address subfields); the tail only for a message
  // whose sender's address is not whole without its origin line. Kludges,
  // control lines and text may be left out. Not a slot: it reads through
  // ReadMessage with HeaderOnly 2.
  bool ReadListed(int32_t N, tMessage* Msg);

  // Makes sure the directory of ABasePath exists (creating every missing
  // level), then stores Path := ABasePath, Closed := 1, OpenMode := Mode,
  // Count := 0. When the directory cannot be created, or ABasePath does
  // not fit 255 characters, nothing is stored (nor made), so the stream
  // opens that follow fail. Always returns true; formats ignore the result.
  bool PrepareBase(std::string_view ABasePath, int32_t Mode);

  // A format's stream mode: Base OR OpenMode, as plain bits.
  uint16_t StreamMode(uint16_t Base) const { return static_cast<uint16_t>(Base | static_cast<uint32_t>(OpenMode)); }
  // The mode that makes a new file with the sharing of StreamMode(smCreate):
  // created exclusively, never over a file that is there nor through a
  // link. 0 when OpenMode turns creating into an open (a base opened only
  // to read makes no file).
  uint16_t NewFileMode() const;

  tShortString Path;
  std::unique_ptr<tStream> DataStream;  // may be absent
  std::unique_ptr<tStream> AuxStream;   // may be absent
  uint8_t Closed = cbClosed;
  int32_t Count = 0;  // the highest message number
  int32_t OpenMode = -1;
  tLinkCache LinkCache;
  // 1: ReadMessage reads the head only (ReadHeader); 2: the fields a
  // listing shows (ReadListed), a format may leave out more than the head.
  uint8_t HeaderOnly = 0;
  // Set by a caller that walks long texts as it goes: ReadMessage then
  // takes the control lines of the head and the tail from the file as
  // ever, leaves Msg->Text empty and makes Body, which reads the body from
  // the base's file until the next read, write or delete on the base (a
  // *.MSG base keeps the message's file open for it meanwhile). Whatever
  // the length of the text, one block of memory.
  uint8_t StreamBody = 0;
  std::unique_ptr<tTextBody> Body;  // after DataStream: it reads that stream
  // 1 when the last change failed because another program held the
  // format's lock for the whole wait (runtime/file_lock.h); the files are
  // then as they were. Every change sets it afresh.
  uint8_t Busy = 0;

 private:
  std::vector<uint8_t> TextBuffer_;  // the block ReadText lays texts out through
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_MSGBASE_H_
