#include "catalogue/categories.h"

#include <array>
#include <cstdio>

namespace kestrel {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string ExtensionOf(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return {};
  return LowerAscii(fileName.substr(dot + 1));
}

bool ExtensionInList(std::string_view extension, std::string_view list) {
  // An empty extension would match everywhere; a name without one belongs nowhere.
  return !extension.empty() && list.find(extension) != std::string_view::npos;
}

std::string_view FileCategory(std::string_view fileName) {
  std::string ext = ExtensionOf(fileName);
  if (ExtensionInList(ext, kPhotoExtensions)) return "photo";
  if (ExtensionInList(ext, kAudioExtensions)) return "audio";
  if (ExtensionInList(ext, kVideoExtensions)) return "video";
  if (ExtensionInList(ext, kDocumentExtensions)) return "document";
  if (ExtensionInList(ext, kArchiveExtensions)) return "archive";
  return "others";
}

std::string_view FileIconName(std::string_view extensionText, bool contentGood) {
  if (extensionText == "folder") return "folder.png";
  if (extensionText == "exe") return contentGood ? "exe.png" : "exe_error.png";
  // Documents are tried before video here (categories try video first).
  if (ExtensionInList(extensionText, kPhotoExtensions)) return contentGood ? "image.png" : "image_error.png";
  if (ExtensionInList(extensionText, kAudioExtensions)) return contentGood ? "music.png" : "music_error.png";
  if (ExtensionInList(extensionText, kDocumentExtensions)) return contentGood ? "doc.png" : "doc_error.png";
  if (ExtensionInList(extensionText, kVideoExtensions)) return contentGood ? "video.png" : "video_error.png";
  if (ExtensionInList(extensionText, kArchiveExtensions)) return contentGood ? "zip.png" : "zip_error.png";
  return contentGood ? "default.png" : "default_error.png";
}

std::string FileIconPath(std::string_view extensionText, bool contentGood) {
  return "FileIcon/" + std::string(FileIconName(extensionText, contentGood));
}

namespace {

// Keys are what the deep scan matches on; several labels carry a key that is
// not their own extension, exactly as the page has always offered them.
constexpr std::array<FileTypeOption, 38> kPhotoOptions{{
    {"bmp", "Bitmap (.bmp)"},
    {"gif", "GIF (.gif)"},
    {"jpg", "JPG/JPEG (.jpg .jpeg)"},
    {"png", "PNG (.png)"},
    {"psd", "Photoshop (.psd)"},
    {"tif", "TIFF (.tif .tiff)"},
    {"pcx", "PCX (.pcx)"},
    {"ico", "Icon (.ico)"},
    {"nef", "Nikon (.nef)"},
    {"nrw", "Nikon (.nrw)"},
    {"crw", "Canon (.crw)"},
    {"cr2", "Canon (.cr2)"},
    {"sr2", "Sony (.sr2)"},
    {"arw", "Sony (.arw)"},
    {"srf", "Sony (.srf)"},
    {"djvu", "DjVu (.djvu)"},
    {"pgm", "PGM (.pgm)"},
    {"cr2", "Kodak (.k25)"},
    {"kdc", "Kodak (.kdc)"},
    {"dcr", "Kodak (.dcr)"},
    {"raf", "Fuji (.raf)"},
    {"iff", "IFF (.iff)"},
    {"pbm", "PBM (.pbm)"},
    {"mef", "Mamiya (.mef)"},
    {"jp2", "JPEG 2000 (.jp2)"},
    {"mos", "Leaf (.mos)"},
    {"x3f", "Sigma (.x3f)"},
    {"orf", "Olympus (.orf)"},
    {"erf", "Epson (.erf)"},
    {"indd", "InDesign (.indd)"},
    {"pef", "Pentax (.pef)"},
    {"psp", "Paint Shop Pro (.psp)"},
    {"cr2", "Minolta (.mrw)"},
    {"cr2", "DNG Photo Files (.dng)"},
    {"raw", "RAW (.raw)"},
    {"pct", "PICT (.pct)"},
    {"tga", "Targa (.tga)"},
    {"thm", "Thumbnail (.thm)"},
}};

constexpr std::array<FileTypeOption, 19> kAudioOptions{{
    {"mp3", "MP3 Files (.mp3)"},
    {"wav", "WAV Files (.wav)"},
    {"aiff", "AIFF Files (.aiff)"},
    {"rps", "RPS Files (.rps)"},
    {"mid", "MIDI Files (.mid .midi)"},
    {"m4a", "M4A Files (.m4a)"},
    {"au", "AU Files (.au)"},
    {"ogg", "OGG Files (.ogg)"},
    {"wma", "WMA Files (.wma)"},
    {"rm", "Real Media (.rm)"},
    {"ra", "Real Audio (.ra)"},
    {"acd", "ACD Files (.acd)"},
    {"amr", "AMR Files (.amr)"},
    {"at3", "ATRAC3 Files (.at3)"},
    {"caf", "CAF Files (.caf)"},
    {"dss", "DSS Files (.dss)"},
    {"m4r", "M4R Files (.m4r)"},
    {"nra", "NRA Files (.nra)"},
    {"snd", "SND Files (.snd)"},
}};

constexpr std::array<FileTypeOption, 29> kVideoOptions{{
    {"rmvb", "RMVB Video Files (.rmvb)"},
    {"rm", "RM Video Files (.rm)"},
    {"mpeg", "MPEG Video Files (.mpeg)"},
    {"mov", "MOV Video Files (.mov)"},
    {"avi", "AVI Video Files (.avi)"},
    {"wmv", "WMV Video Files (.wmv)"},
    {"asf", "ASF Video Files (.asf)"},
    {"mp4", "MP4 Video Files (.mp4)"},
    {"m4v", "M4V Video Files (.m4v)"},
    {"3gp", "3GP Video Files (.3gp)"},
    {"dv", "DV Video Files (.dv)"},
    {"3g2", "3G2 Video Files (.3g2)"},
    {"m4b", "M4B Files (.m4b)"},
    {"mkv", "MKV Video Files (.mkv)"},
    {"mts", "AVCHD Video File (.mts)"},
    {"divx", "DivX Video Files (.divx)"},
    {"ogm", "OGM Video Files (.ogm)"},
    {"moi", "MOI Video Files (.moi)"},
    {"vob", "VOB Video Files (.vob)"},
    {"ajp", "AJP Video Files (.ajp)"},
    {"f4v", "F4V Video Files (.f4v)"},
    {"mvq", "MQV Files (.mqv)"},
    {"svi", "SVI Video Files (.svi)"},
    {"vid", "VID Video Files (.vid)"},
    {"tod", "TOD Video Files (.tod)"},
    {"hdmov", "HDMOV Video Files (.hdmov)"},
    {"mod", "MOD Video Files (.mod)"},
    {"mxf", "MXF Video Files (.mxf)"},
    {"lrv", "LRV Video Files (.lrv)"},
}};

constexpr std::array<FileTypeGroup, 3> kGroups{{
    {"FileTypePhoto", "OptPhotoFile", kPhotoOptions},
    {"FileTypeAudio", "OptAudioFile", kAudioOptions},
    {"FileTypeVideo", "OptVideoFile", kVideoOptions},
}};

std::string Printf2(double value, const char* unit) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %s", value, unit);
  return text;
}

}  // namespace

