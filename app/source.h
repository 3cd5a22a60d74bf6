// Turns what the user named (an image file, a whole disk or a partition) into
// the one ScanSource that the probe, the truncation check and the engine
// factory all take: located in the disk table, measured and probed once.
#pragma once

#include <filesystem>
#include <string>

#include "engines/scan_source.h"

namespace kestrel {

// Win32-numbered error: 2 when path does not exist (or is a block device the
// disk table does not know), 5 for a folder, 50 for a FIFO, a socket or a
// character device (refused without opening it). A source that exists but cannot
// be opened or is shorter than the probe still resolves: out.probeError says
// why, so a front end can report it at the point where the volume is needed.
// A partition's file system is flushed to the disk before the probe is read.
int ResolveSource(const std::filesystem::path& path, ScanSource& out);

// The problem with a source that could not be scanned, in plain words, when
// the error code alone would mislead: "is a folder, ...", "is a FIFO (named pipe), ...", "is empty", "is too
// small to hold a file system (N bytes)". Empty when there is nothing plainer
// to say than the code's own text.
std::string SourceProblemText(const std::filesystem::path& path, int code);

// Measures and probes source.partition on its disk (a system disk or an
// image registered as one): sectorBytes, length, probe, probeError, boot.
void ProbeDiskPartition(ScanSource& source);
// Sets source.kind from its probe.
void ClassifyProbe(ScanSource& source);

}  // namespace kestrel
