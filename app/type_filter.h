// Which found files a recovery takes, from the user's words: extensions
// ("jpg,png"), the category words photo, audio, video, document, archive and
// others, or all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The words --types knows besides extensions, for messages.
inline constexpr std::string_view kTypeFilterWords = "photo, audio, video, document, archive, others, all";

struct TypeFilter {
  bool all = false;        // every file, whatever its extension
  std::string extensions;  // "*.jpg|*.png|": extensions named one by one
  // Category words: a file is taken when FileCategory of its name is one of
  // them, exactly as a scan summary counts it.
  std::vector<std::string> categories;

  // True when a file of this name is taken.
  bool Takes(std::string_view fileName) const;
  // The default: photo, audio and video.
  bool IsDefault() const;
};

// Comma-separated words, case-insensitive, leading dots dropped; "all" (alone
// or among others) takes every file. An empty text means photo, audio and
// video. False when no word is left, or a word is neither a category word,
// "all", nor an extension that a category list or the signature table knows
// (a typing mistake would silently match nothing); unknown then holds it.
bool ParseTypeFilter(std::string_view words, TypeFilter& out, std::string* unknown = nullptr);

}  // namespace kestrel
