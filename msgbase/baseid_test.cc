#include "msgbase/baseid.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "msgbase/test_fs.h"
#include "runtime/path.h"
#include "runtime/stream.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::IsFile;
using testing::Letter;
using testing::PutFile;
using testing::tFileSystemScope;
using testing::tRuntimeTempDir;
using testing::tSpyFileSystem;

// The separator the path helpers add: '\' on Windows, '/' on POSIX.
const std::string S(1, PathSeparator);

TEST(NormaliseBasePath, TypesAndCanonicalForms) {
  struct {
    std::string In, Out;
  } Cases[] = {
      {"", ""},
      // *.MSG: no extension, or the letters F and #; the mask goes on once.
      {"C:\\FIDO\\NETMAIL", "#C:\\FIDO\\NETMAIL" + S + "*.msg"},
      {"FC:\\FIDO\\NETMAIL\\", "FC:\\FIDO\\NETMAIL\\*.msg"},
      {"#C:\\FIDO\\NETMAIL\\*.msg", "#C:\\FIDO\\NETMAIL\\*.msg"},
      {"fC:\\FIDO\\NETMAIL\\*.MSG", "fC:\\FIDO\\NETMAIL\\*.MSG"},
      // A leading letter is a letter even when it starts a relative path.
      {"Fido\\netmail", "Fido\\netmail" + S + "*.msg"},
      // Squish and JAM: the file extension goes, the letter comes from it.
      {"C:\\BASES\\AREA1.SQD", "$C:\\BASES" + S + "AREA1"},
      {"C:\\BASES\\AREA1.sqi", "$C:\\BASES" + S + "AREA1"},
      {"C:\\BASES\\AREA1.JDX", "!C:\\BASES" + S + "AREA1"},
      {"C:\\BASES\\AREA1.jhr", "!C:\\BASES" + S + "AREA1"},
      {"C:\\BASES\\AREA1.Jdt", "!C:\\BASES" + S + "AREA1"},
      {"AREA1.SQD", "$AREA1"},
      {"sC:\\BASES\\AREA1.SQD", "sC:\\BASES" + S + "AREA1"},
      {"SC:\\BASES" + S + "AREA1", "SC:\\BASES" + S + "AREA1"},
      {"JC:\\BASES" + S + "AREA1", "JC:\\BASES" + S + "AREA1"},
      // Packets keep their file name.
      {"C:\\IN\\00000001.PKT", "PC:\\IN" + S + "00000001.PKT"},
      // A base in the root of a drive keeps the root's backslash: without
      // it the path would name a file in the drive's current directory.
      {"SC:\\AREA1", "SC:\\AREA1"},
      {"C:\\AREA1.SQD", "$C:\\AREA1"},
      {"JC:\\AREA1.JHR", "JC:\\AREA1"},
      {"PC:\\1.PKT", "PC:\\1.PKT"},
      {"SC:AREA1", "SC:AREA1"},
      // Any other extension names no type.
      {"C:\\BASES\\AREA1.TXT", "C:\\BASES\\AREA1.TXT"},
      {"C:\\BASES\\AREA1.SQL", "C:\\BASES\\AREA1.SQL"},
  };
  for (const auto& C : Cases) {
    tShortString Got = NormaliseBasePath(C.In);
    EXPECT_EQ(Got.ToStdString(), C.Out) << "input " << C.In;
    // The canonical form is a fixed point: normalising it again changes
    // nothing (OpenBase and DeleteBase normalise what they are given).
    EXPECT_EQ(NormaliseBasePath(Got).ToStdString(), C.Out) << "input " << C.In;
  }
}

TEST(NormaliseBasePath, LongFileNamesStayWhole) {
  // A name past 64 characters cut to 64 could be the name of another base.
  std::string Name(70, 'a');
  std::string Id = "S" + S + "srv" + S + Name;
  EXPECT_EQ(NormaliseBasePath(Id).ToStdString(), Id);
  EXPECT_EQ(NormaliseBasePath(S + "srv" + S + Name + ".jdx").ToStdString(), "!" + S + "srv" + S + Name);
}

