#include "runtime/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/file_lock.h"
#include "runtime/stream.h"
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::PutFile;
using testing::tRuntimeTempDir;

// The entries listed for Mask, a directory's name followed by "/"; the
// same from the listing without sizes, whose sizes are all -1 (else the
// two differ).
std::vector<std::string> Names(std::string_view Mask) {
  std::vector<tDirEntry> Entries, Bare;
  std::vector<std::string> Out, OutBare;
  if (!ListDir(Mask, Entries)) Out.push_back("<failed>");
  for (const tDirEntry& E : Entries) Out.push_back(E.Name.ToStdString() + (E.IsDir ? "/" : ""));
  if (!ListDirNames(Mask, Bare)) OutBare.push_back("<failed>");
  for (const tDirEntry& E : Bare)
    OutBare.push_back(E.Size != -1 ? "<sized>" : E.Name.ToStdString() + (E.IsDir ? "/" : ""));
  return Out == OutBare ? Out : std::vector<std::string>{"<names differ>"};
}

using tList = std::vector<std::string>;

TEST(FileSystem, ListMatchesMasksAsFindFirstFileDoes) {
  tRuntimeTempDir Dir;
  for (const char* Name : {"1.msg", "2.MSG", "x.y.msg", "readme", "notes.txt"}) PutFile(Dir / Name, "x");
  std::filesystem::create_directory(Dir / "SUB");
  std::string D = Dir.Path() + "\\";
  struct {
    const char* Mask;
    tList Want;
  } Cases[] = {
      {"*.msg", {"1.msg", "2.MSG", "x.y.msg"}},
      {"*.MSG", {"1.msg", "2.MSG", "x.y.msg"}},
      {"?.msg", {"1.msg", "2.MSG"}},
      {"*.*", {"./", "../", "1.msg", "2.MSG", "SUB/", "notes.txt", "readme", "x.y.msg"}},
      {"*", {"./", "../", "1.msg", "2.MSG", "SUB/", "notes.txt", "readme", "x.y.msg"}},
      {"readme.*", {"readme"}},
      {"READ*", {"readme"}},
      {"sub", {"SUB/"}},
      {"*.pkt", {}},
  };
  for (const auto& C : Cases) EXPECT_EQ(Names(D + C.Mask), C.Want) << C.Mask;
  // An empty directory is still found by "*.*".
  EXPECT_EQ(Names(D + "SUB\\*.*"), (tList{"./", "../"}));
  EXPECT_EQ(Names(D + "SUB\\*.msg"), tList{});
  // A directory that is not there cannot be listed.
  EXPECT_EQ(Names(D + "NONE\\*.*"), tList{"<failed>"});
  std::vector<tDirEntry> Entries;
  ASSERT_TRUE(ListDir(D + "*.txt", Entries));
  ASSERT_EQ(Entries.size(), 1u);
  EXPECT_EQ(Entries[0].Size, 1);
}

TEST(FileSystem, ExistsTellsFilesFromDirectories) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "f", "");
  EXPECT_TRUE(FileExists(Dir / "f"));
  EXPECT_FALSE(DirExists(Dir / "f"));
  EXPECT_TRUE(DirExists(Dir.Path()));
  EXPECT_FALSE(FileExists(Dir.Path()));
  EXPECT_FALSE(FileExists(Dir / "g"));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(DirExists(""));
}

TEST(FileSystem, MakeDirChainCreatesEveryLevel) {
  tRuntimeTempDir Dir;
  std::string Deep = Dir.Path() + "\\a\\b\\c\\";
  EXPECT_TRUE(MakeDirChain(Deep));
  EXPECT_TRUE(DirExists(Dir.Path() + "\\a\\b\\c"));
  EXPECT_TRUE(MakeDirChain(Deep));  // already there
  EXPECT_TRUE(MakeDirChain(""));    // the current directory
  PutFile(Dir / "file", "");
  EXPECT_FALSE(MakeDirChain(Dir.Path() + "\\file\\sub"));  // a file in the way
}

