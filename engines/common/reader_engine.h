// RecoverItem and ExtractPreview for an engine that reads every found file
// through one RecordReader: the tree walk, the writer, the preview and the
// no-throw guard put together once, so an engine supplies only its reader
// (and, where it has one, a check that refuses a record before a file is made).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "engines/common/found_file_output.h"
#include "engines/file_recovery_parse.h"

namespace kestrel {

// 0 when record may be written; else the error it is refused with, before
// any file is created for it.
using RecordCheck = std::function<int(const FoundFileRecord& record)>;

// engine's RecoverItem: RecoverTree with a writer that refuses what check
// refuses (reported to item at 100 with the error) and otherwise writes the
// file through read. Exceptions become error codes.
int RecoverThroughReader(IFileRecoveryParse& engine, const FoundFileRecord* record,
                         const std::filesystem::path& destination, int32_t rootDepth, ItemProgressCallback item,
                         void* user, const RecordReader& read, const RecordCheck& check = {});

// engine's StreamItem (IFoundItemStream): record's bytes into sink through
// read, unless check refuses it. Exceptions become error codes.
int StreamThroughReader(const FoundFileRecord& record, DataSink& sink, const RecordReader& read,
                        const RecordCheck& check = {});

// engine's ExtractPreview: a refused record delivers nothing (bufferSize 0,
// callback at 100 with the error); otherwise ExtractFoundFilePreview.
int PreviewThroughReader(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                         uint32_t& bufferSize, PreviewProgressCallback callback, void* user, const RecordReader& read,
                         const RecordCheck& check = {});

}  // namespace kestrel
