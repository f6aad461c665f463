// FidoNet addresses and dates of a tMessage: the address text of the eight
// address words, taking addresses from text (JAM address subfields), the
// completion that ends every read (CompleteHeader: address words from the
// INTL, MSGID and REPLY kludges and the origin line, defaults, a MSGID and
// an INTL line for messages that have none, the date from the FTS date
// text), the MSGID serial, and the date conversions the formats share.
//
// None of these fails: text that holds no address leaves the words as they
// were, a word that is not a number gives 0, a date text in no known form
// gives the current date and time.
#ifndef KELVANE_MSGBASE_ADDRESS_H_
#define KELVANE_MSGBASE_ADDRESS_H_

#include <cstdint>
#include <string_view>

#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "runtime/short_string.h"

namespace kelvane {

// Address text: zone:net/node, then .point when the point is not 0; no
// domain.
tShortString AddrStr(uint16_t Zone, uint16_t Net, uint16_t Node, uint16_t Point);
tShortString OrigAddrStr(const tMessage& Msg);
tShortString DestAddrStr(const tMessage& Msg);

// Take a sender (recipient) address from zone:net/node.point@domain text,
// as a JAM address subfield carries it. Both keep Intl as "recipient
// sender", whichever comes first. No MSGID is made: CompleteHeader completes
// one for a message that brings none.
void SetOrigAddrStr(tMessage& Msg, std::string_view Text);
void SetDestAddrStr(tMessage& Msg, std::string_view Text);
// Whether such text gives every address word, as those two take it: zone
// and net neither 0 nor 65535, node and point not 65535. CompleteHeader
// then takes nothing for that side from kludges or the origin line.
bool AddressTextWhole(std::string_view Text);

// The step that ends every read: address words from the INTL, MSGID and
// REPLY kludges and the origin line, defaults, a MSGID and an INTL value
// for a message that has none, and the date from the date text (see
// address.cc). Values it makes up are marked in Msg.Completed (cv... bits)
// and never written; a header address of net 0 and node 0 counts as
// unknown. The same message gives the same result on every read.
void CompleteHeader(tMessage& Msg);

// The date every writer stores, put into DateWritten and DateStr before the
// native header is built: DateWritten when it is set (DateStr made from
// it); otherwise a DateStr that holds a date, kept as it stands, with
// DateWritten what it says; otherwise, for a message with no date (an empty
// text, or one with none in it such as "00  00  00:00:00"), the time of the
// write.
void DateForWriting(tMessage& Msg);

// Eight lower-case hexadecimal digits from the local time and a random
// number; a new value on every call.
tShortString NewMsgIdSerial();

// The Julian day number of a Gregorian date; 1970-01-01 gives 2440588.
int32_t DayNumber(int32_t Year, int32_t Month, int32_t Day);
// The calendar date of a Julian day number (the inverse of DayNumber);
// only Year, Month and Day are set.
tDateTime DayNumberToDate(int32_t Julian);
// Seconds since 1970-01-01 00:00:00, the date taken as is (no zone).
int32_t DateTimeToUnix(const tDateTime& T);
tDateTime UnixToDateTime(int32_t Seconds);
// The FTS date text: "07 Dec 26  19:05:08" (each number two digits, the
// year modulo 100).
tShortString DateTimeToStr(const tDateTime& T);
// "Jan".."Dec" for 1..12, empty for anything else.
std::string_view MonthName(int32_t Month);
// Parses a date text in one of the four stored forms: "07 Dec 26  19:05:08",
// "07 Dec 26 19:05:08", "Mon  7 Dec 26 19:05" and "07-12-26 19:05:08".
// Returns false, with T the current date and time, when nothing usable was
// found.
bool ParseDateStr(std::string_view Text, tDateTime& T);
// The local date and time through the clock seam.
tDateTime CurrentDateTime();

// Word K (from 1) of S over the delimiter set Delims: the K-th maximal run
// of characters not in Delims; empty when there are fewer words.
tShortString ExtractWord(int K, std::string_view S, std::string_view Delims);
// Word K as a decimal number stored modulo 65536; 0 when it is no number.
uint16_t WordNumber(int K, std::string_view S, std::string_view Delims);

// The delimiter sets of address text and of the origin line.
constexpr std::string_view AddrDelims = ":/.@";
constexpr std::string_view OriginDelims = "(:/.)";

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_ADDRESS_H_
