// A base that two writers change at once, as two programs of a node hold
// it: two objects on one base of each format, each writing after the
// other from the count it saw last; and a lock another holder keeps, which
// stops a change without a byte written. (Locks of one process exclude
// each other as those of two do; processes: tests/live_node_test.py.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/message.h"
#include "msgbase/msgbase.h"
#include "msgbase/squish_test_util.h"
#include "msgbase/test_fs.h"
#include "runtime/file_lock.h"

namespace kelvane {
namespace {

using testing::FillNumbered;
using testing::GetFile;
using testing::Letter;
using testing::tRuntimeTempDir;

const struct tFormat {
  char Letter;
  const char* Base;
  std::vector<const char*> Files;  // the first carries the lock, when there is one
} Formats[] = {{'S', "sq", {"sq.sqd", "sq.sqi"}},
               {'J', "jam", {"jam.jhr", "jam.jdx", "jam.jdt"}},
               {'P', "out.pkt", {"out.pkt"}},
               {'F', "msg", {}}};

std::vector<std::string> Subjects(const std::string& Id) {
  auto Base = OpenBase(Id, smOpenRead);
  std::vector<std::string> Out;
  tMessage M;
  for (int32_t N = 1; Base && N <= Base->Count; ++N)
    if (Base->Exists(N) && !Base->ReadMessage(N, &M)) Out.push_back(M.Subject.ToStdString());
  return Out;
}

TEST(SharedBase, TwoWritersEachAppendAfterTheOther) {
  for (const tFormat& F : Formats) {
    SCOPED_TRACE(F.Base);
    tRuntimeTempDir T;
    const std::string Id = Letter(F.Letter, T / F.Base);
    auto A = OpenBase(Id, 0), B = OpenBase(Id, 0);
    ASSERT_TRUE(A && B);
    tMessage M;
    std::vector<std::string> Want;
    for (int I = 1; I <= 6; ++I) {
      // Each asks for the number after the last it saw: the other's
      // message is there, and is never written over.
      tMsgBase& W = I % 2 ? *A : *B;
      FillNumbered(M, I);
      ASSERT_FALSE(W.WriteMessage(W.Count + 1, &M));
      EXPECT_EQ(W.Count, I);
      Want.push_back("Subject " + std::to_string(I));
    }
    EXPECT_EQ(Subjects(Id), Want);
  }
}

TEST(SharedBase, ALockAnotherHolderKeepsStopsTheChange) {
  testing::tFixedClock Clock;  // the waits are instant
  for (const tFormat& F : Formats) {
    if (F.Files.empty()) continue;
    SCOPED_TRACE(F.Base);
    tRuntimeTempDir T;
    const std::string Id = Letter(F.Letter, T / F.Base);
    auto Base = OpenBase(Id, 0);
    ASSERT_TRUE(Base);
    tMessage M;
    FillNumbered(M, 1);
    ASSERT_FALSE(Base->WriteMessage(1, &M));
    std::vector<std::string> Before;
    for (const char* Name : F.Files) Before.push_back(GetFile(T / Name));
    {
      tBufStream Held(T / F.Files[0], smOpenReadWrite);
      tFileLock Lock;
      ASSERT_EQ(Lock.Take(Held, T / F.Files[0]), lkTaken);
      FillNumbered(M, 2);
      EXPECT_TRUE(Base->WriteMessage(2, &M));
      EXPECT_EQ(Base->Busy, 1);
      EXPECT_TRUE(DeleteBase(Id));
      for (size_t K = 0; K < F.Files.size(); ++K) EXPECT_EQ(GetFile(T / F.Files[K]), Before[K]) << F.Files[K];
    }
    EXPECT_FALSE(Base->WriteMessage(2, &M));
    EXPECT_EQ(Base->Busy, 0);
    EXPECT_EQ(Subjects(Id), (std::vector<std::string>{"Subject 1", "Subject 2"}));
  }
}

}  // namespace
}  // namespace kelvane
