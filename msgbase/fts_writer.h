// Writing a tMessage as FidoNet text, for every format: the kludge lines at
// the head of a text (each ended by CR in *.MSG files and packets; one after
// the other, without CRs and closed by a NUL, in Squish control
// information), and the body with the lines that follow it (tear line,
// origin line, SEEN-BY, PATH and routing lines; JAM keeps only the first two
// in its text). What a write stores for the values a read completed is
// decided here once, for all of them: nothing, so that a message read and
// written again gains no line. The lines and their order:
// doc/formats/message-text.md and doc/formats/msg.md.
#ifndef KELVANE_MSGBASE_FTS_WRITER_H_
#define KELVANE_MSGBASE_FTS_WRITER_H_

#include <cstdint>

#include "msgbase/message.h"
#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

enum tKludgeStyle : uint8_t {
  ksTextLines,    // each line ended by CR (stored text, packets)
  ksControlInfo,  // no CRs, the whole closed by one NUL (Squish)
};

// Writes, at S's position: for netmail (IsNetmail) the FMPT, TOPT and INTL
// lines, then MSGID, REPLY, FLAGS, PID and TID, then every entry of
// Kludges as it stands. A line whose value is empty (or was completed by a
// read, see the ...ToWrite functions below) is left out. In ksTextLines the
// body follows: when it begins with LF the last line is ended by LF, not
// CR, so that a reader does not take the two for one CR LF break (a writer
// that puts a line of its own between the kludges and the body, such as
// the packet's "AREA:" line, minds the same).
void WriteKludgeLines(tStream& S, const tMessage& Msg, tKludgeStyle Style);

// Parts of the text after the body, for WriteBodyAndTail.
enum : unsigned {
  tpTearAndOrigin = 1,  // "---" + TearLine, " * Origin: " line
  tpSeenByAndPath = 2,  // "SEEN-BY: " lines, SOH "PATH: " lines
  tpRouteLines = 4,     // RouteLines (Via, Recd, Forwarded) as they stand
  tpAll = 7,
};

// Writes, at S's position, the body (Text byte for byte) and then the lines
// of Parts in the order above, each ended by CR. A body whose last line has
// no break gets a CR when a line follows it, so that line stays a line of
// its own. No NUL is written.
void WriteBodyAndTail(tStream& S, const tMessage& Msg, unsigned Parts = tpAll);

// The values the kludge lines carry, empty (or 0: no line) for what a read
// completed (Msg.Completed) and for points that are 0 or unset.
tShortString MsgIdToWrite(const tMessage& Msg);
tShortString IntlToWrite(const tMessage& Msg);
uint16_t OrigPointToWrite(const tMessage& Msg);
uint16_t DestPointToWrite(const tMessage& Msg);
// Flags, then the unknown words of the FLAGS text read (FlagsRest), in
// their order.
tShortString FlagsToWrite(const tMessage& Msg);

// Whether an origin line is written (AddOrigin, and an origin text, an
// area, or an origin line that was read), and what follows " * Origin: ":
// Origin, then the address part as it was read (OriginAddr; a caller that
// gives the message another sender clears it), none when the line read had
// none, else "(" + the sender's address + ")".
bool WritesOriginLine(const tMessage& Msg);
tShortString OriginLineText(const tMessage& Msg);

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_FTS_WRITER_H_
