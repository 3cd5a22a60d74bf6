#include "app/recovery_destination.h"

#include <string>

#include "catalogue/categories.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

namespace {

constexpr size_t kMaxComponentBytes = 255;

// Cuts text to at most bytes without splitting a UTF-8 character.
std::string CutUtf8(std::string text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t length = bytes;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  text.resize(length);
  return text;
}

std::string Compose(const std::string& base, const std::string& suffix, const std::string& extension) {
  size_t room = kMaxComponentBytes > suffix.size() + extension.size()
                    ? kMaxComponentBytes - suffix.size() - extension.size()
                    : 0;
  return CutUtf8(base, room) + suffix + extension;
}

bool Taken(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

// path, else "<base>(1)<ext>", "<base>(2)<ext>"... in its folder: the first
// that taken() does not refuse, each cut to 255 bytes keeping its extension.
template <typename Refused>
std::filesystem::path FirstFreeVariant(const std::filesystem::path& path, Refused taken) {
  std::filesystem::path folder = path.parent_path();
  return folder / FreeName(path.filename().string(), [&](const std::string& name) { return taken(folder / name); });
}

// A folder may go where nothing is or where a folder already is; a file of
// that name (recovered earlier, or a deleted file of the same name) sends the
// folder to "<name>(n)", the same one for every file of that folder.
bool TakenForFolder(const std::filesystem::path& path) {
  std::error_code ec;
  auto type = std::filesystem::symlink_status(path, ec).type();
  return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::directory;
}

}  // namespace

std::string SafeComponent(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  if (out.empty() || out == "." || out == "..") return "_";
  return out;
}

std::string FreeName(std::string_view name, const std::function<bool(const std::string&)>& taken) {
  std::string base(name), extension;
  if (size_t dot = name.rfind('.'); dot != std::string_view::npos) {
    base = name.substr(0, dot);
    extension = name.substr(dot);
  }
  // An extension longer than a name can be is no extension worth keeping.
  if (extension.size() > kMaxComponentBytes / 2) {
    base = name;
    extension.clear();
  }
  std::string candidate = Compose(base, "", extension);
  for (int n = 1; taken(candidate); ++n) candidate = Compose(base, "(" + std::to_string(n) + ")", extension);
  return candidate;
}

std::filesystem::path FreeDestination(const std::filesystem::path& path) { return FirstFreeVariant(path, Taken); }

std::filesystem::path RecoveryDestination(const std::filesystem::path& root, const FoundFileRecord& record) {
  std::string name = SafeComponent(record.Name());
  return FreeDestination(root / std::string(FileCategory(name)) / name);
}

std::filesystem::path KeepPathsDestination(const std::filesystem::path& root, std::string_view folder,
                                           const FoundFileRecord& record) {
  std::filesystem::path path = root;
  while (!folder.empty()) {
    size_t slash = folder.find('/');
    path = FirstFreeVariant(path / SafeComponent(folder.substr(0, slash)), TakenForFolder);
    folder = slash == std::string_view::npos ? std::string_view() : folder.substr(slash + 1);
  }
  return FreeDestination(path / SafeComponent(record.Name()));
}

int32_t RootDepth(const std::filesystem::path& root) { return CountSeparators(root.string()); }

}  // namespace kestrel
