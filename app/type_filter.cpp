#include "app/type_filter.h"

#include "catalogue/categories.h"

namespace kestrel {

bool ParseTypeFilter(std::string_view words, TypeFilter& out) {
  out = TypeFilter{};
  if (words.empty()) {
    out.extensions = std::string(kPhotoExtensions) + std::string(kAudioExtensions) + std::string(kVideoExtensions);
    return true;
  }
  size_t start = 0;
  while (start <= words.size()) {
    size_t comma = words.find(',', start);
    std::string word = LowerAscii(words.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                                       : comma - start));
    start = comma == std::string_view::npos ? words.size() + 1 : comma + 1;
    while (!word.empty() && word.front() == '.') word.erase(word.begin());
    if (word.empty()) continue;
    if (word == "all") {
      out.all = true;
    } else if (word == "photo") {
      out.extensions += kPhotoExtensions;
    } else if (word == "audio") {
      out.extensions += kAudioExtensions;
    } else if (word == "video") {
      out.extensions += kVideoExtensions;
    } else if (word.find_first_of("*|/ ") != std::string::npos) {
      return false;
    } else {
      out.extensions += "*." + word + "|";
    }
  }
  return out.all || !out.extensions.empty();
}

}  // namespace kestrel
