// Loading, area removal and storing of FastEcho's configuration. The file is
// read region by region (header, extension blocks, node records, area
// records) and written back in the same order from what was held, so the
// bytes kelvane does not interpret pass through untouched.
#include "fecfg/feconfig.h"

#include <cstring>

#include "runtime/case866.h"
#include "runtime/file_system.h"
#include "runtime/replacing_file.h"
#include "runtime/stream.h"

namespace kelvane {

uint32_t FEExtRecordSize(uint16_t BlockType) {
  switch (BlockType) {
    case 0x0001: return 72;
    case 0x0006: return feExtNodeRecordSize;
    case 0x0007: return 42;
    case 0x0008: return 62;
    case 0x0009: return 128;
    case 0x000A:
    case 0x100A: return 74;
    case 0x000B:
    case 0x100B: return 64;
    case 0x000C: return 36;
    default: return 0;
  }
}

bool tFENodeEntry::IsLinked(uint32_t Bit) const {
  if (Bit / 8 >= AreaBitmap.size()) return false;
  return (AreaBitmap[Bit / 8] & (0x80u >> (Bit % 8))) != 0;
}

void tFENodeEntry::Unlink(uint32_t Bit) {
  if (Bit / 8 >= AreaBitmap.size()) return;
  AreaBitmap[Bit / 8] = static_cast<uint8_t>(AreaBitmap[Bit / 8] & ~(0x80u >> (Bit % 8)));
}

void tFastEchoConfig::Init() { Clear(); }

void tFastEchoConfig::Clear() {
  Extensions.Clear();
  Nodes.Clear();
  Areas.Clear();
  std::vector<uint8_t>().swap(Trailer);
  Header.Bytes.fill(0);
}

void tFastEchoConfig::Done() { Clear(); }

bool tFastEchoConfig::Load(std::string_view FileName) {
  if (!FileExists(FileName)) return true;
  Clear();
  tBufStream In(FileName, fmOpen | fmRead | fmDenyNone);
  if (In.Status != stOk) return true;
  bool Failed = LoadFrom(In);
  In.Close();
  return Failed;
}

bool tFastEchoConfig::LoadFrom(tStream& In) { return LoadFrom(In, nullptr); }

bool tFastEchoConfig::LoadFrom(tStream& In, tFELoadReport* Why) {
  Clear();
  const int64_t Start = In.GetPos(), Size = In.GetSize();
  if (Why) Why->Size = Size - Start;
  bool Failed = In.Status != stOk || Size < Start || ReadRegions(In, Size - Start, Why);
  if (Failed) Clear();
  if (Failed && Why && Why->Fault == flLoads) {
    Why->Fault = flReadError;
    Why->Region = "file";
  }
  return Failed;
}

// Reads the four regions from In, which holds FileSize bytes from its
// position on. Every count and length taken from the file is first checked
// against the bytes that are left, so a damaged file fails before anything
// is allocated for what it merely claims. Why, when given, learns which
// region failed and where.
bool tFastEchoConfig::ReadRegions(tStream& In, int64_t FileSize, tFELoadReport* Why) {
  int64_t Pos = 0;
  // Records a failure of Region, which begins at At and takes Needs bytes;
  // returns true (failed) for the caller to return.
  auto Fail = [&](tFELoadFault Fault, const char* Region, int64_t At, int64_t Needs) {
    if (Why) {
      Why->Fault = Fault;
      Why->Region = Region;
      Why->At = At;
      Why->Needs = Needs;
    }
    return true;
  };
  auto Short = [&](const char* Region, int64_t At, int64_t Needs) { return Fail(flShort, Region, At, Needs); };
  auto ReadExact = [&](void* Buf, uint32_t Count, const char* Region) {
    if (static_cast<int64_t>(Count) > FileSize - Pos) return !Short(Region, Pos, Count);
    int64_t At = Pos;
    In.Read(Buf, Count);
    Pos += Count;
    return In.Status == stOk || !Fail(flReadError, Region, At, Count);
  };

  if (!ReadExact(Header.Bytes.data(), feHeaderSize, "header")) return true;
  if (Header.Revision() != feRevision) {
    if (Why) Why->Revision = Header.Revision();
    return Fail(flRevision, "header", 0, feHeaderSize);
  }

  // The extension area runs while the position is below its end; a negative
  // length means there is none. Its blocks are read by their own lengths, so
  // the node records start where the last block ended.
  const int64_t ExtEnd = int64_t{feHeaderSize} + Header.ExtensionLength();
  if (ExtEnd > FileSize) return Short("extension area", feHeaderSize, Header.ExtensionLength());
  const uint32_t NodeBitmapBytes = Header.NodeBitmapBytes();
  while (Pos < ExtEnd) {
    const int64_t BlockStart = Pos;
    uint8_t BlockHeader[feExtHeaderSize];
    if (!ReadExact(BlockHeader, feExtHeaderSize, "extension block")) return true;
    tFEExtBlock Block;
    Block.BlockType = GetU16(BlockHeader);
    Block.BlockLength = GetI32(BlockHeader + 2);
    if (Block.BlockLength > 0) {
      // Records are read while the bytes counted so far are below
      // BlockLength; a block of an unknown type is one record of BlockLength
      // bytes. A length that is not a multiple of the record size still ends
      // on a whole record, which is written back the same way.
      uint32_t Fixed = FEExtRecordSize(Block.BlockType);
      uint32_t Extra = Block.BlockType == feExtNodeBitmapType ? NodeBitmapBytes : 0;
      if (Fixed == 0) Fixed = static_cast<uint32_t>(Block.BlockLength);
      const int64_t Step = int64_t{Fixed} + Extra;
      const int64_t Count = (Block.BlockLength + Step - 1) / Step;
      if (Count * Step > FileSize - Pos) return Short("extension block", BlockStart, feExtHeaderSize + Count * Step);
      for (int64_t I = 0; I < Count; ++I) {
        tFEExtRecord Record;
        Record.Bytes.resize(Fixed);
        if (!ReadExact(Record.Bytes.data(), Fixed, "extension block")) return true;
        if (Extra) {
          Record.NodeBitmap.resize(Extra);
          if (!ReadExact(Record.NodeBitmap.data(), Extra, "extension block")) return true;
        }
        Block.Records.Append(std::move(Record));
      }
    }
    Extensions.Append(std::move(Block));
  }

  const uint32_t AreaBitmapBytes = Header.AreaBitmapBytes();
  const int64_t NodeBytes = int64_t{Header.NodeCount()} * (feNodeRecordSize + AreaBitmapBytes);
  const int64_t AreaBytes = int64_t{Header.AreaCount()} * feAreaRecordSize;
  if (NodeBytes > FileSize - Pos) return Short("node records", Pos, NodeBytes);
  if (NodeBytes + AreaBytes > FileSize - Pos) return Short("area records", Pos + NodeBytes, AreaBytes);

  for (uint32_t I = 0; I < Header.NodeCount(); ++I) {
    tFENodeEntry Node;
    if (!ReadExact(Node.Bytes.data(), feNodeRecordSize, "node records")) return true;
    Node.AreaBitmap.resize(AreaBitmapBytes);
    if (AreaBitmapBytes && !ReadExact(Node.AreaBitmap.data(), AreaBitmapBytes, "node records")) return true;
    Nodes.Append(std::move(Node));
  }
  for (uint32_t I = 0; I < Header.AreaCount(); ++I) {
    tFEAreaRecord Area;
    if (!ReadExact(Area.Bytes.data(), feAreaRecordSize, "area records")) return true;
    Areas.Append(Area);
  }
  // The file's size bounds what is left, so nothing is taken on trust.
  if (FileSize > Pos) {
    if (FileSize - Pos > UINT32_MAX) return Fail(flReadError, "bytes after the areas", Pos, FileSize - Pos);
    Trailer.resize(static_cast<size_t>(FileSize - Pos));
    if (!ReadExact(Trailer.data(), static_cast<uint32_t>(Trailer.size()), "bytes after the areas")) return true;
  }
  return false;
}

tFELoadReport tFastEchoConfig::WhyLoadFromFails(tStream& In) {
  tFELoadReport Report;
  tFastEchoConfig Scratch;
  Scratch.LoadFrom(In, &Report);
  return Report;
}

tFELoadReport tFastEchoConfig::WhyLoadFails(std::string_view FileName) {
  tFELoadReport Report;
  // The same steps as Load, in its order.
  if (!FileExists(FileName)) {
    Report.Fault = DirExists(FileName) ? flNotAFile : flMissing;
    return Report;
  }
  tBufStream In(FileName, fmOpen | fmRead | fmDenyNone);
  if (In.Status != stOk) {
    Report.Fault = IsSharingViolation(In.ErrorInfo) ? flInUse : flCannotOpen;
    return Report;
  }
  Report = WhyLoadFromFails(In);
  In.Close();
  return Report;
}

tShortString FELoadReportText(const tFELoadReport& R) {
  auto Num = [](int64_t V) { return IntToStr(V); };
  switch (R.Fault) {
    case flLoads: return "it loads";
    case flMissing: return "there is no such file";
    case flNotAFile: return "it is a folder, not a file";
    case flInUse: return "another program holds it and lets no reader in";
    case flCannotOpen: return "it cannot be opened for reading";
    case flRevision: return "revision " + Num(R.Revision) + ", where " + Num(feRevision) + " is needed";
    case flShort:
      if (R.At == 0) return "shorter than the " + Num(feHeaderSize) + "-byte header: the file has " + Num(R.Size) + " bytes";
      return "shorter than its header says: " + tShortString(R.Region) + " from offset " + Num(R.At) + ", " +
             Num(R.Needs) + " bytes, but the file ends at " + Num(R.Size);
    case flReadError:
      return "a read failed in the " + tShortString(R.Region) + " at offset " + Num(R.At);
  }
  return tShortString();
}

int32_t tFastEchoConfig::FindArea(std::string_view Tag) const {
  size_t Nul = Tag.find('\0');
  if (Nul != std::string_view::npos) Tag = Tag.substr(0, Nul);
  if (Tag.size() > feTagWidth) Tag = Tag.substr(0, feTagWidth);
  uint8_t Key[feTagWidth];
  for (size_t I = 0; I < Tag.size(); ++I) Key[I] = UpperCase866(static_cast<uint8_t>(Tag[I]));

  for (size_t Index = 0; Index < Areas.Count(); ++Index) {
    const uint8_t* Field = &Areas[Index].Bytes[feAreaTag];
    const void* End = std::memchr(Field, 0, feTagWidth);
    size_t Length = End ? static_cast<size_t>(static_cast<const uint8_t*>(End) - Field) : feTagWidth;
    if (Length != Tag.size()) continue;
    size_t I = 0;
    while (I < Length && UpperCase866(Field[I]) == Key[I]) ++I;
    if (I == Length) return static_cast<int32_t>(Index);
  }
  return -1;
}

tShortString tFastEchoConfig::AreaPath(int32_t Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= Areas.Count()) return tShortString();
  return Areas[Index].BasePath();
}

