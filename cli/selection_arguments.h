// The selection flags `scan`, `recover` and `mount` share: --match,
// --min-size/--max-size, --modified-after/--modified-before, --only-intact.
#pragma once

#include <string>
#include <vector>

#include "app/selection.h"

namespace CLI {
class App;
}  // namespace CLI

namespace kestrel::cli {

struct SelectionArguments {
  std::vector<std::string> match;
  std::string minSize, maxSize;
  std::string modifiedAfter, modifiedBefore;
  bool onlyIntact = false;
};

void AddSelectionArguments(CLI::App& command, SelectionArguments& arguments);

// The selection the flags name; prints which flag is wrong and returns false.
bool ResolveSelection(const SelectionArguments& arguments, Selection& out);

}  // namespace kestrel::cli
