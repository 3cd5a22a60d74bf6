// The found-file list as a model over the search result: one copy of the
// records (the search's own vector), a row order per listed node as 32-bit
// indices, and one tick byte per record. A million rows cost no widgets;
// sorting runs on a worker and swaps the new order in on the GUI thread.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <cstdint>
#include <memory>
#include <vector>

#include "catalogue/found_file_record.h"

namespace kestrel {
class IFileRecoveryParse;
}

namespace kestrel::ui {

// What a search found, over all scanned sources, and the engine of each.
struct ResultSet {
  std::vector<FoundFileRecord> records;
  std::vector<uint16_t> sourceOf;                  // per record: index into engines
  std::vector<IFileRecoveryParse*> engines;        // owned by the main window's sources
};

enum ResultColumn { kColTick = 0, kColName, kColSize, kColType, kColModified, kColCreated, kColPath, kColumnCount };

// The column names of the list header, as the window's controls are named.
const char* ResultColumnName(int column);

class ResultsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ResultsModel(QObject* parent = nullptr);
  ~ResultsModel() override;

  // Takes the result (no copy is kept elsewhere); clears ticks and rows.
  void SetResults(std::shared_ptr<const ResultSet> results);
  const ResultSet* results() const { return results_.get(); }
  // Shows these records (indices into results) in this order.
  void ShowRows(std::vector<uint32_t> rows);
  const std::vector<uint32_t>& rows() const { return rows_; }
  uint32_t RecordAt(int row) const { return rows_[row]; }

  // Ticks: per record, so they survive switching nodes.
  bool IsTicked(uint32_t record) const { return ticks_[record] != 0; }
  void SetTicked(uint32_t record, bool ticked);
  // Ticks or unticks every record in records (a whole node).
  void SetTickedAll(const std::vector<uint32_t>& records, bool ticked);
  uint64_t tickedCount() const { return tickedCount_; }
  uint64_t tickedBytes() const { return tickedBytes_; }
  std::vector<uint32_t> TickedRecords() const;
  // Every shown row ticked (and at least one row).
  bool AllShownTicked() const;

  // Sorts the shown rows by column in the background; sorted() follows.
  // Name and type go ascending first, sizes and times descending first; a
  // second click on the same column reverses it. Path keeps its order.
  void SortByColumn(int column);
  int sortColumn() const { return sortColumn_; }
  Qt::SortOrder sortOrder() const { return sortOrder_; }
  bool sorting() const { return sortRunning_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // The record's folder path inside its volume (cached for shown rows).
  QString PathOf(uint32_t record) const;

 signals:
  void ticksChanged();
  void sorted();

 private:
  void ApplySorted(uint64_t generation, std::vector<uint32_t> order);

  std::shared_ptr<const ResultSet> results_;
  std::vector<uint32_t> rows_;
  std::vector<uint8_t> ticks_;
  uint64_t tickedCount_ = 0;
  uint64_t tickedBytes_ = 0;
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  bool sortRunning_ = false;
  uint64_t generation_ = 0;  // bumped whenever the shown rows change
  mutable QCache<uint32_t, QString> pathCache_;
};

// Puts rows (indices into records) in the order of a column: names case-blind,
// types by extension, sizes and times by value; equal keys keep their order.
void SortRows(const std::vector<FoundFileRecord>& records, std::vector<uint32_t>& rows, int column, bool descending);

}  // namespace kestrel::ui
