// Tests of tFastEchoConfig against files laid out by fegen_lib, which writes
// the format on its own, and against bytes patched and cut here by hand.
#include "fecfg/feconfig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <string>

#include "runtime/file_system.h"
#include "runtime/stream.h"
#include "runtime/test_dir.h"
#include "tools/fegen_lib.h"

namespace kelvane {
namespace {

// A scratch directory (removed afterwards) with the number of its entries,
// so a test sees a temporary file left behind.
class tScratch : public testing::tRuntimeTempDir {
 public:
  std::string File(const std::string& Name) const { return *this / Name; }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(Path()), {}));
  }
};

std::string ReadAll(const std::string& Name) { return testing::GetFile(Name); }
void WriteAll(const std::string& Name, const std::string& Bytes) { testing::PutFile(Name, Bytes); }
std::string Generate(const tFeGenOptions& O) {
  std::vector<uint8_t> B = FeGenerate(O);
  return std::string(B.begin(), B.end());
}
void Put16(std::string& B, size_t At, uint16_t V) { PutU16(reinterpret_cast<uint8_t*>(&B[At]), V); }
void Put32(std::string& B, size_t At, uint32_t V) { PutU32(reinterpret_cast<uint8_t*>(&B[At]), V); }
uint16_t Get16(const std::string& B, size_t At) { return GetU16(reinterpret_cast<const uint8_t*>(&B[At])); }

tFeGenArea Area(std::string Tag, uint16_t Storage = 1, int32_t Link = -1) {
  return {Tag, Storage, "C:\\FE\\ECHO\\" + std::to_string(Link), Link};
}

void ExpectSameObject(const tFastEchoConfig& A, const tFastEchoConfig& B) {
  EXPECT_TRUE(A.Header.Bytes == B.Header.Bytes);
  ASSERT_EQ(A.Extensions.Count(), B.Extensions.Count());
  for (size_t I = 0; I < A.Extensions.Count(); ++I) {
    EXPECT_EQ(A.Extensions[I].BlockType, B.Extensions[I].BlockType);
    EXPECT_EQ(A.Extensions[I].BlockLength, B.Extensions[I].BlockLength);
    ASSERT_EQ(A.Extensions[I].Records.Count(), B.Extensions[I].Records.Count());
    for (size_t R = 0; R < A.Extensions[I].Records.Count(); ++R) {
      EXPECT_EQ(A.Extensions[I].Records[R].Bytes, B.Extensions[I].Records[R].Bytes);
      EXPECT_EQ(A.Extensions[I].Records[R].NodeBitmap, B.Extensions[I].Records[R].NodeBitmap);
    }
  }
  ASSERT_EQ(A.Nodes.Count(), B.Nodes.Count());
  for (size_t I = 0; I < A.Nodes.Count(); ++I) {
    EXPECT_TRUE(A.Nodes[I].Bytes == B.Nodes[I].Bytes);
    EXPECT_EQ(A.Nodes[I].AreaBitmap, B.Nodes[I].AreaBitmap);
  }
  ASSERT_EQ(A.Areas.Count(), B.Areas.Count());
  for (size_t I = 0; I < A.Areas.Count(); ++I) EXPECT_TRUE(A.Areas[I].Bytes == B.Areas[I].Bytes);
}

