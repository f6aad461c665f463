// The decisions of tRemovalRules, case by case.
#include "app/removal_rules.h"

#include <gtest/gtest.h>

#include "msgbase/message.h"

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
    SCOPED_TRACE(testing::Message() << C.From << " " << C.Subject << " " << C.Attr << " " << C.MarkRequests);
    S.MarkRequests = C.MarkRequests;
    tMessage M;
    M.From = C.From;
    M.Subject = C.Subject;
    M.Attr = C.Attr;
    EXPECT_EQ(Rules.FirstFailed(M), C.Failed);
  }
}

}  // namespace
}  // namespace kelvane
