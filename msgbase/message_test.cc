// tMessage: clearing for reuse, attributes, and SyncFlags in both
// directions between Attr, its one-byte mirrors and the FLAGS text.
#include "msgbase/message.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

// Sets every field of Msg to something that is not its cleared value.
void FillEverything(tMessage& Msg) {
  for (tShortString* S : {&Msg.From, &Msg.To, &Msg.Subject, &Msg.DateStr, &Msg.MsgId, &Msg.ReplyId, &Msg.Intl,
                          &Msg.Pid, &Msg.Tid, &Msg.TearLine, &Msg.Origin, &Msg.Area, &Msg.Flags, &Msg.FlagsRest,
                          &Msg.OrigDomain, &Msg.DestDomain})
    *S = "x";
  Msg.TimesRead = 1;
  Msg.DateWritten = tDateTime{2026, 1, 2, 3, 4, 5};
  Msg.DateArrived = Msg.DateWritten;
  Msg.ReplyTo = 1;
  Msg.AddTearLine = Msg.AddOrigin = 1;
  Msg.OrigZone = Msg.DestZone = Msg.OrigNode = Msg.DestNode = Msg.OrigNet = Msg.DestNet = Msg.OrigPoint =
      Msg.DestPoint = 7;
  Msg.Cost = 1;
  Msg.Attr = 0xFFFFFFFF;
  Msg.MsgNum = 1;
  Msg.UtcOfs = 1;
  for (int32_t& R : Msg.Replies) R = 1;
  Msg.NextUid = 1;
  for (uint8_t& F : Msg.AttrFlags) F = 1;
  for (uint8_t& F : Msg.ExtFlags) F = 1;
  Msg.HadMsgId = Msg.HadIntl = 1;
  Msg.Text.WriteStr("body");
  Msg.RouteLines.Append("r");
  Msg.Kludges.Append("k");
  Msg.PathLines.Append("p");
  Msg.SeenByLines.Append("s");
  Msg.State = msRead;
}

void ExpectHeaderCleared(const tMessage& Msg) {
  for (const tShortString* S : {&Msg.From, &Msg.To, &Msg.Subject, &Msg.DateStr, &Msg.MsgId, &Msg.ReplyId,
                                &Msg.Intl, &Msg.Pid, &Msg.Tid, &Msg.TearLine, &Msg.Origin, &Msg.Area, &Msg.Flags,
                                &Msg.FlagsRest, &Msg.OrigDomain, &Msg.DestDomain})
    EXPECT_TRUE(S->Empty());
  EXPECT_EQ(Msg.TimesRead, 0);
  EXPECT_EQ(Msg.DateWritten, tDateTime());
  EXPECT_EQ(Msg.DateArrived, tDateTime());
  EXPECT_EQ(Msg.ReplyTo, 0);
  EXPECT_EQ(Msg.AddTearLine, 0);
  EXPECT_EQ(Msg.AddOrigin, 0);
  for (uint16_t W : {Msg.OrigZone, Msg.DestZone, Msg.OrigNode, Msg.DestNode, Msg.OrigNet, Msg.DestNet,
                     Msg.OrigPoint, Msg.DestPoint})
    EXPECT_EQ(W, UnsetWord);
  EXPECT_EQ(Msg.Cost, 0);
  EXPECT_EQ(Msg.Attr, 0u);
  EXPECT_EQ(Msg.MsgNum, 0u);
  EXPECT_EQ(Msg.UtcOfs, 0);
  for (int32_t R : Msg.Replies) EXPECT_EQ(R, 0);
  EXPECT_EQ(Msg.NextUid, 0u);
  for (uint8_t F : Msg.AttrFlags) EXPECT_EQ(F, 0);
  for (uint8_t F : Msg.ExtFlags) EXPECT_EQ(F, 0);
  EXPECT_EQ(Msg.State, msEmpty);
}

TEST(MessageTest, ANewMessageIsEmptyWithUnsetAddresses) {
  tMessage Msg;
  ExpectHeaderCleared(Msg);
  EXPECT_EQ(Msg.HadMsgId, 0);
  EXPECT_EQ(Msg.Text.GetSize(), 0);
  EXPECT_EQ(Msg.RouteLines.Count() + Msg.Kludges.Count() + Msg.PathLines.Count() + Msg.SeenByLines.Count(), 0u);
  EXPECT_TRUE(Msg.FromStr().Empty());
}

