// The selection flags `scan`, `recover` and `mount` share: --match,
// --min-size/--max-size, --modified-after/--modified-before, --only-intact.
#pragma once

#include <string>
#include <vector>

#include "app/selection.h"
#include "cli/scan_session.h"

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

// What scan, recover and mount work on: the selection the flags name and the
// volumes of SOURCE. Prints why and returns false when either cannot be used
// (the command then exits with kExitUsage).
bool ResolveSelectionAndTargets(const SelectionArguments& selectionArguments, const ScanArguments& scanArguments,
                                Selection& selection, std::vector<ScanTarget>& targets);

}  // namespace kestrel::cli
