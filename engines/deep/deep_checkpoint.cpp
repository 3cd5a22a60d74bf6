// Saved points of a deep pass, so that a scan that was killed (a crash, a
// power cut, a hung disk the user had to kill) resumes from its last point.
// Two files take turns: each holds a position, the record count of every
// member's store at that position and the members' state. The history entry
// is written last and names which of the two is in force; the other one may
// be rewritten meanwhile. Records a store gained after the point are dropped
// on resume, since the pass finds them again.
#include "engines/deep/deep_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

namespace {

constexpr uint32_t kCheckpointMagic = 0x5043444B;  // "KDCP"
constexpr uint32_t kCheckpointVersion = 1;
constexpr const char* kCheckpointFiles[2] = {"DeepCheckpoint0", "DeepCheckpoint1"};

// The position fields, one list for writing and reading.
template <typename Io, typename State>
void ResumeFields(Io& io, State& state) {
  io(state.rangeStart);
  io(state.rangeLength);
  io(state.rangePosition);
  io(state.sectorsDone);
  io(state.filesFound);
}

// The head of a point file: everything before the members' sections.
template <typename Io, typename State, typename Count>
void PointFields(Io& io, uint64_t& generation, State& state, Count& fatRecords, Count& ntfsRecords,
                 Count& carvedRecords) {
  io.Expect(kCheckpointMagic);
  io.Expect(kCheckpointVersion);
  io(generation);
  ResumeFields(io, state);
  io(fatRecords);
  io(ntfsRecords);
  io(carvedRecords);
}

uint64_t Records(ScanLog* log) { return log ? log->TotalRecords() : 0; }

}  // namespace

int CProfessionalRecovery::WriteCheckpoint(ScanResumeState state, const deep::StateWriter& fatState,
                                           const deep::StateWriter& ntfsState) {
  for (ScanLog* log : {fat_.log(), ntfs_.log(), carver_.log()}) {
    if (!log) continue;
    if (int error = log->SaveIndex(); error != kSuccess) return error;
  }
  state.filesFound = FoundNow();
  deep::StateWriter writer;
  uint64_t generation = checkpointGeneration_ + 1;
  uint64_t fatRecords = Records(fat_.log()), ntfsRecords = Records(ntfs_.log()), carved = Records(carver_.log());
  PointFields(writer, generation, state, fatRecords, ntfsRecords, carved);
  writer.Section(fatState);
  writer.Section(ntfsState);
  // A failed write leaves the history at the previous point, whose file is untouched.
  if (int error = writer.Save(scanFolder_ / kCheckpointFiles[generation % 2]); error != kSuccess) return error;
  // The point is in force only once the history names it. Until then the
  // other file stays the one to resume from, so the next point must not
  // overwrite it: the generation moves on only after the history is saved.
  if (int error = RecordState(state, scanFolder_); error != kSuccess) return error;
  checkpointGeneration_ = generation;
  ++checkpointsWritten_;
  return kSuccess;
}

bool CProfessionalRecovery::LoadCheckpoint(const std::filesystem::path& folder, const ScanResumeState& wanted,
                                           SavedPoint& out) {
  bool found = false;
  uint64_t newest = 0;
  for (const char* name : kCheckpointFiles) {
    deep::StateReader reader;
    if (reader.Load(folder / name) != kSuccess) continue;
    SavedPoint point;
    ScanResumeState state;
    PointFields(reader, point.generation, state, point.fatRecords, point.ntfsRecords, point.carvedRecords);
    if (!reader.ok()) continue;
    uint64_t generation = point.generation;
    newest = std::max(newest, generation);
    reader.Section(point.fat);
    reader.Section(point.ntfs);
    if (!reader.ok() || !(state == wanted)) continue;
    if (found && generation < out.generation) continue;
    out = std::move(point);
    found = true;
  }
  // The next point goes into the file not in force.
  checkpointGeneration_ = found ? out.generation : newest;
  return found;
}

}  // namespace kestrel