TEST(MessageTest, ClearLeavesNothingOfThePreviousMessage) {
  tMessage Msg;
  FillEverything(Msg);
  Msg.Clear();
  ExpectHeaderCleared(Msg);
  EXPECT_EQ(Msg.HadMsgId, 0);
  EXPECT_EQ(Msg.HadIntl, 0);
  EXPECT_EQ(Msg.Text.GetSize(), 0);
  EXPECT_EQ(Msg.Text.GetPos(), 0);
  EXPECT_EQ(Msg.RouteLines.Count() + Msg.Kludges.Count() + Msg.PathLines.Count() + Msg.SeenByLines.Count(), 0u);
  // The text is usable at once, even after a stream error.
  Msg.Text.Error(stWriteError, 0);
  Msg.Clear();
  Msg.Text.WriteStr("new");
  EXPECT_EQ(Msg.Text.View(), "new");
}

TEST(MessageTest, ClearHeaderLeavesTextAndLinesAlone) {
  tMessage Msg;
  FillEverything(Msg);
  Msg.ClearHeader();
  ExpectHeaderCleared(Msg);
  EXPECT_EQ(Msg.Text.View(), "body");
  EXPECT_EQ(Msg.Kludges.Count(), 1u);
  EXPECT_EQ(Msg.HadMsgId, 1);
}

TEST(MessageTest, AttributesAndVia) {
  tMessage Msg;
  Msg.SetAttr(true, maPrivate | maKillSent);
  EXPECT_TRUE(Msg.HasAttr(maPrivate));
  EXPECT_TRUE(Msg.HasAttr(maKillSent | maCrash));
  EXPECT_FALSE(Msg.HasAttr(maCrash));
  Msg.SetAttr(false, maPrivate);
  EXPECT_EQ(Msg.Attr, maKillSent);
  Msg.SetAttr(true, maDeleted);
  EXPECT_TRUE(Msg.HasAttr(maDeleted));
  Msg.AddVia("2:5020/1 @20261207.190508 tool");
  ASSERT_EQ(Msg.RouteLines.Count(), 1u);
  EXPECT_EQ(Msg.RouteLines[0], "\1Via 2:5020/1 @20261207.190508 tool");
}

TEST(MessageTest, TheAttributeTableMatchesItsBits) {
  // Each mirror stands for one distinct bit; 0x0400 has no mirror.
  uint32_t All = 0;
  for (int I = 0; I < AttrFlagCount; ++I) {
    EXPECT_EQ(AttrFlagBits[I] & (AttrFlagBits[I] - 1), 0u) << I;
    EXPECT_EQ(All & AttrFlagBits[I], 0u) << I;
    All |= AttrFlagBits[I];
  }
  EXPECT_EQ(All, 0x8003FBFFu);
  EXPECT_STREQ(AttrFlagNames[7], "K/s ");
  EXPECT_EQ(AttrFlagBits[7], 0x0080u);
  EXPECT_STREQ(AttrFlagNames[10], "FRq ");
  EXPECT_EQ(AttrFlagBits[10], 0x0800u);
}

TEST(SyncFlagsTest, BeforeWritingTheSideTheCallerChangedDecides) {
  // Attr and its mirrors agree after a read (here: Pvt and Hold set); the
  // caller then changes one side or the other, and the write keeps that.
  struct tCase {
    const char* Name;
    void (*Change)(tMessage&);
    uint32_t Attr;
  };
  const tCase Cases[] = {
      {"nothing changed", [](tMessage&) {}, maPrivate | maHold},
      {"SetAttr sets", [](tMessage& M) { M.SetAttr(true, maKillSent | maDeleted); },
       maPrivate | maHold | maKillSent | maDeleted},
      {"SetAttr clears", [](tMessage& M) { M.SetAttr(false, maPrivate); }, maHold},
      {"Attr set by hand", [](tMessage& M) { M.Attr |= maCrash | 0x00040000; },
       maPrivate | maHold | maCrash | 0x00040000},
      {"Attr cleared by hand", [](tMessage& M) { M.Attr &= ~maHold; }, maPrivate},
      {"a mirror set", [](tMessage& M) { M.AttrFlags[7] = 1; }, maPrivate | maHold | maKillSent},
      {"a mirror cleared", [](tMessage& M) { M.AttrFlags[0] = 0; }, maHold},
      {"both sides, each its own bit",
       [](tMessage& M) {
         M.AttrFlags[17] = 1;
         M.Attr |= maCrash;
       },
       maPrivate | maHold | maDeleted | maCrash},
  };
  for (const tCase& C : Cases) {
    tMessage Msg;
    Msg.Attr = maPrivate | maHold;
    Msg.SyncFlags(true);
    C.Change(Msg);
    Msg.SyncFlags(false);
    EXPECT_EQ(Msg.Attr, C.Attr) << C.Name;
    for (int I = 0; I < AttrFlagCount; ++I)
      EXPECT_EQ(Msg.AttrFlags[I], (C.Attr & AttrFlagBits[I]) != 0) << C.Name << " " << I;
  }

  // A message built from scratch: whatever was set, on either side, stays.
  tMessage Msg;
  Msg.Attr = maCrash | 0x0400;
  Msg.AttrFlags[0] = 1;
  Msg.ExtFlags[efImmediate] = 1;
  Msg.ExtFlags[efDirect] = 1;
  Msg.ExtFlags[efConfirm] = 1;
  Msg.FlagsRest = "XYZ";
  Msg.SyncFlags(false);
  EXPECT_EQ(Msg.Attr, maCrash | 0x0400 | maPrivate);
  EXPECT_EQ(Msg.Flags, "DIR IMM CFM");

  tMessage None;
  None.Flags = "stale";
  None.SyncFlags(false);
  EXPECT_EQ(None.Flags, "");
  EXPECT_EQ(None.Attr, 0u);
}

