// The file types Kestrel knows by content: one ordered table of recognisers
// (does a file of this type start in this sector?) and size rules (where does
// it end on the device?). The carving engine finds files with it; the fast and
// deep engines use CheckFirstSector to mark whether a found file's first data
// sector still holds what its extension promises.
//
// Nothing here is process-wide: every piece of state (flags, stream extents,
// the 64 KiB read buffer) lives in a CarveContext or a SignatureScratch owned
// by the engine or the call that uses it, so any number of engines may run
// checks and carve at once (each on its own thread).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/progress.h"
#include "platform/byte_view.h"
#include "storage/sector_device.h"

namespace kestrel {

// Type codes 0..48 and 50 on name formats (see the table in
// signature_table.cpp); 49 means "nothing recognised".
inline constexpr int32_t kTypeUnrecognised = 49;
inline constexpr int32_t kTypeTransportStream = 20;
inline constexpr int32_t kTypeMts = 47;
inline constexpr int32_t kTypeHeif = 50;
inline constexpr int32_t kTypeM4a = 51;
inline constexpr int32_t kTypeCr3 = 52;
inline constexpr int32_t kTypeOrf = 53;
inline constexpr int32_t kTypeFlac = 54;
inline constexpr int32_t kTypeOgg = 55;
inline constexpr size_t kSignatureRowCount = 90;
// Every read a recogniser or a size rule makes goes through one buffer of this size.
inline constexpr uint32_t kSignatureScratchBytes = 65536;

// Where recognisers and size rules may read beyond the bytes they were given.
// Sector numbers are absolute on the device, as ReadSectors takes them.
struct SignatureSource {
  SectorDevice* device = nullptr;  // null: nothing beyond the given data can be read
  int32_t sectorBytes = 512;
  // Absolute byte offset where the source ends (a partition's end, or an
  // image's exact length). Reads never pass it and no size rule returns a size
  // that runs past it. 0: the device's end (no limit without a device).
  uint64_t endByte = 0;

  // The end that applies: endByte, else the device's end, else UINT64_MAX.
  uint64_t EffectiveEndByte() const;
};

// A 64 KiB working buffer for the reads of one check or one carving engine.
// Engines that run content checks own one and pass it to every check, so the
// buffer is not allocated per file; it is not shared between engines.
class SignatureScratch {
 public:
  SignatureScratch() : bytes_(new uint8_t[kSignatureScratchBytes]) {}
  uint8_t* data() { return bytes_.get(); }
  static constexpr uint32_t size() { return kSignatureScratchBytes; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
};

// Values passed through to the progress callback while a size rule walks.
struct CarveProgress {
  uint64_t position = 0;  // sectors of the pass done before the hit
  uint64_t total = 0;     // sectors of the whole pass (0: no percentage)
  uint64_t found = 0;     // files carved so far
  int32_t remaining = -1; // seconds left, -1 unknown
};

// One carving engine's identification state. Owned by that engine (or made on
// the stack for a single check); never shared between sources.
class CarveContext {
 public:
  // scratch null: the context allocates and owns its own 64 KiB buffer.
  explicit CarveContext(SignatureScratch* scratch = nullptr);
  CarveContext(const CarveContext&) = delete;
  CarveContext& operator=(const CarveContext&) = delete;

  // Set by the owning engine (SetCallbacks); the size rules report through it.
  ScanProgressCallback progress = nullptr;
  void* user = nullptr;
  int32_t scale = 100;

  // Transport streams already carved by this engine, as (first, last) absolute
  // sectors: a sector inside one is not a new stream start. Kept for the
  // engine's life, so a resumed pass does not carve a stream twice.
  std::vector<std::pair<uint64_t, uint64_t>> streamExtents;

  // Filled per identification; recognisers and size rules read and update them.
  SignatureSource source;
  uint64_t hitSector = 0;
  uint64_t currentSector = 0;  // advanced by the boundary test while walking
  CarveProgress values;
  int cancelResult = 0;        // non-zero return of the last progress call
  bool carvingInProgress = false;
  // Set by a size rule whose file's own structure did not hold, so that the
  // size it gave is a guess (a walk, an end marker) or 0 (nothing to carve).
  bool structureBroken = false;
  bool lastWasMts = false;
  uint8_t mtsByte7 = 0;

