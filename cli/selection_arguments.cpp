#include "cli/selection_arguments.h"

#include <cstdio>

#include <CLI/CLI.hpp>

namespace kestrel::cli {

namespace {

bool SizeBound(const std::string& text, const char* flag, std::optional<uint64_t>& out) {
  if (text.empty()) return true;
  uint64_t bytes = 0;
  if (!ParseByteCount(text, bytes)) {
    std::fprintf(stderr, "kestrel-cli: %s %s: give a size in bytes, or with K, M or G (10K, 1.5M, 2G)\n", flag,
                 text.c_str());
    return false;
  }
  out = bytes;
  return true;
}

bool TimeBound(const std::string& text, const char* flag, std::optional<uint64_t>& out) {
  if (text.empty()) return true;
  uint64_t filetime = 0;
  if (!ParseIsoTime(text, filetime)) {
    std::fprintf(stderr, "kestrel-cli: %s %s: give a date as YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS]\n", flag,
                 text.c_str());
    return false;
  }
  out = filetime;
  return true;
}

}  // namespace

void AddSelectionArguments(CLI::App& command, SelectionArguments& arguments) {
  command.add_option("--match", arguments.match,
                     "Only files whose path in the volume matches GLOB (repeatable; * and ? within a folder, ** "
                     "across folders, case ignored); a matched folder brings everything below it")
      ->type_name("GLOB")
      ->allow_extra_args(false);
  command.add_option("--min-size", arguments.minSize, "Only files of at least SIZE bytes (K, M, G: powers of 1024)")
      ->type_name("SIZE");
  command.add_option("--max-size", arguments.maxSize, "Only files of at most SIZE bytes (K, M, G: powers of 1024)")
      ->type_name("SIZE");
  command.add_option("--modified-after", arguments.modifiedAfter,
                     "Only files modified at or after DATE (YYYY-MM-DD[THH:MM[:SS]], as the volume records it)")
      ->type_name("DATE");
  command.add_option("--modified-before", arguments.modifiedBefore, "Only files modified before DATE")
      ->type_name("DATE");
  command.add_flag("--only-intact", arguments.onlyIntact,
                   "Leave out files whose content check finds them damaged or unreadable (types without a "
                   "check are kept)");
}

bool ResolveSelection(const SelectionArguments& arguments, Selection& out) {
  out = Selection{};
  for (const std::string& pattern : arguments.match) {
    if (pattern.empty()) {
      std::fprintf(stderr, "kestrel-cli: --match: give a pattern such as 'DCIM/**' or '**/*.jpg'\n");
      return false;
    }
    out.patterns.push_back(pattern);
  }
  out.onlyIntact = arguments.onlyIntact;
  if (!SizeBound(arguments.minSize, "--min-size", out.minSize) ||
      !SizeBound(arguments.maxSize, "--max-size", out.maxSize) ||
      !TimeBound(arguments.modifiedAfter, "--modified-after", out.modifiedAfter) ||
      !TimeBound(arguments.modifiedBefore, "--modified-before", out.modifiedBefore)) {
    return false;
  }
  return true;
}

bool ResolveSelectionAndTargets(const SelectionArguments& selectionArguments, const ScanArguments& scanArguments,
                                Selection& selection, std::vector<ScanTarget>& targets) {
  return ResolveSelection(selectionArguments, selection) && ResolveScanTargets(scanArguments, targets);
}

}  // namespace kestrel::cli