TEST(NormaliseBasePath, AnIdentifierThatDoesNotFitIsRefused) {
  // Cut at 255 characters, these would lose their mask or their last
  // letters and name another base.
  std::string Dir = S + std::string(247, 'd');  // with the letter and "/*.msg": 255
  std::string Over = Dir + "d";
  EXPECT_EQ(NormaliseBasePath(Letter('F', Dir)).ToStdString(), Letter('F', Dir + S + "*.msg"));
  EXPECT_EQ(NormaliseBasePath(Letter('F', Over)).ToStdString(), "");
  EXPECT_EQ(NormaliseBasePath(Over).ToStdString(), "");  // the letter goes in front
  EXPECT_EQ(NormaliseBasePath(Letter('S', std::string(300, 'a'))).ToStdString(), "");
  tBaseKind Kind;
  tShortString Path;
  EXPECT_TRUE(SplitBaseId(Letter('F', Over), Kind, Path));
  EXPECT_EQ(Kind, bkNone);
  EXPECT_FALSE(OpenBase(Letter('F', Over), 0));
}

TEST(SplitBaseId, LettersAndPaths) {
  tBaseKind Kind;
  tShortString Path;
  EXPECT_TRUE(SplitBaseId("", Kind, Path));
  EXPECT_TRUE(SplitBaseId("F", Kind, Path));
  EXPECT_EQ(Kind, bkNone);

  EXPECT_FALSE(SplitBaseId("#dir", Kind, Path));
  EXPECT_EQ(Kind, bkMsgDir);
  EXPECT_EQ(Path.ToStdString(), "dir" + S + "*.msg");
  EXPECT_FALSE(SplitBaseId("x.jhr", Kind, Path));
  EXPECT_EQ(Kind, bkJam);
  EXPECT_EQ(Path.ToStdString(), "x");
  EXPECT_FALSE(SplitBaseId("a.txt", Kind, Path));
  EXPECT_EQ(Kind, bkNone);

  const char* Letters = "PSJF#$!psjfXx";
  const tBaseKind Kinds[] = {bkPacket, bkSquish, bkJam,   bkMsgDir, bkMsgDir, bkSquish, bkJam,
                             bkPacket, bkSquish, bkJam,   bkMsgDir, bkNone,   bkNone};
  for (int I = 0; Letters[I]; ++I) EXPECT_EQ(BaseKindOf(Letters[I]), Kinds[I]) << Letters[I];
}

// Counts the paths made whole.
class tFullPathCount : public tForwardingFileSystem {
 public:
  tShortString FullPath(std::string_view P) override {
    ++Calls;
    return Real().FullPath(P);
  }
  int Calls = 0;
};

// Two paths are one when made whole they are the same text but for case;
// paths whose last names differ are told apart without being made whole
// (which costs a relative path a call to the system), dots and blanks that
// Windows drops from the end of a name aside.
TEST(SamePath, PathsMadeWholeOnlyWhenTheirNamesAgree) {
  const struct {
    const char* A;
    const char* B;
    int Same;    // -1: as the system makes names whole ("echo." is "echo" on Windows)
    bool Whole;  // whether the two had to be made whole
  } Cases[] = {
      {"bases\\echo", "BASES\\Echo\\", 1, true},
      {"bases\\echo", "bases\\other", 0, false},
      {"a\\b\\..\\echo", "a\\echo", 1, true},
      {"echo. ", "echo", -1, true},
      {"a\\echo", "b\\echo", 0, true},
      {"a\\b\\..", "a", 1, true},
      {"C:", "C:\\x", -1, true},
      {"kelv.ctl", "setup.cfg", 0, false},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.A) + " | " + C.B);
    tFullPathCount Fs;
    tFileSystemScope Scope(Fs);
    bool Same = SamePath(C.A, C.B);
    if (C.Same >= 0) {
      EXPECT_EQ(Same, C.Same == 1);
    }
    EXPECT_EQ(Fs.Calls > 0, C.Whole);
  }
}

