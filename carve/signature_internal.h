// Pieces shared by the recognisers, the size rules and the table; not part of
// the public signatures interface.
#pragma once

#include <cstdint>
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

// Size rules.
uint64_t SizeWalk128M(ByteView d, CarveContext& c);
uint64_t SizeWalk256M(ByteView d, CarveContext& c);
uint64_t SizeWalk6G(ByteView d, CarveContext& c);
uint64_t SizeWalk64G(ByteView d, CarveContext& c);
uint64_t SizeJpeg(ByteView d, CarveContext& c);
uint64_t SizeGif(ByteView d, CarveContext& c);
uint64_t SizePng(ByteView d, CarveContext& c);
uint64_t SizeBmp(ByteView d, CarveContext& c);
uint64_t SizeRiffWav(ByteView d, CarveContext& c);
uint64_t SizeRiffAvi(ByteView d, CarveContext& c);
uint64_t SizeSwf(ByteView d, CarveContext& c);
uint64_t SizeAsf(ByteView d, CarveContext& c);
uint64_t SizeIcon(ByteView d, CarveContext& c);
uint64_t SizeMpeg(ByteView d, CarveContext& c);
uint64_t SizeRealMedia(ByteView d, CarveContext& c);
uint64_t SizeMp4(ByteView d, CarveContext& c);
uint64_t SizeMp3(ByteView d, CarveContext& c);
uint64_t SizeApe(ByteView d, CarveContext& c);
uint64_t SizeMidi(ByteView d, CarveContext& c);
uint64_t SizeTransportStream(ByteView d, CarveContext& c);

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
