// JPEG: the marker structure from SOI through the scans to EOI, then a full
// entropy decode with libjpeg-turbo, which reports damage inside the scans
// (bad Huffman codes, missing restart markers, data cut short) as warnings.
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "carve/integrity/integrity_internal.h"

namespace kestrel::integrity {
namespace {

bool IsStandalone(uint8_t marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }
bool IsFrame(uint8_t marker) { return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC; }

// Walks the markers; on success end is the offset just past EOI.
IntegrityResult WalkMarkers(CheckInput& input, uint64_t& end) {
  ForwardReader reader(input);
  uint8_t b0 = 0, b1 = 0;
  if (!reader.Byte(b0) || !reader.Byte(b1) || b0 != 0xFF || b1 != 0xD8)
    return Damaged(input, 0, "it does not start with a start-of-image marker");
  bool frameSeen = false, scanSeen = false;
  int pending = -1;  // a marker already read while scanning entropy data
  for (;;) {
    uint8_t marker = 0;
    uint64_t markerAt = reader.position();
    if (pending >= 0) {
      marker = static_cast<uint8_t>(pending);
      pending = -1;
    } else {
      uint8_t ff = 0;
      if (!reader.Byte(ff)) return Damaged(input, input.size, "the file ends before the end-of-image marker");
      if (ff != 0xFF) return Damaged(input, markerAt, "no marker where the next segment should start");
      do {
        if (!reader.Byte(marker)) return Damaged(input, input.size, "the file ends before the end-of-image marker");
      } while (marker == 0xFF);
    }
    if (marker == 0xD9) {
      if (!scanSeen) return Damaged(input, reader.position(), "it ends before any image data");
      end = reader.position();
      return Intact("");
    }
    if (IsStandalone(marker)) continue;
    if (marker == 0x00 || marker == 0xD8) return Damaged(input, markerAt, "an invalid marker");
    uint8_t hi = 0, lo = 0;
    if (!reader.Byte(hi) || !reader.Byte(lo)) return Damaged(input, input.size, "the file ends inside a segment header");
    uint32_t length = (uint32_t(hi) << 8) | lo;
    if (length < 2) return Damaged(input, markerAt, "a segment with an impossible length");
    if (!reader.Skip(length - 2)) return Damaged(input, input.size, "the file ends inside a segment");
    if (IsFrame(marker)) frameSeen = true;
    if (marker != 0xDA) continue;
    if (!frameSeen) return Damaged(input, markerAt, "a scan comes before the frame header");
    scanSeen = true;
    // Entropy-coded data runs to the next marker that is not a stuffed 0x00
    // or a restart marker.
    for (;;) {
      uint8_t b = 0;
      if (!reader.Byte(b)) return Damaged(input, input.size, "the file ends inside the image data");
      if (b != 0xFF) continue;
      uint8_t next = 0;
      do {
        if (!reader.Byte(next)) return Damaged(input, input.size, "the file ends inside the image data");
      } while (next == 0xFF);
      if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) continue;
      pending = next;
      break;
    }
  }
}

// libjpeg's data source over an IntegritySource, read in kChunkBytes pieces.
struct ChunkSource {
  jpeg_source_mgr manager;
  CheckInput* input;
  uint64_t end;
  uint64_t next = 0;
  std::vector<uint8_t>* buffer;
  JOCTET eoiFill[2] = {0xFF, 0xD9};
};

void InitSource(j_decompress_ptr) {}
boolean FillInput(j_decompress_ptr info) {
  auto* src = reinterpret_cast<ChunkSource*>(info->src);
  uint64_t left = src->end - src->next;
  size_t count = left < kChunkBytes ? static_cast<size_t>(left) : kChunkBytes;
  if (count == 0 || !ReadBytes(*src->input, src->next, count, *src->buffer)) {
    // libjpeg's own convention: warn and feed an EOI so decoding stops.
    WARNMS(info, JWRN_JPEG_EOF);
    src->manager.next_input_byte = src->eoiFill;
    src->manager.bytes_in_buffer = 2;
    return TRUE;
  }
  src->next += count;
  src->manager.next_input_byte = src->buffer->data();
  src->manager.bytes_in_buffer = count;
  return TRUE;
}
void SkipInput(j_decompress_ptr info, long count) {
  auto* src = reinterpret_cast<ChunkSource*>(info->src);
  while (count > static_cast<long>(src->manager.bytes_in_buffer)) {
    count -= static_cast<long>(src->manager.bytes_in_buffer);
    FillInput(info);
  }
  src->manager.next_input_byte += count;
  src->manager.bytes_in_buffer -= static_cast<size_t>(count);
}
void TermSource(j_decompress_ptr) {}

// Bytes libjpeg has taken from the source so far.
uint64_t Consumed(const ChunkSource& src) { return src.next - src.manager.bytes_in_buffer; }

struct StrictErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char firstWarning[JMSG_LENGTH_MAX] = {};
  bool warned = false;
  char fatal[JMSG_LENGTH_MAX] = {};
  const ChunkSource* src = nullptr;
  uint64_t warningAt = 0;
};