TEST(OpenBase, OpensMsgDirectoriesOnly) {
  tRuntimeTempDir T;
  PutFile(T / "3.msg", std::string(190, '\0'));
  auto Base = OpenBase(Letter('F', T.Path()), 0x3D40);
  ASSERT_TRUE(Base);
  EXPECT_NE(dynamic_cast<tMsgDirBase*>(Base.get()), nullptr);
  EXPECT_EQ(Base->Closed, cbOpen);
  EXPECT_EQ(Base->Count, 3);
  EXPECT_EQ(Base->OpenMode, 0x3D40);

  // Too short, no type, or a format not built yet: no base, and no file
  // is made for it.
  EXPECT_FALSE(OpenBase("", 0));
  EXPECT_FALSE(OpenBase("F", 0));
  EXPECT_FALSE(OpenBase(T / "AREA1.TXT", 0));
}

TEST(OpenBase, CreatesAMissingDirectoryChainButNotThroughAFile) {
  tRuntimeTempDir T;
  auto Base = OpenBase(Letter('#', T / "a") + S + "b" + S + "net", 0);
  ASSERT_TRUE(Base);
  EXPECT_EQ(Base->Count, 0);
  EXPECT_TRUE(std::filesystem::is_directory(T / "a" + S + "b" + S + "net"));
  // Mode 0 creates the last-read file beside the messages.
  EXPECT_TRUE(IsFile(T / "a" + S + "b" + S + "net" + S + "lastread.kvx"));

  // A directory that cannot be made (a file stands in its way) is no base:
  // opening anyway would count and read the messages of the current
  // directory.
  PutFile(T / "plain", "x");
  EXPECT_FALSE(OpenBase(Letter('F', T / "plain") + S + "net", 0));
}

TEST(DeleteBase, EmptyIdentifierOrLetterAloneDeletesNothing) {
  tSpyFileSystem Spy;
  tFileSystemScope Scope(Spy);
  EXPECT_TRUE(DeleteBase(""));
  // "F" alone would mean "\*.msg": every message file of the root.
  EXPECT_FALSE(DeleteBase("F"));
  EXPECT_FALSE(DeleteBase("#"));
  EXPECT_FALSE(DeleteBase("s"));
  EXPECT_EQ(Spy.Lists, 0);
  EXPECT_EQ(Spy.Changes, 0);
}

TEST(DeleteBase, SquishAndJamFilesGoCompanionsOfOtherBasesStay) {
  tRuntimeTempDir T;
  for (const char* Name : {"AREA1.sqd", "AREA1.sqi", "AREA1.sql", "AREA1.sqx", "AREA2.sqd", "AREA1.jhr",
                           "AREA1.jdt", "AREA1.jdx", "AREA1.jlr", "AREA1.jqv", "AREA1"})
    PutFile(T / Name, "data");

  EXPECT_FALSE(DeleteBase(Letter('S', T / "AREA1")));
  for (const char* Gone : {"AREA1.sqd", "AREA1.sqi", "AREA1.sql"}) EXPECT_FALSE(IsFile(T / Gone)) << Gone;
  for (const char* Kept : {"AREA1.sqx", "AREA2.sqd", "AREA1.jhr", "AREA1"}) EXPECT_TRUE(IsFile(T / Kept)) << Kept;

  // A bare JAM file name types the base by its extension.
  EXPECT_FALSE(DeleteBase(T / "AREA1.JDT"));
  for (const char* Gone : {"AREA1.jhr", "AREA1.jdt", "AREA1.jdx", "AREA1.jlr", "AREA1.jqv"})
    EXPECT_FALSE(IsFile(T / Gone)) << Gone;
  EXPECT_TRUE(IsFile(T / "AREA1"));

  // Deleting what is no longer there is no failure.
  EXPECT_FALSE(DeleteBase(Letter('$', T / "AREA1")));
}

