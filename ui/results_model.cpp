#include "ui/results_model.h"

#include "ui/texts.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>
#include <QStyle>
#include <algorithm>
#include <cstring>
#include <thread>

#include "catalogue/categories.h"
#include "engines/file_recovery_parse.h"

namespace kestrel::ui {

const char* ResultColumnName(int column) {
  static const char* const kNames[kColumnCount] = {"CheckAll", "FileName", "Size", "Type",
                                                   "ModifiedTime", "CreatedTime", "Path"};
  return column >= 0 && column < kColumnCount ? kNames[column] : "";
}

namespace {

QString TypeText(const FoundFileRecord& record) {
  if (record.IsDirectory()) return QStringLiteral("folder");
  const std::string extension = ExtensionOf(record.Name());
  return extension.empty() ? QStringLiteral("file") : QString::fromStdString(extension);
}

}  // namespace

void SortRows(const std::vector<FoundFileRecord>& records, std::vector<uint32_t>& rows, int column, bool descending) {
  auto finish = [&](auto& keyed) {
    if (descending) {
      std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return b.first < a.first; });
    } else {
      std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    for (size_t i = 0; i < keyed.size(); ++i) rows[i] = keyed[i].second;
  };
  if (column == kColName || column == kColType) {
    std::vector<std::pair<std::string, uint32_t>> keyed;
    keyed.reserve(rows.size());
    for (uint32_t row : rows) {
      const std::string_view name = records[row].Name();
      keyed.emplace_back(column == kColName ? LowerAscii(name) : ExtensionOf(name), row);
    }
    finish(keyed);
  } else if (column == kColSize || column == kColModified || column == kColCreated) {
    std::vector<std::pair<uint64_t, uint32_t>> keyed;
    keyed.reserve(rows.size());
    for (uint32_t row : rows) {
      const FoundFileRecord& r = records[row];
      keyed.emplace_back(column == kColSize ? r.size : column == kColModified ? r.modified : r.created, row);
    }
    finish(keyed);
  }
}

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent), pathCache_(4096) {}
ResultsModel::~ResultsModel() = default;

void ResultsModel::SetResults(std::shared_ptr<const ResultSet> results) {
  beginResetModel();
  results_ = std::move(results);
  rows_.clear();
  ticks_.assign(results_ ? results_->records.size() : 0, 0);
  tickedCount_ = 0;
  tickedBytes_ = 0;
  sortColumn_ = -1;
  ++generation_;
  pathCache_.clear();
  endResetModel();
  emit ticksChanged();
}

void ResultsModel::ShowRows(std::vector<uint32_t> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  sortColumn_ = -1;
  ++generation_;
  endResetModel();
}

void ResultsModel::SetTicked(uint32_t record, bool ticked) {
  if (record >= ticks_.size() || (ticks_[record] != 0) == ticked) return;
  ticks_[record] = ticked;
  const uint64_t size = results_->records[record].size;
  tickedCount_ += ticked ? 1 : -1;
  tickedBytes_ += ticked ? size : -size;
  emit ticksChanged();
}

void ResultsModel::SetTickedAll(const std::vector<uint32_t>& records, bool ticked) {
  if (!results_) return;
  const auto& all = results_->records;
  for (uint32_t record : records) {
    if ((ticks_[record] != 0) == ticked) continue;
    ticks_[record] = ticked;
    tickedCount_ += ticked ? 1 : -1;
    tickedBytes_ += ticked ? all[record].size : -all[record].size;
  }
  if (!rows_.empty()) emit dataChanged(index(0, kColTick), index(int(rows_.size()) - 1, kColTick), {Qt::CheckStateRole});
  emit ticksChanged();
}

std::vector<uint32_t> ResultsModel::TickedRecords() const {
  std::vector<uint32_t> out;
  out.reserve(tickedCount_);
  for (uint32_t i = 0; i < ticks_.size(); ++i)
    if (ticks_[i]) out.push_back(i);
  return out;
}

bool ResultsModel::AllShownTicked() const {
  if (rows_.empty()) return false;
  return std::all_of(rows_.begin(), rows_.end(), [this](uint32_t r) { return ticks_[r] != 0; });
}

