#include "app/type_filter.h"

#include <algorithm>
#include <iterator>

#include "carve/signatures.h"
#include "catalogue/categories.h"

namespace kestrel {
namespace {

constexpr std::string_view kCategoryWords[] = {"photo", "audio", "video", "document", "archive", "others"};

bool IsCategoryWord(std::string_view word) {
  return std::find(std::begin(kCategoryWords), std::end(kCategoryWords), word) != std::end(kCategoryWords);
}

bool IsKnownExtension(const std::string& extension) {
  std::string pattern = "*." + extension + "|";
  for (std::string_view list :
       {kPhotoExtensions, kAudioExtensions, kVideoExtensions, kDocumentExtensions, kArchiveExtensions}) {
    if (list.find(pattern) != std::string_view::npos) return true;
  }
  for (const SignatureRow& row : SignatureTable()) {
    if (extension == row.extension) return true;
  }
  return false;
}

}  // namespace

bool TypeFilter::Takes(std::string_view fileName) const {
  if (all) return true;
  if (std::find(categories.begin(), categories.end(), FileCategory(fileName)) != categories.end()) return true;
  std::string extension = ExtensionOf(fileName);
  return !extension.empty() && extensions.find("*." + extension + "|") != std::string::npos;
}

bool TypeFilter::IsDefault() const {
  return !all && extensions.empty() && categories == std::vector<std::string>{"photo", "audio", "video"};
}

bool ParseTypeFilter(std::string_view words, TypeFilter& out, std::string* unknown) {
  out = TypeFilter{};
  if (unknown) unknown->clear();
  if (words.empty()) {
    out.categories = {"photo", "audio", "video"};
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
    } else if (IsCategoryWord(word)) {
      if (std::find(out.categories.begin(), out.categories.end(), word) == out.categories.end())
        out.categories.push_back(word);
    } else if (word.find_first_of("*|/ ") == std::string::npos && IsKnownExtension(word)) {
      out.extensions += "*." + word + "|";
    } else {
      if (unknown) *unknown = word;
      return false;
    }
  }
  return out.all || !out.categories.empty() || !out.extensions.empty();
}

}  // namespace kestrel
