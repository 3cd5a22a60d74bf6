// The preview extraction job: copies one found file out of its source through
// the engine that found it, pictures and media into the temporary preview
// file of the scan-log folder, anything else into a buffer of at most 20 MiB
// (the start of a longer file), and the navigation rule of the preview window.
//
// Controls: "FileName" (the file's name), "stage" ("MSG0902" and the name),
// "percent" ("MSG0901" and the percentage), "progress" (0..100). Results:
// kJobDone (also when the engine failed: error() says why and nothing usable
// was extracted), kJobCancelled. Cancel question "MSG0903".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "app/jobs/job.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

// The most a preview reads of a file shown as text.
inline constexpr uint32_t kPreviewBufferBytes = 20u << 20;

class PreviewJob : public Job {
 public:
  PreviewJob(IJobView& view, LanguageTable& texts, IFileRecoveryParse& engine, const FoundFileRecord& record);

  // Read after Wait: the temporary file (empty when the data went to the
  // buffer), the buffer and the bytes in it, and the engine's answer.
  const std::filesystem::path& tempPath() const { return tempPath_; }
  const std::vector<uint8_t>& buffer() const { return buffer_; }
  uint32_t bufferBytes() const { return bufferBytes_; }
  int error() const { return error_; }

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG0903"; }

 private:
  static int OnProgress(void* user, int32_t percent, int32_t result);

  IFileRecoveryParse& engine_;
  FoundFileRecord record_;
  std::filesystem::path tempPath_;
  std::vector<uint8_t> buffer_;
  uint32_t bufferBytes_ = 0;
  int error_ = 0;
};

// Stepping through the photos of a list of names (the files of the current
// file list, in list order) from the one at current (-1 for none). Forward:
// the first photo after it, else, wrapping, the first photo before it.
// Backward the same the other way. No current: the first photo. -1 when the
// list holds no other photo to go to.
int NextPhotoIndex(const std::vector<std::string_view>& names, int current, bool forward);

}  // namespace kestrel
