// Which found files a recovery takes, from the user's words: extensions
// ("jpg,png"), the groups photo, audio and video, or all.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

struct TypeFilter {
  bool all = false;        // every file, whatever its extension
  std::string extensions;  // "*.jpg|*.png|": the list SearchByExtension takes
};

// Comma-separated words, case-insensitive, leading dots dropped; photo, audio
// and video stand for their lists and "all" (alone or among others) for every
// file. An empty text means photo, audio and video. False when a word holds
// '*', '|', '/' or a space, or no word is left.
bool ParseTypeFilter(std::string_view words, TypeFilter& out);

}  // namespace kestrel
