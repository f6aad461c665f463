// Tests of fegen's command line and of what it promises the demo and the
// end-to-end tests: exact areas where asked, the same bytes for the same seed.
#include "tools/fegen_lib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/coding.h"

namespace kelvane {
namespace {

bool Parse(std::vector<std::string> Words, tFeGenOptions& O, std::string& Out, std::string& Error) {
  Words.insert(Words.begin(), "fegen");
  std::vector<char*> Args;
  for (std::string& W : Words) Args.push_back(W.data());
  bool Help = false;
  return FeGenParseArgs(static_cast<int>(Args.size()), Args.data(), O, Out, Help, Error);
}

TEST(FeGenArgs, AcceptsWhatTheHelpDescribes) {
  tFeGenOptions O;
  std::string Out, Error;
  ASSERT_TRUE(Parse({"OUT.cfg", "--areas", "5", "--nodes", "0x10", "--seed", "42", "--netmail", "D:\\NET", "--area",
                     "RU.SYSOP,3,C:\\FE\\A,B,17", "--area", "ECHO,0x0001,C:\\FE\\ECHO", "--node-links", "none",
                     "--link", "2:17", "--ext", "0x0006:4", "--ext", "0x2000:9", "--area-bits", "61", "--node-bits",
                     "256", "--full-width-fields", "--zero-fill", "--revision", "5"},
                    O, Out, Error))
      << Error;
  EXPECT_EQ(Out, "OUT.cfg");
  EXPECT_EQ(O.Areas, 5u);
  EXPECT_EQ(O.Nodes, 16u);
  EXPECT_EQ(O.Seed, 42u);
  EXPECT_EQ(O.NetmailDir, "D:\\NET");
  ASSERT_EQ(O.ExplicitAreas.size(), 2u);
  EXPECT_EQ(O.ExplicitAreas[0].Tag, "RU.SYSOP");
  EXPECT_EQ(O.ExplicitAreas[0].StorageWord, 3);
  EXPECT_EQ(O.ExplicitAreas[0].Path, "C:\\FE\\A,B");  // a comma in the path stays
  EXPECT_EQ(O.ExplicitAreas[0].LinkIndex, 17);
  EXPECT_EQ(O.ExplicitAreas[1].Path, "C:\\FE\\ECHO");
  EXPECT_EQ(O.ExplicitAreas[1].LinkIndex, -1);
  EXPECT_EQ(O.NodeLinks, fglNone);
  ASSERT_EQ(O.Links.size(), 1u);
  EXPECT_EQ(O.Links[0], std::make_pair(2u, 17u));
  ASSERT_EQ(O.Blocks.size(), 2u);
  EXPECT_EQ(O.Blocks[0].Type, 0x0006);
  EXPECT_EQ(O.Blocks[1].Count, 9u);
  EXPECT_EQ(O.AreaBits, 61);
  EXPECT_EQ(O.NodeBits, 256);
  EXPECT_TRUE(O.FullWidth && O.ZeroFill);
  EXPECT_EQ(O.Revision, 5);
}

TEST(FeGenArgs, RefusesWrongCommandLines) {
  const std::vector<std::vector<std::string>> Cases = {
      {},
      {"a.cfg", "b.cfg"},
      {"a.cfg", "--areas"},
      {"a.cfg", "--areas", "65536"},
      {"a.cfg", "--areas", "-1"},
      {"a.cfg", "--areas", "12x"},
      {"a.cfg", "--area", "TAG-ONLY"},
      {"a.cfg", "--area", ",1,PATH"},
      {"a.cfg", "--area", "TAG,bad,PATH"},
      {"a.cfg", "--node-links", "some"},
      {"a.cfg", "--link", "1"},
      {"a.cfg", "--ext", "0x0001"},
      {"a.cfg", "--ext", "0x0002:3000000000"},
      {"a.cfg", "--bogus", "1"},
  };
  for (const auto& Words : Cases) {
    tFeGenOptions O;
    std::string Out, Error;
    EXPECT_FALSE(Parse(Words, O, Out, Error)) << (Words.empty() ? "" : Words.back());
    EXPECT_FALSE(Error.empty());
  }
}

TEST(FeGen, SameSeedSameBytesAndExactAreasWhereAsked) {
  tFeGenOptions O;
  O.Areas = 50;
  O.ExplicitAreas = {{"RU.SYSOP", 3, "C:\\FE\\JAM\\SYSOP", 17}};
  O.NodeLinks = fglNone;
  O.Links = {{1, 17}};
  const std::vector<uint8_t> A = FeGenerate(O), B = FeGenerate(O);
  EXPECT_EQ(A, B);
  O.Seed = 2;
  EXPECT_NE(FeGenerate(O), A);

  // The explicit area is the first record; node 1 alone carries bit 17.
  const uint32_t Ext = GetU32(&A[4640]), Bitmap = GetU16(&A[4634]) / 8;
  const size_t NodesAt = 4644 + Ext, AreasAt = NodesAt + 3 * (95 + Bitmap);
  ASSERT_EQ(A.size(), AreasAt + 51 * 190);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&A[AreasAt])), "RU.SYSOP");
  EXPECT_EQ(GetU16(&A[AreasAt + 54]), 17);
  EXPECT_EQ(GetU16(&A[AreasAt + 62]), 3);
  for (uint32_t N = 0; N < 3; ++N) EXPECT_EQ(A[NodesAt + N * (95 + Bitmap) + 95 + 2], N == 1 ? 0x40 : 0) << N;
  // Generated link indexes are distinct and none takes the explicit one.
  std::vector<int> Seen(65536, 0);
  for (uint32_t I = 0; I < 51; ++I) EXPECT_EQ(Seen[GetU16(&A[AreasAt + I * 190 + 54])]++, 0) << I;
}

}  // namespace
}  // namespace kelvane
