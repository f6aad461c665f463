#include "runtime/path.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvane {
namespace {

// S turns '/' into the separator the helpers add on this system.
std::string S(std::string Text) {
  for (char& C : Text)
    if (C == '|') C = PathSeparator;
  return Text;
}

TEST(Path, CutsPathsIntoTheirPieces) {
  struct {
    const char* Path;
    const char* Dir;
    const char* Name;
    const char* Ext;
    const char* Base;
  } Cases[] = {
      {"C:\\FIDO\\NETMAIL\\*.msg", "C:\\FIDO\\NETMAIL", "*.msg", "msg", "*"},
      {"C:\\X", "C:\\", "X", "", "X"},
      {"C:X", "C:", "X", "", "X"},
      {"C:", "C:", "", "", ""},
      {"\\X", "\\", "X", "", "X"},
      {"AREA1.SQD", "", "AREA1.SQD", "SQD", "AREA1"},
      {"C:\\BASES\\AREA1.JDX", "C:\\BASES", "AREA1.JDX", "JDX", "AREA1"},
      {"C:\\IN\\a.b.c.pkt", "C:\\IN", "a.b.c.pkt", "pkt", "a.b.c"},
      {"C:\\D.X\\noext", "C:\\D.X", "noext", "", "noext"},
      {"dir\\trailingdot.", "dir", "trailingdot.", "", "trailingdot"},
      {"", "", "", "", ""},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Path);
    EXPECT_EQ(DirPart(C.Path), C.Dir);
    EXPECT_EQ(FileNamePart(C.Path), C.Name);
    EXPECT_EQ(ExtensionOf(C.Path), C.Ext);
    EXPECT_EQ(BaseNameOf(C.Path), C.Base);
  }
}

TEST(Path, FileNamePartIsCutTo64Characters) {
  std::string Long(100, 'n');
  EXPECT_EQ(FileNamePart("C:\\X\\" + Long + ".msg"), std::string(64, 'n'));
  // The cut comes first: the extension of a cut name is what is left of it.
  std::string Name = std::string(60, 'a') + ".b" + std::string(10, 'c');
  EXPECT_EQ(ExtensionOf("d\\" + Name), "bcc");
}

TEST(Path, AddBackslash) {
  EXPECT_EQ(AddBackslash(""), "");
  EXPECT_EQ(AddBackslash("C:"), "C:");
  EXPECT_EQ(AddBackslash("C:\\"), "C:\\");
  EXPECT_EQ(AddBackslash("C:\\FIDO"), S("C:\\FIDO|"));
  EXPECT_EQ(AddBackslash(AddBackslash("x")), S("x|"));
}

TEST(Path, SlashIsASeparatorOnlyOnPosix) {
#ifndef _WIN32
  EXPECT_EQ(DirPart("/srv/x/y"), "/srv/x");
  EXPECT_EQ(DirPart("/x"), "/");
  EXPECT_EQ(FileNamePart("/srv/x/y"), "y");
  EXPECT_EQ(AddBackslash("/srv/x/"), "/srv/x/");
  EXPECT_EQ(DirPart("C:\\FE/setup.cfg"), "C:\\FE");
#else
  EXPECT_EQ(DirPart("/srv/x/y"), "");
  EXPECT_EQ(FileNamePart("/srv/x/y"), "/srv/x/y");
#endif
}

}  // namespace
}  // namespace kelvane
