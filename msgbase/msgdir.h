// *.MSG directory bases: a directory in which every message is one file
// named by its decimal number ("1.msg", "2.msg", ...) holding a 190-byte
// stored-message header and then the message text. It is the format of the
// node's netmail directory. Zones and points are not in the header; they
// travel in the INTL, FMPT and TOPT kludge lines of the text.
//
// tFtsTextBase is the common parent of the formats that store a message as
// a native header plus FTS text with kludge lines (*.MSG files and
// packets): it adds the text writer WriteFtsText.
//
// The record layout is documented in doc/formats/msg.md; the offsets below
// are the ones listed there.
#ifndef KELVANE_MSGBASE_MSGDIR_H_
#define KELVANE_MSGBASE_MSGDIR_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/msgbase.h"
#include "runtime/short_string.h"

namespace kelvane {

// The stored-message header of a *.MSG file.
constexpr uint32_t MsgHeaderSize = 190;
enum : uint32_t {
  mhFrom = 0,          // 36 bytes, at most 35 characters and a NUL
  mhTo = 36,           // 36 bytes
  mhSubject = 72,      // 72 bytes, at most 71 characters
  mhDate = 144,        // 20 bytes, the FTS date text
  mhTimesRead = 164,   // 16-bit
  mhDestNode = 166,
  mhOrigNode = 168,
  mhCost = 170,
  mhOrigNet = 172,
  mhDestNet = 174,
  mhFill = 176,        // 8 bytes, written as zeros, never read
  mhReplyTo = 184,     // neither read nor written (stays 0)
  mhAttr = 186,
  mhNextReply = 188,
};
constexpr uint32_t MsgNameWidth = 36;
constexpr uint32_t MsgSubjectWidth = 72;
constexpr uint32_t MsgDateWidth = 20;

class tFtsTextBase : public tMsgBase {
 public:
  // Slot 27. Appends the FTS text of Msg to DataStream at its position:
  // for netmail the FMPT, TOPT and INTL lines, then MSGID, REPLY, FLAGS,
  // PID, TID, the other kludges, the body, tear line, origin line, SEEN-BY
  // and PATH lines and the route lines, each ended by one CR; no closing
  // NUL (WriteKludgeLines and WriteBodyAndTail of fts_writer.h). Values a
  // read completed get no line. Position is not used. Returns true when
  // DataStream or Msg is absent or the stream reports an error afterwards,
  // false otherwise.
  virtual bool WriteFtsText(tMessage* Msg, int32_t Position);

  // ReadMessage when the base is open, Msg is present and message N
  // exists; otherwise true. These formats keep no threads.
  bool ReadThread(int32_t N, tMessage* Msg) override;
};

class tMsgDirBase : public tFtsTextBase {
 public:
  tMsgDirBase();
  ~tMsgDirBase() override;

  // Flag true: HeaderBuf into Msg (names, subject, date text, times read,
  // nets and nodes, Attr, Replies[1] from the next-reply word; both dates
  // zero). Flag false: HeaderBuf built from Msg, the date text made from
  // DateWritten; cost, fill and reply-to stay zero.
  void ConvertHeader(bool ToMessage, tMessage* Msg) override;

  // Path is "directory\*.msg". Both create a missing directory, hold the
  // last-read file "lastread.kvx" as AuxStream (whatever its status) and
  // set Count to the highest message number found in the directory. They
  // fail (true, Closed 2) only when the directory is not there afterwards.
  bool Open(std::string_view APath, int32_t Mode) override;
  bool Create(std::string_view APath, int32_t Mode) override;

  // Whether the file of message N exists (N >= 1); neither the open state
  // nor Count is consulted, so numbers above Count can exist.
  bool Exists(int32_t N) override;

  // The numbers of the message files found when the base was opened, and
  // of those written since, ascending and each once: a walk over a base with
  // wide gaps between its numbers visits these instead of asking Exists
  // about every number up to Count. Deleted messages stay listed; Exists
  // tells.
  const std::vector<int32_t>& Numbers() const { return Numbers_; }

  bool ReadMessage(int32_t N, tMessage* Msg) override;
  // Writes the file of message N; Count becomes the larger of Count and N.
  // An existing file of a number up to Count is replaced whole in one step
  // (tReplacingFile); any other message is a new file, created new, so
  // that two writers never take one number: when the file of N appeared
  // meanwhile, the next free number is taken (and counted). A base whose
  // mode only opens (0x3D40) writes nothing. A file that cannot be written fails (true) with Count
  // unchanged and the old file, if any, byte for byte as it was; a new file
  // that could not be written whole is removed again. A file name that does
  // not fit 255 characters is refused.
  bool WriteMessage(int32_t N, tMessage* Msg) override;
  // Erases the file of message N unless another process holds it open;
  // false even then. Count is not changed.
  bool DeleteMessage(int32_t N) override;
  // Sets Bits in the attribute word of the file of message N and changes no
  // other byte of it: the file is copied with the new word and replaces the
  // old one in one step (tReplacingFile). Read is the header of the message
  // as the caller read it: when the file's header is no longer that (it was
  // changed, or another message took the number), nothing is written. True
  // on failure, the file as it was: no such file, a header that differs, a
  // base opened only to read (0x3D40), a file held by another program, a
  // write that fails. Bits already set: nothing is written, false.
  bool SetAttrBits(int32_t N, uint16_t Bits, const uint8_t (&Read)[MsgHeaderSize]);

  // The directory with its separator, derived from Path.
  tShortString DirName() const;
  // The file of message N: directory + N + "." + the mask's extension;
  // empty when that does not fit 255 characters (no such message can be).
  tShortString MessageFileName(int32_t N) const;
  // Empty, and no last-read file is held, when it does not fit.
  tShortString LastReadFileName() const;

  // Decodes the bytes of one *.MSG file held in memory into Msg exactly as
  // ReadMessage decodes a file, whatever the open state of the base (for
  // tools and the fuzzer). True only when Msg is absent.
  bool ReadImage(std::string_view Image, tMessage* Msg);
  // The bytes of the *.MSG file that WriteMessage stores for Msg (the
  // header, the FTS text, one closing NUL), after the
  // same pre-write step (SyncFlags, the header built into HeaderBuf);
  // empty when Msg is absent or memory failed.
  std::string MessageImage(tMessage* Msg);

  // The native header of the message last read or written.
  uint8_t HeaderBuf[MsgHeaderSize] = {};

 private:
  bool OpenDir(std::string_view APath, int32_t Mode);
  std::vector<int32_t> Numbers_;
  // Reads the header and text of the message in DataStream into Msg,
  // which the caller has cleared.
  void DecodeDataStream(tMessage* Msg);
  // Closes the message's file, or hands it to Body when there is one.
  void ReleaseDataStream();
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_MSGDIR_H_
