// JAM bases: one base is four files sharing a path and differing in their
// extension:
//
//   .jhr  a 1024-byte fixed header, then the message headers, each 76 bytes
//         followed by its subfields (addresses, names, subject, kludges)
//   .jdt  the message texts, one after another
//   .jdx  the index: one 8-byte record per message number, record k for
//         message k + 1, pointing at the message's header in .jhr
//   .jqv  this library's own companion file, held open while the base is,
//         never read or written
//   .jlr  the JAM last-read file: made empty with a new base (other JAM
//         software needs it), otherwise never opened
//
// Messages are numbered by their index position from 1 to Count; a deleted
// message keeps its number and its index record reads 0xFFFFFFFF twice, or
// (as other JAM software deletes) still points at its header, which
// carries the deleted bit: either way the message is gone.
// A rewritten message gets a new header and text at the ends of .jhr and
// .jdt; the old header stays behind, marked deleted.
//
// Other JAM writers are not all correct, so nothing read is trusted: every
// offset and length is checked against the file (and SubfieldLen against
// what the file holds after the header) before it is used, no buffer is
// sized by what a header claims, links that name no message are links to
// nothing, and neither a wrong CRC nor a wrong ActiveMsgs keeps a base
// from opening. Updates write new data first and the records that point to
// it last, and a failed update puts back what it had changed.
//
// Every update takes the JAM lock, a record lock on the first byte of .jhr
// as other JAM software takes it, and reads the fixed header and the
// index's size again under it. The index record of a new message and the
// ActiveMsgs that counts it lie in two files and cannot be written in one
// step: a crash between the two leaves ActiveMsgs one short, so the first
// update of each opened base counts the active messages again.
//
// The layout is documented in doc/formats/jam.md; the offsets below are the
// ones listed there.
#ifndef KELVANE_MSGBASE_JAM_H_
#define KELVANE_MSGBASE_JAM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/base_change.h"
#include "msgbase/msgbase.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

constexpr uint32_t JamFixedHeaderSize = 1024;
constexpr uint32_t JamHeaderSize = 76;
constexpr uint32_t JamIndexRecSize = 8;
constexpr uint32_t JamSubfieldHdrSize = 8;

// The fixed header at the start of .jhr.
enum : uint32_t {
  fhSignature = 0,     // "JAM" and a zero byte
  fhDateCreated = 4,   // seconds since 1970, local time
  fhModCounter = 8,    // raised by every change, so that readers notice it
  fhActiveMsgs = 12,   // messages not deleted
  fhPasswordCrc = 16,  // 0xFFFFFFFF: no password
  fhBaseMsgNum = 20,   // written as 1, never consulted
};

// A message header.
enum : uint32_t {
  jhSignature = 0,
  jhRevision = 4,       // u16, 1
  jhReserved = 6,       // u16
  jhSubfieldLen = 8,    // bytes of subfields after the 76 bytes
  jhTimesRead = 12,
  jhMsgIdCrc = 16,
  jhReplyCrc = 20,
  jhReplyTo = 24,       // the message this one answers
  jhReply1st = 28,      // its first answer
  jhReplyNext = 32,     // the next answer to the same message
  jhDateWritten = 36,   // seconds since 1970, local time
  jhDateReceived = 40,
  jhDateProcessed = 44,
  jhMessageNumber = 48,
  jhAttribute = 52,
  jhAttribute2 = 56,
  jhTxtOffset = 60,     // the text's position in .jdt
  jhTxtLen = 64,
  jhPasswordCrc = 68,
  jhCost = 72,
};

// Subfield ids.
enum : uint32_t {
  sfOAddress = 0,
  sfDAddress = 1,
  sfSenderName = 2,
  sfReceiverName = 3,
  sfMsgId = 4,
  sfReplyId = 5,
  sfSubject = 6,
  sfPid = 7,
  sfTrace = 8,
  sfEnclosedFile = 9,
  sfEnclosedFileWAlias = 10,
  sfEnclosedFreq = 11,
  sfEnclosedFileWCard = 12,
  sfEnclosedIndirectFile = 13,
  sfEmbinDat = 1000,
  sfFtsKludge = 2000,
  sfSeenBy2D = 2001,
  sfPath2D = 2002,
  sfFlags = 2003,
};

// JAM attribute bits this library maps (doc/formats/jam.md has the table).
constexpr uint32_t jaLocal = 0x00000001;
constexpr uint32_t jaDeleted = 0x80000000;
constexpr uint32_t jaTypeLocal = 0x00800000;
constexpr uint32_t jaTypeEcho = 0x01000000;
constexpr uint32_t jaTypeNet = 0x02000000;

