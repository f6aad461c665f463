// tFastEchoConfig: one FastEcho configuration file (revision 6) in memory.
//
// kelvane removes echo areas from this file, and FastEcho reads it again
// afterwards, so every byte that kelvane does not interpret is held as read
// and written back unchanged: a file that is loaded and stored with no removal
// in between comes back byte for byte. The records are kept as byte arrays
// with typed accessors over the few fields that are read or changed; the
// layout is described in doc/formats/fastecho-config.md, and the constants
// below are its offsets and sizes.
//
// Failures follow the system's convention: Load and Store return true when
// they failed. Nothing here prints.
#ifndef KELVANE_FECFG_FECONFIG_H_
#define KELVANE_FECFG_FECONFIG_H_

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/coding.h"
#include "runtime/collection.h"
#include "runtime/short_string.h"

namespace kelvane {

class tStream;

// Layout of the file; see doc/formats/fastecho-config.md.
constexpr uint16_t feRevision = 6;

constexpr uint32_t feHeaderSize = 4644;
constexpr uint32_t feHdrRevision = 0;           // u16
constexpr uint32_t feHdrNodeCount = 6;          // u16
constexpr uint32_t feHdrAreaCount = 8;          // u16
constexpr uint32_t feHdrNetmailDir = 12;        // text, 56 bytes
constexpr uint32_t feHdrSemaphoreDir = 908;     // text, 56 bytes
constexpr uint32_t feHdrAreaBitmapBits = 4634;  // u16
constexpr uint32_t feHdrNodeBitmapBits = 4636;  // u16
constexpr uint32_t feHdrExtensionLength = 4640; // i32
constexpr uint32_t fePathWidth = 56;

constexpr uint32_t feExtHeaderSize = 6;  // u16 BlockType, i32 BlockLength
constexpr uint16_t feExtNodeBitmapType = 0x0006;
constexpr uint32_t feExtNodeRecordSize = 206;  // before its node bitmap

constexpr uint32_t feNodeRecordSize = 95;  // followed by the area bitmap
// The node's address opens its record: zone, net, node, point, u16 each.
constexpr uint32_t feNodeZone = 0;
constexpr uint32_t feNodeNet = 2;
constexpr uint32_t feNodeNode = 4;
constexpr uint32_t feNodePoint = 6;

constexpr uint32_t feAreaRecordSize = 190;
constexpr uint32_t feAreaTag = 0;          // text, 52 bytes
constexpr uint32_t feAreaLinkIndex = 54;   // u16
constexpr uint32_t feAreaStorageWord = 62; // u16
constexpr uint32_t feAreaBasePath = 82;    // text, 56 bytes
constexpr uint32_t feTagWidth = 52;
constexpr uint16_t feBaseTypeMask = 0x6F;

// Size in the file of one record of an extension block of BlockType, the
// node bitmap of a type-0x0006 record not included. 0 for a type that is not
// in the table: such a block is one record spanning the whole block.
uint32_t FEExtRecordSize(uint16_t BlockType);

// The 4644 header bytes as read.
struct tFEConfigHeader {
  std::array<uint8_t, feHeaderSize> Bytes{};

  uint16_t Revision() const { return GetU16(&Bytes[feHdrRevision]); }
  uint16_t NodeCount() const { return GetU16(&Bytes[feHdrNodeCount]); }
  uint16_t AreaCount() const { return GetU16(&Bytes[feHdrAreaCount]); }
  void SetAreaCount(uint16_t Value) { PutU16(&Bytes[feHdrAreaCount], Value); }
  tShortString NetmailDir() const { return GetTextField(&Bytes[feHdrNetmailDir], fePathWidth); }
  tShortString SemaphoreDir() const { return GetTextField(&Bytes[feHdrSemaphoreDir], fePathWidth); }
  uint16_t AreaBitmapBits() const { return GetU16(&Bytes[feHdrAreaBitmapBits]); }
  uint16_t NodeBitmapBits() const { return GetU16(&Bytes[feHdrNodeBitmapBits]); }
  int32_t ExtensionLength() const { return GetI32(&Bytes[feHdrExtensionLength]); }
  // Bytes of each node's area bitmap and of each type-0x0006 node bitmap.
  uint32_t AreaBitmapBytes() const { return AreaBitmapBits() / 8u; }
  uint32_t NodeBitmapBytes() const { return NodeBitmapBits() / 8u; }
};

// One record of an extension block: its bytes as read. A type-0x0006 record
// holds its 206 fixed bytes in Bytes and its node bitmap apart in NodeBitmap;
// other records leave NodeBitmap empty.
struct tFEExtRecord {
  std::vector<uint8_t> Bytes;
  std::vector<uint8_t> NodeBitmap;
};

// An extension block: its 6-byte header as read and its records in order.
struct tFEExtBlock {
  uint16_t BlockType = 0;
  int32_t BlockLength = 0;  // as read; never recomputed
  tCollection<tFEExtRecord> Records;
};

// A node record: 95 carried bytes and the node's area bitmap, in which bit k
// (byte k div 8, mask 0x80 shr (k mod 8)) links the node to the area whose
// LinkIndex is k.
struct tFENodeEntry {
  std::array<uint8_t, feNodeRecordSize> Bytes{};
  std::vector<uint8_t> AreaBitmap;

  uint16_t Zone() const { return GetU16(&Bytes[feNodeZone]); }
  uint16_t Net() const { return GetU16(&Bytes[feNodeNet]); }
  uint16_t Node() const { return GetU16(&Bytes[feNodeNode]); }
  uint16_t Point() const { return GetU16(&Bytes[feNodePoint]); }

