// A file laid out as a list of clusters, seen as one run of bytes for the
// whole-file content check, so that an engine can test a placement of a
// deleted file's clusters before it chooses it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "carve/integrity/integrity_check.h"

namespace kestrel {

class ClusterListSource final : public IntegritySource {
 public:
  // readCluster fills clusterBytes bytes of one cluster; false when it cannot.
  using ClusterReader = std::function<bool(uint32_t cluster, uint8_t* out)>;
  ClusterListSource(const std::vector<uint32_t>& clusters, uint32_t clusterBytes, uint64_t size,
                    ClusterReader readCluster);

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override;

 private:
  const std::vector<uint32_t>& clusters_;
  uint32_t clusterBytes_;
  uint64_t size_;
  ClusterReader readCluster_;
  std::vector<uint8_t> cached_;  // the last cluster read, for the many small reads of a check
  size_t cachedIndex_ = SIZE_MAX;
};

}  // namespace kestrel