std::span<const FileTypeGroup> FileTypeGroups() { return kGroups; }

std::string SizeText(int64_t bytes) {
  constexpr int64_t kKb = 1024, kMb = kKb << 10, kGb = kMb << 10, kTb = kGb << 10;
  const double n = static_cast<double>(bytes);
  if (bytes >= kTb) return Printf2(n / kTb, "TB");
  if (bytes >= kGb) return Printf2(n / kGb, "GB");
  if (bytes >= kMb) return Printf2(n / kMb, "MB");
  if (bytes >= kKb) return Printf2(n / kKb, "KB");
  return std::to_string(bytes) + " Bytes";
}

std::string DurationText(int64_t seconds) {
  char text[64];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld Hour %lld Min", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds % 3600 / 60));
  } else if (seconds >= 60) {
    std::snprintf(text, sizeof text, "%lld Min %lld Sec", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld Sec", static_cast<long long>(seconds));
  }
  return text;
}

namespace {

struct CivilTime {
  long long year, month, day, hour, minute, second;
};

CivilTime ToCivil(uint64_t filetime) {
  // Days since 1601-01-01 to civil date (proleptic Gregorian), without going
  // through time_t, so every stored value (even a garbage one) gives a text.
  const uint64_t totalSeconds = filetime / 10'000'000;
  const int64_t secondsOfDay = static_cast<int64_t>(totalSeconds % 86400);
  // 1601-01-01 is day -134774 relative to 1970-01-01.
  const int64_t z = static_cast<int64_t>(totalSeconds / 86400) - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day, secondsOfDay / 3600, secondsOfDay % 3600 / 60, secondsOfDay % 60};
}

}  // namespace

std::string TimeText(uint64_t filetime, DateStyle style) {
  CivilTime t = ToCivil(filetime);
  char text[80];
  std::snprintf(text, sizeof text,
                style == DateStyle::kIso ? "%04lld-%02lld-%02lld %02lld:%02lld:%02lld" : "%lld-%lld-%lld %02lld:%02lld:%02lld",
                t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

std::string IsoTimeText(uint64_t filetime) {
  if (filetime == 0) return {};
  CivilTime t = ToCivil(filetime);
  char text[80];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string_view EngineKindWord(uint32_t engineKind) {
  static constexpr std::string_view kWords[] = {"fast NTFS", "fast FAT",   "deep NTFS", "deep FAT",
                                                "carving",   "fast exFAT", "deep exFAT"};
  return engineKind < std::size(kWords) ? kWords[engineKind] : std::string_view("unknown");
}

}  // namespace kestrel
