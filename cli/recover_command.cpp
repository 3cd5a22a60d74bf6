#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "app/recovery_destination.h"
#include "catalogue/categories.h"
#include "cli/commands.h"
#include "cli/same_device.h"
#include "cli/scan_session.h"
#include "platform/error_codes.h"

namespace kestrel::cli {

namespace {

struct ItemState {
  ProgressLine* line = nullptr;
  std::string label;
  bool finished = false;
  int error = 0;
};

int ItemProgress(void* user, int32_t percent, int32_t scale, int32_t errorCode, const std::filesystem::path&) {
  auto* state = static_cast<ItemState*>(user);
  int32_t shown = int32_t(int64_t(percent) * scale / 100);
  if (shown >= 100) {
    state->finished = true;
    state->error = errorCode;
  }
  state->line->Show(state->label + " " + std::to_string(std::min(shown, 100)) + "%");
  return 0;
}

// "jpg,png" -> "*.jpg|*.png|"; the words photo, audio, video stand for their
// lists; "all" (alone or among others) means every file. "" on a bad word.
bool BuildExtensionList(const std::string& types, std::string& list, bool& all) {
  list.clear();
  all = false;
  size_t start = 0;
  while (start <= types.size()) {
    size_t comma = types.find(',', start);
    std::string word = LowerAscii(types.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    start = comma == std::string::npos ? types.size() + 1 : comma + 1;
    while (!word.empty() && word.front() == '.') word.erase(word.begin());
    if (word.empty()) continue;
    if (word == "all") {
      all = true;
    } else if (word == "photo") {
      list += kPhotoExtensions;
    } else if (word == "audio") {
      list += kAudioExtensions;
    } else if (word == "video") {
      list += kVideoExtensions;
    } else if (word.find_first_of("*|/ ") != std::string::npos) {
      return false;
    } else {
      list += "*." + word + "|";
    }
  }
  return all || !list.empty();
}

std::string FailureText(int error, const FoundFileRecord& record, const std::filesystem::path& path) {
  std::string text = ErrorText(error) + " (" + std::to_string(error) + ")";
  if (error == kErrHandleEof) {
    std::error_code ec;
    auto written = std::filesystem::file_size(path, ec);
    text = "incomplete: only " + std::to_string(ec ? 0 : written) + " of " + std::to_string(record.size) +
           " bytes could be recovered; the rest was overwritten or its record is damaged (" + text + ")";
  }
  return text;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("recover", "Scan a source and copy the deleted files found to a folder");
  struct Options {
    ScanArguments scan;
    std::string destination;
    std::string types;
    bool keepPaths = false;
    bool allowSameDevice = false;
  };
  auto options = std::make_shared<Options>();
  AddScanArguments(*command, options->scan);
  command->add_option("DEST", options->destination, "Folder that receives the recovered files")->required();
  command->add_option("--types", options->types,
                      "Extensions (jpg,png,...) or photo, audio, video, all; default photo, audio and video");
  command->add_flag("--keep-paths", options->keepPaths,
                    "Write DEST/<folder path>/<name> instead of DEST/<category>/<name>");
  command->add_flag("--allow-same-device", options->allowSameDevice,
                    "Allow DEST on the disk being recovered from (may overwrite what is recovered)");
  command->callback([options, &exitCode] {
    std::string list;
    bool all = false;
    if (options->types.empty()) {
      list = std::string(kPhotoExtensions) + std::string(kAudioExtensions) + std::string(kVideoExtensions);
    } else if (!BuildExtensionList(options->types, list, all)) {
      std::fprintf(stderr, "kestrel-cli: --types: give extensions (jpg,png), photo, audio, video or all\n");
      exitCode = kExitUsage;
      return;
    }
    Source source;
    if (!ResolveScanSource(options->scan, source)) {
      exitCode = kExitUsage;
      return;
    }
    std::filesystem::path root = options->destination;
    if (!source.isImage && !options->allowSameDevice && OnSameDisk(source.path, root)) {
      std::fprintf(stderr,
                   "kestrel-cli: %s is on the disk being recovered from; writing there can overwrite the "
                   "files being recovered. Choose a folder on another disk, or give --allow-same-device.\n",
                   options->destination.c_str());
      exitCode = kExitUsage;
      return;
    }
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (!std::filesystem::is_directory(root, ec)) {
      PrintSourceError(root, ErrorFromErrno(ec ? ec.value() : ENOTDIR, IoDirection::kWrite));
      exitCode = kExitUsage;
      return;
    }
    std::unique_ptr<IFileRecoveryParse> engine;
    exitCode = RunScan(source, options->scan.options(), engine);
    if (exitCode != kExitOk) return;

    std::vector<FoundItem> matches;
    int error = kSuccess;
    if (all) {
      std::vector<FoundItem> found;
      error = CollectFound(*engine, found);
      for (auto& item : found) {
        if (!item.record.IsDirectory()) matches.push_back(item);
      }
    } else {
      std::vector<FoundFileRecord> records;
      int searched = engine->SearchByExtension(list, records);
      error = searched == 1 ? kSuccess : (searched == 0 ? kErrReadFault : searched);
      for (const auto& record : records) {
        FoundItem item;
        item.record = record;
        if (options->keepPaths) engine->GetItemPath(&record, item.folder);
        matches.push_back(item);
      }
    }
    if (error != kSuccess) {
      PrintSourceError(options->scan.source, error);
      exitCode = kExitUsage;
      return;
    }

    ProgressLine line;
    ItemState state;
    state.line = &line;
    engine->SetCallbacks(nullptr, ItemProgress, &state, 100);
    int32_t rootDepth = RootDepth(root);
    uint64_t recovered = 0, failed = 0, index = 0;
    for (const FoundItem& item : matches) {
      ++index;
      std::filesystem::path destination;
      if (options->keepPaths) {
        std::filesystem::path folder = root;
        std::string_view rest = item.folder;
        while (!rest.empty()) {
          size_t slash = rest.find('/');
          folder /= SafeComponent(rest.substr(0, slash));
          rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        }
        destination = FreeDestination(folder / SafeComponent(item.record.Name()));
      } else {
        destination = RecoveryDestination(root, item.record);
      }
      state.label = "Recovering " + std::to_string(index) + "/" + std::to_string(matches.size()) + ": " +
                    std::string(item.record.Name());
      state.finished = false;
      state.error = 0;
      int result = engine->RecoverItem(&item.record, destination, rootDepth);
      // The item's own final report decides; an engine that returned an error
      // without reporting it still counts as a failure.
      int outcome = state.finished ? state.error : result;
      if (outcome == kSuccess && result != kSuccess) outcome = result;
      if (!state.finished && result == kSuccess) outcome = kErrGeneralFailure;
      line.Clear();
      if (outcome == kSuccess) {
        ++recovered;
      } else {
        ++failed;
        std::fprintf(stderr, "failed: %s: %s\n", destination.c_str(),
                     FailureText(outcome, item.record, destination).c_str());
      }
    }
    line.Clear();
    std::printf("recovered %llu, failed %llu\n", static_cast<unsigned long long>(recovered),
                static_cast<unsigned long long>(failed));
    exitCode = failed == 0 ? kExitOk : kExitPartial;
  });
}

}  // namespace kestrel::cli
