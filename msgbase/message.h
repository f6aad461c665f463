// tMessage: one FidoNet message in memory, the object in which messages
// travel between a base and its caller. A caller builds one and reuses it
// for many reads: every read starts with Clear, so nothing of the previous
// message survives.
//
// The attribute bits and their mirrors: Attr holds the 16 FTS attribute
// bits in its low half (Squish keeps bits of its own above them). Eighteen
// known bits have a one-byte mirror in AttrFlags, and ten FLAGS-kludge names
// with no Attr bit live in ExtFlags; SyncFlags keeps Attr, the mirrors and
// the FLAGS text in step before a write and after a read.
#ifndef KELVANE_MSGBASE_MESSAGE_H_
#define KELVANE_MSGBASE_MESSAGE_H_

#include <cstdint>
#include <string_view>

#include "msgbase/msgbase.h"
#include "runtime/collection.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

// An address word that is not known yet.
constexpr uint16_t UnsetWord = 65535;

// Attribute bits of tMessage::Attr.
constexpr uint32_t maPrivate = 0x0001;       // Pvt
constexpr uint32_t maCrash = 0x0002;         // Cra
constexpr uint32_t maReceived = 0x0004;      // Rcv
constexpr uint32_t maSent = 0x0008;          // Snt
constexpr uint32_t maFileAttached = 0x0010;  // Att: Subject holds the file names
constexpr uint32_t maInTransit = 0x0020;     // Trs
constexpr uint32_t maOrphan = 0x0040;        // Orp
constexpr uint32_t maKillSent = 0x0080;      // K/s
constexpr uint32_t maLocal = 0x0100;         // Loc
constexpr uint32_t maHold = 0x0200;          // Hld
constexpr uint32_t maFileRequest = 0x0800;   // FRq: Subject holds the file names
constexpr uint32_t maReceiptReq = 0x1000;    // RRq
constexpr uint32_t maIsReceipt = 0x2000;     // RRc
constexpr uint32_t maAuditReq = 0x4000;      // ARq
constexpr uint32_t maUpdateReq = 0x8000;     // URq
constexpr uint32_t maHigh16 = 0x00010000;    // mirrored only
constexpr uint32_t maHigh17 = 0x00020000;    // mirrored only
constexpr uint32_t maDeleted = 0x80000000;

constexpr int AttrFlagCount = 18;  // AttrFlags entries
constexpr int NamedAttrCount = 15;  // the first 15 of them have FLAGS names
constexpr int ExtFlagCount = 10;

// The attribute table: the Attr bit of AttrFlags[I], and its FLAGS name
// stored with its trailing space ("Pvt ", ...; empty for the last three).
extern const uint32_t AttrFlagBits[AttrFlagCount];
extern const char* const AttrFlagNames[AttrFlagCount];

// Indices into ExtFlags, in table order.
enum : int { efArchiveSent, efDirect, efZone, efHub, efImmediate, efXma, efKillFileSent, efTruncFileSent, efLock,
             efConfirm };
// "A/s ", "Dir ", "Zon ", "Hub ", "Imm ", "Xma ", "Kfs ", "Tfs ", "Lok ", "Cfm ".
extern const char* const ExtFlagNames[ExtFlagCount];

// Values of tMessage::State.
enum : uint8_t {
  msEmpty = 0,  // empty, or a read failed
  msRead = 2,
  msWritten = 3,
};

// Bits of tMessage::Completed: values that CompleteHeader made up or took
// from elsewhere because the message did not carry them. A writer stores no
// line for them (a read and a write add nothing to a message), and kelvutil
// show marks them. A caller that puts a value of its own into such a field
// of a message it read clears the bit.
enum : uint8_t {
  cvMsgId = 0x01,       // MsgId made from the sender's address: no MSGID line
  cvIntl = 0x02,        // Intl made from the two addresses: no INTL line
  cvOrigPoint = 0x04,   // OrigPoint from the MSGID or 0 by default: no FMPT line
  cvDate = 0x08,        // the date text held no date: DateWritten is the time of the read
  cvOriginAddr = 0x10,  // the origin line named no address: none is added to it
  // The sender's zone, net or node was in no header field and no kludge:
  // the origin line at the text's tail gave it, or the recipient's address
  // lent it. A reader that read only the head (ReadHeader) must read the
  // whole message to have the sender's address.
  cvOrigNode = 0x20,
};

// What a message is, where its base records it: JAM in its type bits, a
// packet by its AREA line. A *.MSG folder or a Squish base records none
// (the base is the area, or the netmail folder): its messages read as
// mkUnknown.
enum tMessageKind : uint8_t {
  mkUnknown = 0,
  mkNetmail,
  mkEchomail,
  mkLocal,  // written here and kept here, never sent
};

// The most lines one read puts into each of the line lists of a message.
// Real messages carry at most a few hundred; a damaged or hostile one of
// millions of SEEN-BY lines (or subfields) would otherwise cost 257 bytes
// a line.
constexpr size_t MaxListLines = 8192;

// Replies holds ReplyCount numbers at indices 1..ReplyCount, as the formats
// number them (Replies[1] is the first reply); index 0 is unused and zero.
constexpr int ReplyCount = 66;

