// Type-2 packets as message bases. A packet is one file, the way mail
// travels between FidoNet nodes: a 58-byte packet header, then packed
// messages one after another, then two zero bytes. tPktBase numbers the
// messages 1 to Count in file order; they can be read, appended and
// deleted, and the packet's addresses and password read and set as text.
// Zones and points of the messages themselves travel in kludge lines, not
// in the packed headers. Echomail carries its area tag in a first text
// line "AREA:" + tag.
//
// Other software takes no lock on a packet; our own writers take a record
// lock on its first byte for every change, as the formats that have one
// do, and list the messages another writer added under it.
//
// The layout, with the offsets named below: doc/formats/packet.md.
#ifndef KELVANE_MSGBASE_PKT_H_
#define KELVANE_MSGBASE_PKT_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "msgbase/base_change.h"
#include "msgbase/msgdir.h"
#include "runtime/collection.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

// The packet header (16-bit little-endian words unless noted), and the
// type word of the first message (or the closing zeros) after it.
constexpr uint32_t PktHeaderSize = 58;
constexpr uint32_t PktHeaderBufSize = 60;
enum : uint32_t {
  phOrigNode = 0,
  phDestNode = 2,
  phYear = 4,
  phMonth = 6,  // 0 = January
  phDay = 8,
  phHour = 10,
  phMinute = 12,
  phSecond = 14,
  phBaud = 16,
  phPacketType = 18,  // 2
  phOrigNet = 20,
  phDestNet = 22,
  phProductLow = 24,   // byte
  phRevisionMajor = 25,  // byte
  phPassword = 26,     // 8 bytes, zero-padded, no NUL when 8 long
  phOrigZone = 34,
  phDestZone = 36,
  phAuxNet = 38,
  phCapWordCopy = 40,  // the capability word byte-swapped
  phProductHigh = 42,  // byte
  phRevisionMinor = 43,  // byte
  phCapWord = 44,
  phOrigZone2 = 46,  // the zone copies that the address operations read
  phDestZone2 = 48,
  phOrigPoint = 50,
  phDestPoint = 52,
  phProductData = 54,  // 4 bytes
  phFirstType = 58,    // the word after the header
};
constexpr uint32_t PktPasswordWidth = 8;

// A type 2.2 header (FSC-0045) keeps the nodes, nets, packet type,
// product, password and first zone words where 2+ keeps them; where 2+
// keeps its date, baud rate, capability words and zone copies it has the
// points, a sub-version word of 2 and the two domains, and no date.
enum : uint32_t {
  p22OrigPoint = 4,
  p22DestPoint = 6,
  p22SubVersion = 16,
  p22OrigDomain = 38,  // 8 bytes, zero-padded
  p22DestDomain = 46,  // 8 bytes, zero-padded
};
constexpr uint32_t PktDomainWidth = 8;

// Whether the packet header H is a type 2.2 one: its sub-version word is 2
// and it carries no 2+ capability word (bit 0 set, its byte-swapped copy
// beside it).
bool IsType22Header(const uint8_t* H);

// The packed-message header without its type word (the type word is 2).
constexpr uint32_t PackedHeaderSize = 32;
enum : uint32_t {
  pmOrigNode = 0,
  pmDestNode = 2,
  pmOrigNet = 4,
  pmDestNet = 6,
  pmAttr = 8,
  pmCost = 10,
  pmDate = 12,  // 20 bytes, the FTS date text and a NUL
};
constexpr uint32_t PackedDateWidth = 20;
// The longest names and subject a packet carries: other tossers refuse a
// whole packet in which one is longer.
constexpr uint32_t PackedNameMax = 35;
constexpr uint32_t PackedSubjectMax = 71;

// A byte range of the file, both ends included.
struct tPktCut {
  int32_t Start = 0;
  int32_t End = 0;
};

class tPktBase : public tFtsTextBase {
 public:
  // PktHeader and PackedHeader zero, the lists empty.
  tPktBase();
  // Applies the pending cuts (ApplyCuts), then closes the packet. The
  // destructor cannot report a failure: a caller that must know whether
  // its deletions reached the file calls ApplyCuts itself first and looks
  // at the result. If it failed, the packet is as it was, messages
  // included, and the destructor's own attempt is the last.
  ~tPktBase() override;

  // Slots 1 and 2: zone:net/node, and .point when the point is not 0, from
  // the second zone copy, the net, the node and the point of PktHeader
  // (of a type 2.2 header: its zone, net, node and point words).
  tShortString GetOrigAddr() override;
  tShortString GetDestAddr() override;
  // Slot 3: the password up to its first NUL, at most 8 characters.
  tShortString GetPassword() override;
  // Slots 4 and 5: Text split at ":", "/" and "." into zone, net, node and
  // point (a missing word, or one that is no number, counts 0); the zone
  // goes to both copies. Slot 6: the first 8 characters, zero-padded.
  // These change PktHeader in memory only; Create writes it, always as a
  // 2+ header.
  void SetOrigAddr(std::string_view Text) override;
  void SetDestAddr(std::string_view Text) override;
  void SetPassword(std::string_view Text) override;

