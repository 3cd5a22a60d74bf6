#include "engines/common/cluster_list_source.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

ClusterListSource::ClusterListSource(const std::vector<uint32_t>& clusters, uint32_t clusterBytes, uint64_t size,
                                     ClusterReader readCluster)
    : clusters_(clusters),
      clusterBytes_(clusterBytes),
      size_(std::min<uint64_t>(size, uint64_t(clusters.size()) * clusterBytes)),
      readCluster_(std::move(readCluster)) {}

bool ClusterListSource::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
  if (clusterBytes_ == 0 || offset > size_ || count > size_ - offset) return false;
  while (count > 0) {
    size_t index = size_t(offset / clusterBytes_);
    if (index != cachedIndex_) {
      cached_.resize(clusterBytes_);
      if (!readCluster_(clusters_[index], cached_.data())) {
        cachedIndex_ = SIZE_MAX;
        return false;
      }
      cachedIndex_ = index;
    }
    size_t within = size_t(offset % clusterBytes_);
    size_t piece = std::min<size_t>(count, clusterBytes_ - within);
    std::memcpy(out, cached_.data() + within, piece);
    out += piece, offset += piece, count -= piece;
  }
  return true;
}

}  // namespace kestrel
