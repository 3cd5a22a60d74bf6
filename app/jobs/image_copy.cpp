#include "app/jobs/image_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/unique_fd.h"

namespace kestrel {

namespace {

constexpr std::string_view kCreatedBy = "Kestrel";
// Copying, trimming and scraping states all mean "not read yet" to us: a map
// left by ddrescue in the middle of a run continues like our own.
constexpr std::string_view kPendingStatuses = "?*/";
// How often the map is rewritten while copying; a crash loses at most this
// much progress, never data (an area is marked copied only after its write).
constexpr auto kMapSaveInterval = std::chrono::seconds(5);
// Pieces copied inside the kernel: large enough that system calls cost
// nothing, small enough that progress and map saves stay frequent. A multiple
// of the 64 KiB read piece, so a failing one splits into those.
constexpr uint64_t kKernelCopyPiece = 16 * uint64_t(kMaxReadPiece);

class Copier {
 public:
  Copier(const ImageCopyRequest& request, const ImageCopyProgressFn& progress)
      : request_(request), progress_(progress) {}

  ImageCopyOutcome Run();

 private:
  int Open();
  int CopyPending();
  // One piece of at most 64 KiB, read and written; a read fault sends it
  // sector by sector.
  int CopyPiece(uint64_t pos, uint64_t bytes);
  // A longer piece copied inside the kernel; what it cannot copy goes through
  // CopyPiece, and a kernel or file system without the call ends its use.
  int CopyInKernel(uint64_t pos, uint64_t bytes);
  bool KernelCopyApplies() const;
  int RetryBad(int pass);
  // Reads [pos, pos + bytes) one sector at a time; good sectors are written and
  // marked copied, failing ones are zero-filled (when zeroFill) and marked bad.
  int ReadSectorBySector(uint64_t pos, uint64_t bytes, bool zeroFill);
  int Read(uint64_t pos, uint32_t sectors, int32_t& sectorsRead);
  int Write(uint64_t pos, const uint8_t* data, size_t count);
  // The image's written bytes onto the disk, so that a map saved next never
  // claims data that a power cut would lose.
  int SyncImage();
  int SaveMap();
  int SaveMapIfDue();
  int Report();
  int Fail(int error, const std::filesystem::path& path, std::string reason);