// Load, then Store under another name, of files of many shapes: the copy is
// the original byte for byte and the lists hold what the header says.
TEST(FeConfigLoad, LoadThenStoreIsByteIdentical) {
  struct tCase {
    const char* Name;
    std::function<void(tFeGenOptions&)> Shape;
  } Cases[] = {
      {"default", [](tFeGenOptions&) {}},
      {"no extension area", [](tFeGenOptions& O) { O.DefaultBlocks = false; }},
      {"no nodes", [](tFeGenOptions& O) { O.Nodes = 0; }},
      {"no areas", [](tFeGenOptions& O) { O.Areas = 0; }},
      {"header only", [](tFeGenOptions& O) { O.Nodes = O.Areas = 0, O.DefaultBlocks = false; }},
      {"unknown types", [](tFeGenOptions& O) { O.Blocks = {{0x0002, 40}, {0x2000, 0}, {0xFFFF, 1}, {0x0003, 5000}}; }},
      {"node bitmaps of 256 bits", [](tFeGenOptions& O) { O.NodeBits = 256, O.Blocks = {{0x0006, 100}}; }},
      {"area bits not a multiple of 8", [](tFeGenOptions& O) { O.AreaBits = 61, O.Areas = 40; }},
      {"no bitmaps at all", [](tFeGenOptions& O) { O.AreaBits = 7, O.NodeBits = 5, O.Blocks = {{0x0006, 3}}; }},
      {"full-width fields", [](tFeGenOptions& O) { O.FullWidth = true; }},
      {"zero filled", [](tFeGenOptions& O) { O.ZeroFill = true, O.Areas = 30; }},
      {"many areas and nodes", [](tFeGenOptions& O) { O.Areas = 3000, O.Nodes = 40, O.Seed = 7; }},
  };
  tScratch Dir;
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    tFeGenOptions O;
    C.Shape(O);
    std::string Bytes = Generate(O);
    WriteAll(Dir.File("setup.cfg"), Bytes);
    tFastEchoConfig Config;
    ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
    EXPECT_EQ(Config.Nodes.Count(), O.Nodes);
    EXPECT_EQ(Config.Areas.Count(), O.Areas);
    ASSERT_FALSE(Config.Store(Dir.File("copy.cfg")));
    EXPECT_TRUE(ReadAll(Dir.File("copy.cfg")) == Bytes);
  }
}

TEST(FeConfigLoad, RecordsFollowTheSizeOfTheirBlockType) {
  struct tCase {
    uint16_t Type;
    uint32_t Count;
    size_t Records, Size, Bitmap;
  } Cases[] = {
      {0x0001, 3, 3, 72, 0},  {0x0006, 100, 100, 206, 32}, {0x0007, 2, 2, 42, 0},  {0x0008, 1, 1, 62, 0},
      {0x0009, 2, 2, 128, 0}, {0x000A, 3, 3, 74, 0},       {0x100A, 2, 2, 74, 0},  {0x000B, 4, 4, 64, 0},
      {0x100B, 1, 1, 64, 0},  {0x000C, 5, 5, 36, 0},       {0x0002, 17, 1, 17, 0}, {0x2000, 0, 0, 0, 0},
  };
  tFeGenOptions O;
  O.NodeBits = 259;  // 32 bytes: the odd bits are not stored
  for (const tCase& C : Cases) O.Blocks.push_back({C.Type, C.Count});
  tScratch Dir;
  WriteAll(Dir.File("setup.cfg"), Generate(O));
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
  ASSERT_EQ(Config.Extensions.Count(), std::size(Cases));
  for (size_t I = 0; I < std::size(Cases); ++I) {
    SCOPED_TRACE(Cases[I].Type);
    const tFEExtBlock& B = Config.Extensions[I];
    EXPECT_EQ(B.BlockType, Cases[I].Type);
    ASSERT_EQ(B.Records.Count(), Cases[I].Records);
    for (const tFEExtRecord& R : B.Records) {
      EXPECT_EQ(R.Bytes.size(), Cases[I].Size);
      EXPECT_EQ(R.NodeBitmap.size(), Cases[I].Bitmap);
    }
  }
}

// A block whose length is not a multiple of its record size is read in
// whole records, as many as it takes to reach the length; the node records
// follow the last of them. Such a file, and bytes after the last area
// record, come back byte for byte.
TEST(FeConfigLoad, OddBlockLengthsAndTrailingBytesAreCarried) {
  const size_t Block = 4644;
  struct tCase {
    const char* Name;
    tFeGenBlock Blocks;
    int32_t Length;           // the BlockLength written over the true one
    int32_t ExtensionLength;  // -1: as generated
    size_t Records;
    std::string Tail;  // bytes after the last area record
  } Cases[] = {
      {"72-byte records, length 100", {0x0001, 2}, 100, -1, 2, ""},
      {"length one past a record", {0x0001, 2}, 73, -1, 2, ""},
      {"length counts the block only", {0x0001, 2}, 100, 106, 2, ""},
      {"node bitmap records", {0x0006, 3}, 2 * (206 + 32) + 1, -1, 3, ""},
      {"bytes after the last area", {0x0001, 2}, 144, -1, 2, std::string("\0tail\xFF", 6)},
      {"odd block and a tail", {0x0009, 2}, 200, -1, 2, std::string(1000, 'x')},
  };
  tScratch Dir;
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    tFeGenOptions O;
    O.NodeBits = 256, O.Blocks = {C.Blocks};
    std::string Bytes = Generate(O);
    Put32(Bytes, Block + 2, static_cast<uint32_t>(C.Length));
    if (C.ExtensionLength >= 0) Put32(Bytes, 4640, static_cast<uint32_t>(C.ExtensionLength));
    Bytes += C.Tail;
    WriteAll(Dir.File("setup.cfg"), Bytes);
    tFastEchoConfig Config;
    ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
    ASSERT_EQ(Config.Extensions.Count(), 1u);
    EXPECT_EQ(Config.Extensions[0].Records.Count(), C.Records);
    EXPECT_EQ(Config.Areas.Count(), O.Areas);
    ASSERT_FALSE(Config.Store(Dir.File("copy.cfg")));
    EXPECT_TRUE(ReadAll(Dir.File("copy.cfg")) == Bytes);
    // A removal leaves the tail where it was: after the last area.
    Config.RemoveArea(0);
    ASSERT_FALSE(Config.Store(Dir.File("copy.cfg")));
    std::string Stored = ReadAll(Dir.File("copy.cfg"));
    EXPECT_EQ(Stored.size(), Bytes.size() - 190);
    EXPECT_TRUE(Stored.substr(Stored.size() - C.Tail.size()) == C.Tail);
  }
}