void OnError(j_common_ptr info) {
  auto* errors = reinterpret_cast<StrictErrors*>(info->err);
  info->err->format_message(info, errors->fatal);
  std::longjmp(errors->jump, 1);
}
// Level -1 is a warning: libjpeg goes on, but the data was corrupt.
void OnMessage(j_common_ptr info, int level) {
  auto* errors = reinterpret_cast<StrictErrors*>(info->err);
  if (level < 0 && !errors->warned) {
    errors->warned = true;
    errors->warningAt = Consumed(*errors->src);
    info->err->format_message(info, errors->firstWarning);
  }
}


// Decodes at 1/8 scale: every Huffman code is still decoded (that is where
// damage shows), but the inverse DCT and colour work shrink to a fraction.
// Only plain data and the C structs live in this frame, so longjmp is safe.
bool Decode(jpeg_decompress_struct& info, StrictErrors& errors, ChunkSource& src, JSAMPLE* row, size_t rowBytes) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_decompress(&info);
  info.src = &src.manager;
  jpeg_read_header(&info, TRUE);
  info.scale_num = 1;
  info.scale_denom = 8;
  info.dct_method = JDCT_IFAST;
  info.do_fancy_upsampling = FALSE;
  info.out_color_space = JCS_GRAYSCALE;
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) info.out_color_space = JCS_CMYK;
  jpeg_calc_output_dimensions(&info);
  size_t needed = static_cast<size_t>(info.output_width) * static_cast<size_t>(info.output_components);
  if (needed > rowBytes) {
    std::snprintf(errors.fatal, sizeof errors.fatal, "an image too wide to check");
    return false;
  }
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&info, rows, 1);
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

IntegrityResult CheckJpeg(CheckInput& input) {
  uint64_t end = 0;
  IntegrityResult walked = WalkMarkers(input, end);
  if (walked.damaged()) return walked;

  std::vector<uint8_t> buffer;
  // Widths up to 65535 pixels at 1/8 scale, four components at most.
  std::vector<JSAMPLE> row(8192 * 4);
  ChunkSource src{};
  src.input = &input;
  src.end = end;
  src.buffer = &buffer;
  src.manager.init_source = InitSource;
  src.manager.fill_input_buffer = FillInput;
  src.manager.skip_input_data = SkipInput;
  src.manager.resync_to_restart = jpeg_resync_to_restart;
  src.manager.term_source = TermSource;
  StrictErrors errors;
  errors.src = &src;
  jpeg_decompress_struct info{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = OnError;
  errors.manager.emit_message = OnMessage;
  bool decoded = Decode(info, errors, src, row.data(), row.size());
  uint64_t at = Consumed(src);
  int code = errors.manager.msg_code;
  jpeg_destroy_decompress(&info);
  // Precisions libjpeg was not built for say nothing about damage.
  if (!decoded && code == JERR_BAD_PRECISION)
    return Intact("markers complete to the end-of-image marker (sample precision not decoded)");
  if (!decoded) return Damaged(input, at, errors.fatal);
  if (errors.warned) return Damaged(input, errors.warningAt, errors.firstWarning);
  std::string what = "markers complete to the end-of-image marker and the image decodes without errors";
  if (end < input.size) what += " (" + GroupedNumber(input.size - end) + " bytes follow it)";
  return Intact(std::move(what));
}

}  // namespace kestrel::integrity
