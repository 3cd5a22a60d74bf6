#include "app/jobs/preview_job.h"

#include <algorithm>

#include "catalogue/categories.h"

namespace kestrel {

PreviewJob::PreviewJob(IJobView& view, LanguageTable& texts, IFileRecoveryParse& engine, const FoundFileRecord& record)
    : Job(view, texts), engine_(engine), record_(record) {}

int PreviewJob::OnProgress(void* user, int32_t percent, int32_t) {
  auto* job = static_cast<PreviewJob*>(user);
  const int shown = std::clamp(percent, 0, 100);
  return job->Report([&] {
    job->view_.SetValue("progress", shown);
    job->view_.SetText("percent", job->Msg("MSG0901") + " " + std::to_string(shown) + "%");
  });
}

int PreviewJob::Run() {
  const std::string name(record_.Name());
  view_.SetText("FileName", name);
  view_.SetText("stage", Msg("MSG0902") + " " + name);
  tempPath_.clear();
  bufferBytes_ = kPreviewBufferBytes;
  error_ = engine_.ExtractPreview(&record_, tempPath_, buffer_, bufferBytes_, &PreviewJob::OnProgress, this);
  if (error_ == kCancelled) return kJobCancelled;
  if (error_ != kSuccess) {
    // Nothing usable: the display says it cannot preview the file.
    tempPath_.clear();
    bufferBytes_ = 0;
  }
  bufferBytes_ = std::min<uint32_t>(bufferBytes_, uint32_t(buffer_.size()));
  return kJobDone;
}

int NextPhotoIndex(const std::vector<std::string_view>& names, int current, bool forward) {
  const int count = int(names.size());
  auto isPhoto = [&](int i) { return ExtensionInList(ExtensionOf(names[i]), kPhotoExtensions); };
  if (current < 0 || current >= count) {
    for (int i = 0; i < count; ++i)
      if (isPhoto(i)) return i;
    return -1;
  }
  // After the current one, then from the far end back towards it.
  const int step = forward ? 1 : -1;
  for (int i = current + step; i >= 0 && i < count; i += step)
    if (isPhoto(i)) return i;
  for (int i = forward ? 0 : count - 1; i != current; i += step)
    if (isPhoto(i)) return i;
  return -1;
}

}  // namespace kestrel