TEST(FeConfigLoad, TextFieldsAndBaseTypes) {
  tFeGenOptions O;
  O.FullWidth = true;
  O.Areas = 1;
  O.ExplicitAreas = {{"ECHO", 0xFF93, "D:\\BASES\\ECHO", 9}};
  tScratch Dir;
  std::string Bytes = Generate(O);
  WriteAll(Dir.File("setup.cfg"), Bytes);
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
  EXPECT_EQ(Config.NetmailPath(), std::string_view(&Bytes[12], 56));
  EXPECT_EQ(Config.SemaphorePath(), std::string_view(&Bytes[908], 56));
  EXPECT_EQ(Config.AreaPath(0), "D:\\BASES\\ECHO");
  EXPECT_EQ(Config.AreaBaseType(0), 0x03);
  EXPECT_EQ(Config.Areas[0].LinkIndex(), 9);
  EXPECT_EQ(Config.Areas[1].Tag().Length(), 52u);
  EXPECT_EQ(Config.AreaPath(1).Length(), 56u);
  EXPECT_EQ(Config.FindArea(Config.Areas[1].Tag()), 1);
  for (int32_t Bad : {-1, 2, 65536}) {
    EXPECT_EQ(Config.AreaPath(Bad), "");
    EXPECT_EQ(Config.AreaBaseType(Bad), -1);
  }
}

TEST(FeConfigLoad, RefusedFilesLeaveNothingBehind) {
  tScratch Dir;
  tFeGenOptions O;
  WriteAll(Dir.File("good.cfg"), Generate(O));
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir.File("good.cfg")));
  // A missing file fails before anything is touched.
  EXPECT_TRUE(Config.Load(Dir.File("missing.cfg")));
  EXPECT_EQ(Config.Areas.Count(), 10u);
  for (uint16_t Revision : {0, 5, 7, 0x0600}) {
    O.Revision = Revision;
    WriteAll(Dir.File("other.cfg"), Generate(O));
    EXPECT_TRUE(Config.Load(Dir.File("other.cfg"))) << Revision;
    EXPECT_EQ(Config.Areas.Count() + Config.Nodes.Count() + Config.Extensions.Count(), 0u);
    EXPECT_EQ(Config.Header.Revision(), 0);
  }
  EXPECT_TRUE(Config.Load(Dir.File("")));
}

