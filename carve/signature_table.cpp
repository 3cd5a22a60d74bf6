// The signature table in the order that decides which type wins, and the
// first-byte dispatch that makes walking it cheap for sectors that match
// nothing (almost all of a device).
#include <array>
#include <vector>

#include "carve/signature_internal.h"

namespace kestrel {

using namespace sig;

namespace {

// Compound documents are told apart by the OLE recogniser (doc, xls, ppt,
// ole); fla only tests D0 CF 11 E0, so it follows them and is left with the
// files that carry that prefix without the full compound-document magic.
// The list of Excel workbook extensions names "xlsx" once: a second row with
// the same recogniser could never win.
constexpr SignatureRow kRows[] = {
    {"mpeg", 15, RecogniseMpeg, SizeMpeg},
    {"mpg", 15, RecogniseMpeg, SizeMpeg},
    {"vob", 15, RecogniseMpeg, SizeMpeg},
    {"mp4", 18, RecogniseMp4, SizeMp4},
    {"rmvb", 23, RecogniseRealMedia, SizeRealMedia},
    {"rm", 23, RecogniseRealMedia, SizeRealMedia},
    {"wmv", 24, RecogniseAsf, SizeAsf},
    {"asf", 24, RecogniseAsf, SizeAsf},
    {"wma", 24, RecogniseAsf, SizeAsf},
    {"swf", 26, RecogniseSwf, SizeSwf},
    {"avi", 22, RecogniseAvi, SizeRiffAvi},
    {"flv", 27, RecogniseFlv, SizeWalk6G},
    {"3gp", 16, Recognise3gp, SizeIsoMedia},
    {"mkv", 19, RecogniseMkv, SizeMatroska},
    {"ts", 20, RecogniseTransportStream, SizeTransportStream},
    {"mts", 47, RecogniseMts, SizeMts},
    {"mxf", 48, RecogniseMxf, SizeWalk6G},
    {"mp3", 12, RecogniseMp3, SizeMp3},
    {"mid", 13, RecogniseMidi, SizeMidi},
    {"ape", 25, RecogniseApe, SizeApe},
    {"wav", 21, RecogniseWav, SizeRiffLength},
    {"mov", 17, RecogniseMov, SizeIsoMedia},
    {"mp2", 11, RecogniseMp2, SizeWalk256M},
    {"mmf", 14, RecogniseMmf, SizeWalk256M},
    {"gif", 31, RecogniseGif, SizeGif},
    {"bmp", 29, RecogniseBmp, SizeBmp},
    {"dib", 29, RecogniseBmp, SizeBmp},
    {"jpg", 10, RecogniseJpeg, SizeJpeg},
    {"jpeg", 10, RecogniseJpeg, SizeJpeg},
    {"jpe", 10, RecogniseJpeg, SizeJpeg},
    {"jfif", 10, RecogniseJpeg, SizeJpeg},
    {"png", 30, RecognisePng, SizePng},
    {"psd", 28, RecognisePsd, SizeWalk128M},
    {"tif", 32, RecogniseTiff, SizeTiff},
    {"tiff", 32, RecogniseTiff, SizeTiff},
    {"ico", 46, RecogniseIcon, SizeIcon},
    {"doc", 0, RecogniseOle, SizeOle},
    {"dot", 0, RecogniseOle, SizeOle},
    {"wps", 0, RecogniseOle, SizeOle},
    {"wpt", 0, RecogniseOle, SizeOle},
    {"xls", 3, RecogniseOle, SizeOle},
    {"xlt", 3, RecogniseOle, SizeOle},
    {"xla", 3, RecogniseOle, SizeOle},
    {"et", 3, RecogniseOle, SizeOle},
    {"ett", 3, RecogniseOle, SizeOle},
    {"ppt", 5, RecogniseOle, SizeOle},
    {"pot", 5, RecogniseOle, SizeOle},
    {"pps", 5, RecogniseOle, SizeOle},
    {"dps", 5, RecogniseOle, SizeOle},
    {"dpt", 5, RecogniseOle, SizeOle},
    {"ole", 2, RecogniseOle, SizeOle},
    {"fla", 44, RecogniseFla, SizeOle},
    {"docx", 1, RecogniseOoxml, SizeZip},
    {"docm", 1, RecogniseOoxml, SizeZip},
    {"dotm", 1, RecogniseOoxml, SizeZip},
    {"dotx", 1, RecogniseOoxml, SizeZip},
    {"xlsx", 4, RecogniseOoxml, SizeZip},
    {"xlsb", 4, RecogniseOoxml, SizeZip},
    {"xlsm", 4, RecogniseOoxml, SizeZip},
    {"xlam", 4, RecogniseOoxml, SizeZip},
    {"xltx", 4, RecogniseOoxml, SizeZip},
    {"xltm", 4, RecogniseOoxml, SizeZip},
    {"pptx", 6, RecogniseOoxml, SizeZip},
    {"pptm", 6, RecogniseOoxml, SizeZip},
    {"potx", 6, RecogniseOoxml, SizeZip},
    {"potm", 6, RecogniseOoxml, SizeZip},
    {"ppsx", 6, RecogniseOoxml, SizeZip},
    {"ppsm", 6, RecogniseOoxml, SizeZip},
    {"mso07", 7, RecogniseNothing, nullptr},
    {"pdf", 8, RecognisePdf, SizePdf},
    {"gz", 36, RecogniseGzip, SizeGzip},
    {"gzip", 36, RecogniseGzip, SizeGzip},
    {"7z", 34, Recognise7z, Size7z},
    {"zip", 35, RecogniseZip, SizeZip},
    {"rar", 37, RecogniseRar, SizeRar},
    {"cab", 33, RecogniseCab, nullptr},
    {"exe", 41, RecogniseExecutable, SizeExecutable},
    {"dll", 42, RecogniseExecutable, SizeExecutable},
    {"sys", 43, RecogniseExecutable, SizeExecutable},
    {"gho", 9, RecogniseGhost, nullptr},
    {"db", 39, RecogniseSqlite, nullptr},
    {"dbx", 40, RecogniseDbx, nullptr},
    {"pst", 38, RecognisePst, nullptr},
    {"ttf", 45, RecogniseTrueType, nullptr},
    // Formats cameras and phones write, sized by their structure alone.
    {"heic", kTypeHeif, RecogniseIsoBrand, SizeIsoMedia},
    {"m4a", kTypeM4a, RecogniseIsoBrand, SizeIsoMedia},
    {"cr3", kTypeCr3, RecogniseIsoBrand, SizeIsoMedia},
    {"orf", kTypeOrf, RecogniseOrf, SizeCameraRaw},
    {"flac", kTypeFlac, RecogniseFlac, SizeFlac},
    {"ogg", kTypeOgg, RecogniseOgg, SizeOgg},
};
static_assert(std::size(kRows) == kSignatureRowCount);

// For each first byte, the rows that can match it, in table order. Of a run of
// neighbouring rows that share a recogniser only the first is kept: if it says
// no, so do the rest, and if it says yes, it is the hit in table order too.
struct Dispatch {
  std::array<std::vector<uint8_t>, 256> rows;

