// The attributes of an MFT record: walking them, reading $FILE_NAME and
// $ATTRIBUTE_LIST, and gathering one stream ($DATA, a bitmap...) across the
// base record and its extension records. Every offset is checked against the
// attribute and the record it comes from. Shared by the fast and the deep
// NTFS engines; it keeps no state between calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/ntfs/ntfs_record.h"
#include "fs/ntfs/ntfs_runlist.h"
#include "platform/byte_view.h"

namespace kestrel {

inline constexpr uint32_t kNtfsAttrStandardInformation = 0x10;
inline constexpr uint32_t kNtfsAttrAttributeList = 0x20;
inline constexpr uint32_t kNtfsAttrFileName = 0x30;
inline constexpr uint32_t kNtfsAttrData = 0x80;
inline constexpr uint32_t kNtfsAttrIndexRoot = 0x90;
inline constexpr uint32_t kNtfsAttrIndexAllocation = 0xA0;
inline constexpr uint32_t kNtfsAttrBitmap = 0xB0;
inline constexpr uint32_t kNtfsAttrEnd = 0xFFFFFFFF;

inline constexpr uint16_t kNtfsAttrCompressionMask = 0x00FF;
inline constexpr uint16_t kNtfsAttrEncrypted = 0x4000;
inline constexpr uint16_t kNtfsAttrSparse = 0x8000;

// $FILE_NAME name spaces.
inline constexpr uint8_t kNtfsNamePosix = 0;
inline constexpr uint8_t kNtfsNameWin32 = 1;
inline constexpr uint8_t kNtfsNameDos = 2;
inline constexpr uint8_t kNtfsNameWin32AndDos = 3;

// One attribute header, as views into the record it was read from (the
// record's bytes must outlive it).
struct NtfsAttribute {
  uint32_t type = 0;
  uint32_t length = 0;
  bool nonResident = false;
  uint16_t flags = 0;
  uint16_t instance = 0;
  ByteView nameBytes;  // UTF-16LE, empty for an unnamed attribute
  ByteView bytes;      // the whole attribute
  // Resident attributes.
  ByteView value;
  // Non-resident attributes.
  uint64_t startVcn = 0;
  uint64_t lastVcn = 0;
  uint16_t runListOffset = 0;  // within bytes
  uint8_t compressionUnit = 0; // log2 of clusters per compression unit
  uint64_t allocatedSize = 0;  // only meaningful in the first extent (startVcn 0)
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;

  bool Compressed() const { return (flags & kNtfsAttrCompressionMask) != 0; }
  bool Encrypted() const { return (flags & kNtfsAttrEncrypted) != 0; }
  bool Sparse() const { return (flags & kNtfsAttrSparse) != 0; }
};

enum class NtfsWalkStatus {
  kComplete,   // ended at the end marker or at the bytes in use
  kMalformed,  // an attribute or entry did not fit; what came before it is kept
};

// The attributes of a fixed-up record in record order. An attribute whose
// header, name, value or run list does not fit inside itself or the record's
// bytes in use ends the walk as kMalformed.
NtfsWalkStatus ParseAttributes(ByteView record, const NtfsRecordHeader& header, std::vector<NtfsAttribute>& out);

// True when the UTF-16LE bytes spell name exactly (NTFS attribute names are compared as stored).
bool AttributeNameIs(ByteView nameBytes, std::u16string_view name);

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD. '/' and NUL, which
// cannot stand in a Linux file name, become '_'.
std::string NtfsNameToUtf8(ByteView utf16);

struct NtfsFileName {
  uint64_t parent = 0;         // parent directory's record number (48 bits)
  uint16_t parentSequence = 0;
  uint64_t created = 0;        // FILETIME
  uint64_t modified = 0;
  uint64_t recordChanged = 0;
  uint64_t accessed = 0;
  uint64_t allocatedSize = 0;
  uint64_t realSize = 0;
  uint32_t fileFlags = 0;
  uint8_t nameSpace = 0;
  std::string name;            // UTF-8
};

// Reads a $FILE_NAME value; false when the name runs past the value.
bool ParseFileName(ByteView value, NtfsFileName& out);

// Which of a file's names to show: Win32 (or Win32 and DOS) first, then
// POSIX, the 8.3 DOS name last. Higher is better.
int FileNameRank(uint8_t nameSpace);

struct NtfsAttributeListEntry {
  uint32_t type = 0;
  uint64_t startVcn = 0;
  uint64_t record = 0;   // MFT record number holding the attribute (48 bits)
  uint16_t instance = 0;
  ByteView nameBytes;
};

// Entries of an $ATTRIBUTE_LIST value. An entry shorter than its header or
// running past the list ends the walk as kMalformed.
NtfsWalkStatus ParseAttributeList(ByteView list, std::vector<NtfsAttributeListEntry>& out);

// What the stream gathering needs from a volume.
class INtfsRecordSource {
 public:
  virtual ~INtfsRecordSource() = default;
  // MFT record number with its fix-ups applied; false when it cannot be read
  // or is not a sound record (torn records are refused).
  virtual bool ReadRecord(uint64_t number, std::vector<uint8_t>& record) = 0;
  // The first byteCount bytes stored in runs (used for non-resident attribute lists).
  virtual bool ReadRunBytes(const std::vector<NtfsRun>& runs, uint64_t byteCount, std::vector<uint8_t>& out) = 0;
  // Clusters on the volume, to bound run lists; 0 for no bound.
  virtual uint64_t ClusterCount() const = 0;
};

// One attribute's content description gathered from all its extents.
struct NtfsStream {
  bool found = false;
  bool nonResident = false;
  uint16_t flags = 0;
  uint8_t compressionUnit = 0;
  uint64_t realSize = 0;
  uint64_t allocatedSize = 0;
  uint64_t initializedSize = 0;
  std::vector<uint8_t> residentValue;
  std::vector<NtfsRun> runs;  // all extents, in VCN order
  bool complete = true;       // false when an extent was missing or unreadable: the runs stop early

  bool Compressed() const { return (flags & kNtfsAttrCompressionMask) != 0; }
  bool Encrypted() const { return (flags & kNtfsAttrEncrypted) != 0; }
  bool Sparse() const { return (flags & kNtfsAttrSparse) != 0; }
};

// Gathers the attribute of type with the given name (empty: the unnamed one)
// of the file whose base record is baseRecord (number baseNumber, fix-ups
// applied). With an $ATTRIBUTE_LIST, every extent it names is read through
// source, in VCN order; an extension record that does not point back at the
// base ends the gathering with complete = false. Without one, the base
// record's attributes are used. found = false when there is no such attribute.
void FindStream(INtfsRecordSource& source, uint64_t baseNumber, ByteView baseRecord,
                const NtfsRecordHeader& baseHeader, uint32_t type, std::u16string_view name, NtfsStream& out);

}  // namespace kestrel