TEST(FeConfigLoad, EveryTruncationFails) {
  tFeGenOptions O;
  O.Areas = 2, O.Nodes = 2, O.Blocks = {{0x0006, 2}, {0x0002, 9}, {0x0001, 1}};
  const std::string Bytes = Generate(O);
  tFastEchoConfig Config;
  auto Empty = [&] { return Config.Areas.Count() + Config.Nodes.Count() + Config.Extensions.Count() == 0; };
  // Every length through a memory stream; a sample of them, the region
  // boundaries among them, through a real file as well.
  for (size_t Length = 0; Length < Bytes.size(); ++Length) {
    tMemoryStream In;
    In.WriteStr(std::string_view(Bytes).substr(0, Length));
    In.Seek(0);
    ASSERT_TRUE(Config.LoadFrom(In)) << Length;
    ASSERT_TRUE(Empty()) << Length;
    // The reason names a region that begins within what is there and
    // reaches past its end.
    In.Seek(0);
    tFELoadReport R = tFastEchoConfig::WhyLoadFromFails(In);
    ASSERT_EQ(R.Fault, flShort) << Length;
    EXPECT_LE(R.At, static_cast<int64_t>(Length)) << Length << " " << R.Region;
    EXPECT_GT(R.At + R.Needs, static_cast<int64_t>(Length)) << Length << " " << R.Region;
    EXPECT_EQ(R.Size, static_cast<int64_t>(Length));
  }
  tScratch Dir;
  for (size_t Length : {size_t{0}, size_t{1}, size_t{4643}, size_t{4644}, size_t{4649}, size_t{4650}, Bytes.size() - 191,
                        Bytes.size() - 190, Bytes.size() - 1}) {
    WriteAll(Dir.File("cut.cfg"), Bytes.substr(0, Length));
    EXPECT_TRUE(Config.Load(Dir.File("cut.cfg"))) << Length;
    EXPECT_TRUE(Empty()) << Length;
  }
  WriteAll(Dir.File("cut.cfg"), Bytes);
  EXPECT_FALSE(Config.Load(Dir.File("cut.cfg")));
}

// Counts and lengths that claim more than the file holds fail at once (with
// no allocation of what they claim); negative lengths mean nothing to read
// and the file still comes back byte for byte.
TEST(FeConfigLoad, AbsurdAndNegativeLengths) {
  tFeGenOptions O;
  O.Areas = 3, O.Nodes = 2, O.Blocks = {{0x0002, 10}};
  const std::string Good = Generate(O);
  const size_t Block = 4644;
  struct tCase {
    const char* Name;
    std::function<void(std::string&)> Patch;
    bool Loads;
  } Cases[] = {
      {"unknown block of 2^31-1 bytes", [&](std::string& B) { Put32(B, Block + 2, 0x7FFFFFFF); }, false},
      {"known block of 2^31-1 bytes", [&](std::string& B) { Put16(B, Block, 0x0006), Put32(B, Block + 2, 0x7FFFFFFF); }, false},
      {"extension area of 2^31-1 bytes", [](std::string& B) { Put32(B, 4640, 0x7FFFFFFF); }, false},
      {"65535 nodes", [](std::string& B) { Put16(B, 6, 0xFFFF); }, false},
      {"65535 areas", [](std::string& B) { Put16(B, 8, 0xFFFF); }, false},
      {"65535 area bits", [](std::string& B) { Put16(B, 4634, 0xFFFF); }, false},
      {"negative block length",
       [&](std::string& B) { Put32(B, Block + 2, 0xFFFFFFF6), B.erase(Block + 6, 10), Put32(B, 4640, 6); }, true},
      {"negative extension length",
       [&](std::string& B) { Put32(B, 4640, 0x80000000u), B.erase(Block, 16); }, true},
  };
  tScratch Dir;
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::string Bytes = Good;
    C.Patch(Bytes);
    WriteAll(Dir.File("setup.cfg"), Bytes);
    tFastEchoConfig Config;
    ASSERT_EQ(Config.Load(Dir.File("setup.cfg")), !C.Loads);
    EXPECT_EQ(tFastEchoConfig::WhyLoadFails(Dir.File("setup.cfg")).Fault, C.Loads ? flLoads : flShort);
    if (!C.Loads) continue;
    EXPECT_EQ(Config.Areas.Count(), 3u);
    ASSERT_FALSE(Config.Store(Dir.File("copy.cfg")));
    EXPECT_TRUE(ReadAll(Dir.File("copy.cfg")) == Bytes);
  }
}