  // False for a bit beyond the bitmap.
  bool IsLinked(uint32_t Bit) const;
  // Clears bit Bit; a bit beyond the bitmap is left alone.
  void Unlink(uint32_t Bit);
};

// An area record, 190 bytes.
struct tFEAreaRecord {
  std::array<uint8_t, feAreaRecordSize> Bytes{};

  tShortString Tag() const { return GetTextField(&Bytes[feAreaTag], feTagWidth); }
  uint16_t LinkIndex() const { return GetU16(&Bytes[feAreaLinkIndex]); }
  uint16_t StorageWord() const { return GetU16(&Bytes[feAreaStorageWord]); }
  tShortString BasePath() const { return GetTextField(&Bytes[feAreaBasePath], fePathWidth); }
};

// Why a file does not load (tFastEchoConfig::WhyLoadFails).
enum tFELoadFault : uint8_t {
  flLoads,       // nothing: it loads
  flMissing,     // no file of that name
  flNotAFile,    // a folder of that name
  flInUse,       // another program holds it and lets no reader in
  flCannotOpen,  // there, but it cannot be opened for reading
  flRevision,    // Revision is not 6
  flShort,       // it ends before a region its header or a block says it holds
  flReadError,   // a read failed although the bytes are there
};

struct tFELoadReport {
  tFELoadFault Fault = flLoads;
  uint16_t Revision = 0;    // flRevision: the file's
  const char* Region = "";  // flShort, flReadError: "header", "node records", ...
  int64_t At = 0;           // where that region begins
  int64_t Needs = 0;        // the bytes it takes from At, by the file's counts
  int64_t Size = 0;         // the file's size, once it could be opened
};

// The report in a sysop's words: "there is no such file", "revision 5,
// where 6 is needed", "shorter than its header says: node records from
// offset 4650, 380 bytes, but the file ends at 4700", ...
tShortString FELoadReportText(const tFELoadReport& Report);

class tFastEchoConfig {
 public:
  tFastEchoConfig() { Init(); }
  ~tFastEchoConfig() { Done(); }
  tFastEchoConfig(const tFastEchoConfig&) = delete;
  tFastEchoConfig& operator=(const tFastEchoConfig&) = delete;

  // Empty lists, header all zero.
  void Init();
  // Frees every record and bitmap and zeroes the header.
  void Clear();
  // Clear, releasing the lists' storage.
  void Done();

  // Reads the whole file. True on failure: a missing file (the object keeps
  // what it held), a file that cannot be opened, a revision other than 6, or
  // a file shorter than its counts and lengths say. After any failure other
  // than a missing file the object is left empty, so that a half-read
  // configuration can never be stored over the real one. The file is opened
  // for reading with deny-none sharing and closed before returning.
  bool Load(std::string_view FileName);

  // Writes the object to FileName through tReplacingFile: the bytes go to
  // FileName + ".$$$", created new and never through a link, flushed to the
  // disk, which then takes the place of FileName (of the file it links to)
  // in one step, with its permission bits. True on failure; after a failure
  // FileName is as it was and the temporary file is gone, unless only the
  // sync of its folder failed after the new file took its place: Placed,
  // when given, tells that case (true once the new file is in place). The
  // object is not changed.
  bool Store(std::string_view FileName, bool* Placed = nullptr) const;

  // The same two on any stream, for tests and tools that hold the bytes in
  // memory. LoadFrom reads from In's position to its end; it fails and
  // leaves the object empty as Load does.
  // WriteTo writes the file's bytes at Out's position; failures show in
  // Out's status word.
  bool LoadFrom(tStream& In);
  void WriteTo(tStream& Out) const;

  // Why Load(FileName) fails: the file is looked at and read again the way
  // Load reads it, for reading only, into an object of its own; flLoads
  // when it loads. Load's result is its own: this only explains it.
  static tFELoadReport WhyLoadFails(std::string_view FileName);
  // The same for the bytes from In's position to its end (LoadFrom).
  static tFELoadReport WhyLoadFromFails(tStream& In);

  tShortString NetmailPath() const { return Header.NetmailDir(); }
  tShortString SemaphorePath() const { return Header.SemaphoreDir(); }

  // Position of the first area whose tag equals Tag without regard to case
  // (code page 866), or -1. Tag is taken up to a NUL and cut to 52
  // characters; blanks count.
  int32_t FindArea(std::string_view Tag) const;
  // The area's BasePath, or "" for an index out of range.
  tShortString AreaPath(int32_t Index) const;
  // The area's StorageWord and 0x6F, or -1 for an index out of range.
  int16_t AreaBaseType(int32_t Index) const;
  // Drops the area, clears its LinkIndex bit in every node and lowers
  // AreaCount by one. An index out of range does nothing.
  void RemoveArea(int32_t Index);

  tFEConfigHeader Header;
  tCollection<tFEExtBlock> Extensions;
  tCollection<tFENodeEntry> Nodes;
  tCollection<tFEAreaRecord> Areas;
  // Whatever follows the last area record, carried as it is: nothing of the
  // file is dropped because this program does not know what it is.
  std::vector<uint8_t> Trailer;

 private:
  // LoadFrom, telling Why (when given) where it failed.
  bool LoadFrom(tStream& In, tFELoadReport* Why);
  bool ReadRegions(tStream& In, int64_t FileSize, tFELoadReport* Why);
};

}  // namespace kelvane

#endif  // KELVANE_FECFG_FECONFIG_H_