TEST(FileSystem, ReplacePutsTheNewFileInPlace) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "setup.cfg", "old");
  PutFile(Dir / "setup.new", "new");
#ifndef _WIN32
  namespace fs = std::filesystem;
  fs::permissions(Dir / "setup.cfg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::permissions(Dir / "setup.new", fs::perms::owner_read | fs::perms::owner_write);
#endif
  EXPECT_TRUE(ReplaceFile(Dir / "setup.new", Dir / "setup.cfg"));
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "new");
  EXPECT_FALSE(FileExists(Dir / "setup.new"));
#ifndef _WIN32
  EXPECT_EQ(fs::status(Dir / "setup.cfg").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  // Onto a name that is not there yet.
  PutFile(Dir / "b.tmp", "b");
  EXPECT_TRUE(ReplaceFile(Dir / "b.tmp", Dir / "b.cfg"));
  EXPECT_EQ(GetFile(Dir / "b.cfg"), "b");
  EXPECT_FALSE(ReplaceFile(Dir / "missing", Dir / "b.cfg"));
  EXPECT_EQ(GetFile(Dir / "b.cfg"), "b");
}

TEST(FileSystem, OpenFilesAreNeitherRemovedNorReplaced) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "held", "held");
  PutFile(Dir / "new", "new");
  {
    tBufStream S(Dir / "held", fmOpen | fmDenyNone | fmRead);
    ASSERT_EQ(S.Status, stOk);
    EXPECT_FALSE(RemoveFile(Dir / "held"));
    EXPECT_FALSE(ReplaceFile(Dir / "new", Dir / "held"));
  }
  EXPECT_EQ(GetFile(Dir / "held"), "held");
  EXPECT_TRUE(RemoveFile(Dir / "held"));
  EXPECT_FALSE(FileExists(Dir / "held"));
  EXPECT_FALSE(RemoveFile(Dir / "held"));
  EXPECT_FALSE(RemoveFile(Dir.Path()));  // not a file
}

TEST(FileSystem, PathsOfTheSystem) {
  tShortString Exe = ExecutablePath();
  EXPECT_TRUE(FileExists(Exe)) << Exe.CStr();
  tShortString Full = FullPathOf("x.cfg");
  EXPECT_TRUE(Full.EndsWith("x.cfg")) << Full.CStr();
  EXPECT_GT(Full.Length(), 5u);
#ifndef _WIN32
  EXPECT_EQ(FullPathOf("/srv/fido/../x/./y.cfg"), "/srv/x/y.cfg");
  EXPECT_EQ(FullPathOf("\\srv\\\\fido\\"), "/srv/fido/");
  EXPECT_EQ(FullPathOf("/.."), "/");
#else
  EXPECT_EQ(FullPathOf("C:\\FIDO\\..\\FE\\.\\SETUP.CFG"), "C:\\FE\\SETUP.CFG");
#endif
}

TEST(FileSystem, ANameWithANulIsRefusedEverywhere) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "setup.cfg", "cfg");
  // The system would see "setup.cfg": a call with such a name must not
  // reach the file the shorter name stands for.
  const std::string Nul = Dir / std::string("setup.cfg\0.$$$", 14);
  std::vector<tDirEntry> Entries;
  tShortString Target;
  EXPECT_FALSE(FileExists(Nul));
  EXPECT_FALSE(DirExists(Dir.Path() + std::string("\0x", 2)));
  EXPECT_FALSE(ListDir(Dir.Path() + std::string("/*\0.msg", 7), Entries));
  EXPECT_FALSE(RemoveFile(Nul));
  EXPECT_FALSE(RemoveFilesAllOrNone({tShortString(Nul)}));
  EXPECT_FALSE(MakeDirChain(Nul));
  EXPECT_FALSE(ReplaceFile(Nul, Dir / "other"));
  EXPECT_FALSE(FileSystem().FinalTarget(Nul, Target));
  for (uint16_t Mode : {uint16_t(fmCreate), uint16_t(fmCreateNew), uint16_t(fmOpen | fmReadWrite)}) {
    tBufStream S(Nul, Mode);
    EXPECT_EQ(S.Status, stInitError) << Mode;
  }
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "cfg");
}

