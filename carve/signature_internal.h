// Pieces shared by the recognisers, the size rules and the table; not part of
// the public signatures interface.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "carve/signatures.h"

namespace kestrel::sig {

// Recognisers, one per format family (rows of one family share one).
int32_t RecogniseMpeg(ByteView d, CarveContext& c);
int32_t RecogniseMp4(ByteView d, CarveContext& c);
int32_t RecogniseRealMedia(ByteView d, CarveContext& c);
int32_t RecogniseAsf(ByteView d, CarveContext& c);
int32_t RecogniseSwf(ByteView d, CarveContext& c);
int32_t RecogniseAvi(ByteView d, CarveContext& c);
int32_t RecogniseFlv(ByteView d, CarveContext& c);
int32_t Recognise3gp(ByteView d, CarveContext& c);
int32_t RecogniseMkv(ByteView d, CarveContext& c);
int32_t RecogniseTransportStream(ByteView d, CarveContext& c);
int32_t RecogniseMts(ByteView d, CarveContext& c);
int32_t RecogniseMxf(ByteView d, CarveContext& c);
int32_t RecogniseMp3(ByteView d, CarveContext& c);
int32_t RecogniseMidi(ByteView d, CarveContext& c);
int32_t RecogniseApe(ByteView d, CarveContext& c);
int32_t RecogniseWav(ByteView d, CarveContext& c);
int32_t RecogniseMov(ByteView d, CarveContext& c);
int32_t RecogniseMp2(ByteView d, CarveContext& c);
int32_t RecogniseMmf(ByteView d, CarveContext& c);
int32_t RecogniseFla(ByteView d, CarveContext& c);
int32_t RecogniseGif(ByteView d, CarveContext& c);
int32_t RecogniseBmp(ByteView d, CarveContext& c);
int32_t RecogniseJpeg(ByteView d, CarveContext& c);
int32_t RecognisePng(ByteView d, CarveContext& c);
int32_t RecognisePsd(ByteView d, CarveContext& c);
int32_t RecogniseTiff(ByteView d, CarveContext& c);
int32_t RecogniseIcon(ByteView d, CarveContext& c);
int32_t RecogniseOle(ByteView d, CarveContext& c);
int32_t RecogniseOoxml(ByteView d, CarveContext& c);
int32_t RecogniseNothing(ByteView d, CarveContext& c);
int32_t RecognisePdf(ByteView d, CarveContext& c);
int32_t RecogniseGzip(ByteView d, CarveContext& c);
int32_t Recognise7z(ByteView d, CarveContext& c);
int32_t RecogniseZip(ByteView d, CarveContext& c);
int32_t RecogniseRar(ByteView d, CarveContext& c);
int32_t RecogniseCab(ByteView d, CarveContext& c);
int32_t RecogniseExecutable(ByteView d, CarveContext& c);
int32_t RecogniseGhost(ByteView d, CarveContext& c);
int32_t RecogniseSqlite(ByteView d, CarveContext& c);
int32_t RecogniseDbx(ByteView d, CarveContext& c);
int32_t RecognisePst(ByteView d, CarveContext& c);
int32_t RecogniseTrueType(ByteView d, CarveContext& c);
int32_t RecogniseIsoBrand(ByteView d, CarveContext& c);
int32_t RecogniseOrf(ByteView d, CarveContext& c);
int32_t RecogniseFlac(ByteView d, CarveContext& c);
int32_t RecogniseOgg(ByteView d, CarveContext& c);

// Size rules.
uint64_t SizeWalk128M(ByteView d, CarveContext& c);
uint64_t SizeWalk256M(ByteView d, CarveContext& c);
uint64_t SizeWalk6G(ByteView d, CarveContext& c);
uint64_t SizeWalk64G(ByteView d, CarveContext& c);
uint64_t SizeJpeg(ByteView d, CarveContext& c);
uint64_t SizeGif(ByteView d, CarveContext& c);
uint64_t SizePng(ByteView d, CarveContext& c);
uint64_t SizeBmp(ByteView d, CarveContext& c);
uint64_t SizeRiffLength(ByteView d, CarveContext& c);
uint64_t SizeRiffAvi(ByteView d, CarveContext& c);
uint64_t SizeSwf(ByteView d, CarveContext& c);
uint64_t SizeAsf(ByteView d, CarveContext& c);
uint64_t SizeIcon(ByteView d, CarveContext& c);
uint64_t SizeMpeg(ByteView d, CarveContext& c);
uint64_t SizeRealMedia(ByteView d, CarveContext& c);
uint64_t SizeMp4(ByteView d, CarveContext& c);
uint64_t SizeIsoMedia(ByteView d, CarveContext& c);
uint64_t SizeMp3(ByteView d, CarveContext& c);
uint64_t SizeApe(ByteView d, CarveContext& c);
uint64_t SizeMidi(ByteView d, CarveContext& c);
uint64_t SizeTransportStream(ByteView d, CarveContext& c);
uint64_t SizeMts(ByteView d, CarveContext& c);
uint64_t SizeMatroska(ByteView d, CarveContext& c);
uint64_t SizeOgg(ByteView d, CarveContext& c);
uint64_t SizeFlac(ByteView d, CarveContext& c);
uint64_t SizeTiff(ByteView d, CarveContext& c);
uint64_t SizeCameraRaw(ByteView d, CarveContext& c);
uint64_t SizePdf(ByteView d, CarveContext& c);
uint64_t SizeOle(ByteView d, CarveContext& c);
uint64_t SizeZip(ByteView d, CarveContext& c);
uint64_t Size7z(ByteView d, CarveContext& c);
uint64_t SizeRar(ByteView d, CarveContext& c);
uint64_t SizeGzip(ByteView d, CarveContext& c);
uint64_t SizeExecutable(ByteView d, CarveContext& c);

// The rules that guess from an end marker or the walk, kept for files whose
// structure does not hold (cut short, overwritten, or not what the header says).
uint64_t SizeJpegByEndMarker(ByteView d, CarveContext& c);
uint64_t SizeMp4ByTrailer(ByteView d, CarveContext& c);
uint64_t SizeMp3ByTag(ByteView d, CarveContext& c);
uint64_t SizeGifByEndMarker(ByteView d, CarveContext& c);
uint64_t SizePngByEndMarker(ByteView d, CarveContext& c);

// Given the bytes of one chunk (cut at the boundary, when there is one) and
// their offset from the start of the hit sector, returns the file's size when
// the chunk holds its end.
using EndSearch = std::function<std::optional<uint64_t>(ByteView chunk, uint64_t chunkOffset)>;

// Walks the sectors after the hit in 64 KiB chunks to the boundary test, the
// cap, the source's end, a read fault, or the end search's answer.
uint64_t WalkSectors(CarveContext& c, uint64_t cap, bool mpegVariant, const EndSearch& search);

class CarveWindow;
// A structural walk: the file's end from its first byte, or nullopt when the
// structure does not hold within the window's limit.
using StructureEnd = std::optional<uint64_t> (*)(CarveWindow& window);
// Runs structure over a window capped at cap; when it fails, marks the context's
// structureBroken and answers with fallback (0, "not carved", without one).
uint64_t SizeByStructure(ByteView d, CarveContext& c, uint64_t cap, StructureEnd structure, SizeRule fallback);

// As SizeByStructure, for formats whose lengths cannot vouch for the bytes
// they cover (media payloads, allocation tables, strips): the sectors inside
// the size are then walked with the boundary test as well, and a file or
// file-system structure starting there ends the file, as damaged.
uint64_t SizeByStructureWithinBoundary(ByteView d, CarveContext& c, uint64_t cap, StructureEnd structure,
                                       SizeRule fallback);

// The structural walks, one per format family.
std::optional<uint64_t> JpegStructureEnd(CarveWindow& window);
std::optional<uint64_t> PngStructureEnd(CarveWindow& window);
std::optional<uint64_t> GifStructureEnd(CarveWindow& window);
std::optional<uint64_t> ZipStructureEnd(CarveWindow& window);
std::optional<uint64_t> SevenZipStructureEnd(CarveWindow& window);
std::optional<uint64_t> RarStructureEnd(CarveWindow& window);
std::optional<uint64_t> GzipStructureEnd(CarveWindow& window);
std::optional<uint64_t> OleStructureEnd(CarveWindow& window);
std::optional<uint64_t> ExecutableStructureEnd(CarveWindow& window);
std::optional<uint64_t> IsoMediaStructureEnd(CarveWindow& window);
std::optional<uint64_t> TiffStructureEnd(CarveWindow& window);
std::optional<uint64_t> AviStructureEnd(CarveWindow& window);
std::optional<uint64_t> Mp3StructureEnd(CarveWindow& window);
std::optional<uint64_t> MatroskaStructureEnd(CarveWindow& window);
std::optional<uint64_t> OggStructureEnd(CarveWindow& window);
std::optional<uint64_t> FlacStructureEnd(CarveWindow& window);
std::optional<uint64_t> MtsStructureEnd(CarveWindow& window);

// Reads count sectors from the absolute sector first into the context's
// buffer, never past the source's end. Returns the bytes read (whole sectors;
// 0 on failure or without a device).
uint32_t ReadIntoBuffer(CarveContext& c, uint64_t first, uint32_t count);

// Byte offset of the first occurrence of needle in hay at or after from, or npos.
size_t FindBytes(ByteView hay, std::string_view needle, size_t from = 0);

// A marker ending at byte end of a sector-aligned buffer counts as a file end
// when it finishes on a sector boundary or only zeros follow it in its sector.
bool IsTailClean(ByteView buffer, size_t end, int32_t sectorBytes);

// The first bytes a row's data can start with, for the dispatch table; any is
// set when the recogniser can match whatever the first byte is.
struct FirstBytes {
  std::string_view bytes;
  bool any = false;
};
FirstBytes FirstBytesOf(Recogniser recogniser);

}  // namespace kestrel::sig
