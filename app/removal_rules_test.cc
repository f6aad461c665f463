// The decisions of tRemovalRules, case by case.
#include "app/removal_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fecfg/feconfig.h"
#include "msgbase/message.h"
#include "msgbase/text_body.h"
#include "runtime/test_dir.h"
#include "tools/fegen_lib.h"

namespace kelvane {
namespace {

TEST(RemovalRules, WhichMessagesAreRequests) {
  tControlSettings S;
  S.FromNames.Insert("SYSOP");
  S.Subjects.Insert("REMOVE");
  const tRemovalRules Rules(S, "kelv.ctl", "netmail");
  struct tCase {
    const char* From;
    const char* Subject;
    uint32_t Attr;
    bool MarkRequests;
    tCondition Failed;
  } Cases[] = {
      {"sysop", "Remove", 0, true, rcRequest},
      {"Other", "remove", maReceived, true, rcFromName},
      {"Sysop", "removed", maReceived, true, rcSubject},
      // Received makes no request only when requests are marked.
      {"Sysop", "remove", maReceived | 0x0100, false, rcRequest},
      {"Sysop", "remove", maReceived | 0x0100, true, rcReceived},
      {"Sysop", "remove", 0xFFFF & ~maReceived, true, rcRequest},
  };
  for (const tCase& C : Cases) {
    SCOPED_TRACE(::testing::Message() << C.From << " " << C.Subject << " " << C.Attr << " " << C.MarkRequests);
    S.MarkRequests = C.MarkRequests;
    tMessage M;
    M.From = C.From;
    M.Subject = C.Subject;
    M.Attr = C.Attr;
    EXPECT_EQ(Rules.FirstFailed(M), C.Failed);
  }
}

// kelv.ctl's Text read into Settings.
void LoadSettings(tControlSettings& Settings, const std::string& Text) {
  testing::tRuntimeTempDir T;
  testing::PutFile(T / "kelv.ctl", Text);
  tCollection<tWrongLine> Wrong;
  ASSERT_FALSE(LoadControlFile(T / "kelv.ctl", Settings, Wrong));
  ASSERT_EQ(Wrong.Count(), 0u);
}

TEST(RemovalRules, EachConditionInItsTurn) {
  tControlSettings S;
  LoadSettings(S, "FromName Sysop\nFromAddr 2:5020/1\nToName Robot\nToAddr 2:5020/2.0\nSubject Remove\n");
  const tRemovalRules Rules(S, "kelv.ctl", "netmail");
  struct tCase {
    tCondition Failed;
    void (*Change)(tMessage&);
  } Cases[] = {
      {rcRequest, [](tMessage&) {}},
      {rcRequest, [](tMessage& M) { M.From = "SYSOP", M.To = "robot", M.Subject = "REMOVE"; }},
      {rcFromName, [](tMessage& M) { M.From = "Sysop2", M.Subject = "x"; }},
      {rcFromAddr, [](tMessage& M) { M.OrigNode = 3, M.Subject = "x"; }},
      {rcFromAddr, [](tMessage& M) { M.OrigPoint = 1; }},
      {rcToName, [](tMessage& M) { M.To = "Robo"; }},
      {rcToAddr, [](tMessage& M) { M.DestZone = 1; }},
      {rcSubject, [](tMessage& M) { M.Subject = "Remove "; }},
  };
  for (const tCase& C : Cases) {
    tMessage M;
    M.From = "Sysop", M.To = "Robot", M.Subject = "remove";
    M.OrigZone = M.DestZone = 2, M.OrigNet = M.DestNet = 5020, M.OrigNode = 1, M.DestNode = 2;
    M.OrigPoint = M.DestPoint = 0;
    C.Change(M);
    EXPECT_STREQ(ConditionName(Rules.FirstFailed(M)), ConditionName(C.Failed)) << M.From.ToStdString() << "|" << M.Subject.ToStdString();
  }
}

TEST(RemovalRules, RequestLinesStopAtAStopStringAndNameTrimmedTags) {
  tControlSettings S;
  LoadSettings(S, "StopScanAfter ---\nMatchStr ^-(.*)$ | \\0\nMatchStr ^-(.*)$ | old.\\0\nMatchStr ^\\+(.*)$ | \\0\n");
  const tRemovalRules Rules(S, "kelv.ctl", "netmail");
  struct tCase {
    const char* Body;
    const char* Lines;  // per line: number, tags and stop string
  } Cases[] = {
      {"-A\r-B\r", "1:A,old.A| 2:B,old.B|"},
      {"\r\n\r\n+ C \r", "3:C|"},  // CR LF is one break; empty lines count
      {"-A\r\n\n\r+B\r", "1:A,old.A| 3:B|"},
      {"+  \rtext\r+D --- E\r+F\r", "1:| 2:| 3:|---"},  // blank tags name nothing
      {"", ""},
  };
  for (const tCase& C : Cases) {
    tMessage M;
    M.Text.WriteStr(C.Body);
    tTextLayout Layout;
    Layout.Limit = Layout.CutFrom = Layout.CutTo = static_cast<size_t>(M.Text.GetSize());
    tTextBody Body(M.Text, 0, Layout);
    std::vector<tRequestLine> Lines;
    for (tRequestLine Line; Rules.NextRequestLine(Body, Line);) Lines.push_back(Line);
    std::string Got;
    for (const tRequestLine& L : Lines) {
      Got.append(Got.empty() ? "" : " ").append(std::to_string(L.Number)).append(":");
      for (size_t I = 0; I < L.Tags.size(); ++I) Got.append(I ? "," : "").append(L.Tags[I].View());
      Got.append("|").append(L.Stop.View());
    }
    EXPECT_EQ(Got, C.Lines) << C.Body;
  }
}

TEST(RemovalRules, WhatBecomesOfTheBaseOfARemovedArea) {
  testing::tRuntimeTempDir T;
  const std::string Netmail = T / "netmail", Ctl = T / "kelv.ctl";
  tFeGenOptions O;
  O.Areas = 0, O.NetmailDir = Netmail, O.ZeroFill = true;
  O.ExplicitAreas = {{"GOES", 2, T / "goes"},      {"NOPATH", 2, ""},       {"PASS", 0, T / "pass"},
                     {"NETMAIL", 1, Netmail},      {"OWN", 2, T / "kelv"},  {"SHARED", 3, T / "shared"},
                     {"STAYS", 3, T / "shared"},   {"TYPE7", 7, T / "t7"},      {"CFG", 2, T / "fe"}};
  std::vector<uint8_t> Bytes = FeGenerate(O);
  testing::PutFile(T / "fe.cfg", std::string(Bytes.begin(), Bytes.end()));
  testing::PutFile(T / "kelv.sqd", "");  // Squish bases by the names of the control file
  testing::PutFile(T / "fe.sqi", "");    // and of FastEcho's configuration
  const struct { const char* Tag; tBaseFate Fate; const char* Id; const char* With; } Cases[] = {
      {"GOES", bfDelete, "S/goes", ""},  {"NOPATH", bfNone, "", ""},   {"PASS", bfNone, "", ""},
      {"NETMAIL", bfNetmail, "", ""},    {"OWN", bfOwnFile, "", ""},   {"SHARED", bfShared, "J/shared", "STAYS"},
      {"TYPE7", bfNone, "", ""},         {"CFG", bfOwnFile, "", ""},
  };
  for (bool RemoveBase : {true, false}) {
    tFastEchoConfig Config;
    ASSERT_FALSE(Config.Load(T / "fe.cfg"));
    tControlSettings S;
    S.RemoveBase = RemoveBase;
    S.ConfigPath = tShortString(T / "fe.sqi");
    const tRemovalRules Rules(S, T / "kelv.sqd", Netmail);
    std::vector<tBaseToGo> Bases;
    for (const auto& C : Cases) {
      Bases.push_back(Rules.BaseOf(Config, Config.FindArea(C.Tag)));
      Config.RemoveArea(Config.FindArea(C.Tag));
    }
    Rules.KeepSharedBases(Config, Bases);
    for (size_t I = 0; I < Bases.size(); ++I) {
      const auto& C = Cases[I];
      SCOPED_TRACE(C.Tag);
      EXPECT_EQ(Bases[I].Tag, C.Tag);
      EXPECT_EQ(Bases[I].Fate, RemoveBase ? C.Fate : bfNone);
      if (!RemoveBase) continue;
      EXPECT_EQ(Bases[I].Id, *C.Id ? C.Id[0] + T.Path() + (C.Id + 1) : Bases[I].Id.ToStdString());
      EXPECT_EQ(Bases[I].SharedWith, C.With);
    }
  }
}

}  // namespace
}  // namespace kelvane