// Why a file does not load, in the words the sysop is shown; Load's result
// stays its own.
TEST(FeConfigLoad, WhyAFileDoesNotLoad) {
  tScratch Dir;
  tFeGenOptions O;
  O.Areas = 2, O.Nodes = 3, O.AreaBits = 16, O.Blocks = {{0x0002, 10}};
  const std::string Good = Generate(O);
  const int64_t Nodes = 4644 + 16, Areas = Nodes + 3 * (95 + 2);
  std::string Revision5 = Good;
  Put16(Revision5, 0, 5);
  struct tCase {
    const char* Name;
    std::string Bytes;  // empty: no file
    const char* Text;
  } Cases[] = {
      {"missing", "", "there is no such file"},
      {"revision 5", Revision5, "revision 5, where 6 is needed"},
      {"a header cut", Good.substr(0, 100), "shorter than the 4644-byte header: the file has 100 bytes"},
      {"the block cut", Good.substr(0, 4650), "shorter than its header says: extension area from offset 4644, 16 bytes, but the file ends at 4650"},
      {"a node cut", Good.substr(0, static_cast<size_t>(Nodes + 100)),
       "shorter than its header says: node records from offset 4660, 291 bytes, but the file ends at 4760"},
      {"an area cut", Good.substr(0, static_cast<size_t>(Areas + 189)),
       "shorter than its header says: area records from offset 4951, 380 bytes, but the file ends at 5140"},
      {"whole", Good, "it loads"},
  };
  for (const tCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::string File = Dir.File("setup.cfg");
    std::filesystem::remove(File);
    if (!C.Bytes.empty()) WriteAll(File, C.Bytes);
    tFastEchoConfig Config;
    tFELoadReport R = tFastEchoConfig::WhyLoadFails(File);
    EXPECT_EQ(FELoadReportText(R), C.Text);
    EXPECT_EQ(Config.Load(File), R.Fault != flLoads);
  }
  std::filesystem::create_directory(Dir.File("folder.cfg"));
  EXPECT_EQ(FELoadReportText(tFastEchoConfig::WhyLoadFails(Dir.File("folder.cfg"))), "it is a folder, not a file");
  // Held by another program that lets no reader in.
  WriteAll(Dir.File("setup.cfg"), Good);
  tBufStream Holder(Dir.File("setup.cfg"), fmOpen | fmReadWrite | fmDenyAll);
  ASSERT_EQ(Holder.Status, stOk);
  EXPECT_EQ(tFastEchoConfig::WhyLoadFails(Dir.File("setup.cfg")).Fault, flInUse);
}

TEST(FeConfigFind, ComparesWholeTagsWithoutRegardToCase) {
  const std::string Tag52(52, 'T');
  tFeGenOptions O;
  O.Areas = 0;
  O.ExplicitAreas = {Area("ECHO.ONE"), Area("\x80\x8F\x90\x9F\xF0"), Area(Tag52), Area("SPACE.TAG"),
                     Area("\xA0\xE0\xF1.lower"), Area("DUP"), Area("DUP")};
  tScratch Dir;
  WriteAll(Dir.File("setup.cfg"), Generate(O));
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
  struct tCase {
    std::string Query;
    int32_t Want;
  } Cases[] = {
      {"echo.one", 0},
      {"EcHo.OnE", 0},
      {std::string("ECHO.ONE\0junk", 13), 0},
      {"ECHO.ON", -1},
      {"ECHO.ONE.", -1},
      {"\xA0\xAF\xE0\xEF\xF1", 1},
      {"\x80\x8F\x90\x9F\xF1", 1},
      {Tag52, 2},
      {Tag52 + "MORE", 2},
      {Tag52.substr(1), -1},
      {"space.tag", 3},
      {"SPACE.TAG ", -1},
      {" SPACE.TAG", -1},
      {"\x80\x90\xF0.LOWER", 4},
      {"dup", 5},
      {"", -1},
      {"NOT.THERE", -1},
  };
  for (const tCase& C : Cases) EXPECT_EQ(Config.FindArea(C.Query), C.Want) << C.Query;
}

// The file that Store writes after a removal, built from the original bytes
// with the layout written out here: the area's 190 bytes gone, AreaCount one
// lower, and bit k cleared in every node's bitmap.
std::string ExpectedAfterRemoval(std::string B, int32_t Index) {
  const uint32_t Nodes = Get16(B, 6), Areas = Get16(B, 8), BitmapBytes = Get16(B, 4634) / 8;
  const size_t AreasAt = B.size() - Areas * 190u, NodesAt = AreasAt - Nodes * (95u + BitmapBytes);
  const uint32_t K = Get16(B, AreasAt + Index * 190u + 54);
  for (uint32_t N = 0; N < Nodes; ++N)
    if (K / 8 < BitmapBytes) B[NodesAt + N * (95u + BitmapBytes) + 95 + K / 8] &= static_cast<char>(~(0x80 >> (K % 8)));
  B.erase(AreasAt + Index * 190u, 190);
  Put16(B, 8, static_cast<uint16_t>(Areas - 1));
  return B;
}

