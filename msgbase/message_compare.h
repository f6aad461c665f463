// What a copy of a message lost: the message as it was written, compared
// part by part with the message read back from the base it went to, and
// what each storage format has no place for, in a sysop's words. A copy
// between formats reports every part that did not come back as it went in,
// so that nothing is ever lost without a word; the table tells why.
//
// The parts carry the names kelvutil show gives the fields.
#ifndef KELVANE_MSGBASE_MESSAGE_COMPARE_H_
#define KELVANE_MSGBASE_MESSAGE_COMPARE_H_

#include <functional>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/message.h"

namespace kelvane {

enum tMessagePart : uint8_t {
  mpFrom,
  mpFromAddr,  // the sender's address with its domain
  mpTo,
  mpToAddr,
  mpSubject,
  mpWritten,
  mpArrived,
  mpAttr,
  mpFlags,  // the FLAGS names, known and unknown
  mpArea,
  mpKind,  // netmail, echomail or local, where the base records it
  mpMsgId,
  mpReplyId,
  mpIntl,
  mpPid,
  mpTid,
  mpTimesRead,
  mpCost,
  mpReplyTo,
  mpReplies,
  mpUtcOfs,
  mpTearLine,
  mpOrigin,
  mpKludges,
  mpRoute,
  mpSeenBy,
  mpPath,
  mpText,
  mpPartCount
};

// "From", "FromAddr", ..., "Text".
const char* MessagePartName(tMessagePart Part);

struct tPartChange {
  tMessagePart Part;
  std::string Detail;  // "cut to 35 of 40 characters", "not kept", ...
};

// Appends to Changes every part that Back, the message read back after
// Sent was written, does not hold as Sent does, in the order of the parts.
// Sent is the message as the write left it (the write settles its flags and
// dates first). Values Sent did not carry, which its read completed (a
// MSGID or INTL made from the addresses, the time of reading for a message
// with no date), and parts it did not have at all, are nothing to lose and
// are not compared.
void CompareMessages(const tMessage& Sent, const tMessage& Back, std::vector<tPartChange>& Changes);

// What the format of Kind cannot hold of a part ("keeps 35 characters");
// nullptr where it keeps the part whole, or where the format has no entry
// yet. Each format keeps its row in message_compare.cc. The lines that
// follow the body (tear, origin, SEEN-BY, PATH, route) are lost with a
// text the format cuts short, for the reason its text is.
const char* FormatLimit(tBaseKind Kind, tMessagePart Part);

// Reply links name messages in each format's own terms: Squish by UMSGID,
// JAM and *.MSG by number (a packet keeps none). A copy numbers its
// messages anew, so it takes each link to the number of the message it
// names in the source, to that message's number in the copy, and to the
// copy's terms. LinkedNumber: the number of the message a link value of
// Base names, 0 for none. LinkValue: the value that links to message N.
int32_t LinkedNumber(tMsgBase& Base, tBaseKind Kind, int32_t Value);
int32_t LinkValue(tMsgBase& Base, tBaseKind Kind, int32_t N);
// Replaces every reply link of M that is not 0 (ReplyTo and Replies) by
// what F makes of it.
void MapLinks(tMessage& M, const std::function<int32_t(int32_t)>& F);

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_MESSAGE_COMPARE_H_
