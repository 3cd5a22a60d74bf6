#include "app/finished_scans.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "app/file_sha256.h"
#include "catalogue/scan_log_paths.h"

namespace kestrel {

namespace {

// Which source (and which volume on it) and which kind of scan a note is about.
std::string SourceIdentity(const ScanSource& source, FinishedScanKind kind) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::weakly_canonical(source.path, ec);
  if (ec) path = std::filesystem::absolute(source.path, ec);
  std::ostringstream out;
  out << "kind " << (kind == FinishedScanKind::kDeep ? "deep" : "fast") << "\n"
      << "source " << path.string() << "\n"
      << "volume " << (source.isImage ? "image" : "partition") << " " << source.partition.driveNumber << " "
      << source.partition.firstSector << " " << source.partition.sectorCount << " " << source.sectorBytes << "\n";
  return out.str();
}

// What the source looks like now; empty when that cannot be told cheaply
// (then no scan of it is ever reused).
std::string SourceState(const ScanSource& source) {
  struct stat st{};
  if (source.probeError != kSuccess || ::stat(source.path.c_str(), &st) != 0) return {};
  std::ostringstream out;
  out << "length " << source.length;
  if (S_ISREG(st.st_mode)) {
    out << " size " << st.st_size << " mtime " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec << " inode "
        << st.st_dev << ":" << st.st_ino;
  } else {
    // A device has no trustworthy modification time, and hashing its first
    // sectors is not enough: the allocation table of a FAT32 volume starts
    // 16 KiB in, so files can change while those sectors stay the same, and a
    // reused scan would then read other files' bytes under old names. A device
    // is always scanned again.
    return {};
  }
  return out.str();
}

std::filesystem::path NotePath(const std::string& identity) {
  return ScanLogRoot() / "finished" / Sha256OfBytes(identity.data(), identity.size());
}

}  // namespace

void RememberFinishedScan(const ScanSource& source, FinishedScanKind kind, const std::filesystem::path& saved) {
  std::string identity = SourceIdentity(source, kind), state = SourceState(source);
  if (state.empty() || saved.empty()) return;
  std::filesystem::path note = NotePath(identity);
  std::error_code ec;
  std::filesystem::create_directories(note.parent_path(), ec);
  // Written aside and renamed, so a reader never sees half a note.
  std::filesystem::path temporary = note;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << identity << "state " << state << "\n"
        << "store " << std::filesystem::absolute(saved, ec).string() << "\n";
    if (!out.flush()) {
      std::filesystem::remove(temporary, ec);
      return;
    }
  }
  std::filesystem::rename(temporary, note, ec);
  if (ec) std::filesystem::remove(temporary, ec);
}

std::optional<std::filesystem::path> FindFinishedScan(const ScanSource& source, FinishedScanKind kind) {
  std::string identity = SourceIdentity(source, kind);
  std::filesystem::path note = NotePath(identity);
  std::ifstream in(note);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  std::string saved = text.str();
  std::string state = SourceState(source);
  std::string expected = identity + "state " + state + "\n" + "store ";
  std::error_code ec;
  if (!state.empty() && saved.starts_with(expected) && saved.ends_with("\n")) {
    std::filesystem::path store = saved.substr(expected.size(), saved.size() - expected.size() - 1);
    bool there = kind == FinishedScanKind::kDeep ? std::filesystem::is_directory(store, ec)
                                                 : std::filesystem::is_regular_file(store, ec);
    if (there) return store;
  }
  // The source changed (or the store went): the note no longer holds.
  std::filesystem::remove(note, ec);
  return std::nullopt;
}

}  // namespace kestrel
