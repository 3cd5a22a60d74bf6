#include "ui/thumbnails.h"

#include <unistd.h>

#include <QApplication>
#include <QPainter>
#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

#include "catalogue/categories.h"
#include "catalogue/scan_log_paths.h"
#include "engines/file_recovery_parse.h"
#include "ui/picture_view.h"

namespace kestrel::ui {
namespace {

constexpr int kCellWidth = ThumbnailStore::kSide + 24;
constexpr int kCellHeight = ThumbnailStore::kSide + 36;

bool IsPhoto(const FoundFileRecord& record) {
  return !record.IsDirectory() && ExtensionInList(ExtensionOf(record.Name()), kPhotoExtensions);
}

}  // namespace

std::mutex& EngineAccessLock() {
  static std::mutex lock;
  return lock;
}

ThumbnailStore::ThumbnailStore(QObject* parent) : QObject(parent) { worker_ = std::thread(&ThumbnailStore::WorkerLoop, this); }

ThumbnailStore::~ThumbnailStore() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
  Reset(nullptr);
}

void ThumbnailStore::Reset(std::shared_ptr<const ResultSet> results) {
  std::lock_guard lock(mutex_);
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
  results_ = std::move(results);
  ++generation_;
  wanted_.clear();
  memory_.clear();
  memoryOrder_.clear();
  onDisk_ = 0;
  folder_.clear();
  if (results_) {
    folder_ = ScanLogRoot() / "thumbnails" / (std::to_string(::getpid()) + "-" + std::to_string(generation_));
    std::filesystem::create_directories(folder_, ec);
  }
}

void ThumbnailStore::SetVisibleRows(int first, int last) {
  std::lock_guard lock(mutex_);
  firstVisible_ = first;
  lastVisible_ = last;
  // Rows scrolled away are not made: the grid asks again when they return.
  std::erase_if(wanted_, [&](const auto& item) { return item.first < first || item.first > last; });
}

std::shared_ptr<const ThumbnailStore::Thumb> ThumbnailStore::Get(uint32_t record, int row) {
  std::lock_guard lock(mutex_);
  if (auto found = memory_.find(record); found != memory_.end()) return found->second;
  if (row >= firstVisible_ && row <= lastVisible_) {
    wanted_[row] = record;
    wake_.notify_one();
  }
  return nullptr;
}

std::shared_ptr<ThumbnailStore::Thumb> ThumbnailStore::Make(uint32_t record) {
  auto thumb = std::make_shared<Thumb>();
  std::shared_ptr<const ResultSet> results;
  std::filesystem::path folder;
  {
    std::lock_guard lock(mutex_);
    results = results_;
    folder = folder_;
  }
  if (!results || record >= results->records.size()) return thumb;
  const FoundFileRecord& found = results->records[record];
  const QString cached = QString::fromStdString((folder / (std::to_string(record) + ".png")).string());
  if (thumb->image.load(cached)) {
    const QString verdict = thumb->image.text(QStringLiteral("verdict"));
    thumb->verdict = verdict == QLatin1String("intact")    ? IntegrityVerdict::kIntact
                     : verdict == QLatin1String("damaged") ? IntegrityVerdict::kDamaged
                                                           : IntegrityVerdict::kUnknown;
    thumb->reason = thumb->image.text(QStringLiteral("reason"));
    return thumb;
  }
  IFileRecoveryParse* engine = results->engines[results->sourceOf[record]];
  if (!engine) return thumb;
  {
    std::lock_guard engineLock(EngineAccessLock());
    std::filesystem::path temp;
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    if (engine->ExtractPreview(&found, temp, buffer, size, nullptr, nullptr) == 0 && !temp.empty()) {
      thumb->image = DecodePictureToFit(QString::fromStdString(temp.string()), QSize(kSide, kSide));
      const IntegrityResult check = CheckFileIntegrity(temp, ExtensionOf(found.Name()));
      thumb->verdict = check.verdict;
      thumb->reason = QString::fromStdString(check.reason);
      std::error_code ec;
      std::filesystem::remove(temp, ec);
    }
  }
  if (!thumb->image.isNull()) {
    std::lock_guard lock(mutex_);
    if (onDisk_ < kDiskItems && folder == folder_) {
      QImage stored = thumb->image;
      stored.setText(QStringLiteral("verdict"), QString::fromLatin1(IntegrityVerdictWord(thumb->verdict).data()));
      stored.setText(QStringLiteral("reason"), thumb->reason);
      if (stored.save(cached, "PNG")) ++onDisk_;
    }
  }
  return thumb;
}