TEST(FileSystem, CreateNewNeverTakesAnExistingName) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "old", "old");
  {
    tBufStream S(Dir / "old", fmCreateNew | fmDenyAll);
    EXPECT_EQ(S.Status, stInitError);
  }
  EXPECT_EQ(GetFile(Dir / "old"), "old");
  {
    tBufStream S(Dir / "new", fmCreateNew | fmDenyAll);
    ASSERT_EQ(S.Status, stOk);
    S.WriteStr("fresh");
    EXPECT_TRUE(S.Close());
  }
  EXPECT_EQ(GetFile(Dir / "new"), "fresh");
#ifndef _WIN32
  // Not through a link either, dangling or not.
  std::filesystem::create_symlink(Dir / "old", Dir / "link");
  std::filesystem::create_symlink(Dir / "nowhere", Dir / "dangling");
  for (const char* Name : {"link", "dangling"}) {
    tBufStream S(Dir / Name, fmCreateNew);
    EXPECT_EQ(S.Status, stInitError) << Name;
  }
  EXPECT_EQ(GetFile(Dir / "old"), "old");
  EXPECT_FALSE(std::filesystem::exists(Dir / "nowhere"));
#endif
}

TEST(FileSystem, RemoveAllOrNone) {
  tRuntimeTempDir Dir;
  auto Make = [&] {
    for (const char* Name : {"a.jhr", "a.jdt", "a.jdx"}) PutFile(Dir / Name, Name);
    return std::vector<tShortString>{tShortString(Dir / "a.jhr"), tShortString(Dir / "a.jdt"),
                                     tShortString(Dir / "a.jdx")};
  };
  auto Left = [&] {
    int N = 0;
    for (const char* Name : {"a.jhr", "a.jdt", "a.jdx"}) N += FileExists(Dir / Name);
    return N;
  };
  std::vector<tShortString> Files = Make();
  EXPECT_TRUE(RemoveFilesAllOrNone(Files));
  EXPECT_EQ(Left(), 0);
  EXPECT_TRUE(RemoveFilesAllOrNone({}));

  // One file held open by a reader: every file stays.
  Files = Make();
  {
    tBufStream Reader(Dir / "a.jdt", fmOpen | fmRead | fmDenyNone);
    ASSERT_EQ(Reader.Status, stOk);
    EXPECT_FALSE(RemoveFilesAllOrNone(Files));
    EXPECT_EQ(Left(), 3);
  }
  // One missing, or a directory among them: every file stays.
  std::filesystem::remove(Dir / "a.jdx");
  EXPECT_FALSE(RemoveFilesAllOrNone(Files));
  EXPECT_EQ(Left(), 2);
  std::filesystem::create_directory(Dir / "a.jdx");
  EXPECT_FALSE(RemoveFilesAllOrNone(Files));
  EXPECT_EQ(Left(), 2);
  EXPECT_TRUE(DirExists(Dir / "a.jdx"));
}

