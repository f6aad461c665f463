// Squish bases: a data file (".sqd") holding a 256-byte base header and a
// chain of message frames, an index file (".sqi") holding one 12-byte
// record per message in message order, and a last-read file (".sql") that
// is held open but never read or written. A message is reached through its
// index record (frame offset, UMSGID, recipient hash); a frame is a 28-byte
// frame header, the 238-byte message header, the control information (the
// kludges, each starting with SOH, no line breaks, closed by a NUL) and the
// text. Deleted messages leave their frames on the free chain; new frames
// always go to the end of the file, so a frame once written is never
// overwritten by another message.
//
// The index is read whole when the base opens and kept in memory with the
// base header. Every change takes the Squish lock (a record lock on the
// first byte of the data file, as other Squish software takes it) and reads
// the header again under it, and the index too when the header or the
// index's size shows that another program changed the base. Changes write
// new data first and the records that point to it last, the base header
// last of all; a change that failed part-way puts back what it wrote and
// reloads both, so the object always shows what the files say. An append
// cut off before its header leaves bytes past the header's end of file
// that nothing counted points at; the next append goes after them.
//
// The record layouts: doc/formats/squish.md; the offsets below are the ones
// listed there.
#ifndef KELVANE_MSGBASE_SQUISH_H_
#define KELVANE_MSGBASE_SQUISH_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "msgbase/base_change.h"
#include "msgbase/msgbase.h"
#include "runtime/stream.h"

namespace kelvane {

constexpr uint32_t SqBaseSize = 256;
constexpr uint32_t SqFrameSize = 28;
constexpr uint32_t SqMsgSize = 238;
constexpr uint32_t SqIdxSize = 12;
constexpr uint32_t SqFrameId = 0xAFAE4453;
// Attribute bit of the message header: the message has been read.
constexpr uint32_t SqReadBit = 0x00080000;
// Message headers carry nine replies.
constexpr int SqReplyCount = 9;

// The base header (offset 0 of the data file); 32-bit unless noted.
enum : uint32_t {
  sbLength = 0,         // 16-bit, 256
  sbNumMsg = 4,
  sbHighMsg = 8,
  sbSkipMsg = 12,
  sbHighWater = 16,
  sbNextUid = 20,
  sbBaseName = 24,      // 80 bytes
  sbFirstFrame = 104,
  sbLastFrame = 108,
  sbFirstFree = 112,
  sbLastFree = 116,
  sbEndFrame = 120,
  sbMaxMsg = 124,
  sbKeepDays = 128,     // 16-bit
  sbFrameSize = 130,    // 16-bit, 28
};

// The frame header.
enum : uint32_t {
  sfId = 0,
  sfNext = 4,
  sfPrev = 8,
  sfLength = 12,      // bytes the frame holds after its header
  sfMsgLength = 16,   // bytes of them in use: 238 + control + text
  sfCtrlLength = 20,  // control information, its closing NUL included
  sfType = 24,        // 16-bit: 0 message, 1 free
};
enum : uint16_t { sqMessageFrame = 0, sqFreeFrame = 1 };

// The message header.
enum : uint32_t {
  sxAttr = 0,
  sxFrom = 4,          // 36 bytes
  sxTo = 40,           // 36 bytes
  sxSubject = 76,      // 72 bytes
  sxOrig = 148,        // zone, net, node, point: 16-bit each
  sxDest = 156,
  sxDateWritten = 164, // MS-DOS date in the low half, time in the high half
  sxDateArrived = 168,
  sxUtcOfs = 172,      // 16-bit
  sxReplyTo = 174,     // UMSGID
  sxReplies = 178,     // nine UMSGIDs
  sxUmsgId = 214,
  sxDateStr = 218,     // 20 bytes, the FTS date text
};

// The index record.
enum : uint32_t { siFrame = 0, siUmsgId = 4, siHash = 8 };

// The recipient hash of the index: each character with A-Z lower-cased
// (other letters, Cyrillic among them, stay as they are, as every other
// Squish program hashes them), h := h * 16 + c, the top nibble folded in;
// the result has its top bit clear ("abc" gives 0x6783).
uint32_t SquishHash(std::string_view Name);

class tSquishBase : public tMsgBase {
 public:
  tSquishBase();
  ~tSquishBase() override;

  // Flag true: SqMsg into Msg (Attr, TimesRead 1 when the read bit is set,
  // names, addresses, dates, UTC offset, the stored reply UMSGIDs into
  // ReplyTo and Replies[1..9], the date text or, when it is empty, the text
  // of DateArrived). Flag false: SqMsg built from Msg (the date every
  // writer stores, the read bit from TimesRead); the UMSGID field is the
  // writer's.
  void ConvertHeader(bool ToMessage, tMessage* Msg) override;

  // Path is directory + base name; the files are Path + ".sqd", ".sqi",
  // ".sql". Open reads the base header and the index; Count is the number
  // of messages the header gives, but never more than the index holds. A
  // base that cannot be written is opened for reading. Create makes a new
  // base of a 256-byte data file and an empty index, and never empties a
  // file that is there: it fails when the data or the index file exists,
  // or when the mode only opens (0x3D40). Both fail with Closed 2.
  bool Open(std::string_view APath, int32_t Mode) override;
  bool Create(std::string_view APath, int32_t Mode) override;