TEST(FeConfigRemove, DropsTheRecordAndItsBitInEveryNode) {
  tFeGenOptions O;
  O.Areas = 20, O.Nodes = 9, O.AreaBits = 61;
  // Bit 5 is byte 0, mask 0x04; 60 and 70 lie beyond a 7-byte bitmap.
  O.ExplicitAreas = {Area("FIVE", 2, 5), Area("SIXTY", 3, 60), Area("SEVENTY", 1, 70)};
  O.Links = {{0, 5}, {3, 5}};
  tScratch Dir;
  std::string Bytes = Generate(O);
  for (const char* Tag : {"five", "SEVENTY", "sixty", "RU.AREA0"}) {
    SCOPED_TRACE(Tag);
    WriteAll(Dir.File("setup.cfg"), Bytes);
    tFastEchoConfig Config;
    ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
    int32_t Index = Config.FindArea(Tag);
    ASSERT_GE(Index, 0);
    Config.RemoveArea(Index);
    EXPECT_EQ(Config.Header.AreaCount(), Config.Areas.Count());
    EXPECT_EQ(Config.FindArea(Tag), -1);
    ASSERT_FALSE(Config.Store(Dir.File("setup.cfg")));
    EXPECT_TRUE(ReadAll(Dir.File("setup.cfg")) == ExpectedAfterRemoval(Bytes, Index));
  }
}

TEST(FeConfigRemove, OutOfRangeDuplicatesAndTheOnlyArea) {
  tFeGenOptions O;
  O.Areas = 0, O.Nodes = 2, O.NodeLinks = fglAll;
  O.ExplicitAreas = {Area("DUP", 1, 1), Area("ONE", 1, 2), Area("DUP", 1, 3)};
  tScratch Dir;
  std::string Bytes = Generate(O);
  WriteAll(Dir.File("setup.cfg"), Bytes);
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
  for (int32_t Bad : {-1, 3, 0x7FFFFFFF}) Config.RemoveArea(Bad);
  ASSERT_FALSE(Config.Store(Dir.File("same.cfg")));
  EXPECT_TRUE(ReadAll(Dir.File("same.cfg")) == Bytes);

  // The earlier of two equal tags goes first, then the later one.
  Config.RemoveArea(Config.FindArea("dup"));
  ASSERT_EQ(Config.FindArea("dup"), 1);
  EXPECT_EQ(Config.Areas[1].LinkIndex(), 3);
  Config.RemoveArea(1);
  EXPECT_EQ(Config.FindArea("DUP"), -1);
  EXPECT_EQ(Config.Nodes[0].AreaBitmap[0], 0x20);  // only bit 2 (ONE) is left
  Config.RemoveArea(Config.FindArea("ONE"));
  EXPECT_EQ(Config.Header.AreaCount(), 0);
  ASSERT_FALSE(Config.Store(Dir.File("empty.cfg")));
  std::string Stored = ReadAll(Dir.File("empty.cfg"));
  EXPECT_EQ(Stored.size(), Bytes.size() - 3 * 190);
  tFastEchoConfig Again;
  ASSERT_FALSE(Again.Load(Dir.File("empty.cfg")));
  ExpectSameObject(Config, Again);
}

TEST(FeConfigStore, StoredFileLoadsBackToTheSameObject) {
  tFeGenOptions O;
  O.Areas = 200, O.Nodes = 12, O.NodeBits = 256;
  tScratch Dir;
  WriteAll(Dir.File("setup.cfg"), Generate(O));
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Dir.File("setup.cfg")));
  for (int32_t Index : {0, 50, 197, 10}) Config.RemoveArea(Index);
  ASSERT_FALSE(Config.Store(Dir.File("setup.cfg")));
  std::string First = ReadAll(Dir.File("setup.cfg"));
  ASSERT_FALSE(Config.Store(Dir.File("setup.cfg")));  // the object is still whole
  EXPECT_TRUE(ReadAll(Dir.File("setup.cfg")) == First);
  tFastEchoConfig Again;
  ASSERT_FALSE(Again.Load(Dir.File("setup.cfg")));
  ExpectSameObject(Config, Again);
  EXPECT_EQ(Dir.Entries(), 1u);  // no temporary file left behind
}