int16_t tFastEchoConfig::AreaBaseType(int32_t Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= Areas.Count()) return -1;
  return static_cast<int16_t>(Areas[Index].StorageWord() & feBaseTypeMask);
}

void tFastEchoConfig::RemoveArea(int32_t Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= Areas.Count()) return;
  const uint32_t Bit = Areas[Index].LinkIndex();
  for (tFENodeEntry& Node : Nodes) Node.Unlink(Bit);
  Areas.RemoveAt(static_cast<size_t>(Index));
  Header.SetAreaCount(static_cast<uint16_t>(Header.AreaCount() - 1));
}

void tFastEchoConfig::WriteTo(tStream& Out) const {
  Out.Write(Header.Bytes.data(), feHeaderSize);
  for (const tFEExtBlock& Block : Extensions) {
    uint8_t BlockHeader[feExtHeaderSize];
    PutU16(BlockHeader, Block.BlockType);
    PutU32(BlockHeader + 2, static_cast<uint32_t>(Block.BlockLength));
    Out.Write(BlockHeader, feExtHeaderSize);
    for (const tFEExtRecord& Record : Block.Records) {
      Out.Write(Record.Bytes.data(), static_cast<uint32_t>(Record.Bytes.size()));
      if (!Record.NodeBitmap.empty()) Out.Write(Record.NodeBitmap.data(), static_cast<uint32_t>(Record.NodeBitmap.size()));
    }
  }
  for (const tFENodeEntry& Node : Nodes) {
    Out.Write(Node.Bytes.data(), feNodeRecordSize);
    if (!Node.AreaBitmap.empty()) Out.Write(Node.AreaBitmap.data(), static_cast<uint32_t>(Node.AreaBitmap.size()));
  }
  for (const tFEAreaRecord& Area : Areas) Out.Write(Area.Bytes.data(), feAreaRecordSize);
  if (!Trailer.empty()) Out.Write(Trailer.data(), static_cast<uint32_t>(Trailer.size()));
}

bool tFastEchoConfig::Store(std::string_view FileName, bool* Placed) const {
  // The new file is written in full beside the old one and takes its place
  // only once it is on the disk; a link is followed, so FastEcho's own file
  // is the one replaced.
  tReplacingFile File(FileName);
  if (Placed) *Placed = false;
  if (File.Out().Status != stOk) return true;
  WriteTo(File.Out());
  bool Failed = !File.Commit();
  if (Placed) *Placed = File.Placed();
  return Failed;
}

}  // namespace kelvane