  // The recognisers' 64 KiB read buffer (the scratch given at construction).
  uint8_t* buffer() { return scratch_->data(); }
  // A second 64 KiB buffer for the chunk a size rule is walking, so that the
  // boundary test's recognisers can read without overwriting it. Made on first use.
  uint8_t* walkBuffer();

 private:
  std::unique_ptr<SignatureScratch> owned_;
  SignatureScratch* scratch_;
  std::unique_ptr<SignatureScratch> walk_;
};

// A row's recogniser: the row's type code (or a sibling code, e.g. the OLE
// recogniser tells Word from Excel), or kTypeUnrecognised. Looks at the first
// bytes only; OLE, OOXML and transport-stream rows also read the source at
// context.currentSector.
using Recogniser = int32_t (*)(ByteView data, CarveContext& context);
// A size rule: the file's length in bytes from the start of the hit sector.
// data is the hit sector's bytes.
using SizeRule = uint64_t (*)(ByteView data, CarveContext& context);

struct SignatureRow {
  const char* extension;  // lowercase, no dot
  int32_t code;
  Recogniser recognise;
  SizeRule size;          // null: the type has no size rule and is never carved
};

// The rows in the order that decides which type wins when several match.
std::span<const SignatureRow> SignatureTable();

// The first row whose recogniser says yes, with the code it returned; null when
// none does. Dispatches on the first byte but gives exactly the answer of
// walking every row in table order (IdentifyInTableOrder, kept for tests).
const SignatureRow* Identify(ByteView data, CarveContext& context, int32_t& code);
const SignatureRow* IdentifyInTableOrder(ByteView data, CarveContext& context, int32_t& code);

struct IdentifyResult {
  int32_t code = kTypeUnrecognised;
  std::string extension;  // of the first row with that code; empty when unrecognised
  std::string name;       // "<hit sector>.<extension>", e.g. 123456.jpg
  uint64_t size = 0;      // from the size rule; 0 when there is none
  bool hasSizeRule = false;
  // The file's structure did not hold: size is the old rule's guess, or 0
  // when the type has nothing to guess with.
  bool damaged = false;
};

// Identifies the file starting at hitSector (data = that sector's bytes) and
// runs its size rule. 0: found and sized; 87 (kErrInvalidParameter): nothing
// recognised or the type has no size rule (result.code/extension are still
// filled for a recognised type); kCancelled: the progress callback asked to
// stop while sizing (result holds the size reached).
int IdentifyAndSize(CarveContext& context, const SignatureSource& source, ByteView data, uint64_t hitSector,
                    const CarveProgress& progress, IdentifyResult& result);

// The content check behind FoundFileRecord::contentValid: 1 when data (the
// first data sector of a file, or its resident bytes) fits the extension or
// the extension is not in the table, 0 when it does not. extension is compared
// case-insensitively, without the dot. sector is the absolute sector data came
// from (OLE and OOXML checks read the sectors after it through source; pass a
// source without a device for resident data). scratch is the caller's buffer;
// the overload without it allocates one per call.
int CheckFirstSector(ByteView data, std::string_view extension, const SignatureSource& source, uint64_t sector,
                     SignatureScratch& scratch);
int CheckFirstSector(ByteView data, std::string_view extension, const SignatureSource& source, uint64_t sector);

// True when both extensions name types the table knows and one recogniser
// tells them (jpg and jpeg, tif and tiff, doc and xls): a file named with the
// one may be found by content under the other.
bool SameContentType(std::string_view a, std::string_view b);

// 1 when the sector (at least 32 bytes) holds file-system metadata: an NTFS
// FILE/INDX/RSTR record, a boot sector, or a sector of FAT directory entries.
// A walked file ends at such a sector.
int IsStructureSector(ByteView sector);

}  // namespace kestrel