void ThumbnailStore::WorkerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !wanted_.empty(); });
    if (stop_) return;
    const auto [row, record] = *wanted_.begin();  // the lowest visible row first
    wanted_.erase(wanted_.begin());
    if (memory_.count(record)) continue;
    const uint64_t generation = generation_;
    lock.unlock();
    std::shared_ptr<const Thumb> thumb = Make(record);
    lock.lock();
    if (generation != generation_) continue;  // made for results that are gone
    memory_[record] = thumb;
    memoryOrder_.push_back(record);
    if (memoryOrder_.size() > size_t(kMemoryItems)) {
      memory_.erase(memoryOrder_.front());
      memoryOrder_.erase(memoryOrder_.begin());
    }
    ++made_;
    QMetaObject::invokeMethod(this, [this, record] { emit ready(record); }, Qt::QueuedConnection);
  }
}

ThumbnailDelegate::ThumbnailDelegate(ThumbnailStore* store, ResultsModel* model, QObject* parent)
    : QStyledItemDelegate(parent), store_(store), model_(model) {}

bool ThumbnailDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) {
  if (event->type() == QEvent::ToolTip && index.isValid()) {
    const uint32_t record = model_->RecordAt(index.row());
    std::shared_ptr<const ThumbnailStore::Thumb> thumb;
    if (IsPhoto(model_->results()->records[record])) thumb = store_->Get(record, index.row());
    if (thumb && !thumb->image.isNull()) {
      const QString name = index.data(Qt::DisplayRole).toString();
      QToolTip::showText(event->globalPos(), name + QStringLiteral("\n") + thumb->reason, view);
      return true;
    }
  }
  return QStyledItemDelegate::helpEvent(event, view, option, index);
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return QSize(kCellWidth, kCellHeight);
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  QStyle* style = cell.widget ? cell.widget->style() : QApplication::style();
  cell.text.clear();
  cell.icon = QIcon();
  // The whole cell shows the selection: with no text or icon rects of the
  // style's own, it would otherwise highlight nothing.
  cell.showDecorationSelected = true;
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, cell.widget);
  const QRect box(option.rect.x() + (option.rect.width() - ThumbnailStore::kSide) / 2, option.rect.y() + 4,
                  ThumbnailStore::kSide, ThumbnailStore::kSide);
  const uint32_t record = model_->RecordAt(index.row());
  const FoundFileRecord& found = model_->results()->records[record];
  std::shared_ptr<const ThumbnailStore::Thumb> thumb;
  if (IsPhoto(found)) thumb = store_->Get(record, index.row());
  if (thumb && !thumb->image.isNull()) {
    const QImage& image = thumb->image;
    painter->drawImage(QPoint(box.x() + (box.width() - image.width()) / 2, box.y() + (box.height() - image.height()) / 2), image);
    // The check's word on the file: green intact, red damaged, grey unknown.
    const QColor mark = thumb->verdict == IntegrityVerdict::kIntact    ? QColor(0x2E, 0x9D, 0x3A)
                        : thumb->verdict == IntegrityVerdict::kDamaged ? QColor(0xD0, 0x20, 0x20)
                                                                       : QColor(0x90, 0x90, 0x90);
    const QRect badge(box.right() - 17, box.top() + 1, 16, 16);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setBrush(mark);
    painter->setPen(QPen(Qt::white, 1.5));
    painter->drawEllipse(badge);
    painter->setPen(Qt::white);
    QFont font = painter->font();
    font.setBold(true);
    font.setPixelSize(11);
    painter->setFont(font);
    const QString sign = thumb->verdict == IntegrityVerdict::kIntact    ? QStringLiteral("\u2713")
                         : thumb->verdict == IntegrityVerdict::kDamaged ? QStringLiteral("!")
                                                                        : QStringLiteral("?");
    painter->drawText(badge, Qt::AlignCenter, sign);
    painter->restore();
  } else {
    const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
    icon.paint(painter, box.adjusted(24, 24, -24, -24));
  }
  const bool selected = option.state & QStyle::State_Selected;
  painter->save();
  if (selected) painter->setPen(cell.palette.color(QPalette::HighlightedText));
  const QString name = painter->fontMetrics().elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                         option.rect.width() - 6);
  painter->drawText(QRect(option.rect.x() + 3, box.bottom() + 4, option.rect.width() - 6, painter->fontMetrics().height()),
                    Qt::AlignHCenter | Qt::AlignTop, name);
  painter->restore();
}

}  // namespace kestrel::ui
