#include "engines/common/found_file_output.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "engines/common/preview_file.h"
#include "engines/common/unpublished_file.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

int32_t Percent(uint64_t done, uint64_t total) {
  return total ? int32_t(std::min<uint64_t>(done, total) * 100 / total) : 100;
}

// The marked name, with "(n)" before the mark while it is taken: an earlier
// marked copy is never replaced.
std::filesystem::path FreeMarkedName(const std::filesystem::path& path, std::string_view mark) {
  std::filesystem::path candidate = MarkedName(path, mark);
  std::string stem = path.stem().string(), extension = path.extension().string();
  std::error_code ec;
  for (int n = 1; std::filesystem::symlink_status(candidate, ec).type() != std::filesystem::file_type::not_found;
       ++n) {
    candidate = MarkedName(path.parent_path() / (stem + "(" + std::to_string(n) + ")" + extension), mark);
  }
  return candidate;
}

}  // namespace

int WriteFoundFile(const FoundFileRecord& record, const std::filesystem::path& path, ItemProgressCallback item,
                   void* user, const RecordReader& read) {
  auto finish = [&](int outcome, const std::filesystem::path& shown) {
    return item ? item(user, 100, 100, outcome, shown) : 0;
  };
  // Nothing appears under path until it is whole: a kill or a full disk
  // midway leaves only the temporary, which the next run removes.
  UnpublishedFile file(path);
  if (int error = file.openError(); error != kSuccess) {
    finish(error, path);
    return error;
  }
  DataSink sink;
  sink.UseFile(file.TakeFd());
  bool stopped = false;
  auto report = [&](uint64_t done) {
    int32_t percent = Percent(done, record.size);
    // The 100 % call waits for the publish, whose error still counts.
    if (percent >= 100 || !item) return 0;
    int answer = item(user, percent, 100, 0, path);
    stopped = answer != 0;
    return answer;
  };
  int result = record.size == 0 ? kSuccess : read(record, sink, report);
  if (stopped) {
    file.Discard(sink.ReleaseFile());
    return result;
  }
  std::filesystem::path published = path;
  if (result == kSuccess) {
    published = ChoosePublishName(file.temporary(), path, result);
    result = file.Publish(sink.ReleaseFile(), published);
    if (result != kSuccess) published = path;
  } else if (result == kErrHandleEof && sink.written() > 0) {
    // What could be read is kept, under a name that says it is not whole.
    published = ChoosePublishName(file.temporary(), FreeMarkedName(path, "partial"), result);
    if (int error = file.Publish(sink.ReleaseFile(), published); error != kSuccess) {
      result = error;
      published = path;
    }
  } else {
    file.Discard(sink.ReleaseFile());
  }
  int answer = finish(result, published);
  // A stop answered to the last report is the caller's to see.
  if (result == kSuccess && answer != 0) return answer;
  return result;
}

std::filesystem::path MarkedName(const std::filesystem::path& path, std::string_view mark) {
  std::string name = path.filename().string();
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return path.parent_path() / (name + "." + std::string(mark));
  return path.parent_path() / (name.substr(0, dot) + "." + std::string(mark) + name.substr(dot));
}

int ExtractFoundFilePreview(const FoundFileRecord* record, std::filesystem::path& tempPath,
                            std::vector<uint8_t>& buffer, uint32_t& bufferSize, PreviewProgressCallback callback,
                            void* user, const RecordReader& read) {
  const uint32_t capacity = bufferSize;
  bufferSize = 0;
  auto report = [&](int32_t percent, int32_t result) { return callback ? callback(user, percent, result) : 0; };
  if (!record) {
    report(100, kErrInvalidParameter);
    return kErrInvalidParameter;
  }
  const char* previewName = PreviewFileName(record->Name());
  DataSink sink;
  uint64_t wanted = record->size;
  if (previewName) {
    UniqueFd fd;
    if (int error = OpenPreviewFile(previewName, tempPath, fd); error != kSuccess) {
      report(100, error);
      return error;
    }
    sink.UseFile(std::move(fd));
  } else {
    wanted = std::min<uint64_t>(capacity, record->size);
    sink.UseBuffer(&buffer, uint32_t(wanted));
  }
  bool stopped = false;
  auto progress = [&](uint64_t done) {
    int32_t percent = Percent(done, wanted);
    if (percent >= 100) return 0;
    int answer = report(percent, 0);
    stopped = answer != 0;
    return answer;
  };
  int result = wanted == 0 ? kSuccess : read(*record, sink, progress);
  if (result == kErrHandleEof) result = kSuccess;
  int closeError = sink.Close();
  if (result == kSuccess) result = closeError;
  if (!previewName) bufferSize = uint32_t(sink.written());
  if (result != kSuccess && previewName) {
    std::error_code ec;
    std::filesystem::remove(tempPath, ec);
    tempPath.clear();
  }
  if (stopped) return result;
  int answer = report(100, result);
  if (result == kSuccess && answer != 0) return answer;
  return result;
}

}  // namespace kestrel
