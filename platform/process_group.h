// Ending a group of processes we started (a media player and whatever it
// launched), by the group's id, without touching a group that only reuses
// that number.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace kestrel {

// When pid started, in clock ticks since boot (as /proc/<pid>/stat counts);
// 0 when it cannot be read.
uint64_t ProcessStartTicks(pid_t pid);

// The live (not zombie) processes of group that started at or after
// startedSince: the members we can still be responsible for.
std::vector<pid_t> LiveGroupMembers(pid_t group, uint64_t startedSince);

// Ends the members of group started at or after startedSince: SIGTERM to the
// group, then SIGKILL to what is left after termWaitMs. Returns false when
// the group had no such member (nothing of ours was left to end).
bool EndProcessGroup(pid_t group, uint64_t startedSince, int termWaitMs = 2000);

}  // namespace kestrel
