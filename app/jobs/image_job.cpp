#include "app/jobs/image_job.h"

#include <cstdio>

#include "app/jobs/image_destination.h"
#include "catalogue/categories.h"

namespace kestrel {

std::string RateText(double bytesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1e6);
  return text;
}

ImageJob::ImageJob(IJobView& view, LanguageTable& texts, ImageJobRequest request, TimeEstimate::Clock clock)
    : Job(view, texts), request_(std::move(request)), estimate_(std::move(clock)) {
  if (request_.map.empty()) request_.map = request_.destination.string() + ".map";
}

int ImageJob::Fail(int error, const std::filesystem::path& path, const std::string& reason) {
  outcome_.result = error;
  outcome_.failedPath = path;
  outcome_.reason = reason;
  view_.SetText("error", Msg("MSG0217") + " " + path.string() + ": " + reason);
  view_.SetVisible("error", true);
  return kJobFailed;
}

void ImageJob::Show(const ImageCopyProgress& p) {
  estimate_.Update(p.bytesDone, p.bytesTotal);
  int percent = p.bytesTotal ? int(p.bytesDone * 100 / p.bytesTotal) : 100;
  if (!throttle_.Due(percent, p.bytesDone == p.bytesTotal)) return;
  uint64_t sector = uint64_t(bytesPerSector_);
  view_.SetValue("progress", percent);
  view_.SetText("percent", Msg("MSG0301") + " " + std::to_string(percent) + "%");
  view_.SetText("sectors", Msg("MSG0303") + " " + std::to_string(p.bytesDone / sector) + " / " +
                               std::to_string(p.bytesTotal / sector));
  view_.SetText("rate", RateText(estimate_.rate()));
  view_.SetText("elapsed", Msg("MSG0308") + " " + DurationText(int64_t(estimate_.elapsedSeconds())));
  int64_t remaining = estimate_.remainingSeconds();
  view_.SetText("time", remaining < 0 ? Msg("MSG0304") : Msg("MSG0305") + " " + DurationText(remaining));
  if (p.bytesBad > 0) {
    view_.SetText("bad", Msg("MSG0307") + " " + std::to_string(p.bytesBad / sector));
    view_.SetVisible("bad", true);
  }
}

int ImageJob::Run() {
  view_.SetText("stage", Msg("MSG0302") + " " + request_.destination.string());
  view_.SetVisible("bad", false);
  view_.SetVisible("error", false);

  SectorDevice device;
  ImageCopyRequest copy;
  copy.device = &device;
  copy.source = request_.source;
  copy.destination = request_.destination;
  copy.map = request_.map;
  copy.retries = request_.retries;
  if (request_.sourceIsImage) {
    if (int error = OpenImageFile(request_.source, device); error != kSuccess) {
      return Fail(error, request_.source, ErrorText(error));
    }
    copy.sectorCount = device.totalSectors;
  } else {
    if (int error = OpenPhysicalDrive(device, request_.partition.driveNumber); error != kSuccess) {
      return Fail(error, request_.source, ErrorText(error));
    }
    copy.bytesPerSector = QueryBytesPerSector(device.fd());
    copy.firstSector = request_.partition.firstSector;
    copy.sectorCount = request_.partition.sectorCount;
    if (copy.firstSector > device.totalSectors) copy.firstSector = device.totalSectors;
    if (copy.sectorCount == 0 || copy.sectorCount > device.totalSectors - copy.firstSector) {
      copy.sectorCount = device.totalSectors - copy.firstSector;
    }
  }
  bytesPerSector_ = copy.bytesPerSector;
  uint64_t imageBytes = copy.sectorCount * uint64_t(copy.bytesPerSector);

  auto facts = InspectImageDestination(request_.source, request_.sourceIsImage, request_.destination);
  if (std::string problem = ImageDestinationProblem(facts, imageBytes); !problem.empty()) {
    return Fail(kErrInvalidParameter, request_.destination, Msg(problem));
  }

  bool started = false;
  outcome_ = CopyToImage(copy, [this, &started](const ImageCopyProgress& p) {
    return Report([&] {
      if (!started) {
        estimate_.Start(p.bytesAtStart);
        started = true;
      }
      Show(p);
    });
  });
  if (outcome_.result == kCancelled) return kJobCancelled;
  if (outcome_.result != kSuccess) {
    ImageCopyOutcome failed = outcome_;
    Fail(failed.result, failed.failedPath, failed.reason);
    outcome_ = failed;
    return kJobFailed;
  }
  return outcome_.badBytes > 0 ? kJobDoneWithBadSectors : kJobDone;
}

}  // namespace kestrel