#ifndef _WIN32
// A FIFO, socket or device named like one of our files is no file: nothing
// waits on it, lists it or counts it.
TEST(FileSystem, OnlyRegularFilesAreFiles) {
  tRuntimeTempDir Dir;
  ASSERT_EQ(mkfifo((Dir / "7.msg").c_str(), 0600), 0);
  PutFile(Dir / "8.msg", "x");
  std::filesystem::create_symlink(Dir / "gone.msg", Dir / "9.msg");
  std::filesystem::create_symlink(Dir / "8.msg", Dir / "10.msg");
  EXPECT_FALSE(FileExists(Dir / "7.msg"));
  EXPECT_FALSE(FileExists(Dir / "9.msg"));
  EXPECT_FALSE(FileExists("/dev/null"));
  EXPECT_EQ(Names(Dir.Path() + "/*.msg"), (tList{"10.msg", "8.msg"}));
  for (uint16_t Mode : {uint16_t(fmOpen | fmRead | fmDenyNone), uint16_t(fmOpen | fmWrite), uint16_t(fmOpen | fmReadWrite),
                        uint16_t(fmCreate)}) {
    tBufStream S(Dir / "7.msg", Mode);
    EXPECT_EQ(S.Status, stInitError) << Mode;
    tBufStream D("/dev/null", Mode);
    EXPECT_EQ(D.Status, stInitError) << Mode;
  }
}

TEST(FileSystem, FinalTargetFollowsLinks) {
  tRuntimeTempDir Dir;
  std::filesystem::create_directory(Dir / "fe");
  PutFile(Dir / "fe/setup.cfg", "cfg");
  std::filesystem::create_symlink("fe/setup.cfg", Dir / "rel.cfg");  // relative to the link
  std::filesystem::create_symlink(Dir / "rel.cfg", Dir / "chain.cfg");
  std::filesystem::create_symlink(Dir / "loop2", Dir / "loop1");
  std::filesystem::create_symlink(Dir / "loop1", Dir / "loop2");
  tShortString T;
  ASSERT_TRUE(FileSystem().FinalTarget(Dir / "chain.cfg", T));
  EXPECT_EQ(GetFile(T.ToStdString()), "cfg");
  EXPECT_TRUE(T.EndsWith("fe/setup.cfg")) << T.CStr();
  ASSERT_TRUE(FileSystem().FinalTarget(Dir / "plain.cfg", T));
  EXPECT_EQ(T, Dir / "plain.cfg");
  EXPECT_FALSE(FileSystem().FinalTarget(Dir / "loop1", T));
  // A link whose target does not fit a system string leads nowhere usable.
  std::filesystem::create_symlink("/" + std::string(300, 'x'), Dir / "long.cfg");
  EXPECT_FALSE(FileSystem().FinalTarget(Dir / "long.cfg", T));
}
#endif

