// The fixed vocabulary for found files: extension lists, categories, icon
// names, the deep scan's file-type options, and the size/duration/time texts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

// Each entry is "*." + extension + "|". Membership is a substring test of the
// lowercased extension against the whole text (so "rm" is audio and video, and
// "mp" matches inside "*.mp3|").
inline constexpr std::string_view kPhotoExtensions =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|"
    "*.sr2|*.arw|*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|"
    "*.orf|*.erf|*.indd|*.pef|*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm|";
inline constexpr std::string_view kAudioExtensions =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|"
    "*.amr|*.at3|*.caf|*.dss|*.m4r|*.nra|*.snd|";
inline constexpr std::string_view kVideoExtensions =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|"
    "*.m4b|*.mkv|*.mts|*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|"
    "*.mod|*.mxf|*.lrv|";
inline constexpr std::string_view kDocumentExtensions =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.html|"
    "*.pst|*.dbx|*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb|";
inline constexpr std::string_view kArchiveExtensions =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso|";

// ASCII-lowercased copy (names are UTF-8; other bytes pass unchanged).
std::string LowerAscii(std::string_view text);

// Lowercased text after the last '.' of a file name; "" when there is no '.'.
std::string ExtensionOf(std::string_view fileName);

// Substring test of an (already lowercased) extension against a list text.
// An empty extension belongs to no list.
bool ExtensionInList(std::string_view extension, std::string_view list);

// "photo", "audio", "video", "document", "archive" (tried in that order) or
// "others": the recovery sub-folder of a file.
std::string_view FileCategory(std::string_view fileName);

// Icon file for a list item from its lowercased extension text ("folder" for
// folders) and whether its content check passed: "image.png", "music_error.png"...
std::string_view FileIconName(std::string_view extensionText, bool contentGood);
// The same below the icon folder: "FileIcon/image.png".
std::string FileIconPath(std::string_view extensionText, bool contentGood);

// One tick box of the deep scan's file-type page: userdata key and label.
struct FileTypeOption {
  std::string_view key;
  std::string_view label;
};

// One group of options (its list name and the name of its group tick box).
struct FileTypeGroup {
  std::string_view name;       // "FileTypePhoto", "FileTypeAudio", "FileTypeVideo"
  std::string_view groupTick;  // "OptPhotoFile", "OptAudioFile", "OptVideoFile"
  std::span<const FileTypeOption> options;
};

// The three groups in display order: photo (38 options), audio (19), video (29).
// Keys repeat where the page repeats them (cr2 four times, rm in two groups).
std::span<const FileTypeGroup> FileTypeGroups();

// "1023 Bytes", "1.00 KB", "2.50 MB", ... "1.00 TB"; negative counts in Bytes.
std::string SizeText(int64_t bytes);

// "59 Sec", "59 Min 59 Sec", "1 Hour 0 Min".
std::string DurationText(int64_t seconds);

// How a date is written: as the scan logs and the CLI have always written it
// ("2014-3-7 09:05:00"), or in ISO form ("2014-03-07 09:05:00"), which lines
// up in a column and reads the same in every language.
enum class DateStyle { kUnpadded, kIso };

// A found file's FILETIME as stored (no local-time conversion).
std::string TimeText(uint64_t filetime, DateStyle style = DateStyle::kUnpadded);

// The same instant in ISO 8601 with a zone, "2014-03-07T09:05:00Z"; "" for 0
// (no time recorded), so JSON writers can give null.
std::string IsoTimeText(uint64_t filetime);

// An EngineKind in words: "fast NTFS", "fast FAT", "deep NTFS", "deep FAT",
// "carving", "fast exFAT", "deep exFAT"; "unknown" otherwise.
std::string_view EngineKindWord(uint32_t engineKind);

}  // namespace kestrel