// CRC-32 (reflected polynomial 0xEDB88320, initial 0xFFFFFFFF, no final
// complement) over S with 'A'..'Z' taken as 'a'..'z'; 0xFFFFFFFF for "".
uint32_t JamCrc(std::string_view S);

// One message as stored, for tools that show the format itself.
struct tJamRawMessage {
  int64_t HdrOffset = -1;
  uint32_t UserCrc = 0;
  uint8_t Header[JamHeaderSize] = {};
  // The subfields in their order, as far as the header's SubfieldLen and
  // the file hold them.
  std::vector<std::pair<uint32_t, std::string>> Subfields;
};

class tJamBase : public tMsgBase {
 public:
  tJamBase();
  ~tJamBase() override;

  // Flag true: MsgHeader into Msg (dates, links, cost, number, Attr from
  // the attribute bits, times read). Flag false: MsgHeader built from Msg;
  // DateReceived, ReplyNext, Attribute2 and PasswordCRC stay as they are.
  void ConvertHeader(bool ToMessage, tMessage* Msg) override;

  // Opens an existing base: .jdx, .jdt and .jhr for reading and writing
  // shared with everybody, or, when one of them may not be written, all
  // three for reading only (writes then fail); .jqv opened, or created when
  // missing and the mode creates. Fails (true, Closed 2, no streams) when a
  // file is missing or locked, or .jhr holds no 1024-byte fixed header.
  // Count := the number of index records.
  bool Open(std::string_view APath, int32_t Mode) override;
  // Makes a new, empty base: a fresh fixed header in .jhr, empty .jdt and
  // .jdx, .jqv, and an empty .jlr when there is none. A file that is
  // missing is created new; one that is
  // there but empty is used; one that holds data is never emptied, and
  // Create then fails with every file as it was (a base that Open could
  // not open, because a file was locked or one of the four was lost, is
  // damaged or busy, not new). A mode that only opens (0x3D40) creates
  // nothing.
  bool Create(std::string_view APath, int32_t Mode) override;

  // 1 <= N <= Count and index record N - 1 points at a header that lies
  // whole in .jhr, after the fixed header, and is not marked deleted.
  bool Exists(int32_t N) override;
  // Index record N - 1 points at a header that carries the deleted bit:
  // a message deleted as other JAM software deletes, which does not exist.
  bool IsMarkedDeleted(int32_t N);
  // Reads such a message as ReadMessage reads one that exists (its Attr
  // has maDeleted), for tools that show a base as it is; fails for any
  // other N.
  bool ReadMarkedDeleted(int32_t N, tMessage* Msg);

  // Reads message N: the header, the text (one that runs past .jdt only as
  // far as the file holds it and no further than the next message's text),
  // then the subfields (data longer than a string holds cut at 255
  // characters; subfield 2004 as the TZUTC kludge; the walk ends at the
  // end of what the header and the file hold, or at a subfield that is the
  // next header's signature); Losses tells what was cut or left. Fails
  // when N does not exist, with State 0 when the header is not valid.
  bool ReadMessage(int32_t N, tMessage* Msg) override;
  // N >= 1. An index record N that is there is replaced: the message keeps
  // its number and its old header stays, marked deleted. Otherwise (N above
  // Count as the caller last saw it) the message is appended after the last
  // one the base holds once the lock is had, whatever N was. Fails (true),
  // with the base as it was, when a file operation fails or the lock was
  // not had (Busy).
  bool WriteMessage(int32_t N, tMessage* Msg) override;
  // Marks message N deleted and takes it out of its parent's answers
  // (while FixLinks is 1). A message marked deleted in its header only
  // has its index record cleared (ActiveMsgs does not count it twice).
  // Fails, changing nothing, when index record N - 1 points at no header,
  // a file operation fails or the lock was not had.
  bool DeleteMessage(int32_t N) override;
  // ReadMessage, then Replies[2..66] := the answers after the first, in
  // chain order, ended by 0 unless full.
  bool ReadThread(int32_t N, tMessage* Msg) override;
  void ClearError() override;

  void LoadLinks(int32_t N) override;
  // The link of N from LinkCache, loaded from N's header when the cache
  // does not hold a positive one for N.
  int32_t GetReplyTo(int32_t N) override;
  int32_t GetReply1st(int32_t N) override;
  int32_t GetReplyNext(int32_t N) override;
  // Store one link in N's header, in place. These, MarkRead, writes and
  // deletes each raise ModCounter.
  void SetReplyTo(int32_t N, int32_t Value) override;
  void SetReply1st(int32_t N, int32_t Value) override;
  void SetReplyNext(int32_t N, int32_t Value) override;
  // Makes M an answer of N, keeping N's answers in ascending order.
  void LinkReply(int32_t N, int32_t M) override;
  // TimesRead of N + 1, in place.
  void MarkRead(int32_t N) override;

