// Reading the control lines of FidoNet message text, for every format: what
// kind of control line a line is (kludge lines that start with SOH, the tear
// and origin lines, SEEN-BY, PATH and routing lines, the "AREA:" line of a
// packed echomail message), and a reader of one line from a stream. ReadText
// takes stored text apart with these; the Squish control information, which
// holds the kludges without line breaks, and the packet reader, which takes
// the "AREA:" line off the front of a message, classify with the same table.
// The vocabulary and its examples: doc/formats/message-text.md.
#ifndef KELVANE_MSGBASE_CONTROL_LINE_H_
#define KELVANE_MSGBASE_CONTROL_LINE_H_

#include <cstdint>
#include <string_view>

#include "runtime/short_string.h"
#include "runtime/stream.h"

namespace kelvane {

class tMessage;

enum tControlKind : uint8_t {
  ckNone,       // no control line: body text
  ckIntl,       // SOH "INTL "
  ckTopt,       // SOH "TOPT "
  ckFmpt,       // SOH "FMPT "
  ckMsgId,      // SOH "MSGID: "
  ckReply,      // SOH "REPLY: "
  ckFlags,      // SOH "FLAGS "
  ckPid,        // SOH "PID: "
  ckTid,        // SOH "TID: "
  ckTearLine,   // "---"
  ckOrigin,     // " * Origin: "
  ckVia,        // SOH "Via "
  ckRecd,       // SOH "Recd "
  ckForwarded,  // SOH "Forwarded "
  ckPath,       // SOH "PATH: "
  ckSeenBy,     // "SEEN-BY: "
  ckArea,       // "AREA:" (only the first line of a packed message is one)
  ckKludge,     // any other line that starts with SOH
};

struct tControlLine {
  tControlKind Kind = ckNone;
  // The text after the prefix, nothing trimmed; for ckKludge and ckNone the
  // whole line.
  std::string_view Rest;
};

// The kind of Line. Prefixes are compared in upper case (UpperCase866), so
// "\1msgid: " is a MSGID line and "* origin:" is not an origin line (the
// blank in front belongs to the prefix). A line shorter than a prefix is not
// of its kind: "\1INTL" without its blank is a kludge of another name.
tControlLine ClassifyControlLine(std::string_view Line);

// The prefix of a kind as it is written: "\1Via ", " * Origin: ", "AREA:";
// empty for ckNone and ckKludge.
std::string_view ControlPrefix(tControlKind Kind);

// Kinds that stand only at the head of a text (the kludges that fill a
// field of their own, and any other SOH line); ckArea is neither.
inline bool IsHeadKind(tControlKind Kind) { return (Kind >= ckIntl && Kind <= ckTid) || Kind == ckKludge; }
// Kinds that stand at either end: the tear and origin lines, the routing,
// PATH and SEEN-BY lines.
inline bool IsTailKind(tControlKind Kind) { return Kind >= ckTearLine && Kind <= ckSeenBy; }

// Reads one line from S, from its position up to Limit (an offset in S):
// the characters before the next CR or LF, at most 255 kept (the rest are
// read and dropped). The break's partner (LF after CR, CR after LF) belongs
// to the break. A NUL ends a stored text: the line ends before it and the
// position stays on it. Returns false when no line follows this one: a NUL
// was met, or the stream failed (its status is cleared and its position put
// at its end). The line read so far counts either way.
bool ReadStreamLine(tStream& S, int64_t Limit, tShortString& Line);


}  // namespace kelvane

#endif  // KELVANE_MSGBASE_CONTROL_LINE_H_
