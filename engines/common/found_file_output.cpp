#include "engines/common/found_file_output.h"

#include <algorithm>
#include <system_error>

#include "engines/common/preview_file.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

int32_t Percent(uint64_t done, uint64_t total) {
  return total ? int32_t(std::min<uint64_t>(done, total) * 100 / total) : 100;
}

}  // namespace

int WriteFoundFile(const FoundFileRecord& record, const std::filesystem::path& path, ItemProgressCallback item,
                   void* user, const RecordReader& read) {
  auto finish = [&](int outcome) { return item ? item(user, 100, 100, outcome, path) : 0; };
  DataSink sink;
  if (int error = sink.OpenFile(path); error != kSuccess) {
    finish(error);
    return error;
  }
  bool stopped = false;
  auto report = [&](uint64_t done) {
    int32_t percent = Percent(done, record.size);
    // The 100 % call waits for the close, whose error still counts.
    if (percent >= 100 || !item) return 0;
    int answer = item(user, percent, 100, 0, path);
    stopped = answer != 0;
    return answer;
  };
  int result = record.size == 0 ? kSuccess : read(record, sink, report);
  int closeError = sink.Close();
  if (stopped) return result;
  if (result == kSuccess) result = closeError;
  int answer = finish(result);
  // A stop answered to the last report is the caller's to see.
  if (result == kSuccess && answer != 0) return answer;
  return result;
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