  Dispatch() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
      if (i > 0 && kRows[i - 1].recognise == kRows[i].recognise) continue;
      FirstBytes first = FirstBytesOf(kRows[i].recognise);
      for (int b = 0; b < 256; ++b) {
        if (first.any || first.bytes.find(static_cast<char>(b)) != std::string_view::npos)
          rows[b].push_back(static_cast<uint8_t>(i));
      }
    }
  }
};

const Dispatch& TheDispatch() {
  static const Dispatch dispatch;
  return dispatch;
}

}  // namespace

std::span<const SignatureRow> SignatureTable() { return kRows; }

const SignatureRow* Identify(ByteView data, CarveContext& context, int32_t& code) {
  code = kTypeUnrecognised;
  if (data.empty()) return nullptr;
  for (uint8_t index : TheDispatch().rows[data.data()[0]]) {
    const SignatureRow& row = kRows[index];
    int32_t result = row.recognise(data, context);
    if (result != kTypeUnrecognised) {
      code = result;
      return &row;
    }
  }
  return nullptr;
}

const SignatureRow* IdentifyInTableOrder(ByteView data, CarveContext& context, int32_t& code) {
  code = kTypeUnrecognised;
  for (const SignatureRow& row : kRows) {
    int32_t result = row.recognise(data, context);
    if (result != kTypeUnrecognised) {
      code = result;
      return &row;
    }
  }
  return nullptr;
}

}  // namespace kestrel