  bool ReadMessage(int32_t N, tMessage* Msg) override;
  // Appends or replaces message N. N above Count (the count as the caller
  // last saw it) appends, as the message after the last one the base holds
  // when the lock is taken: a message another program added meanwhile is
  // never replaced. A replacement keeps the UMSGID of the message it
  // replaces and its place in the index and the frame chain; the old frame
  // goes to the free chain only once the index points to the new one.
  // True when a file operation failed or the lock was not had (Busy): the
  // base then reads as before, or, when only the bookkeeping after a
  // replacement's switch failed, with the new message in place.
  bool WriteMessage(int32_t N, tMessage* Msg) override;
  // Removes index record N, unlinks the frame from the message chain and
  // puts it on the free chain. True when a file operation failed or the
  // lock was not had.
  bool DeleteMessage(int32_t N) override;
  bool ReadThread(int32_t N, tMessage* Msg) override;
  void ClearError() override;

  // Reply links are stored as UMSGIDs and handed over as message numbers:
  // the getters give the number of the message whose index record holds
  // the stored UMSGID (0 when none does), the setters store the UMSGID of
  // message Value (0 clears the link; a Value that names no message
  // changes nothing). LinkCache holds the reply-to, the first and the
  // second reply of one message.
  void LoadLinks(int32_t N) override;
  int32_t GetReplyTo(int32_t N) override;
  int32_t GetReply1st(int32_t N) override;
  int32_t GetReplyNext(int32_t N) override;
  void SetReplyTo(int32_t N, int32_t Value) override;
  void SetReply1st(int32_t N, int32_t Value) override;
  void SetReplyNext(int32_t N, int32_t Value) override;
  void LinkReply(int32_t N, int32_t M) override;
  void MarkRead(int32_t N) override;

  // Slot 27: the defaults of the in-memory base header (length 256, next
  // UMSGID 2 when 0, frame header size 28, end of file 256 when 0) and the
  // frame identifier of SqFrame.
  virtual void ResetBaseHeader();

  // Opens a base over two streams instead of files (tools, tests and the
  // fuzzer read damaged bases from memory); the streams are the base's
  // from then on. The same checks as Open.
  bool OpenStreams(std::unique_ptr<tStream> Data, std::unique_ptr<tStream> Index);

  // The index record of message N (0 when N is no message).
  uint32_t FrameOffset(int32_t N) const { return IndexField(N, siFrame); }
  uint32_t UmsgIdOf(int32_t N) const { return IndexField(N, siUmsgId); }
  uint32_t HashOf(int32_t N) const { return IndexField(N, siHash); }
  // The number of the message whose index record holds Uid; 0 when none
  // does (and for Uid 0).
  int32_t NumberOfUid(uint32_t Uid) const;

  uint8_t SqBase[SqBaseSize] = {};
  uint8_t SqMsg[SqMsgSize] = {};
  uint8_t SqFrame[SqFrameSize] = {};
  uint8_t SqIdx[SqIdxSize] = {};
  std::unique_ptr<tStream> IndexStream;

 private:
  uint32_t IndexField(int32_t N, uint32_t Field) const;
  // PrepareBase, every stream released, Closed 2 until the open is done;
  // false when PrepareBase stored nothing.
  bool StartOver(std::string_view APath, int32_t Mode);
  // The one place where a change begins: the lock on the data file taken
  // (or kept from an outer change) and, when taken just now, the header
  // read again, with the index when the header or the index's size is not
  // what this object saw last; WholeIndex reads the index in any case (for
  // a change that writes index records it did not make). False, with the
  // lock not held, when the change must not go on.
  bool StartChange(bool WholeIndex = false);
  // Reads the base header and the index into memory; false when the
  // header cannot be read or the index not held.
  bool LoadState();
  // After a failed change: what the files say, or an empty base.
  void Reload();
  bool Fail();  // Reload, then true
  // The data file's size as the system gives it, at most what a frame
  // offset can reach.
  int64_t FileDataSize();
  // A frame header at Offset into Frame: true when the offset leaves room
  // for it in the data file, it reads, its identifier is right and its
  // type is Type (any type for -1).
  bool ReadFrameHeader(uint32_t Offset, uint8_t* Frame, int Type = -1);
  // Message N's frame and message headers into SqFrame and SqMsg.
  bool ReadHeaders(int32_t N);
  void WriteAt(tStream& S, int64_t At, const void* Bytes, uint32_t Count);
  // Flushes both files; false when either reports an error.
  bool Flushed();
  // Frame at Offset (its header in Frame) onto the free chain, marked free.
  void FreeFrame(uint32_t Offset, uint8_t* Frame);
  // The message count (and the fixed fields) into SqBase.
  void SetCounts(int32_t Messages);
  // Writes the base header with the message count in place.
  void WriteBaseHeader();
  // Stores Value's UMSGID in the 32-bit field Field of message N's header.
  void SetLink(int32_t N, uint32_t Field, int32_t Value);
  void ForgetLinks() { LinkCache = tLinkCache(); }

  std::vector<uint8_t> Index_;  // Count records as the index file holds them
  // The data file's size when the base was loaded or its lock last taken,
  // grown by our appends: what every offset read from the files is checked
  // against.
  int64_t DataSize_ = 0;
  // Whether the base header in the file is the one this object wrote last,
  // its end of file the end of the frame it appended last.
  bool OwnHeader_ = false;
  tChangeLock Change_;
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_SQUISH_H_
