// The check of a *.MSG folder: every file the "*.msg" mask finds whose
// extension is MSG. Its name must be a message number as a reader asks for
// it (1.msg to 2147483647.msg, no leading zeros), it must be a file that
// can be read, hold the whole 190-byte header, and end its text with the
// closing NUL (doc/formats/msg.md). Files are opened for reading, shared.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "msgbase/baseid.h"
#include "msgbase/msgbase.h"
#include "msgbase/msgdir.h"
#include "runtime/case866.h"
#include "runtime/file_system.h"
#include "runtime/path.h"
#include "runtime/stream.h"
#include "msgbase/base_check.h"

namespace kelvane {

namespace {

// The message number a file name is, as a reader would ask for it; 0 when
// none: the file of message N is N in decimal without leading zeros.
int32_t MessageNumberOf(std::string_view Name) {
  size_t Dot = Name.find('.');
  std::string_view Word = Name.substr(0, Dot);
  if (Word.empty() || Word.size() > 10 || Word[0] == '0' || Word.find_first_not_of("0123456789") != std::string_view::npos)
    return 0;
  if (!SameText866(Name.substr(Dot + 1), "msg")) return 0;  // 1.2.msg is no message file
  long long Value = 0;
  if (!StrToInt(Word, Value) || Value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(Value);
}

// One message file: readable, its header whole, its text ended by a NUL.
void CheckMessageFile(const tShortString& File, tFindings& Findings) {
  Findings.Looked();
  tBufStream In(File, smOpenRead);
  if (In.Status != stOk) {
    Findings.Add(File, 0,
                 IsSharingViolation(In.ErrorInfo) ? "cannot be read: another program holds it" : "cannot be read");
    return;
  }
  const int64_t Size = In.GetSize();
  if (Size < MsgHeaderSize) {
    Findings.Add(File, Size, "the file ends inside the " + IntToStr(MsgHeaderSize).ToStdString() + "-byte header");
    return;
  }
  // The text is read in blocks until its NUL.
  In.Seek(MsgHeaderSize);
  std::vector<char> Block(64 * 1024);
  for (int64_t Pos = MsgHeaderSize; Pos < Size;) {
    uint32_t Want = static_cast<uint32_t>(std::min<int64_t>(static_cast<int64_t>(Block.size()), Size - Pos));
    In.Read(Block.data(), Want);
    if (In.Status != stOk) {
      Findings.Add(File, Pos, "a read failed");
      return;
    }
    if (std::find(Block.begin(), Block.begin() + Want, '\0') != Block.begin() + Want) return;
    Pos += Want;
  }
  Findings.Add(File, Size, "the text has no closing NUL: the file looks cut short");
}

}  // namespace

tCheckResult CheckMsgDir(const tShortString& Path, tFindings& Findings, std::string& Why) {
  tShortString Dir = DirPart(Path);
  if (!Dir.Empty() && !DirExists(Dir)) {
    Why = "no such folder";
    return crUnreadable;
  }
  std::vector<tDirEntry> Entries;
  if (!ListDir(Path, Entries)) {
    Why = "the folder cannot be listed";
    return crUnreadable;
  }
  struct tEntry {
    int32_t Number;  // 0: no message number
    tShortString Name, File;  // File empty: the whole name does not fit
    bool IsDir;
  };
  std::vector<tEntry> Files;
  for (const tDirEntry& E : Entries) {
    // The mask finds names such as "1.msgold" the way the system does; only
    // MSG files are the base's.
    size_t Dot = E.Name.FindLast('.');
    if (Dot == tShortString::npos || !SameText866(E.Name.Sub(Dot + 1), "msg")) continue;
    tEntry F{MessageNumberOf(E.Name), E.Name, {}, E.IsDir};
    WholeName(F.File, {AddBackslash(Dir), E.Name});
    Files.push_back(F);
  }
  // In the order of their numbers, then of their names (byte order).
  std::sort(Files.begin(), Files.end(), [](const tEntry& A, const tEntry& B) {
    return A.Number != B.Number ? A.Number < B.Number : A.Name < B.Name;
  });
  const long Before = Findings.Count();
  for (size_t I = 0; I < Files.size();) {
    // The files of one number: where case alone tells names apart (POSIX
    // keeps both), a reader asks for "N.msg" and takes that name as
    // written, else the first in byte order; the others are never read.
    size_t End = I + 1;
    while (Files[I].Number != 0 && End < Files.size() && Files[End].Number == Files[I].Number) ++End;
    size_t Read = I;
    for (size_t K = I; K < End; ++K)
      if (Files[K].Name == IntToStr(Files[K].Number) + ".msg") Read = K;
    for (size_t K = I; K < End; ++K) {
      const tEntry& F = Files[K];
      if (F.File.Empty())
        Findings.Add(F.Name, 0, "the name does not fit 255 characters with its folder: the file is never read");
      else if (F.IsDir)
        Findings.Add(F.File, 0, "a folder, not a message file");
      else if (F.Number == 0)
        Findings.Add(F.File, 0, "the name is no message number (1.msg to 2147483647.msg): the file is never read");
      else if (K != Read)
        Findings.Add(F.File, 0, "message " + IntToStr(F.Number).ToStdString() + " is " + Files[Read].Name.ToStdString() +
                                    ": this file of the same number is never read");
      else
        CheckMessageFile(F.File, Findings);
    }
    I = End;
  }
  return Findings.Count() > Before ? crDamaged : crClean;
}

}  // namespace kelvane