class tMessage;

// The kind a writer gives a message: its Kind when its base recorded one,
// else echomail when it names an area and netmail when not. Only netmail
// carries FMPT, TOPT and INTL lines.
tMessageKind KindOf(const tMessage& Msg);
inline bool IsNetmail(const tMessage& Msg) { return KindOf(Msg) == mkNetmail; }
// "netmail", "echomail", "local"; empty for mkUnknown.
const char* KindName(uint8_t Kind);

class tMessage {
 public:
  // Text empty, the four line lists empty, then Clear.
  tMessage();
  ~tMessage();
  tMessage(const tMessage&) = delete;
  tMessage& operator=(const tMessage&) = delete;

  // Empties every string, Text and the four line lists; zeroes every header
  // field and flag; AddTearLine, AddOrigin, HadMsgId, HadIntl, State 0;
  // then ClearHeader (so the address words end unset).
  void Clear();
  // Zeroes the header fields (From to NextUid: names, dates, numbers,
  // Attr, Replies) and the 28 flag bytes, sets the eight address words to
  // UnsetWord and State to 0. Leaves the owned strings, Text and the lists
  // alone (Clear empties those).
  void ClearHeader();

  // Sets or clears the bits of Mask in Attr and the mirrors in AttrFlags
  // of those that have one.
  void SetAttr(bool On, uint32_t Mask);
  bool HasAttr(uint32_t Mask) const { return (Attr & Mask) != 0; }
  // Appends SOH "Via " + Text to RouteLines.
  void AddVia(std::string_view Text);

  tShortString FromStr() const { return From; }
  tShortString ToStr() const { return To; }
  tShortString SubjectStr() const { return Subject; }

  // AfterRead false (before a write): Attr and AttrFlags are brought in
  // step, each mirrored bit taking the side the caller changed since they
  // last agreed (Attr when neither changed); Flags := the set ExtFlags
  // names in upper case, one space between.
  // AfterRead true: each whole word of the FLAGS text that names an Attr
  // bit sets it, each that names an ExtFlags flag sets that; FlagsRest :=
  // the other words (DUM aside) in upper case and their order; AttrFlags :=
  // Attr's bits; Flags rebuilt from ExtFlags.
  void SyncFlags(bool AfterRead);

  // Header fields, in the order the formats know them.
  tShortString From;
  tShortString To;
  tShortString Subject;
  tShortString DateStr;  // the FTS date text, at most 20 characters
  uint16_t TimesRead = 0;
  tDateTime DateWritten;
  tDateTime DateArrived;
  int32_t ReplyTo = 0;
  tShortString MsgId;
  tShortString ReplyId;
  tShortString Intl;
  tShortString Pid;
  tShortString Tid;
  tShortString TearLine;  // the text after "---", with its own leading blank
  uint8_t AddTearLine = 0;
  tShortString Origin;  // the text after " * Origin: "
  uint8_t AddOrigin = 0;
  tShortString Area;  // echo tag; empty for netmail (or an area its base does not name)
  uint8_t Kind = mkUnknown;  // tMessageKind
  tShortString Flags;
  tShortString FlagsRest;
  uint16_t OrigZone = UnsetWord;
  uint16_t DestZone = UnsetWord;
  uint16_t OrigNode = UnsetWord;
  uint16_t DestNode = UnsetWord;
  uint16_t OrigNet = UnsetWord;
  uint16_t DestNet = UnsetWord;
  uint16_t OrigPoint = UnsetWord;
  uint16_t DestPoint = UnsetWord;
  tShortString OrigDomain;
  tShortString DestDomain;
  uint16_t Cost = 0;
  uint32_t Attr = 0;
  uint32_t MsgNum = 0;  // the message's number inside its base (UMSGID, JAM number)
  int16_t UtcOfs = 0;
  int32_t Replies[ReplyCount + 1] = {};  // [1..ReplyCount]; [0] unused
  uint32_t NextUid = 0;
  uint8_t AttrFlags[AttrFlagCount] = {};
  uint8_t ExtFlags[ExtFlagCount] = {};
  uint8_t HadMsgId = 0;
  uint8_t HadIntl = 0;
  // The end of the origin line as read, from its last "(" on (the address
  // CompleteHeader took out of Origin); the writer puts it back unchanged,
  // so a read and a write never change the origin line. Cleared, the
  // writer gives the line the sender's address.
  tShortString OriginAddr;
  uint8_t Completed = 0;  // cv... bits, set by CompleteHeader

  // The body, lines ended by CR; grows in 4096-byte blocks.
  tMemoryStream Text;
  tStringList RouteLines;   // Via, Recd, Forwarded lines, whole with their SOH
  tStringList Kludges;      // other SOH lines with no field of their own, whole
  tStringList PathLines;    // PATH values, without SOH "PATH: "
  tStringList SeenByLines;  // SEEN-BY values, without "SEEN-BY: "
  uint8_t State = msEmpty;

 private:
  // The mirrored bits of Attr as they stood when Attr and AttrFlags last
  // agreed: SyncFlags(false) tells from it which side the caller changed.
  uint32_t MirroredAttr_ = 0;
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_MESSAGE_H_