#ifndef _WIN32
// On POSIX, names are found whatever their case, as Windows finds them.
TEST(FileSystem, FindsNamesInAnyCase) {
  tRuntimeTempDir Dir;
  std::filesystem::create_directory(Dir / "FOO");
  PutFile(Dir / "FOO/1.MSG", "one");
  std::string D = Dir.Path() + "\\";
  EXPECT_TRUE(FileExists(D + "foo\\1.msg"));
  EXPECT_TRUE(DirExists(D + "Foo"));
  EXPECT_EQ(Names(D + "foo\\*.msg"), tList{"1.MSG"});
  {
    tBufStream S(D + "foo\\1.msg", fmOpen | fmDenyNone | fmReadWrite);
    ASSERT_EQ(S.Status, stOk);
    S.Seek(3);
    S.WriteStr("!");
  }
  EXPECT_EQ(GetFile(Dir / "FOO/1.MSG"), "one!");
  // A new file goes into the directory as found, under the name as written.
  {
    tBufStream S(D + "foo\\2.msg", fmCreate);
    ASSERT_EQ(S.Status, stOk);
  }
  EXPECT_TRUE(std::filesystem::exists(Dir / "FOO/2.msg"));
  // Creating a name that exists in another case empties that file, as
  // Windows would, instead of making a second file beside it.
  {
    tBufStream S(D + "FOO\\1.msg", fmCreate);
    S.WriteStr("x");
  }
  EXPECT_EQ(GetFile(Dir / "FOO/1.MSG"), "x");
  EXPECT_EQ(Names(D + "FOO\\*"), (tList{"./", "../", "1.MSG", "2.msg"}));
  // Several names that differ only in case: the first in byte order.
  PutFile(Dir / "FOO/a.txt", "lower");
  PutFile(Dir / "FOO/A.TXT", "upper");
  PutFile(Dir / "FOO/A.txt", "mixed");
  {
    tBufStream S(D + "foo\\a.Txt", fmOpen | fmDenyNone | fmRead);
    char Buf[5];
    S.Read(Buf, 5);
    EXPECT_EQ(std::string(Buf, 5), "upper");
  }
  EXPECT_TRUE(RemoveFile(D + "foo\\a.Txt"));
  EXPECT_FALSE(std::filesystem::exists(Dir / "FOO/A.TXT"));
  // Names with many letters, and paths several levels deep that differ in
  // case at more than one level.
  std::filesystem::create_directories(Dir / "Fido/NetMail.Directory");
  PutFile(Dir / "Fido/NetMail.Directory/SetupFile.Cfg", "deep");
  PutFile(Dir / "Fido/NetMail.Directory/setupfile.cfg", "later");
  EXPECT_EQ(GetFile(Dir / "Fido/NetMail.Directory/SetupFile.Cfg"), "deep");
  {
    tBufStream S(D + "FIDO\\NETMAIL.DIRECTORY\\SETUPFILE.CFG", fmOpen | fmDenyNone | fmRead);
    char Buf[4];
    S.Read(Buf, 4);
    EXPECT_EQ(std::string(Buf, 4), "deep");
  }
  EXPECT_TRUE(DirExists(D + "fido\\netmail.directory\\"));
  EXPECT_TRUE(MakeDirChain(D + "FIDO\\NETMAIL.DIRECTORY\\New\\Deeper"));
  EXPECT_TRUE(std::filesystem::is_directory(Dir / "Fido/NetMail.Directory/New/Deeper"));
  EXPECT_FALSE(FileExists(D + "FIDO\\NOWHERE\\SETUPFILE.CFG"));
}

TEST(FileSystem, RootListsNoDots) {
  tList Root = Names("/*");
  ASSERT_FALSE(Root.empty());
  EXPECT_NE(Root[0], "./");
  for (const std::string& N : Root) EXPECT_NE(N, "../");
}

TEST(FileSystem, ExtensionsLongerThanTheMaskAreNotMatched) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "1.msgold", "");
  PutFile(Dir / "2.msg", "");
  EXPECT_EQ(Names(Dir.Path() + "/*.msg"), tList{"2.msg"});
}
#endif

// The lock FidoNet software takes on byte 0 of a base file: one holder at
// a time, within a process as between processes; not lost when another
// descriptor of the file closes (as a classic POSIX record lock would be);
// and a file another program put in place of the locked one is told.
TEST(FileLock, OneHolderAtATimeKeptPastOtherDescriptorsToldWhenReplaced) {
  tRuntimeTempDir Dir;
  const std::string Name = Dir / "area.sqd";
  PutFile(Name, "squish");
  tBufStream A(Name, fmOpen | fmReadWrite | fmDenyNone), B(Name, fmOpen | fmReadWrite | fmDenyNone);
  tFileLock First, Second;
  ASSERT_EQ(First.Take(A, Name, 0), lkTaken);
  EXPECT_EQ(Second.Take(B, Name, 0), lkBusy);
  { tBufStream Other(Name, fmOpen | fmRead | fmDenyNone); }
  EXPECT_EQ(Second.Take(B, Name, 0), lkBusy);
  First.Release();
  EXPECT_EQ(Second.Take(B, Name, 0), lkTaken);
  Second.Release();
  PutFile(Dir / "packed", "packed");
  std::error_code Refused;  // Windows renames no file over one that is open
  std::filesystem::rename(Dir / "packed", Name, Refused);
  if (!Refused) {
    EXPECT_EQ(First.Take(A, Name, 0), lkGone);
  }
}

}  // namespace
}  // namespace kelvane
