// Address text, CompleteHeader with its sources and defaults, the MSGID
// serial and the date conversions, with the clock replaced so that "now" is
// a known moment.
#include "msgbase/address.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "msgbase/message.h"
#include "msgbase/test_fs.h"

namespace kelvane {
namespace {

// A clock standing at 2031-05-04 03:02:01.55 for each test.
class AddressTest : public ::testing::Test {
 protected:
  testing::tFixedClock Clock_;
};

struct tAddr {
  uint16_t Zone, Net, Node, Point;
};
bool operator==(const tAddr& A, const tAddr& B) {
  return A.Zone == B.Zone && A.Net == B.Net && A.Node == B.Node && A.Point == B.Point;
}
std::ostream& operator<<(std::ostream& Out, const tAddr& A) {
  return Out << A.Zone << ":" << A.Net << "/" << A.Node << "." << A.Point;
}
tAddr Orig(const tMessage& M) { return {M.OrigZone, M.OrigNet, M.OrigNode, M.OrigPoint}; }
tAddr Dest(const tMessage& M) { return {M.DestZone, M.DestNet, M.DestNode, M.DestPoint}; }

bool IsSerial(std::string_view S) {
  if (S.size() != 8) return false;
  for (char C : S)
    if (!((C >= '0' && C <= '9') || (C >= 'a' && C <= 'f'))) return false;
  return true;
}

TEST(AddressTextTest, WordsAndAddresses) {
  EXPECT_EQ(ExtractWord(1, "  a::b/c ", ": /"), "a");
  EXPECT_EQ(ExtractWord(2, "  a::b/c ", ": /"), "b");
  EXPECT_EQ(ExtractWord(3, "  a::b/c ", ": /"), "c");
  EXPECT_EQ(ExtractWord(4, "  a::b/c ", ": /"), "");
  EXPECT_EQ(ExtractWord(1, "", " "), "");
  EXPECT_EQ(WordNumber(2, "2:5020/123", AddrDelims), 5020);
  EXPECT_EQ(WordNumber(1, "x:5020/123", AddrDelims), 0);
  EXPECT_EQ(WordNumber(1, "70000:1/1", AddrDelims), 70000 - 65536);

  tMessage Msg;
  Msg.OrigZone = 2;
  Msg.OrigNet = 5020;
  Msg.OrigNode = 123;
  Msg.OrigPoint = 0;
  EXPECT_EQ(OrigAddrStr(Msg), "2:5020/123");
  Msg.OrigPoint = 4;
  EXPECT_EQ(OrigAddrStr(Msg), "2:5020/123.4");
  Msg.DestZone = 1;
  Msg.DestNet = 0;
  Msg.DestNode = 0;
  Msg.DestPoint = 0;
  EXPECT_EQ(DestAddrStr(Msg), "1:0/0");
}

TEST_F(AddressTest, SetAddrStrKeepsIntlAsRecipientThenSender) {
  for (bool OrigFirst : {true, false}) {
    tMessage Msg;
    if (OrigFirst) {
      SetOrigAddrStr(Msg, "2:5020/123.4@fidonet");
      SetDestAddrStr(Msg, "1:234/5.6@fidonet");
    } else {
      SetDestAddrStr(Msg, "1:234/5.6@fidonet");
      SetOrigAddrStr(Msg, "2:5020/123.4@fidonet");
    }
    EXPECT_EQ(Msg.Intl, "1:234/5 2:5020/123") << OrigFirst;
    EXPECT_EQ(Orig(Msg), (tAddr{2, 5020, 123, 4}));
    EXPECT_EQ(Dest(Msg), (tAddr{1, 234, 5, 6}));
    EXPECT_EQ(Msg.OrigDomain, "fidonet");
    EXPECT_EQ(Msg.DestDomain, "fidonet");
    // No MSGID is invented for the address: CompleteHeader completes one.
    EXPECT_TRUE(Msg.MsgId.Empty());
    CompleteHeader(Msg);
    EXPECT_EQ(Msg.MsgId.View().substr(0, 21), "2:5020/123.4@fidonet ");
    EXPECT_EQ(Msg.HadMsgId, 0);
    EXPECT_EQ(Msg.HadIntl, 1);
  }
  // A domain without a point.
  tMessage Msg;
  SetOrigAddrStr(Msg, "2:5020/123@fidonet");
  EXPECT_EQ(Orig(Msg), (tAddr{2, 5020, 123, 0}));
  EXPECT_EQ(Msg.OrigDomain, "fidonet");
  EXPECT_EQ(Msg.Intl, " 2:5020/123");
}

struct tCompleteCase {
  const char* Name;
  const char* MsgId;
  const char* Intl;
  const char* ReplyId;
  const char* Origin;
  tAddr HeaderOrig, HeaderDest;  // what a native header left (65535 = not given)
  tAddr WantOrig, WantDest;
  const char* WantOrigDomain;
  const char* WantDestDomain;
  const char* WantOrigin;
};

constexpr uint16_t U = UnsetWord;

TEST_F(AddressTest, CompleteHeaderGathersTheAddresses) {
  const tCompleteCase Cases[] = {
      {"MSGID alone", "2:5020/123.4@fidonet 12345678", "", "", "", {U, U, U, U}, {U, U, U, U},
       {2, 5020, 123, 4}, {2, 5020, 123, 0}, "fidonet", "fidonet", ""},
      {"origin line alone: no point from it", "", "", "", "Station (2:5020/123.4)", {U, U, U, U}, {U, U, U, U},
       {2, 5020, 123, 0}, {2, 5020, 123, 0}, "", "", "Station "},
      {"no source at all", "", "", "", "", {U, U, U, U}, {U, U, U, U}, {2, U, U, 0}, {2, U, U, 0}, "", "", ""},
      {"*.MSG header, zones from INTL", "", "2:5020/1 1:234/5", "", "", {U, 234, 5, 3}, {U, 5020, 1, U},
       {1, 234, 5, 3}, {2, 5020, 1, 0}, "", "", ""},
      {"INTL with domains", "", "2:5020/1@fidonet 1:234/5@fidonet", "", "", {U, U, U, U}, {U, U, U, U},
       {1, 234, 5, 0}, {2, 5020, 1, 0}, "", "", ""},
      {"header words win over kludges", "3:1/1 x", "4:2/2 5:3/3", "", "", {1, 10, 20, U}, {1, 30, 40, U},
       {1, 10, 20, 0}, {1, 30, 40, 0}, "", "", ""},
      {"net 0 is missing, node 0 is not", "2:5020/7 x", "", "", "", {U, 0, 3, U}, {U, 5020, 0, U},
       {2, 5020, 3, 0}, {2, 5020, 0, 0}, "", "", ""},
      // Net 0 and node 0 together is no address (echomail headers of
      // tossers hold it): the kludges and the origin line fill both.
      {"net 0 and node 0 from a MSGID", "2:5020/1.3 x", "", "", "", {U, 0, 0, U}, {U, 0, 0, U},
       {2, 5020, 1, 3}, {2, 5020, 1, 0}, "", "", ""},
      {"net 0 and node 0 from an origin line", "", "", "", "o (2:5020/7)", {U, 0, 0, U}, {U, 0, 0, U},
       {2, 5020, 7, 0}, {2, 5020, 7, 0}, "", "", "o "},
      {"a MSGID that is not plain FidoNet gives no point", "2:5020/1.5abc 1", "", "", "", {U, U, U, U},
       {U, U, U, U}, {2, 5020, 1, 0}, {2, 5020, 1, 0}, "", "", ""},
      {"REPLY names the recipient", "2:5020/1 x", "", "3:100/200.7@othernet y", "", {U, U, U, U},
       {U, U, U, U}, {2, 5020, 1, 0}, {3, 100, 200, 0}, "", "othernet", ""},
      {"the last parenthesis of the origin", "", "", "", "Club (Moscow) (2:5020/1)", {U, U, U, U},
       {U, U, U, U}, {2, 5020, 1, 0}, {2, 5020, 1, 0}, "", "", "Club (Moscow) "},
      {"an origin of an address only", "", "", "", "(2:5020/1)", {U, U, U, U}, {U, U, U, U},
       {2, 5020, 1, 0}, {2, 5020, 1, 0}, "", "", " "},
      {"words before the address in the parenthesis", "", "", "", "Club (Moscow 2:5020/1)", {U, U, U, U},
       {U, U, U, U}, {2, 5020, 1, 0}, {2, 5020, 1, 0}, "", "", "Club "},
      {"a parenthesis without an address", "", "", "", "Club (Moscow)", {U, U, U, U}, {U, U, U, U},
       {2, U, U, 0}, {2, U, U, 0}, "", "", "Club "},
      {"MSGID before origin line", "2:5020/1 x", "", "", "o (3:300/3)", {U, U, U, U}, {U, U, U, U},
       {2, 5020, 1, 0}, {2, 5020, 1, 0}, "", "", "o "},
      {"an origin address with a domain", "", "", "", "o (2:5020/7@fidonet)", {U, U, U, U}, {U, U, U, U},
       {2, 5020, 7, 0}, {2, 5020, 7, 0}, "", "", "o "},
  };
  for (const tCompleteCase& C : Cases) {
    tMessage Msg;
    Msg.MsgId = C.MsgId;
    Msg.Intl = C.Intl;
    Msg.ReplyId = C.ReplyId;
    Msg.Origin = C.Origin;
    Msg.OrigZone = C.HeaderOrig.Zone;
    Msg.OrigNet = C.HeaderOrig.Net;
    Msg.OrigNode = C.HeaderOrig.Node;
    Msg.OrigPoint = C.HeaderOrig.Point;
    Msg.DestZone = C.HeaderDest.Zone;
    Msg.DestNet = C.HeaderDest.Net;
    Msg.DestNode = C.HeaderDest.Node;
    Msg.DestPoint = C.HeaderDest.Point;
    CompleteHeader(Msg);
    EXPECT_EQ(Orig(Msg), C.WantOrig) << C.Name;
    EXPECT_EQ(Dest(Msg), C.WantDest) << C.Name;
    EXPECT_EQ(Msg.OrigDomain, C.WantOrigDomain) << C.Name;
    EXPECT_EQ(Msg.DestDomain, C.WantDestDomain) << C.Name;
    EXPECT_EQ(Msg.Origin, C.WantOrigin) << C.Name;
    EXPECT_EQ(Msg.HadMsgId, *C.MsgId != 0) << C.Name;
    EXPECT_EQ(Msg.HadIntl, *C.Intl != 0) << C.Name;
    if (*C.MsgId) {
      EXPECT_EQ(Msg.MsgId, C.MsgId) << C.Name;
    }
    if (*C.Intl) {
      EXPECT_EQ(Msg.Intl, C.Intl) << C.Name;
    }
  }
}

TEST_F(AddressTest, CompleteHeaderMakesMsgIdAndIntl) {
  tMessage Msg;
  Msg.Origin = "o (2:5020/123)";
  Msg.OrigPoint = 4;
  Msg.OrigDomain = "fidonet";
  Msg.Intl = "";
  Msg.DestNet = 5020;
  Msg.DestNode = 1;
  Msg.DestPoint = 9;
  CompleteHeader(Msg);
  EXPECT_EQ(Msg.MsgId.View().substr(0, 21), "2:5020/123.4@fidonet ");
  EXPECT_TRUE(IsSerial(Msg.MsgId.View().substr(21))) << Msg.MsgId.View();
  // Points are not part of the INTL line, which ends with a blank.
  EXPECT_EQ(Msg.Intl, "2:5020/1 2:5020/123 ");
  EXPECT_EQ(Msg.HadMsgId, 0);
  EXPECT_EQ(Msg.HadIntl, 0);

  tMessage Plain;
  Plain.Origin = "o (2:5020/123)";
  CompleteHeader(Plain);
  EXPECT_EQ(Plain.MsgId.View().substr(0, 11), "2:5020/123 ");
  EXPECT_EQ(Plain.MsgId.Length(), 19u);
}

TEST_F(AddressTest, CompleteHeaderTurnsTheDateTextIntoADate) {
  struct tCase {
    const char* Text;
    tDateTime Want;
    const char* Rebuilt;
  };
  const tCase Cases[] = {
      {"07 Dec 26  19:05:08", {2026, 12, 7, 19, 5, 8}, "07 Dec 26  19:05:08"},
      {"07 Dec 26 19:05:08", {2026, 12, 7, 19, 5, 8}, "07 Dec 26  19:05:08"},
      {"Mon  7 Dec 26 19:05", {2026, 12, 7, 19, 5, 0}, "07 Dec 26  19:05:00"},
      {"Tue 17 Nov 26 01:02", {2026, 11, 17, 1, 2, 0}, "17 Nov 26  01:02:00"},
      {"07-12-26 19:05:08", {2026, 12, 7, 19, 5, 8}, "07 Dec 26  19:05:08"},
      {"01 jan 79  00:00:00", {2079, 1, 1, 0, 0, 0}, "01 Jan 79  00:00:00"},
      {"01 JAN 80  00:00:00", {1980, 1, 1, 0, 0, 0}, "01 Jan 80  00:00:00"},
      {"07 Xyz 26  19:05:08", {2026, 0, 7, 19, 5, 8}, "07  26  19:05:08"},
      {"07-13-26 19:05:08", {2026, 0, 7, 19, 5, 8}, "07  26  19:05:08"},
      {"07-12-26 123:05:08", {2026, 12, 7, 123, 5, 8}, "07 Dec 26  123:05:08"},
      {"hello", {2031, 5, 4, 3, 2, 1}, "04 May 31  03:02:01"},
      // No date at all stays no date; the writers date it.
      {"", {0, 0, 0, 0, 0, 0}, ""},
      {"00 Xxx 00  00:00:00", {2031, 5, 4, 3, 2, 1}, "04 May 31  03:02:01"},
  };
  for (const tCase& C : Cases) {
    tMessage Msg;
    Msg.DateStr = C.Text;
    CompleteHeader(Msg);
    EXPECT_EQ(Msg.DateWritten, C.Want) << C.Text;
    EXPECT_EQ(Msg.DateStr, C.Rebuilt) << C.Text;
  }
  // A date the format filled wins over the text.
  tMessage Msg;
  Msg.DateStr = "01 Jan 99  00:00:00";
  Msg.DateWritten = tDateTime{2026, 12, 7, 19, 5, 8};
  CompleteHeader(Msg);
  EXPECT_EQ(Msg.DateStr, "07 Dec 26  19:05:08");
  EXPECT_EQ(Msg.DateWritten, (tDateTime{2026, 12, 7, 19, 5, 8}));
}

TEST_F(AddressTest, CompletedValuesAreMarkedAndAlikeOnEveryRead) {
  struct tCase {
    const char* Name;
    const char* MsgId;
    const char* Intl;
    uint16_t OrigPoint;  // as an FMPT line or a native header gave it
    const char* Origin;
    const char* Date;
    uint8_t Completed;
  };
  const tCase Cases[] = {
      {"everything carried", "2:5020/1.3 abc", "2:5020/2 2:5020/1", 3, "o (2:5020/1.3)", "07 Dec 26  19:05:08", 0},
      {"no MSGID, no INTL, no point: the sender from the origin line", "", "", U, "o (2:5020/1)",
       "07 Dec 26  19:05:08", cvMsgId | cvIntl | cvOrigPoint | cvOrigNode},
      {"the point from the MSGID", "2:5020/1.3 abc", "", U, "", "07 Dec 26  19:05:08", cvIntl | cvOrigPoint},
      {"an origin line without an address", "2:5020/1 abc", "2:5020/2 2:5020/1", 0, "Station",
       "07 Dec 26  19:05:08", cvOriginAddr},
      {"a date text with no date", "2:5020/1 abc", "2:5020/2 2:5020/1", 0, "", "hello", cvDate},
  };
  for (const tCase& C : Cases) {
    tMessage First, Second;
    for (tMessage* M : {&First, &Second}) {
      M->MsgId = C.MsgId;
      M->Intl = C.Intl;
      M->OrigPoint = C.OrigPoint;
      M->Origin = C.Origin;
      M->AddOrigin = *C.Origin != 0;
      M->DateStr = C.Date;
      CompleteHeader(*M);
    }
    EXPECT_EQ(First.Completed, C.Completed) << C.Name;
    EXPECT_EQ(First.HadMsgId, (C.Completed & cvMsgId) == 0) << C.Name;
    EXPECT_EQ(First.HadIntl, (C.Completed & cvIntl) == 0) << C.Name;
    // A completed MSGID comes from the message, never from the clock and
    // a random number.
    EXPECT_EQ(First.MsgId, Second.MsgId) << C.Name;
  }
  tMessage M;
  M.Origin = "o (2:5020/1)";
  CompleteHeader(M);
  EXPECT_EQ(M.MsgId.View().substr(0, 9), "2:5020/1 ");
  EXPECT_TRUE(IsSerial(M.MsgId.View().substr(9)));
}

TEST_F(AddressTest, TheDateAWriteStores) {
  struct tCase {
    const char* Name;
    tDateTime Written;
    const char* Text;
    tDateTime WantWritten;
    const char* WantText;
  };
  const tCase Cases[] = {
      {"a date", {2026, 12, 7, 19, 5, 8}, "stale", {2026, 12, 7, 19, 5, 8}, "07 Dec 26  19:05:08"},
      {"a date text of its own is kept", {}, "Mon  7 Dec 26 19:05", {2026, 12, 7, 19, 5, 0}, "Mon  7 Dec 26 19:05"},
      {"no date", {}, "", {2031, 5, 4, 3, 2, 1}, "04 May 31  03:02:01"},
      {"the text an empty date once became", {}, "00  00  00:00:00", {2031, 5, 4, 3, 2, 1}, "04 May 31  03:02:01"},
      {"a text with no date in it", {}, "hello", {2031, 5, 4, 3, 2, 1}, "04 May 31  03:02:01"},
  };
  for (const tCase& C : Cases) {
    tMessage Msg;
    Msg.DateWritten = C.Written;
    Msg.DateStr = C.Text;
    DateForWriting(Msg);
    EXPECT_EQ(Msg.DateWritten, C.WantWritten) << C.Name;
    EXPECT_EQ(Msg.DateStr, C.WantText) << C.Name;
  }
}

TEST_F(AddressTest, ParseDateStrReportsTextWithNothingUsable) {
  tDateTime T;
  EXPECT_TRUE(ParseDateStr("07 Dec 26  19:05:08", T));
  EXPECT_FALSE(ParseDateStr("", T));
  EXPECT_EQ(T, (tDateTime{2031, 5, 4, 3, 2, 1}));
  EXPECT_FALSE(ParseDateStr("x", T));
  // Text far past the fields and absurd numbers do no harm.
  EXPECT_TRUE(ParseDateStr("99 Dec 99999999999999999999  99999999999:99:99 and more text", T));
  EXPECT_TRUE(ParseDateStr("1--2147483648-2147483647", T));
}

TEST_F(AddressTest, MsgIdSerialFollowsTheClock) {
  // 2031*31536000 + 5*2592000 + 4*86400 + 3*3600 + 2*60 + 1, kept to 32
  // bits, times 128 plus the hundredths, plus a number below 65535.
  uint32_t Base = 2031u * 31536000u + 5u * 2592000u + 4u * 86400u + 3u * 3600u + 2u * 60u + 1u;
  Base = Base * 128u + 55u;
  tShortString Previous;
  for (int I = 0; I < 200; ++I) {
    tShortString S = NewMsgIdSerial();
    ASSERT_TRUE(IsSerial(S.View())) << S.View();
    uint32_t V = static_cast<uint32_t>(std::stoul(S.ToStdString(), nullptr, 16));
    EXPECT_LE(V - Base, 65535u) << S.View();
    EXPECT_NE(S, Previous);
    Previous = S;
  }
}

// Days counted one by one from 1970-01-01, the independent check of
// DayNumber and its inverse.
int DaysIn(int Year, int Month) {
  static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool Leap = (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
  return Month == 2 && Leap ? 29 : Days[Month - 1];
}

TEST(DateTest, DayNumbersCountDays) {
  EXPECT_EQ(DayNumber(1970, 1, 1), 2440588);
  EXPECT_EQ(DayNumber(2000, 3, 1), 2451605);
  // Forward from 1970 to 2199 and backward to 1600, day by day.
  int Y = 1970, M = 1, D = 1;
  for (int32_t J = 2440588; Y < 2200; ++J) {
    ASSERT_EQ(DayNumber(Y, M, D), J) << Y << "-" << M << "-" << D;
    tDateTime T = DayNumberToDate(J);
    ASSERT_EQ(T, (tDateTime{Y, M, D, 0, 0, 0})) << J;
    if (++D > DaysIn(Y, M)) {
      D = 1;
      if (++M > 12) {
        M = 1;
        ++Y;
      }
    }
  }
  Y = 1969, M = 12, D = 31;
  for (int32_t J = 2440587; Y >= 1600; --J) {
    ASSERT_EQ(DayNumber(Y, M, D), J) << Y << "-" << M << "-" << D;
    ASSERT_EQ(DayNumberToDate(J), (tDateTime{Y, M, D, 0, 0, 0})) << J;
    if (--D < 1) {
      if (--M < 1) {
        M = 12;
        --Y;
      }
      D = DaysIn(Y, M);
    }
  }
}

TEST(DateTest, UnixSecondsBothWays) {
  EXPECT_EQ(DateTimeToUnix(tDateTime{1970, 1, 1, 0, 0, 0}), 0);
  EXPECT_EQ(UnixToDateTime(86399), (tDateTime{1970, 1, 1, 23, 59, 59}));
  EXPECT_EQ(DateTimeToUnix(tDateTime{2000, 3, 1, 0, 0, 0}), 951868800);
  EXPECT_EQ(DateTimeToUnix(tDateTime{2038, 1, 19, 3, 14, 7}), 2147483647);
  EXPECT_EQ(UnixToDateTime(2147483647), (tDateTime{2038, 1, 19, 3, 14, 7}));
  // Every day from 1970 to 2038 at a time that moves through the day.
  for (int64_t S = 0; S < 2147400000; S += 86400 + 3607) {
    tDateTime T = UnixToDateTime(static_cast<int32_t>(S));
    ASSERT_EQ(DateTimeToUnix(T), S) << S;
    ASSERT_GE(T.Month, 1);
    ASSERT_LE(T.Month, 12);
    ASSERT_LE(T.Hour, 23);
  }
  // Absurd dates give a number and no fault.
  DateTimeToUnix(tDateTime{2147483647, 2147483647, 2147483647, 2147483647, 2147483647, 2147483647});
  DateTimeToUnix(tDateTime{-2147483647 - 1, -5, -5, -5, -5, -5});
}

TEST(DateTest, FtsDateText) {
  EXPECT_EQ(DateTimeToStr(tDateTime{2026, 12, 7, 19, 5, 8}), "07 Dec 26  19:05:08");
  EXPECT_EQ(DateTimeToStr(tDateTime{2026, 12, 7, 19, 5, 8}).Length(), 19u);
  EXPECT_EQ(DateTimeToStr(tDateTime{2000, 1, 31, 0, 0, 0}), "31 Jan 00  00:00:00");
  EXPECT_EQ(DateTimeToStr(tDateTime{1999, 13, 1, 123, 7, 9}), "01  99  23:07:09");
  EXPECT_EQ(MonthName(0), "");
  EXPECT_EQ(MonthName(5), "May");
  EXPECT_EQ(MonthName(13), "");
}

}  // namespace
}  // namespace kelvane