  // Flag true: PackedHeader into Msg (nets, nodes, Attr, Cost, DateStr).
  // Flag false: PackedHeader from Msg; the date text is made as every
  // writer makes it (DateForWriting).
  void ConvertHeader(bool ToMessage, tMessage* Msg) override;

  // Opens an existing packet, held open while the base is, and lists its
  // messages. A file shorter than 60 bytes, or of exactly 60, opens as an
  // empty packet; one whose packet type is not 2 fails with Closed 2, as
  // does one larger than 2 GiB. A base whose mode only opens (0x3D40, as
  // the tools pass) opens the file for reading only and never writes.
  bool Open(std::string_view APath, int32_t Mode) override;
  // Creates a new packet, or takes over an existing one: the in-memory
  // PktHeader, with packet type 2 and the current local date and time, is
  // written to its start, and its messages are listed as Open lists them.
  // A new file is made new (never through a link) and removed again when
  // its header could not be written. An existing file is taken only when
  // it is empty or a type-2 packet; anything else (a shorter file, another
  // packet type) is left as it is and Create fails with Closed 2, as it does
  // for a base that may not write.
  bool Create(std::string_view APath, int32_t Mode) override;

  bool ReadMessage(int32_t N, tMessage* Msg) override;
  // The new message always goes to the end of the packet: at its closing
  // zeros as a tosser finds them, walking the messages from the header;
  // bytes behind them (what a writer cut off left) are dropped first. The
  // message and its type word, which takes the place of the closing zeros,
  // go to the file in one write, so the packet never shows half a message;
  // a write that fails puts the packet back as it was. When message N
  // exists (as the caller last saw the packet) it is replaced: the packet
  // is rewritten whole without it, and without every pending cut, with the
  // new message at its end, through a temporary file that takes its place
  // in one step. Fails (true), the packet unchanged, when a write fails,
  // the base may not write, the lock was not had (Busy), or the packet has
  // no whole header. Names are cut to 35 characters and the subject to 71.
  bool WriteMessage(int32_t N, tMessage* Msg) override;
  // Marks message N for removal (PendingCuts); the message stays readable
  // and Count unchanged until ApplyCuts. Fails for a base that may not
  // write, as it could never apply the cut.
  bool DeleteMessage(int32_t N) override;

  // Slot 28: the second destructor, which releases nothing.
  virtual void DoneKeep();

  // Removes the ranges of PendingCuts from the packet: the rest of the file
  // is copied, in order, to a temporary file that then takes the packet's
  // place in one step, and the packet is opened again (Offsets and Count
  // anew). False on success, and when nothing was pending. True when the
  // cuts could not reach the file (a write failed, the base may not write,
  // another program holds the packet, a cut lies beyond the end of a file
  // that changed meanwhile): the packet is as it was, and the cuts stay
  // pending.
  bool ApplyCuts();

  // Opens the bytes of a packet held in memory, as Open opens a file, for
  // tools and the fuzzer; reads and appends then work on that memory.
  bool OpenImage(std::string_view Image);

  // Whether the base may change its file: its mode creates where it
  // creates (0x3D40 OR-ed into a create leaves an open for reading).
  bool Writable() const;

  // The packet header (58 bytes) and the word after it, as read or set.
  uint8_t PktHeader[PktHeaderBufSize] = {};
  // The packed header of the message last read or written.
  uint8_t PackedHeader[PackedHeaderSize] = {};
  // Entry 0 is 57, the last byte of the packet header; entry K the position
  // of the zero byte that ends message K's text. For a last message that no
  // zero byte ends (a packet cut short) it is the file size.
  tCollection<int32_t> Offsets;
  // The ranges of deleted messages, sorted by start.
  tCollection<tPktCut> PendingCuts;

 private:
  bool OpenStream(int32_t Mode);
  void CloseFailed();
  // The one place where a change begins: the lock on the packet taken (or
  // kept from an outer change) and, when taken just now, the messages
  // another writer added since listed. False, the lock not held, when the
  // change must not go on.
  bool StartChange();
  // Where the packet's closing zeros are, as a tosser reads it (message
  // after message from the header, up to the type word 0); -1 when the walk
  // meets a message cut short or of another type.
  int64_t ClosingZeros();
  // The bytes of Msg from its packed header to the two closing zeros,
  // after the pre-write step; none when a packet cannot carry it (a NUL in
  // a name, the area or the text; a line break in the area) or memory
  // failed.
  std::unique_ptr<tMemoryStream> BuildImage(tMessage* Msg);
  // Rewrites the packet without the pending cuts, with Appended (when
  // given) as its last message.
  bool Rewrite(const tMemoryStream* Appended);
  // The range of message N, both ends included.
  tPktCut RangeOf(int32_t N);

  tChangeLock Change_;
  int64_t KnownSize_ = -1;  // the size the messages were listed at
  int64_t RealEnd_ = -1;    // closing zeros a walk or an append found, or -1
};

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_PKT_H_
