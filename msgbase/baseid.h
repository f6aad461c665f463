// Base identifiers: one string that names a message base. It is a type
// letter followed by a path, or a bare path whose extension tells the type:
//
//   "F" or "#"  *.MSG directory   path: directory + separator + "*.msg"
//   "S" or "$"  Squish            path: directory + base name, no extension
//   "J" or "!"  JAM               path: directory + base name, no extension
//   "P"         type-2 packet     path: directory + packet file name
//
// Letters are compared after UpperCase866. A bare path gets its letter from
// its extension (".jhr", ".jdt", ".jdx" JAM; ".sqd", ".sqi" Squish; ".pkt"
// packet; none at all a *.MSG directory). Because the first character is
// always read as a letter when it is one, a relative path such as
// "Fido\netmail" means the letter F and the path "ido\netmail".
//
// NormaliseBasePath gives the canonical form, OpenBase builds and opens the
// format's object, DeleteBase removes a base's files from disk, EraseFile
// removes one file unless another process holds it open.
#ifndef KELVANE_MSGBASE_BASEID_H_
#define KELVANE_MSGBASE_BASEID_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

#include "runtime/short_string.h"

namespace kelvane {

class tMsgBase;

// The storage formats in the order of the letter table "PSJF".
enum tBaseKind : int { bkPacket, bkSquish, bkJam, bkMsgDir, bkNone };

// The format a type letter names ("P", "S"/"$", "J"/"!", "F"/"#", any case);
// bkNone for any other character.
tBaseKind BaseKindOf(char Letter);

// The canonical identifier; empty for an empty identifier and for one
// whose canonical form does not fit 255 characters (cut, it could name
// another base). An identifier that is already canonical comes back
// unchanged.
tShortString NormaliseBasePath(std::string_view Identifier);

// Joins Parts into Out when the whole fits a system string (255
// characters). A name that does not fit is refused, never cut, since the
// cut name could be another file's: false, and Out empty.
bool WholeName(tShortString& Out, std::initializer_list<std::string_view> Parts);

// Splits an identifier: normalises it, then Kind := the format of its first
// character and Path := the rest (what the format's Open and Create take).
// Returns true (failure) for an identifier of one character or none, which
// names no base, and for one that does not fit; Kind is then bkNone and
// Path empty.
bool SplitBaseId(std::string_view Identifier, tBaseKind& Kind, tShortString& Path);

// Constructs the object of the identifier's format and opens it with Mode
// as its OpenMode, creating the base when the open fails. Yields nothing
// (and creates nothing) for an identifier of one character or none, one
// that does not fit, a letter that names no format, or an open and a
// create that both failed. Prepare, when given, is run on the new object before it is
// opened (a packet's addresses and password, which its Create writes).
std::unique_ptr<tMsgBase> OpenBase(std::string_view Identifier, int32_t Mode,
                                   const std::function<void(tMsgBase&)>& Prepare = {});

// The format's name for a sysop: "*.MSG", "Squish", "JAM", "packet".
const char* FormatName(tBaseKind Kind);

// The identifier of a bare path: the type letter its extension names,
// then the path as it stands, whatever its first character is (so
// "jam/echo.jhr" is "!jam/echo.jhr", not the letter J and "am/echo.jhr").
// Empty when the extension names no format or the result does not fit.
tShortString BarePathId(std::string_view Path);

// Whether two identifiers name one base: the same format on the same path
// (full paths, compared without regard to case as Windows finds names).
bool SameBase(std::string_view A, std::string_view B);
// Whether two paths name the same file or folder in that way.
bool SamePath(std::string_view A, std::string_view B);

// The files of a base that exist now: those DeleteBase removes (below).
// Returns true for an identifier that names no base (empty, or a letter
// with no path after it) and for one that does not fit 255 characters, or
// one of whose files' names would not (cut, it would name another file);
// Files is then empty.
bool BaseFiles(std::string_view Identifier, std::vector<tShortString>& Files);

// Deletes the files of a base, all of them or none:
//   *.MSG   every "*.msg" file of the directory whose extension is MSG
//           (the last-read file and the directory stay)
//   Squish  path + ".sqd", ".sqi", ".sql"
//   JAM     path + ".jhr", ".jdt", ".jdx", ".jlr", ".jqv"
//   packet  the packet file
// Files that are not there are no part of it; on a system where names
// differ by case, when a file of exactly the base's name is there, a file
// whose name differs from it only by case belongs to another base. The
// format's lock (on the .sqd, the .jhr, the packet) must be had, waiting
// as writers wait, and is held while the files go. When another program
// keeps that lock, or one of the files is held open by another process,
// has no write permission (read-only), or cannot be removed for another
// reason found beforehand, every file stays. Returns true when the
// identifier names no base (empty, a letter with no path after it, or one
// that does not fit, or whose base has a file whose name would not) or
// the base could not go; false when its files are gone, or it had none.
bool DeleteBase(std::string_view Identifier);

// Puts every file of a base (those DeleteBase would remove) and its
// folder's entries on the disk, so that what was written survives a crash.
// True when one of them could not be.
bool SyncBase(std::string_view Identifier);

// Deletes the file Name when it exists (a directory does not count) and no
// other process holds it open: the file is first opened for reading with
// no sharing, and a file that cannot be opened so is left alone. A failed
// delete is not reported.
void EraseFile(std::string_view Name);

}  // namespace kelvane

#endif  // KELVANE_MSGBASE_BASEID_H_
