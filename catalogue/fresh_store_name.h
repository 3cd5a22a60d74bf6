// A store name that no store in the folder uses yet: two fast scans of
// sources that start at the same sector in the same minute (two images, or
// one image scanned twice) must not add their records to one store.
#pragma once

#include <filesystem>
#include <string>

namespace kestrel {

// base when folder holds no records file of that name, else base + "_2",
// base + "_3", ...
std::string FreshStoreName(const std::string& base, const std::filesystem::path& folder);

}  // namespace kestrel
