// Thumbnails of found photos for the results grid: extracted and shrunk by
// one background worker, the visible rows first (top to bottom), kept in a
// bounded memory cache and in a folder of their own under the scan-log
// folder, which goes when the results go. Each carries the verdict of the
// file's integrity check (intact, damaged, unknown).
#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QStyledItemDelegate>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "carve/integrity/integrity_check.h"
#include "ui/results_model.h"

namespace kestrel::ui {

class ThumbnailStore : public QObject {
  Q_OBJECT
 public:
  static constexpr int kSide = 96;         // thumbnails fit a square of this side
  static constexpr int kMemoryItems = 600;  // decoded thumbnails kept in memory
  static constexpr int kDiskItems = 20000;  // thumbnails kept on disk per result set

  explicit ThumbnailStore(QObject* parent = nullptr);
  ~ThumbnailStore() override;

  // New results (or none): forgets every thumbnail and removes the old folder.
  void Reset(std::shared_ptr<const ResultSet> results);
  // Rows first to last (of the list's order) are on screen: only they are made.
  void SetVisibleRows(int first, int last);

  struct Thumb {
    QImage image;  // null when the picture could not be decoded
    IntegrityVerdict verdict = IntegrityVerdict::kUnknown;
    QString reason;  // the check's own words: what was verified, or where the damage starts
  };
  // The thumbnail of record (shown at row) when made; otherwise null and it
  // is asked for.
  std::shared_ptr<const Thumb> Get(uint32_t record, int row);
  const std::filesystem::path& folder() const { return folder_; }
  uint64_t made() const { return made_; }

 signals:
  void ready(quint32 record);

 private:
  void WorkerLoop();
  std::shared_ptr<Thumb> Make(uint32_t record);

  std::shared_ptr<const ResultSet> results_;
  std::filesystem::path folder_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<int, uint32_t> wanted_;  // row -> record, lowest row first
  int firstVisible_ = 0, lastVisible_ = -1;
  std::map<uint32_t, std::shared_ptr<const Thumb>> memory_;  // bounded by kMemoryItems
  std::vector<uint32_t> memoryOrder_;
  uint64_t generation_ = 0;
  std::atomic<uint64_t> made_{0};
  uint64_t onDisk_ = 0;
  bool stop_ = false;
  std::thread worker_;
};

// Paints one grid cell: the thumbnail (or the file's icon), its mark and the name.
class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  ThumbnailDelegate(ThumbnailStore* store, ResultsModel* model, QObject* parent);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // A cell's tooltip explains its mark with the check's reason.
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  ThumbnailStore* store_;
  ResultsModel* model_;
};

// Held around every use of an engine outside its job (previews, thumbnails):
// engines and the one temporary preview file serve one caller at a time.
std::mutex& EngineAccessLock();

}  // namespace kestrel::ui