// Forwards to the real file system and fails one chosen call.
class tFaultyFileSystem : public tForwardingFileSystem {
 public:
  enum tCall { fcNone, fcOpen, fcWrite, fcSync, fcClose, fcReplace, fcSyncDir };
  tFaultyFileSystem(tCall Fail, int Nth = 1) : Fail_(Fail), Nth_(Nth) {}
  int Writes = 0;

  bool Open(std::string_view Path, uint16_t Mode, intptr_t& Handle, int& Error) override {
    if (Fail_ == fcOpen) return Error = 5, false;
    return Real().Open(Path, Mode, Handle, Error);
  }
  int32_t Write(intptr_t H, const void* Buf, uint32_t Count) override {
    if (Fail_ == fcWrite && ++Writes == Nth_) return -1;
    if (Fail_ == fcNone) ++Writes;
    return Real().Write(H, Buf, Count);
  }
  bool Sync(intptr_t H) override { return Fail_ != fcSync && Real().Sync(H); }
  bool Close(intptr_t H) override { return Real().Close(H) && Fail_ != fcClose; }
  bool Replace(std::string_view Source, std::string_view Target) override {
    return Fail_ != fcReplace && Real().Replace(Source, Target);
  }
  bool SyncDir(std::string_view Path) override { return Fail_ != fcSyncDir && Real().SyncDir(Path); }

 private:
  tCall Fail_;
  int Nth_;
};

class tInstall {
 public:
  explicit tInstall(tFileSystem& Fs) { SetFileSystem(&Fs); }
  ~tInstall() { SetFileSystem(nullptr); }
};

TEST(FeConfigStore, AFailedStoreLeavesTheOriginalAsItWas) {
  tFeGenOptions O;
  O.Areas = 300, O.Nodes = 20;
  tScratch Dir;
  const std::string Original = Generate(O);
  const std::string Target = Dir.File("setup.cfg");
  WriteAll(Target, Original);
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Target));
  Config.RemoveArea(7);

  int Writes;
  {
    tFaultyFileSystem Counting(tFaultyFileSystem::fcNone);
    tInstall Use(Counting);
    ASSERT_FALSE(Config.Store(Dir.File("probe.cfg")));
    Writes = Counting.Writes;
  }
  ASSERT_GT(Writes, 1);
  std::vector<std::pair<tFaultyFileSystem::tCall, int>> Faults;
  for (int K = 1; K <= Writes; ++K) Faults.push_back({tFaultyFileSystem::fcWrite, K});
  for (auto C : {tFaultyFileSystem::fcOpen, tFaultyFileSystem::fcSync, tFaultyFileSystem::fcClose,
                 tFaultyFileSystem::fcReplace})
    Faults.push_back({C, 1});
  for (auto [Call, Nth] : Faults) {
    SCOPED_TRACE(::testing::Message() << "call " << Call << " #" << Nth);
    {
      tFaultyFileSystem Faulty(Call, Nth);
      tInstall Use(Faulty);
      EXPECT_TRUE(Config.Store(Target));
    }
    EXPECT_TRUE(ReadAll(Target) == Original);
    EXPECT_EQ(Dir.Entries(), 2u);  // setup.cfg and probe.cfg, no temporary file
  }
  ASSERT_FALSE(Config.Store(Target));
  EXPECT_TRUE(ReadAll(Target) == ReadAll(Dir.File("probe.cfg")));
}

TEST(FeConfigStore, OnlyTheFolderSyncFailedTheNewFileIsInPlaceAndSaidSo) {
  tScratch Dir;
  const std::string Target = Dir.File("setup.cfg");
  WriteAll(Target, Generate(tFeGenOptions()));
  tFastEchoConfig Config;
  ASSERT_FALSE(Config.Load(Target));
  Config.RemoveArea(0);
  bool Placed = false;
  {
    tFaultyFileSystem Faulty(tFaultyFileSystem::fcSyncDir);
    tInstall Use(Faulty);
    EXPECT_TRUE(Config.Store(Target, &Placed));
  }
  EXPECT_TRUE(Placed);
  tFastEchoConfig Stored;
  ASSERT_FALSE(Stored.Load(Target));
  ExpectSameObject(Config, Stored);
  EXPECT_EQ(Dir.Entries(), 1u);  // no temporary file left behind
  EXPECT_FALSE(Config.Store(Target, &Placed));
  EXPECT_TRUE(Placed);
}

}  // namespace
}  // namespace kelvane