  const ImageCopyRequest& request_;
  const ImageCopyProgressFn& progress_;
  ImageCopyOutcome outcome_;
  RescueMap map_;
  UniqueFd out_;
  uint32_t sectorBytes_ = 0;
  uint64_t total_ = 0;
  uint64_t pending_ = 0;
  uint64_t bad_ = 0;
  uint64_t atStart_ = 0;
  int pass_ = 1;
  bool kernelCopy_ = false;
  std::vector<uint8_t> buffer_;
  std::chrono::steady_clock::time_point lastSave_;
};

int Copier::Fail(int error, const std::filesystem::path& path, std::string reason) {
  outcome_.failedPath = path;
  outcome_.reason = std::move(reason);
  return error;
}

int Copier::Open() {
  RescueMap loaded;
  std::string why;
  int mapState = LoadRescueMap(request_.map, loaded, why);
  if (mapState != kSuccess && mapState != kErrFileNotFound) {
    return Fail(mapState, request_.map, mapState == kErrInvalidParameter ? "not a mapfile: " + why : ErrorText(mapState));
  }
  outcome_.resumed = mapState == kSuccess;
  if (outcome_.resumed) {
    if (loaded.size() != total_) {
      return Fail(kErrInvalidParameter, request_.map,
                  "the map describes " + std::to_string(loaded.size()) + " bytes but the source has " +
                      std::to_string(total_) + "; it belongs to another source");
    }
    map_ = std::move(loaded);
  } else {
    map_ = RescueMap(total_);
  }
  for (const MapArea& area : map_.areas()) {
    if (kPendingStatuses.find(area.status) != std::string_view::npos) pending_ += area.size;
    if (area.status == kAreaBad) bad_ += area.size;
  }
  atStart_ = total_ - pending_;

  // A fresh image is truncated so no stale tail of an older file survives; a
  // resumed one keeps what the earlier run wrote.
  struct stat st {};
  bool existed = ::stat(request_.destination.c_str(), &st) == 0;
  int flags = O_WRONLY | O_CREAT | (outcome_.resumed ? 0 : O_TRUNC);
  int error = kSuccess;
  out_ = OpenFd(request_.destination.c_str(), flags, 0644, error);
  if (!out_.valid()) return Fail(error, request_.destination, ErrorText(error));
  if (outcome_.resumed && !existed && atStart_ > 0) {
    return Fail(kErrFileNotFound, request_.destination,
                "the image that the map " + request_.map.string() +
                    " belongs to is missing; remove the map to start afresh");
  }
  return SaveMap();
}

int Copier::SyncImage() {
  if (!out_.valid()) return kSuccess;
  int answer = request_.syncData ? request_.syncData(out_.get()) : (::fdatasync(out_.get()) == 0 ? 0 : errno);
  // A destination that cannot be synced (a pipe, a special file) has nothing to lose.
  if (answer == 0 || answer == EINVAL) return kSuccess;
  int error = ErrorFromErrno(answer, IoDirection::kWrite);
  return Fail(error, request_.destination, ErrorText(error));
}

int Copier::SaveMap() {
  lastSave_ = std::chrono::steady_clock::now();
  if (int error = SyncImage(); error != kSuccess) return error;
  ReplacementFile file(request_.map, request_.map.string() + ".tmp");
  if (file.openError() != kSuccess) return Fail(file.openError(), request_.map, ErrorText(file.openError()));
  std::string text = map_.Format(kCreatedBy);
  int error = WriteAll(file.fd(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (error == kSuccess) error = file.Commit();
  if (error != kSuccess) return Fail(error, request_.map, ErrorText(error));
  return kSuccess;
}

int Copier::SaveMapIfDue() {
  if (std::chrono::steady_clock::now() - lastSave_ < kMapSaveInterval) return kSuccess;
  return SaveMap();
}

int Copier::Report() {
  if (!progress_) return kSuccess;
  ImageCopyProgress p;
  p.bytesTotal = total_;
  p.bytesDone = total_ - pending_;
  p.bytesBad = bad_;
  p.bytesAtStart = atStart_;
  p.pass = pass_;
  return progress_(p);
}

int Copier::Read(uint64_t pos, uint32_t sectors, int32_t& sectorsRead) {
  sectorsRead = 0;
  return ReadSectors(int32_t(sectors), *request_.device, buffer_.data(), request_.firstSector + pos / sectorBytes_,
                     int32_t(sectorBytes_), &sectorsRead);
}

int Copier::Write(uint64_t pos, const uint8_t* data, size_t count) {
  int error = PwriteAll(out_.get(), data, count, pos);
  if (error != kSuccess) return Fail(error, request_.destination, ErrorText(error));
  return kSuccess;
}

int Copier::ReadSectorBySector(uint64_t pos, uint64_t bytes, bool zeroFill) {
  for (uint64_t at = pos; at < pos + bytes; at += sectorBytes_) {
    int32_t got = 0;
    int error = Read(at, 1, got);
    if (error == kSuccess && got == 1) {
      if ((error = Write(at, buffer_.data(), sectorBytes_)) != kSuccess) return error;
      map_.Mark(at, sectorBytes_, kAreaFinished);
      if (!zeroFill) bad_ -= sectorBytes_;
    } else if (error == kErrReadFault) {
      if (zeroFill) {
        std::fill(buffer_.begin(), buffer_.begin() + sectorBytes_, 0);
        if ((error = Write(at, buffer_.data(), sectorBytes_)) != kSuccess) return error;
        map_.Mark(at, sectorBytes_, kAreaBad);
        bad_ += sectorBytes_;
      }
    } else {
      return Fail(error, request_.source, ErrorText(error));
    }
  }
  return kSuccess;
}

int Copier::CopyPiece(uint64_t pos, uint64_t bytes) {
  int32_t got = 0;
  int error = Read(pos, uint32_t(bytes / sectorBytes_), got);
  if (error != kSuccess && error != kErrReadFault) return Fail(error, request_.source, ErrorText(error));
  uint64_t good = uint64_t(got) * sectorBytes_;
  if (good > 0) {
    if ((error = Write(pos, buffer_.data(), good)) != kSuccess) return error;
    map_.Mark(pos, good, kAreaFinished);
  }
  if (good < bytes) return ReadSectorBySector(pos + good, bytes - good, true);
  return kSuccess;
}

bool Copier::KernelCopyApplies() const {
  if (request_.kernelCopy) return true;
  // A test's reader, or anything but two regular files (the call refuses
  // block devices), keeps the plain path.
  struct stat in {}, out {};
  return request_.device->read == nullptr && fstat(request_.device->fd(), &in) == 0 && S_ISREG(in.st_mode) &&
         fstat(out_.get(), &out) == 0 && S_ISREG(out.st_mode);
}

int Copier::CopyInKernel(uint64_t pos, uint64_t bytes) {
  auto copy = request_.kernelCopy ? request_.kernelCopy : ::copy_file_range;
  uint64_t at = pos;
  while (at < pos + bytes) {
    off_t in = off_t((request_.firstSector + at / sectorBytes_) * sectorBytes_);
    off_t out = off_t(at);
    ssize_t copied = copy(request_.device->fd(), &in, out_.get(), &out, size_t(pos + bytes - at), 0);
    if (copied <= 0) {
      // EIO is the source failing here: this piece is read the slow way and
      // the next one tried again. Anything else (no support across these file
      // systems, a full destination) is left to the plain path, which reports
      // a real fault in its own words.
      if (copied < 0 && errno != EIO) kernelCopy_ = false;
      break;
    }
    // Only whole sectors count; a torn tail is read again below.
    uint64_t whole = uint64_t(copied) / sectorBytes_ * sectorBytes_;
    if (whole == 0) break;
    map_.Mark(at, whole, kAreaFinished);
    at += whole;
  }
  for (; at < pos + bytes; at += std::min<uint64_t>(kMaxReadPiece, pos + bytes - at)) {
    if (int error = CopyPiece(at, std::min<uint64_t>(kMaxReadPiece, pos + bytes - at)); error != kSuccess) {
      return error;
    }
  }
  return kSuccess;
}

int Copier::CopyPending() {
  MapArea area;
  uint64_t pos = 0;
  while (map_.NextArea(pos, kPendingStatuses, area)) {
    pos = area.pos;
    map_.currentPos = pos;
    uint64_t piece = std::min<uint64_t>(area.size, kernelCopy_ ? kKernelCopyPiece : kMaxReadPiece);
    int error = kernelCopy_ ? CopyInKernel(pos, piece) : CopyPiece(pos, piece);
    if (error != kSuccess) return error;
    pending_ -= piece;
    pos += piece;
    if ((error = Report()) != kSuccess) return error;
    if ((error = SaveMapIfDue()) != kSuccess) return error;
  }
  return kSuccess;
}

int Copier::RetryBad(int pass) {
  pass_ = map_.currentPass = pass;
  map_.currentStatus = kAreaBad;
  MapArea area;
  uint64_t pos = 0;
  while (map_.NextArea(pos, std::string_view(&kAreaBad, 1), area)) {
    map_.currentPos = area.pos;
    int error = ReadSectorBySector(area.pos, area.size, false);
    if (error != kSuccess) return error;
    pos = area.end();
    if ((error = Report()) != kSuccess) return error;
    if ((error = SaveMapIfDue()) != kSuccess) return error;
  }
  return kSuccess;
}

ImageCopyOutcome Copier::Run() {
  sectorBytes_ = uint32_t(request_.bytesPerSector);
  if (!request_.device || !request_.device->IsOpen() || request_.bytesPerSector <= 0 ||
      kMaxReadPiece % sectorBytes_ != 0 || request_.sectorCount > UINT64_MAX / sectorBytes_) {
    outcome_.result = Fail(kErrInvalidParameter, request_.source, ErrorText(kErrInvalidParameter));
    return outcome_;
  }
  total_ = request_.sectorCount * sectorBytes_;
  buffer_.resize(kMaxReadPiece);
  int result = Open();
  if (result == kSuccess) {
    kernelCopy_ = KernelCopyApplies();
    if ((result = Report()) == kSuccess) result = CopyPending();
    for (int retry = 1; result == kSuccess && retry <= request_.retries && bad_ > 0; ++retry) {
      result = RetryBad(1 + retry);
    }
    if (result == kSuccess) {
      map_.currentStatus = kAreaFinished;
      struct stat st {};
      // A resumed image left longer than the source by someone else's tool is cut to size.
      if (fstat(out_.get(), &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) > total_ &&
          ftruncate(out_.get(), off_t(total_)) != 0) {
        int error = LastError(IoDirection::kWrite);
        result = Fail(error, request_.destination, ErrorText(error));
      }
    }
    if (out_.valid()) {
      // The map must not claim more than the image holds: save it only after
      // the last write reached the disk (close reports delayed write errors).
      // When the bytes cannot be made safe the map saved before stays.
      int synced = SyncImage();
      int closed = out_.Close();
      if (synced != kSuccess && result == kSuccess) result = synced;
      if (closed != kSuccess && result == kSuccess) result = Fail(closed, request_.destination, ErrorText(closed));
      if (synced == kSuccess) {
        int saved = SaveMap();
        if (result == kSuccess) result = saved;
      }
    }
  }
  outcome_.result = result;
  for (const MapArea& area : map_.areas()) {
    if (area.status == kAreaBad) outcome_.badAreas.push_back(area);
  }
  outcome_.badBytes = bad_;
  outcome_.bytesTotal = total_;
  return outcome_;
}

}  // namespace

ImageCopyOutcome CopyToImage(const ImageCopyRequest& request, const ImageCopyProgressFn& progress) {
  return Copier(request, progress).Run();
}

int LoadRescueMap(const std::filesystem::path& path, RescueMap& map, std::string& why) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError();
  std::vector<uint8_t> bytes;
  int error = ReadWholeFile(fd, bytes);
  ::close(fd);
  if (error != kSuccess) return error;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return RescueMap::Parse(text, map, why) ? kSuccess : kErrInvalidParameter;
}

}  // namespace kestrel
