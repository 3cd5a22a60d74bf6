// The image job: copies a partition, a whole disk or an image file into a raw
// image on a worker thread, showing its progress on an IJobView.
//
// Controls: "stage" (what is copied where), "percent", "progress" (value 0..100),
// "sectors" (done / total), "rate" (MB/s), "elapsed", "time" (time left),
// "bad" (unreadable sectors so far; shown once there are any), "error" (why
// the job failed; shown only then). Results: kJobDone, kJobDoneWithBadSectors,
// kJobCancelled, kJobFailed. Cancel question "MSG0306".
#pragma once

#include <filesystem>

#include "app/jobs/image_copy.h"
#include "app/jobs/job.h"
#include "app/jobs/time_estimate.h"
#include "platform/disk_table.h"

namespace kestrel {

struct ImageJobRequest {
  std::filesystem::path source;   // image file or block device
  bool sourceIsImage = true;
  PartitionLocation partition;    // block devices: the stretch on disk driveNumber
  std::filesystem::path destination;
  std::filesystem::path map;      // "" means destination + ".map"
  int retries = 0;
};

class ImageJob : public Job {
 public:
  ImageJob(IJobView& view, LanguageTable& texts, ImageJobRequest request, TimeEstimate::Clock clock = {});
  // What the copy did; read after Wait.
  const ImageCopyOutcome& outcome() const { return outcome_; }
  const std::filesystem::path& mapPath() const { return request_.map; }
  // The source's sector size (after Wait).
  int32_t bytesPerSector() const { return bytesPerSector_; }

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG0306"; }

 private:
  int Fail(int error, const std::filesystem::path& path, const std::string& reason);
  void Show(const ImageCopyProgress& progress);

  ImageJobRequest request_;
  ImageCopyOutcome outcome_;
  TimeEstimate estimate_;
  int32_t bytesPerSector_ = kImageSectorBytes;
  RedrawThrottle throttle_;
};

// "12.3 MB/s" (decimal megabytes, as disk tools quote them).
std::string RateText(double bytesPerSecond);

}  // namespace kestrel