TEST(DeleteBase, FileNamesThatDoNotFitEraseNothing) {
  // A base path of 252 characters: "AREA.sqd" would be cut to "AREA.sq",
  // a file of someone else's, while the base's own files stayed.
  tRuntimeTempDir T;
  std::string Base = T.Path() + S;
  Base += std::string(252 - Base.size(), 'b');
  PutFile(Base + ".sq", "not ours");
  PutFile(Base + ".jh", "not ours");
  tSpyFileSystem Spy;
  {
    tFileSystemScope Scope(Spy);
    EXPECT_TRUE(DeleteBase(Letter('S', Base)));
    EXPECT_TRUE(DeleteBase(Letter('J', Base)));
    EXPECT_TRUE(DeleteBase(Letter('F', Base + "d")));  // no room for the mask
  }
  EXPECT_EQ(Spy.Changes, 0);
  EXPECT_EQ(GetFile(Base + ".sq"), "not ours");
  EXPECT_EQ(GetFile(Base + ".jh"), "not ours");
}

TEST(DeleteBase, AFileHeldOpenElsewhereKeepsTheWholeBase) {
  tRuntimeTempDir T;
  for (const char* Name : {"AREA1.jhr", "AREA1.jdt", "AREA1.jdx", "AREA1.jlr"}) PutFile(T / Name, "data");
  {
    tBufStream Held(T / "AREA1.jdt", 0x3D40);
    ASSERT_EQ(Held.Status, stOk);
    EXPECT_TRUE(DeleteBase(Letter('J', T / "AREA1")));
    for (const char* Kept : {"AREA1.jhr", "AREA1.jdt", "AREA1.jdx", "AREA1.jlr"}) EXPECT_TRUE(IsFile(T / Kept)) << Kept;
  }
  EXPECT_FALSE(DeleteBase(Letter('J', T / "AREA1")));
  for (const char* Gone : {"AREA1.jhr", "AREA1.jdt", "AREA1.jdx", "AREA1.jlr"}) EXPECT_FALSE(IsFile(T / Gone)) << Gone;
}

TEST(DeleteBase, MsgDirectoryLosesOnlyItsMessageFiles) {
  tRuntimeTempDir T;
  for (const char* Name : {"1.msg", "2.MSG", "17.msg", "1.msgold", "lastread.kvx", "notes.txt"})
    PutFile(T / Name, "data");
  std::filesystem::create_directory(T / "5.msg");

  EXPECT_FALSE(DeleteBase(Letter('F', T.Path())));
  for (const char* Gone : {"1.msg", "2.MSG", "17.msg"}) EXPECT_FALSE(IsFile(T / Gone)) << Gone;
  for (const char* Kept : {"1.msgold", "lastread.kvx", "notes.txt"}) EXPECT_TRUE(IsFile(T / Kept)) << Kept;
  EXPECT_TRUE(std::filesystem::is_directory(T / "5.msg"));
  EXPECT_TRUE(std::filesystem::is_directory(T.Path()));

  // A missing directory is skipped, and not created.
  EXPECT_FALSE(DeleteBase(Letter('F', T / "gone")));
  EXPECT_FALSE(std::filesystem::exists(T / "gone"));
}

TEST(DeleteBase, PacketIsItsFile) {
  tRuntimeTempDir T;
  PutFile(T / "0000ABCD.PKT", "pkt");
  PutFile(T / "0000ABCD.PKX", "pkt");
  EXPECT_FALSE(DeleteBase(T / "0000ABCD.PKT"));
  EXPECT_FALSE(IsFile(T / "0000ABCD.PKT"));
  EXPECT_TRUE(IsFile(T / "0000ABCD.PKX"));
  // A path with an unknown extension names no base and nothing goes.
  EXPECT_FALSE(DeleteBase(T / "0000ABCD.PKX"));
  EXPECT_TRUE(IsFile(T / "0000ABCD.PKX"));
}

TEST(EraseFile, OnlyFilesNobodyHoldsOpen) {
  tRuntimeTempDir T;
  EraseFile(T / "missing");  // nothing to do, nothing fails
  std::filesystem::create_directory(T / "sub");
  EraseFile(T / "sub");
  EXPECT_TRUE(std::filesystem::is_directory(T / "sub"));

  PutFile(T / "a", "x");
  {
    tBufStream Reader(T / "a", 0x3D40);
    ASSERT_EQ(Reader.Status, stOk);
    EraseFile(T / "a");
    EXPECT_TRUE(IsFile(T / "a"));
  }
  EraseFile(T / "a");
  EXPECT_FALSE(IsFile(T / "a"));
}

}  // namespace
}  // namespace kelvane