TEST(SyncFlagsTest, AfterReadingTheFlagsTextDecides) {
  struct tCase {
    const char* Flags;
    uint32_t AttrBefore;
    uint32_t Attr;
    const char* NewFlags;
    const char* Rest;
  };
  const tCase Cases[] = {
      {"dir imm xyz", 0, 0, "DIR IMM", "XYZ"},
      {"PVT", 0, maPrivate, "", ""},
      {"pvt k/s cra", maLocal, maPrivate | maKillSent | maCrash | maLocal, "", ""},
      {"", maSent | maHigh16, maSent | maHigh16, "", ""},            // bits are never cleared here
      {"CFM LOK TFS KFS XMA IMM HUB ZON DIR A/S", 0, 0, "A/S DIR ZON HUB IMM XMA KFS TFS LOK CFM", ""},
      {"DUM", 0, 0, "", ""},
      {"\tRRQ  unknown\tHLD FRQ ", 0, maReceiptReq | maHold | maFileRequest, "", "UNKNOWN"},
      {"NPD HUB", 0, 0, "HUB", "NPD"},
      // Names count as whole words only; unknown words keep their order.
      {"XPVT DDIR PVTX DIR", 0, 0, "DIR", "XPVT DDIR PVTX"},
      {"zzz dir aaa DUM imm", 0, 0, "DIR IMM", "ZZZ AAA"},
      {"ARQ URQ RRC ATT TRS ORP RCV SNT LOC", 0,
       maAuditReq | maUpdateReq | maIsReceipt | maFileAttached | maInTransit | maOrphan | maReceived | maSent | maLocal,
       "", ""},
  };
  for (const tCase& C : Cases) {
    tMessage Msg;
    Msg.Flags = C.Flags;
    Msg.Attr = C.AttrBefore;
    Msg.SyncFlags(true);
    EXPECT_EQ(Msg.Attr, C.Attr) << C.Flags;
    EXPECT_EQ(Msg.Flags, C.NewFlags) << C.Flags;
    EXPECT_EQ(Msg.FlagsRest, C.Rest) << C.Flags;
    for (int I = 0; I < AttrFlagCount; ++I)
      EXPECT_EQ(Msg.AttrFlags[I], (Msg.Attr & AttrFlagBits[I]) != 0) << C.Flags << " " << I;
  }
}

TEST(SyncFlagsTest, AFullLengthFlagsTextKeepsItsLastWord) {
  tMessage Msg;
  std::string Flags;
  while (Flags.size() < 251) Flags += "QQQ ";
  Flags.resize(252);
  Flags += "DIR";  // 255 characters, DIR the last word
  ASSERT_EQ(Flags.size(), 255u);
  Msg.Flags = std::string_view(Flags);
  Msg.SyncFlags(true);
  EXPECT_EQ(Msg.ExtFlags[efDirect], 1);
  EXPECT_EQ(Msg.Flags, "DIR");
}

TEST(SyncFlagsTest, FlagsSurviveAWriteAndARead) {
  for (int Bit = 0; Bit < ExtFlagCount; ++Bit) {
    tMessage Out;
    Out.ExtFlags[Bit] = 1;
    Out.AttrFlags[Bit % NamedAttrCount] = 1;
    Out.SyncFlags(false);
    tMessage In;
    In.Flags = Out.Flags;
    In.Attr = Out.Attr;
    In.SyncFlags(true);
    for (int I = 0; I < ExtFlagCount; ++I) EXPECT_EQ(In.ExtFlags[I], Out.ExtFlags[I]) << Bit << " " << I;
    for (int I = 0; I < AttrFlagCount; ++I) EXPECT_EQ(In.AttrFlags[I], Out.AttrFlags[I]) << Bit << " " << I;
    EXPECT_EQ(In.Flags, Out.Flags);
  }
}

}  // namespace
}  // namespace kelvane
