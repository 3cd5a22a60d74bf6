#include "engines/common/reader_engine.h"

#include "engines/common/no_throw.h"
#include "engines/common/tree_recovery.h"
#include "platform/error_codes.h"

namespace kestrel {

int RecoverThroughReader(IFileRecoveryParse& engine, const FoundFileRecord* record,
                         const std::filesystem::path& destination, int32_t rootDepth, ItemProgressCallback item,
                         void* user, const RecordReader& read, const RecordCheck& check) {
  auto writeFile = [&](const FoundFileRecord& r, const std::filesystem::path& path) {
    if (check) {
      if (int refused = check(r); refused != kSuccess) {
        if (item) item(user, 100, 100, refused, path);
        return refused;
      }
    }
    return WriteFoundFile(r, path, item, user, read);
  };
  return NoThrow([&] { return RecoverTree(engine, record, destination, rootDepth, item, user, writeFile); });
}

int StreamThroughReader(const FoundFileRecord& record, DataSink& sink, const RecordReader& read,
                        const RecordCheck& check) {
  return NoThrow([&] {
    if (check) {
      if (int refused = check(record); refused != kSuccess) return refused;
    }
    return read(record, sink, [](uint64_t) { return 0; });
  });
}

int PreviewThroughReader(const FoundFileRecord* record, std::filesystem::path& tempPath, std::vector<uint8_t>& buffer,
                         uint32_t& bufferSize, PreviewProgressCallback callback, void* user, const RecordReader& read,
                         const RecordCheck& check) {
  return NoThrow([&] {
    if (record && check) {
      if (int refused = check(*record); refused != kSuccess) {
        bufferSize = 0;
        if (callback) callback(user, 100, refused);
        return refused;
      }
    }
    return ExtractFoundFilePreview(record, tempPath, buffer, bufferSize, callback, user, read);
  });
}

}  // namespace kestrel
