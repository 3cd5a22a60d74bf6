// Where one recovered item goes: <root>/<category>/<name> (or its found
// folder path below root), and "(n)" before the extension while that name is
// taken, so nothing recovered earlier is ever written over.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "catalogue/found_file_record.h"

namespace kestrel {

// root / FileCategory(name) / name, made unique with FreeDestination.
std::filesystem::path RecoveryDestination(const std::filesystem::path& root, const FoundFileRecord& record);

// The folder the item was found in kept below root: root / each component of
// folder ("a/b/", as GetItemPath gives it) made safe and cut to 255 bytes (a
// component that a file already holds becomes "<name>(n)") / the safe name,
// made unique with FreeDestination.
std::filesystem::path KeepPathsDestination(const std::filesystem::path& root, std::string_view folder,
                                           const FoundFileRecord& record);

// path itself when nothing exists there, else "<base>(1)<ext>", "<base>(2)<ext>"...
// in the same folder (ext from the last '.', "IMG_1.JPG" -> "IMG_1(1).JPG").
// A name is kept within 255 bytes by shortening its base.
std::filesystem::path FreeDestination(const std::filesystem::path& path);
// The same naming rule for any set of names: name, or the first of
// "<base>(1)<ext>", "<base>(2)<ext>"... that taken refuses.
std::string FreeName(std::string_view name, const std::function<bool(const std::string&)>& taken);

// One path component from a found name: '/' and control characters become
// '_', and "", "." and ".." become "_".
std::string SafeComponent(std::string_view name);

// Separators in the root, its last character not counted: the rootDepth that
// RecoverItem takes.
int32_t RootDepth(const std::filesystem::path& root);

}  // namespace kestrel
