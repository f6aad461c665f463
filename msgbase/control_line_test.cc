// The control-line classifier and the stream line reader that every
// format's reader shares.
#include "msgbase/control_line.h"
#include "msgbase/test_fs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvane {
namespace {

using testing::tFailingStream;

using namespace std::string_literals;

TEST(ControlLineTest, KindsAndTheirRest) {
  struct tCase {
    std::string Line;
    tControlKind Kind;
    const char* Rest;
  };
  const tCase Cases[] = {
      {"\1INTL 2:5020/1 2:5020/2", ckIntl, "2:5020/1 2:5020/2"},
      {"\1topt 3", ckTopt, "3"},
      {"\1FMPT 7", ckFmpt, "7"},
      {"\1MSGID: 2:5020/1 1", ckMsgId, "2:5020/1 1"},
      {"\1REPLY: x", ckReply, "x"},
      {"\1FLAGS DIR", ckFlags, "DIR"},
      {"\1PID: p", ckPid, "p"},
      {"\1TID: t", ckTid, "t"},
      {"---", ckTearLine, ""},
      {"--- GoldED", ckTearLine, " GoldED"},
      {" * Origin: o (1:2/3)", ckOrigin, "o (1:2/3)"},
      {" * ORIGIN: o", ckOrigin, "o"},
      {"\1via 2:5020/1", ckVia, "2:5020/1"},
      {"\1Recd x", ckRecd, "x"},
      {"\1FORWARDED y", ckForwarded, "y"},
      {"\1PATH: 5020/1", ckPath, "5020/1"},
      {"SEEN-BY: 5020/1 2", ckSeenBy, "5020/1 2"},
      {"seen-by: 1/1", ckSeenBy, "1/1"},
      {"AREA:ECHO.ONE", ckArea, "ECHO.ONE"},
      {"area:echo", ckArea, "echo"},
      // SOH lines of other names, and names without their blank.
      {"\1CHRS: CP866 2", ckKludge, "\1CHRS: CP866 2"},
      {"\1INTL", ckKludge, "\1INTL"},
      {"\1MSGIDX: 1", ckKludge, "\1MSGIDX: 1"},
      {"\1", ckKludge, "\1"},
      // Body text.
      {"", ckNone, ""},
      {"-ECHO.ONE", ckNone, "-ECHO.ONE"},
      {"* Origin: no leading blank", ckNone, "* Origin: no leading blank"},
      {"SEEN-BY:1/1", ckNone, "SEEN-BY:1/1"},
      {"AREA ECHO", ckNone, "AREA ECHO"},
      {"\x8f\xe0\xa8\xa2\xa5\xe2", ckNone, "\x8f\xe0\xa8\xa2\xa5\xe2"},
  };
  for (const tCase& C : Cases) {
    tControlLine L = ClassifyControlLine(C.Line);
    EXPECT_EQ(L.Kind, C.Kind) << C.Line;
    EXPECT_EQ(L.Rest, C.Rest) << C.Line;
    // A prefix as written classifies as its own kind again.
    if (!ControlPrefix(L.Kind).empty()) {
      EXPECT_EQ(ClassifyControlLine(std::string(ControlPrefix(L.Kind)) + "x").Kind, L.Kind) << C.Line;
    }
  }
  EXPECT_EQ(ControlPrefix(ckVia), "\1Via ");
  EXPECT_EQ(ControlPrefix(ckOrigin), " * Origin: ");
  EXPECT_EQ(ControlPrefix(ckKludge), "");
}

// The lines ReadStreamLine gives for Stored up to Limit, with "|" after a
// line that ended the reading (false).
std::vector<std::string> StreamLines(const std::string& Stored, int64_t Limit) {
  tMemoryStream S;
  S.WriteStr(Stored);
  S.Seek(0);
  std::vector<std::string> Out;
  tShortString Line;
  while (S.GetPos() < Limit) {
    bool More = ReadStreamLine(S, Limit, Line);
    Out.push_back(Line.ToStdString() + (More ? "" : "|"));
    if (!More) break;
  }
  return Out;
}

TEST(ControlLineTest, StreamLines) {
  using tLines = std::vector<std::string>;
  EXPECT_EQ(StreamLines("a\rb\nc\r\nd\n\re", 11), (tLines{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(StreamLines("a\r\rb", 4), (tLines{"a", "", "b"}));
  // The limit cuts a line and a break pair.
  EXPECT_EQ(StreamLines("abc\r\nd", 2), (tLines{"ab"}));
  EXPECT_EQ(StreamLines("ab\r\nd", 3), (tLines{"ab"}));
  // A NUL ends the text; the position stays on it.
  EXPECT_EQ(StreamLines("a\rb\0c\r"s, 6), (tLines{"a", "b|"}));
  tMemoryStream S;
  S.WriteStr("AREA:X\r\0"s);
  S.Seek(0);
  tShortString Line;
  EXPECT_TRUE(ReadStreamLine(S, 8, Line));
  EXPECT_FALSE(ReadStreamLine(S, 8, Line));
  EXPECT_EQ(S.GetPos(), 7);
  // Long lines keep 255 characters and are read to their end.
  std::vector<std::string> Long = StreamLines(std::string(300, 'x') + "\ry", 302);
  ASSERT_EQ(Long.size(), 2u);
  EXPECT_EQ(Long[0], std::string(255, 'x'));
  EXPECT_EQ(Long[1], "y");
}


TEST(ControlLineTest, AStreamErrorEndsTheReadingAtTheEnd) {
  tFailingStream S(3);
  S.WriteStr("abcdef\r");
  S.Seek(0);
  tShortString Line;
  EXPECT_FALSE(ReadStreamLine(S, 7, Line));
  EXPECT_EQ(Line, "abc");
  EXPECT_EQ(S.Status, stOk);
  EXPECT_EQ(S.GetPos(), 7);
}

}  // namespace
}  // namespace kelvane