void ResultsModel::SortByColumn(int column) {
  if (!results_ || column == kColTick || column == kColPath || column < 0 || column >= kColumnCount) return;
  const bool ascendingFirst = column == kColName || column == kColType;
  Qt::SortOrder order;
  if (column == sortColumn_) {
    order = sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  } else {
    order = ascendingFirst ? Qt::AscendingOrder : Qt::DescendingOrder;
  }
  sortColumn_ = column;
  sortOrder_ = order;
  sortRunning_ = true;
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);

  // The worker sorts a copy of the row order (4 bytes a row) over the shared,
  // unchanging records; the GUI thread only swaps the result in. Keys are
  // pulled out first so the sort compares small, close values instead of
  // chasing 346-byte records across memory.
  const uint64_t generation = ++generation_;
  std::shared_ptr<const ResultSet> results = results_;
  QPointer<ResultsModel> self(this);
  std::thread([self, generation, results, order, column, rows = rows_]() mutable {
    SortRows(results->records, rows, column, order == Qt::DescendingOrder);
    QMetaObject::invokeMethod(
        qApp,
        [self, generation, rows = std::move(rows)]() mutable {
          if (self) self->ApplySorted(generation, std::move(rows));
        },
        Qt::QueuedConnection);
  }).detach();
}

void ResultsModel::ApplySorted(uint64_t generation, std::vector<uint32_t> order) {
  if (generation != generation_) return;  // the list changed meanwhile
  sortRunning_ = false;
  emit layoutAboutToBeChanged();
  rows_.swap(order);
  emit layoutChanged();
  emit sorted();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString ResultsModel::PathOf(uint32_t record) const {
  if (QString* cached = pathCache_.object(record)) return *cached;
  QString path;
  if (results_ && record < results_->records.size()) {
    IFileRecoveryParse* engine = results_->engines.at(results_->sourceOf[record]);
    std::string text;
    if (engine && engine->GetItemPath(&results_->records[record], text) == 0)
      path = QLatin1Char('/') + QString::fromStdString(text);
  }
  pathCache_.insert(record, new QString(path));
  return path;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(rows_.size())) return {};
  const uint32_t recordIndex = rows_[index.row()];
  const FoundFileRecord& record = results_->records[recordIndex];
  if (role == Qt::CheckStateRole && index.column() == kColTick)
    return ticks_[recordIndex] ? Qt::Checked : Qt::Unchecked;
  if (role == Qt::DecorationRole && index.column() == kColName) {
    static const QIcon file = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    static const QIcon folder = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    return record.IsDirectory() ? folder : file;
  }
  if (role == Qt::TextAlignmentRole && index.column() == kColSize)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && index.column() == kColName && !record.FirstBlockValid())
    return Text("MainWnd", "ContentMismatch");
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kColName: return QString::fromUtf8(record.Name().data(), record.Name().size());
    case kColSize: return record.IsDirectory() ? QString() : QString::fromStdString(SizeText(int64_t(record.size)));
    case kColType: return TypeText(record);
    case kColModified:
      return record.modified ? QString::fromStdString(TimeText(record.modified, DateStyle::kIso)) : QStringLiteral("    ----    ");
    case kColCreated:
      return record.created ? QString::fromStdString(TimeText(record.created, DateStyle::kIso)) : QStringLiteral("    ----    ");
    case kColPath: return PathOf(recordIndex);
    default: return {};
  }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    static const char* const kTitles[kColumnCount] = {"", "Name", "Size", "Type", "Modified", "Created", "Path"};
    QString title = property("columnTitles").toStringList().value(section);
    if (title.isEmpty()) title = QString::fromLatin1(kTitles[section]);
    if (section == sortColumn_) title += sortOrder_ == Qt::AscendingOrder ? QStringLiteral(" \u25B2") : QStringLiteral(" \u25BC");
    return title;
  }
  return {};
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags base = QAbstractTableModel::flags(index);
  if (index.column() == kColTick) base |= Qt::ItemIsUserCheckable;
  return base;
}

bool ResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != kColTick || index.row() >= int(rows_.size())) return false;
  SetTicked(rows_[index.row()], value.toInt() == Qt::Checked);
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

}  // namespace kestrel::ui