  // Message N as stored: its header offset, index CRC, header bytes and
  // subfields. False when N does not exist or its header is not valid.
  bool ReadRaw(int32_t N, tJamRawMessage& Out);

  // What the last ReadMessage could not take whole from the files. A copy
  // tells it, so that nothing is lost unseen, and show marks it.
  struct tReadLosses {
    // Subfields put in no field of the message, by id in their order: ids
    // it does not know, an enclosed file or request without its attribute.
    std::vector<uint32_t> Skipped;
    // Subfields longer than the 255 characters of the string they went
    // into, cut there.
    std::vector<uint32_t> Cut;
    // The text runs past the end of .jdt (its TxtLen is wrong): only
    // TextKept of its TextLen bytes were read, up to the end of the file or
    // the next message's text.
    bool TextCut = false;
    uint32_t TextKept = 0, TextLen = 0;
  };
  const tReadLosses& Losses() const { return Losses_; }
  const std::vector<uint32_t>& SkippedSubfields() const { return Losses_.Skipped; }

  // Opens a base held in memory, the three files' bytes (for the fuzzer
  // and tools); writes go to the memory. False when Jhr holds no fixed
  // header.
  bool OpenImages(std::string_view Jhr, std::string_view Jdt, std::string_view Jdx);

  uint8_t MsgHeader[JamHeaderSize] = {};  // the header read or written last
  uint8_t FixedHeader[JamFixedHeaderSize] = {};
  uint8_t IndexRec[JamIndexRecSize] = {};    // UserCRC, HdrOffset
  uint8_t SubfieldHdr[JamSubfieldHdrSize] = {};  // id, DatLen
  std::unique_ptr<tStream> HeaderStream;  // .jhr
  std::unique_ptr<tStream> IndexStream;   // .jdx
  uint8_t FixLinks = 1;  // DeleteMessage repairs the reply chain while 1

 private:
  bool OpenFiles(std::string_view APath, int32_t Mode, bool Make);
  void CloseStreams();
  // The one place where an update begins: the lock on .jhr taken (or kept
  // from an outer update) and, when taken just now, the fixed header and
  // Count read again; the first time after an open, ActiveMsgs counted
  // again and written when it was wrong. False, the lock not held, when
  // the update must not go on.
  bool StartChange();
  // The messages that are not deleted: index records that lead to a valid
  // header without the deleted bit.
  uint32_t CountActive();
  void Fail();
  // Sets Signature, PasswordCRC, DateCreated and ModCounter (when 0),
  // BaseMsgNum and the reserved bytes of FixedHeader, and Signature,
  // Revision, PasswordCRC and the reserved word of MsgHeader.
  void InitHeaders();
  // The header offset of index record N - 1 when it points at a header
  // that lies whole in .jhr, else -1.
  int64_t HeaderOffsetOf(int32_t N);
  // Reads the 76 bytes at Offset into H; true when they are a valid header.
  bool ReadHeaderAt(int64_t Offset, uint8_t* H);
  // The header at Offset is valid and carries the deleted bit.
  bool DeletedAt(int64_t Offset);
  // ModCounter + 1 in FixedHeader: readers (editors, NNTP gateways) tell
  // by it that the base changed.
  void RaiseModCounter();
  // The header of message N into H, and its offset; false when N does not
  // exist or its header is not valid.
  bool ReadHeaderOf(int32_t N, uint8_t* H, int64_t& Offset);
  // The subfield bytes that follow the header at Offset, as far as
  // SubfieldLen and the file reach.
  bool ReadSubfields(int64_t Offset, const uint8_t* H, std::string& Out);
  // Stores Value in one field of N's header (adds it, when Add), in place.
  void ChangeField(int32_t N, uint32_t Field, uint32_t Value, bool Add);
  // Takes N, whose header is H, out of the answers of its parent.
  bool UnlinkFromParent(int32_t N, const uint8_t* H, tUndoLog& Undo);
  // The nearest start of a message's text after From (the largest int64
  // when none).
  int64_t NextTextStart(int64_t From);
  // LinkCache no longer holds N's links.
  void Forget(int32_t N);
  void BuildSubfields(tMessage& Msg, std::string& Out);

  tChangeLock Change_;
  bool Counted_ = false;  // ActiveMsgs counted since the base opened
  std::string TextBuf_;      // scratch of WriteMessage
  std::string SubfieldBuf_;  // scratch of ReadMessage and WriteMessage
  tReadLosses Losses_;
  bool TakeDeleted_ = false;  // ReadMarkedDeleted is reading
  // The text offsets of the base's messages, in order; gathered when a
  // text that runs past .jdt is first read, forgotten by every change.
  std::vector<int64_t> TextStarts_;
  bool TextStartsKnown_ = false;
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_JAM_H_
