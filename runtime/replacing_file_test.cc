#include "runtime/replacing_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/file_system.h"
#include "runtime/test_dir.h"

namespace kelvane {
namespace {

using testing::GetFile;
using testing::PutFile;
using testing::tRuntimeTempDir;
namespace fs = std::filesystem;

// Entries of a directory, to see that no temporary file stays behind.
size_t Entries(const tRuntimeTempDir& Dir) {
  size_t N = 0;
  for ([[maybe_unused]] const auto& E : fs::directory_iterator(Dir.Path())) ++N;
  return N;
}

bool Rewrite(const std::string& Target, std::string_view Bytes) {
  tReplacingFile F(Target);
  F.Out().WriteStr(Bytes);
  return F.Commit();
}

TEST(ReplacingFile, PutsTheNewContentsInPlace) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "setup.cfg", "old contents");
#ifndef _WIN32
  fs::permissions(Dir / "setup.cfg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  EXPECT_TRUE(Rewrite(Dir / "setup.cfg", "new"));
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "new");
#ifndef _WIN32
  EXPECT_EQ(fs::status(Dir / "setup.cfg").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  EXPECT_TRUE(Rewrite(Dir / "fresh.cfg", "made"));  // no old file
  EXPECT_EQ(GetFile(Dir / "fresh.cfg"), "made");
  EXPECT_EQ(Entries(Dir), 2u);
}

TEST(ReplacingFile, WithoutCommitNothingChanges) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "setup.cfg", "old");
  {
    tReplacingFile F(Dir / "setup.cfg");
    ASSERT_EQ(F.Out().Status, stOk);
    EXPECT_EQ(F.TempName(), Dir / "setup.cfg.$$$");
    F.Out().WriteStr("half");
  }
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "old");
  EXPECT_EQ(Entries(Dir), 1u);
}

// Forwards to the real file system and fails writes or the final replace.
class tFailing : public tForwardingFileSystem {
 public:
  int32_t Write(intptr_t H, const void* B, uint32_t C) override { return FailWrite ? -1 : Real().Write(H, B, C); }
  bool Replace(std::string_view S, std::string_view T) override { return !FailReplace && Real().Replace(S, T); }
  bool FailWrite = false, FailReplace = false;
};

TEST(ReplacingFile, AFailureLeavesTheTargetAsItWas) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "setup.cfg", "old");
  for (int Case = 0; Case < 2; ++Case) {
    tFailing Fs;
    (Case == 0 ? Fs.FailWrite : Fs.FailReplace) = true;
    SetFileSystem(&Fs);
    bool Ok = Rewrite(Dir / "setup.cfg", std::string(10000, 'n'));
    SetFileSystem(nullptr);
    EXPECT_FALSE(Ok) << Case;
    EXPECT_EQ(GetFile(Dir / "setup.cfg"), "old") << Case;
    EXPECT_EQ(Entries(Dir), 1u) << Case;
  }
  // The temporary name taken by a directory: refused, nothing written.
  fs::create_directory(Dir / "setup.cfg.$$$");
  EXPECT_FALSE(Rewrite(Dir / "setup.cfg", "new"));
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "old");
  // A name that leaves no room for the suffix.
  EXPECT_FALSE(Rewrite(std::string(253, 'x'), "new"));
}

TEST(ReplacingFile, AStaleTemporaryFileIsReplacedNotWrittenInto) {
  tRuntimeTempDir Dir;
  PutFile(Dir / "setup.cfg", "old");
  PutFile(Dir / "setup.cfg.$$$", "left by a crash, longer than the new file");
  EXPECT_TRUE(Rewrite(Dir / "setup.cfg", "new"));
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "new");
  EXPECT_EQ(Entries(Dir), 1u);
  // A temporary name held open by another writer is left to it.
  {
    tBufStream Other(Dir / "setup.cfg.$$$", fmCreate | fmDenyAll);
    ASSERT_EQ(Other.Status, stOk);
    EXPECT_FALSE(Rewrite(Dir / "setup.cfg", "newer"));
  }
  EXPECT_EQ(GetFile(Dir / "setup.cfg"), "new");
}

#ifndef _WIN32
TEST(ReplacingFile, LinksAreFollowedNeverWrittenThrough) {
  tRuntimeTempDir Dir;
  fs::create_directory(Dir / "fe");
  PutFile(Dir / "fe/setup.cfg", "old");
  fs::permissions(Dir / "fe/setup.cfg", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(Dir / "fe/setup.cfg", Dir / "setup.cfg");
  // The link's target is replaced; the link stays a link.
  EXPECT_TRUE(Rewrite(Dir / "setup.cfg", "new"));
  EXPECT_TRUE(fs::is_symlink(Dir / "setup.cfg"));
  EXPECT_EQ(GetFile(Dir / "fe/setup.cfg"), "new");
  EXPECT_EQ(fs::status(Dir / "fe/setup.cfg").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(Dir / "setup.cfg.$$$"));
  EXPECT_FALSE(fs::exists(Dir / "fe/setup.cfg.$$$"));
  // A stale temporary name that is a link to another file: the link goes,
  // the file it points to is untouched.
  PutFile(Dir / "victim", "victim");
  fs::create_symlink(Dir / "victim", Dir / "fe/setup.cfg.$$$");
  EXPECT_TRUE(Rewrite(Dir / "fe/setup.cfg", "newer"));
  EXPECT_EQ(GetFile(Dir / "victim"), "victim");
  EXPECT_EQ(GetFile(Dir / "fe/setup.cfg"), "newer");
  EXPECT_FALSE(fs::exists(Dir / "fe/setup.cfg.$$$"));
}
#endif

}  // namespace
}  // namespace kelvane
