#include "ui/main_window.h"

#include <libudev.h>
#include <sys/stat.h>

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QTextBrowser>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "app/jobs/image_destination.h"
#include "app/jobs/image_job.h"
#include "app/jobs/recover_job.h"
#include "app/jobs/scan_job.h"
#include "app/language_table.h"
#include "app/same_device.h"
#include "catalogue/categories.h"
#include "platform/disk_table.h"
#include "ui/device_access.h"
#include "ui/form_loader.h"
#include "ui/job_window.h"
#include "ui/message_box.h"
#include "ui/picture_view.h"
#include "ui/preview.h"
#include "ui/app_shell.h"
#include "ui/texts.h"
#include "ui/thumbnails.h"

namespace kestrel::ui {
namespace {

constexpr int kSourceRole = Qt::UserRole + 1;   // SourceItem* of a row
constexpr int kTypeKeyRole = Qt::UserRole + 2;  // type key of a results node ("" for categories)
constexpr int kTypeRowsRole = Qt::UserRole + 3; // index into typeRows_
constexpr int kDeviceRefreshMs = 5000;          // devices settle before they are listed again

QString SizeQ(uint64_t bytes) { return QString::fromStdString(SizeText(static_cast<int64_t>(bytes))); }

// The type key of a found name: its extension, lower-cased, with the aliases
// that share one tick box.
std::string TypeKeyOf(std::string_view name) {
  std::string key = ExtensionOf(name);
  if (key.empty()) key = LowerAscii(name);
  static const std::map<std::string, std::string, std::less<>> kAliases = {
      {"jpeg", "jpg"}, {"tiff", "tif"}, {"scr", "pcx"}, {"midi", "mid"}, {"m4p", "m4a"}};
  if (auto it = kAliases.find(key); it != kAliases.end()) key = it->second;
  return key;
}

// "Bitmap (.bmp)" -> "Bitmap".
QString OptionTitle(QString label) {
  const int paren = label.indexOf(QLatin1String(" ("));
  return paren > 0 ? label.left(paren) : label;
}

const char* const kCategoryNodes[3] = {"NodePhoto", "NodeAudio", "NodeVideo"};
const char* const kCategoryTitles[3] = {"MSG0807", "MSG0808", "MSG0809"};

}  // namespace

FileChoosers NativeFileChoosers() {
  FileChoosers c;
  c.recoveryFolder = [](QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, Text("MainWnd", "RecoveryFolderTitle"));
  };
  c.imageDestination = [](QWidget* parent, const QString& proposed) {
    QFileDialog dialog(parent, Text("MainWnd", "SaveImageTitle"), proposed, Text("MainWnd", "ImageFilter"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("img"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  c.imageToLoad = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, Text("MainWnd", "LoadImageTitle"), QString(),
                                        Text("MainWnd", "ImageFilter") + QStringLiteral(";;") + Text("MainWnd", "AllFilter"));
  };
  return c;
}

MainWindow::MainWindow(bool listDevices, QWidget* parent)
    : QMainWindow(parent), choosers_(NativeFileChoosers()), listDevices_(listDevices) {
  setObjectName(QStringLiteral("FileRecoveryWnd"));
  setWindowTitle(QStringLiteral("Kestrel"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/kestrel.svg")));
  resize(960, 620);
  BuildPages();
  BuildFileTypeOptions();
  BuildMenu();
  ConnectControls();
  ApplyTexts();
  if (listDevices_) {
    sources_ = EnumerateDisks();
    StartDeviceMonitor();
  }
  FillSourceList();
  ShowPage(kPageHome);
}

MainWindow::~MainWindow() {
  if (udevMonitor_) udev_monitor_unref(static_cast<udev_monitor*>(udevMonitor_));
  if (udev_) udev_unref(static_cast<udev*>(udev_));
}

void MainWindow::BuildPages() {
  form_ = LoadForm(QStringLiteral("MainWnd"), this);
  setCentralWidget(form_);
  stack_ = Control<QStackedWidget>(form_, "TabPage");
  for (const char* layout : {"ScanDisk", "FileType", "RecoverFile"})
    stack_->addWidget(LoadForm(QString::fromLatin1(layout), stack_));

  diskList_ = Control<QTreeWidget>(form_, "DiskList");
  diskList_->header()->setObjectName(QStringLiteral("DiskListHeader"));
  diskList_->header()->setStretchLastSection(false);
  diskList_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  diskList_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  diskList_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  typeTree_ = Control<QTreeWidget>(form_, "TypeTree");
  for (int i = 0; i < 3; ++i) {
    QTreeWidgetItem* node = typeTree_->topLevelItem(i);
    node->setData(0, Qt::UserRole, QString::fromLatin1(kCategoryNodes[i]));
    // Tristate by hand: a node shows what is ticked below it, down to the
    // files, which the tree's own tristate cannot see.
    node->setFlags((node->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsAutoTristate);
    node->setCheckState(0, Qt::Unchecked);
  }
  fileList_ = Control<QTableView>(form_, "FileList");
  model_ = new ResultsModel(this);
  fileList_->setModel(model_);
  fileList_->verticalHeader()->hide();
  fileList_->verticalHeader()->setDefaultSectionSize(fileList_->fontMetrics().height() + 8);
  fileList_->horizontalHeader()->setSectionsClickable(true);
  fileList_->horizontalHeader()->setHighlightSections(false);
  fileList_->horizontalHeader()->setSectionResizeMode(kColTick, QHeaderView::Fixed);
  fileList_->setColumnWidth(kColTick, 28);
  fileList_->setColumnWidth(kColName, 220);
  fileList_->setColumnWidth(kColSize, 80);
  fileList_->setColumnWidth(kColType, 50);
  fileList_->setColumnWidth(kColModified, 135);
  fileList_->setColumnWidth(kColCreated, 135);
  fileList_->horizontalHeader()->setStretchLastSection(true);
  checkAll_ = Control<QCheckBox>(form_, "CheckAll");
  BuildThumbnailGrid();
  preview_ = Control<QLabel>(form_, "PreviewEdit");
  if (auto* splitter = form_->findChild<QSplitter*>(QStringLiteral("ResultsSplitter"))) {
    splitter->setSizes({190, 560, 250});
    splitter->setStretchFactor(1, 1);
  }

  if (auto* logo = Control<QLabel>(form_, "AppLogo"))
    logo->setPixmap(QIcon(QStringLiteral(":/icons/kestrel.svg")).pixmap(32, 32));
  if (auto* name = Control<QLabel>(form_, "AppName")) {
    QFont font = name->font();
    font.setPointSizeF(font.pointSizeF() * 1.35);
    font.setBold(true);
    name->setFont(font);
  }
  if (auto* text1 = Control<QLabel>(form_, "ToolbarText1")) {
    QFont font = text1->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    font.setBold(true);
    text1->setFont(font);
  }
  // Big mode buttons with the platform's own icons: clean on light and dark themes.
  if (auto* recover = Control<QToolButton>(form_, "BtnRecoverMode"))
    recover->setIcon(QIcon(QStringLiteral(":/icons/recover.svg")));
  if (auto* image = Control<QToolButton>(form_, "BtnCreateImageMode"))
    image->setIcon(QIcon(QStringLiteral(":/icons/image.svg")));
  for (const char* name : {"BtnRecoverMode", "BtnCreateImageMode"})
    if (auto* button = Control<QToolButton>(form_, name)) {
      button->setMinimumSize(220, 150);
      QFont font = button->font();
      font.setPointSizeF(font.pointSizeF() * 1.2);
      button->setFont(font);
      button->installEventFilter(this);
    }
  // Panels take the palette's own colours, so a dark theme stays dark.
  setStyleSheet(QStringLiteral(
      "QFrame#TitleBar { background: palette(window); border-bottom: 1px solid palette(mid); }"
      "QFrame#Banner { background: palette(base); border-bottom: 1px solid palette(midlight); }"
      "QFrame#BottomBar { border-top: 1px solid palette(midlight); }"
      "QPushButton#TabScan, QPushButton#TabFileType, QPushButton#TabRecover { padding: 6px 14px; border: none;"
      " border-bottom: 3px solid transparent; }"
      "QPushButton#TabScan:checked, QPushButton#TabFileType:checked, QPushButton#TabRecover:checked {"
      " border-bottom: 3px solid palette(highlight); color: palette(highlight); }"
      "QToolButton#BtnRecoverMode, QToolButton#BtnCreateImageMode { border: 1px solid palette(mid);"
      " border-radius: 10px; padding: 18px; background: palette(base); }"
      "QToolButton#BtnRecoverMode:hover, QToolButton#BtnCreateImageMode:hover { border: 2px solid palette(highlight); }"
      "QPushButton#BtnScan, QPushButton#BtnRecover, QPushButton#BtnCreateImage { padding: 6px 22px; font-weight: bold; }"));
}

void MainWindow::BuildThumbnailGrid() {
  // The same rows as the list, as pictures; both views share one selection,
  // so choosing a picture previews it like choosing its row.
  thumbnails_ = new ThumbnailStore(this);
  grid_ = new QListView(form_);
  grid_->setObjectName(QStringLiteral("ThumbnailGrid"));
  grid_->setViewMode(QListView::IconMode);
  grid_->setResizeMode(QListView::Adjust);
  grid_->setMovement(QListView::Static);
  grid_->setUniformItemSizes(true);
  grid_->setLayoutMode(QListView::Batched);
  grid_->setBatchSize(2000);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setModel(model_);
  grid_->setModelColumn(kColName);
  grid_->setSelectionModel(fileList_->selectionModel());
  grid_->setItemDelegate(new ThumbnailDelegate(thumbnails_, model_, grid_));
  grid_->setGridSize(QSize(ThumbnailStore::kSide + 28, ThumbnailStore::kSide + 40));
  grid_->hide();
  if (auto* layout = fileList_->parentWidget()->layout()) layout->addWidget(grid_);
  auto visible = [this] { UpdateVisibleThumbnails(); };
  connect(grid_->verticalScrollBar(), &QScrollBar::valueChanged, this, visible);
  connect(model_, &QAbstractItemModel::modelReset, this, visible);
  connect(thumbnails_, &ThumbnailStore::ready, grid_->viewport(), [this] { grid_->viewport()->update(); });
  connect(grid_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) { OpenPreview(index.row()); });
  grid_->viewport()->installEventFilter(this);
  if (auto* toggle = Control<QAbstractButton>(form_, "ThumbnailToggle"))
    connect(toggle, &QAbstractButton::toggled, this, &MainWindow::ShowThumbnails);
}

void MainWindow::ShowThumbnails(bool on) {
  grid_->setVisible(on);
  fileList_->setVisible(!on);
  if (auto* toggle = Control<QAbstractButton>(form_, "ThumbnailToggle"); toggle && toggle->isChecked() != on) {
    QSignalBlocker block(toggle);
    toggle->setChecked(on);
  }
  UpdateVisibleThumbnails();
}

void MainWindow::UpdateVisibleThumbnails() {
  if (!grid_->isVisible() || model_->rowCount() == 0) {
    thumbnails_->SetVisibleRows(0, -1);
    return;
  }
  const QSize cell = grid_->gridSize();
  const int perRow = std::max(1, grid_->viewport()->width() / cell.width());
  // The top edge may fall in the spacing between two lines of cells, where
  // there is no item: look further down the first line's height, and start
  // at the beginning of the line found.
  QModelIndex top;
  for (int y = 0; y <= cell.height() && !top.isValid(); y += 2) top = grid_->indexAt(QPoint(cell.width() / 2, y));
  const int first = top.isValid() ? top.row() - top.row() % perRow : 0;
  const int rows = grid_->viewport()->height() / cell.height() + 2;
  thumbnails_->SetVisibleRows(first, std::min(model_->rowCount() - 1, first + perRow * rows));
  grid_->viewport()->update();
}

void MainWindow::BuildFileTypeOptions() {
  for (const FileTypeGroup& group : FileTypeGroups()) {
    auto* box = Control<QGroupBox>(form_, group.name.data());
    auto* holder = form_->findChild<QWidget*>(QString::fromLatin1(group.name.data()) + QStringLiteral("Options"));
    auto* groupTick = Control<QCheckBox>(form_, group.groupTick.data());
    if (!box || !holder || !groupTick) continue;
    auto* grid = new QGridLayout(holder);
    grid->setContentsMargins(18, 0, 0, 0);
    int n = 0;
    QList<QCheckBox*> options;
    for (const FileTypeOption& option : group.options) {
      auto* tick = new QCheckBox(QString::fromUtf8(option.label.data(), option.label.size()), holder);
      tick->setProperty("userdata", QString::fromUtf8(option.key.data(), option.key.size()));
      tick->setObjectName(QStringLiteral("Opt_%1_%2").arg(QString::fromLatin1(group.name.data())).arg(n));
      grid->addWidget(tick, n / 5, n % 5);
      options.push_back(tick);
      ++n;
      connect(tick, &QCheckBox::toggled, this, [groupTick, options = &options, holder] {
        const auto all = holder->findChildren<QCheckBox*>();
        const int ticked = std::count_if(all.begin(), all.end(), [](QCheckBox* c) { return c->isChecked(); });
        QSignalBlocker block(groupTick);
        groupTick->setChecked(ticked == all.size());
        (void)options;
      });
    }
    connect(groupTick, &QCheckBox::clicked, this, [holder](bool checked) {
      for (QCheckBox* tick : holder->findChildren<QCheckBox*>()) tick->setChecked(checked);
    });
  }
}

QStringList MainWindow::TickedTypeKeys() const {
  QStringList keys;
  for (const FileTypeGroup& group : FileTypeGroups()) {
    auto* holder = form_->findChild<QWidget*>(QString::fromLatin1(group.name.data()) + QStringLiteral("Options"));
    if (!holder) continue;
    for (QCheckBox* tick : holder->findChildren<QCheckBox*>())
      if (tick->isChecked()) {
        const QString key = tick->property("userdata").toString();
        if (!keys.contains(key)) keys.push_back(key);
      }
  }
  return keys;
}

void MainWindow::BuildMenu() {
  auto* assist = Control<QToolButton>(form_, "BtnAssist");
  assistMenu_ = new QMenu(this);
  assistMenu_->setObjectName(QStringLiteral("menu_assist"));
  auto add = [this](const char* name, const QString& text) {
    QAction* action = assistMenu_->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
  };
  // Texts come from the "MenuWnd" section (ApplyTexts).
  connect(add("item_help", QString()), &QAction::triggered, this, &MainWindow::ShowHelp);
  languageMenu_ = assistMenu_->addMenu(QString());
  languageMenu_->setObjectName(QStringLiteral("item_language"));
  auto* group = new QActionGroup(languageMenu_);
  const QString current = QString::fromStdString(LanguageTable::Instance().Current());
  for (const auto& [name, title] : LanguageTable::Instance().Languages()) {
    QAction* action = languageMenu_->addAction(QString::fromStdString(title));
    action->setObjectName(QString::fromStdString(name));
    action->setCheckable(true);
    action->setChecked(QString::fromStdString(name) == current);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, n = QString::fromStdString(name)] { SwitchLanguage(n); });
  }
  connect(add("item_about", QString()), &QAction::triggered, this, &MainWindow::ShowAbout);
  assistMenu_->addSeparator();
  connect(add("item_exit", QString()), &QAction::triggered, this, &QWidget::close);
  assist->setMenu(assistMenu_);
  assist->setIcon(QIcon::fromTheme(QStringLiteral("open-menu")));
  assist->setToolButtonStyle(assist->icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextBesideIcon);
}

void MainWindow::ConnectControls() {
  auto button = [this](const char* name) { return Control<QAbstractButton>(form_, name); };
  connect(button("BtnRecoverMode"), &QAbstractButton::clicked, this, [this] { SetMode(0); ShowPage(kPageSources); });
  connect(button("BtnCreateImageMode"), &QAbstractButton::clicked, this, [this] { SetMode(1); ShowPage(kPageSources); });
  connect(button("BtnScan"), &QAbstractButton::clicked, this, [this] { ScanSelected(); });
  connect(button("BtnAdvanceScan"), &QAbstractButton::clicked, this, [this] { ShowPage(kPageFileTypes); });
  connect(button("BtnPrev"), &QAbstractButton::clicked, this, &MainWindow::OnBack);
  connect(button("BtnLoadImage"), &QAbstractButton::clicked, this, [this] {
    const QString path = choosers_.imageToLoad(this);
    if (!path.isEmpty()) AddImage(path);
  });
  connect(button("BtnRecover"), &QAbstractButton::clicked, this, &MainWindow::RecoverTicked);
  connect(button("BtnCreateImage"), &QAbstractButton::clicked, this, &MainWindow::CreateImageOfSelected);
  connect(button("TabScan"), &QAbstractButton::clicked, this, [this] { ShowPage(kPageSources); });
  connect(button("TabFileType"), &QAbstractButton::clicked, this, [this] { ShowPage(kPageFileTypes); });
  connect(button("TabRecover"), &QAbstractButton::clicked, this, [this] { ShowPage(kPageResults); });

  connect(diskList_, &QTreeWidget::currentItemChanged, this, [this] { ShowSourceDetails(); });
  connect(diskList_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (item->childCount() > 0) {
      item->setExpanded(!item->isExpanded());
    } else if (mode_ == 0) {
      ScanSelected();
    }
  });
  connect(typeTree_, &QTreeWidget::currentItemChanged, this, [this] { OnTypeNodeSelected(); });
  connect(typeTree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (column == 0) OnTypeNodeTicked(item);
  });
  connect(fileList_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    model_->SortByColumn(column);
  });
  connect(fileList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { PreviewCurrent(); });
  connect(fileList_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) { OpenPreview(index.row()); });
  connect(model_, &ResultsModel::ticksChanged, this, [this] {
    UpdateSelectionSummary();
    UpdateCheckAll();
    UpdateTypeTicks();
  });
  connect(checkAll_, &QCheckBox::clicked, this, [this](bool checked) {
    model_->SetTickedAll(model_->rows(), checked);
  });
}

void MainWindow::ApplyTexts() {
  ApplySection(this, "MainWnd");
  ApplySection(this, "MenuWnd");
  if (!results_)
    for (int c = 0; c < typeTree_->topLevelItemCount() && c < 3; ++c)
      typeTree_->topLevelItem(c)->setText(0, Msg(kCategoryTitles[c]));
  if (auto* status = Control<QLabel>(form_, "TxtStatus")) status->setText(Msg("MSG1209"));
  UpdateHeaderTitles();
  if (page_ != kPageHome || true) ShowPage(page_);
}

void MainWindow::UpdateHeaderTitles() {
  // Column titles come from the language table under the header's control names.
  QStringList titles;
  // The tick column's control (CheckAll) has a text of its own above the list.
  for (int c = 0; c < kColumnCount; ++c) titles << (c == kColTick ? QString() : Text("MainWnd", ResultColumnName(c)));
  model_->setProperty("columnTitles", titles);
  model_->headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

void MainWindow::SwitchLanguage(const QString& name) {
  if (LanguageTable::Instance().SetLanguage(name.toStdString()) != 0)
    ShowMessageBox(BoxKind::kError, this, Text("MenuWnd", "LanguageNotSaved"), 350, 130);
  for (QAction* action : languageMenu_->actions()) action->setChecked(action->objectName() == name);
  ApplyTexts();
  FillSourceList();
  if (results_) {
    // Category labels carry their counts; rebuild them in the new language.
    for (int i = 0; i < 3; ++i) {
      QTreeWidgetItem* node = typeTree_->topLevelItem(i);
      int count = 0;
      for (int c = 0; c < node->childCount(); ++c) count += node->child(c)->data(0, kTypeRowsRole + 1).toInt();
      node->setText(0, QStringLiteral("%1 (%2)").arg(Msg(kCategoryTitles[i])).arg(count));
    }
  }
  UpdateSelectionSummary();
}

void MainWindow::SetMode(int mode) {
  mode_ = mode;
  if (imageNode_) imageNode_->setHidden(mode_ == 1);
  SelectDefaultSource();
}

void MainWindow::ShowPage(int page) {
  page_ = page;
  stack_->setCurrentIndex(page);
  auto show = [this](const char* name, bool visible) {
    if (auto* widget = form_->findChild<QWidget*>(QString::fromLatin1(name))) widget->setVisible(visible);
  };
  const bool sources = page == kPageSources, types = page == kPageFileTypes, results = page == kPageResults;
  show("BtnPrev", page != kPageHome);
  show("BtnLoadImage", sources && mode_ == 0);
  show("BtnAdvanceScan", sources && mode_ == 0);
  show("BtnScan", (sources && mode_ == 0) || types);
  show("BtnCreateImage", sources && mode_ == 1);
  show("BtnRecover", results);
  show("SelectedFileInfo", results);
  show("TxtStatus", !results);
  show("TitleBar", true);
  show("TabScan", page != kPageHome && mode_ == 0);
  show("TabFileType", page != kPageHome && mode_ == 0);
  show("TabRecover", page != kPageHome && mode_ == 0 && results_ != nullptr);
  show("Banner", page != kPageHome);
  if (auto* tab = Control<QPushButton>(form_, page == kPageSources ? "TabScan" : page == kPageFileTypes ? "TabFileType" : "TabRecover"))
    tab->setChecked(page != kPageHome);

  QString first, second, colour;
  QString icon = mode_ == 0 ? QStringLiteral(":/icons/recover.svg") : QStringLiteral(":/icons/image.svg");
  if (sources) {
    first = Msg(mode_ == 0 ? "MSG0503" : "MSG0211");
    second = Msg(mode_ == 0 ? "MSG0501" : "MSG0212") + QLatin1Char(' ') + Msg(mode_ == 0 ? "MSG0502" : "MSG0213");
    colour = QStringLiteral("#0089BE");
  } else if (types) {
    first = Msg("MSG0601");
    second = Msg("MSG0602");
    colour = QStringLiteral("#E47100");
    icon = QStringLiteral(":/icons/types.svg");
  } else if (results) {
    first = Msg("MSG0801");
    second = QStringLiteral("%1 <b>%2</b>").arg(Msg("MSG0802")).arg(results_ ? results_->records.size() : 0);
    colour = QStringLiteral("#316D1E");
    icon = QStringLiteral(":/icons/results.svg");
  }
  if (auto* text1 = Control<QLabel>(form_, "ToolbarText1")) {
    text1->setText(first);
    text1->setStyleSheet(QStringLiteral("color: %1;").arg(colour));
  }
  if (auto* text2 = Control<QLabel>(form_, "ToolbarText2")) text2->setText(second);
  if (auto* banner = Control<QLabel>(form_, "BannerIcon")) banner->setPixmap(QIcon(icon).pixmap(44, 44));
  if (page == kPageHome)
    if (auto* info = Control<QLabel>(form_, "TxtMainInfo")) info->setText(Msg("MSG0101"));
}

void MainWindow::OnBack() {
  if (page_ == kPageSources) ShowPage(kPageHome);
  else if (page_ == kPageFileTypes) ShowPage(kPageSources);
  else if (page_ == kPageResults) ShowPage(lastScanDeep_ ? kPageFileTypes : kPageSources);
}

QString MainWindow::SourceLabel(const SourceItem& item) const {
  switch (item.kind) {
    case SourceItem::Kind::kDisk: {
      QString text = QStringLiteral("%1 %2").arg(Msg(item.removable ? "MSG0202" : "MSG0201")).arg(item.disk + 1);
      if (!item.model.isEmpty()) text += QStringLiteral("  (%1)").arg(item.model);
      return text;
    }
    case SourceItem::Kind::kPartition: {
      if (item.volume.kind == EntryKind::kGap) return QStringLiteral("%1: %2").arg(item.entryNumber).arg(Text("MainWnd", "Unallocated"));
      // A partition of an image is named by its number and label alone.
      const QString where = item.InImage()              ? QString()
                            : item.mountPoint.empty() ? QString::fromStdString(item.path.string())
                                                      : QString::fromStdString(item.mountPoint.string());
      QStringList parts{QStringLiteral("%1:").arg(item.entryNumber), where, item.label};
      parts.removeAll(QString());
      return parts.join(QLatin1Char(' '));
    }
    case SourceItem::Kind::kImage: return QString::fromStdString(item.path.filename().string());
  }
  return {};
}

QString MainWindow::FileSystemLabel(const SourceItem& item) const {
  if (item.volume.kind == EntryKind::kGap && item.listedVolume) return Text("MainWnd", "Unallocated");
  return item.fileSystem;
}

void MainWindow::FillSourceList() {
  SourceItem* selected = selectedSource();
  diskList_->clear();
  QTreeWidgetItem* select = nullptr;
  const QIcon driveIcon = style()->standardIcon(QStyle::SP_DriveHDIcon);
  const QIcon removableIcon = QIcon::fromTheme(QStringLiteral("drive-removable-media"), style()->standardIcon(QStyle::SP_DriveFDIcon));
  const QIcon imageIcon = QIcon::fromTheme(QStringLiteral("media-optical"), style()->standardIcon(QStyle::SP_DriveCDIcon));
  imageNode_ = new QTreeWidgetItem();
  imageNode_->setText(0, Text("MainWnd", "ImageFile"));
  QFont bold = imageNode_->font(0);
  bold.setBold(true);
  imageNode_->setFont(0, bold);
  imageNode_->setIcon(0, imageIcon);
  std::unordered_map<const SourceItem*, QTreeWidgetItem*> rows;
  for (const auto& owned : sources_) {
    SourceItem* item = owned.get();
    QTreeWidgetItem* parentRow = nullptr;
    if (item->parent) {
      auto found = rows.find(item->parent);
      parentRow = found != rows.end() ? found->second : nullptr;
    } else if (item->kind == SourceItem::Kind::kImage) {
      parentRow = imageNode_;
    }
    auto* row = parentRow ? new QTreeWidgetItem(parentRow) : new QTreeWidgetItem(diskList_);
    if (item->kind == SourceItem::Kind::kDisk) {
      QFont boldDisk = row->font(0);
      boldDisk.setBold(true);
      row->setFont(0, boldDisk);
    }
    row->setIcon(0, item->InImage() ? imageIcon : item->removable ? removableIcon : driveIcon);
    row->setText(0, SourceLabel(*item));
    if (item->kind != SourceItem::Kind::kDisk) row->setText(1, FileSystemLabel(*item));
    row->setText(2, SizeQ(item->totalBytes));
    if (item->InImage()) row->setToolTip(0, QString::fromStdString(item->path.string()));
    row->setData(0, kSourceRole, QVariant::fromValue<void*>(item));
    rows[item] = row;
    if (item == selected) select = row;
  }
  diskList_->addTopLevelItem(imageNode_);
  imageNode_->setHidden(mode_ == 1);
  diskList_->expandAll();
  if (select) diskList_->setCurrentItem(select);
  else SelectDefaultSource();
}

void MainWindow::SelectDefaultSource() {
  // A card or stick the user just plugged in is the likeliest source.
  QTreeWidgetItemIterator it(diskList_);
  QTreeWidgetItem* firstRow = nullptr;
  int rows = 0;
  for (; *it; ++it) {
    auto* source = static_cast<SourceItem*>((*it)->data(0, kSourceRole).value<void*>());
    if (!source || (*it)->isHidden() || ((*it)->parent() && (*it)->parent()->isHidden())) continue;
    ++rows;
    if (!firstRow) firstRow = *it;
    if (source->removable && source->kind == SourceItem::Kind::kPartition) {
      diskList_->setCurrentItem(*it);
      return;
    }
  }
  if (firstRow) diskList_->setCurrentItem(firstRow);
}

SourceItem* MainWindow::selectedSource() const {
  QTreeWidgetItem* row = diskList_ ? diskList_->currentItem() : nullptr;
  if (!row || row->isHidden()) return nullptr;
  return static_cast<SourceItem*>(row->data(0, kSourceRole).value<void*>());
}

void MainWindow::ShowSourceDetails() {
  QStringList lines;
  if (SourceItem* item = selectedSource()) {
    auto line = [&](const char* id, const QString& value) { lines << QStringLiteral("%1 %2").arg(Msg(id), value); };
    if (item->kind == SourceItem::Kind::kImage) {
      line("MSG0209", QString::fromStdString(item->path.string()));
      line("MSG0210", SizeQ(item->totalBytes));
      line("MSG0205", item->fileSystem);
    } else {
      line("MSG0203", item->kind == SourceItem::Kind::kDisk ? QString::fromStdString(item->path.string())
                                                            : QString::number(item->entryNumber) + QStringLiteral(" (") +
                                                                  QString::fromStdString(item->path.string()) + QLatin1Char(')'));
      if (!item->label.isEmpty()) line("MSG0204", item->label);
      if (item->kind == SourceItem::Kind::kPartition) line("MSG0205", item->fileSystem);
      line("MSG0206", SizeQ(item->totalBytes));
      if (item->spaceKnown) {
        line("MSG0207", SizeQ(item->usedBytes));
        line("MSG0208", SizeQ(item->freeBytes));
      }
    }
  }
  for (int i = 1; i <= 10; ++i)
    if (auto* label = form_->findChild<QLabel*>(QStringLiteral("Label%1").arg(i))) {
      label->setText(lines.value(i - 1));
      label->setVisible(i <= lines.size());
    }
}

SourceItem* MainWindow::AddImage(const QString& path) {
  auto items = MakeImageSources(path.toStdString());
  SourceItem* image = items.front().get();
  // The image row first: its partitions hang below it.
  for (size_t i = 0; i + 1 < items.size(); ++i) sources_.push_back(std::move(items[i]));
  AddSource(std::move(items.back()));
  SelectSource(image);
  return image;
}

SourceItem* MainWindow::AddSource(std::unique_ptr<SourceItem> owned) {
  SourceItem* item = owned.get();
  sources_.push_back(std::move(owned));
  FillSourceList();
  SelectSource(item);
  return item;
}

void MainWindow::DropResults() {
  // The thumbnail worker may be reading through an engine: it finishes first.
  std::lock_guard engineLock(EngineAccessLock());
  thumbnails_->Reset(nullptr);
  model_->SetResults(nullptr);
  results_.reset();
  typeRows_.clear();
}

void MainWindow::SelectSource(const SourceItem* item) {
  for (QTreeWidgetItemIterator it(diskList_); *it; ++it)
    if ((*it)->data(0, kSourceRole).value<void*>() == item) diskList_->setCurrentItem(*it);
}

void MainWindow::RefreshDevices() {
  // Keep image sources and the engines of scanned devices that are still there.
  std::vector<std::unique_ptr<SourceItem>> fresh = EnumerateDisks();
  for (auto& item : fresh)
    for (auto& old : sources_)
      if (old && old->kind == item->kind && old->path == item->path && old->firstSector == item->firstSector &&
          old->engine()) {
        item->scan.engine = std::move(old->scan.engine);
        item->scan.source = old->scan.source;
      }
  for (auto& old : sources_)
    if (old && old->InImage()) fresh.push_back(std::move(old));
  // Results point at engines; a device that left takes its engine with it.
  bool lostEngine = false;
  for (auto& old : sources_)
    if (old && old->engine() && !old->InImage()) lostEngine = true;
  if (lostEngine && results_) {
    DropResults();
    if (page_ == kPageResults) ShowPage(kPageSources);
  }
  {
    std::lock_guard engineLock(EngineAccessLock());
    sources_ = std::move(fresh);
  }
  FillSourceList();
}

bool MainWindow::MakeReadable(const std::vector<SourceItem*>& sources) {
  for (SourceItem* source : sources) {
    if (source->InImage()) continue;
    const std::filesystem::path disk = DiskDevicePath(source->disk);
    QString error;
    if (!disk.empty() && !EnsureDiskReadable(disk, &error)) {
      ShowMessageBox(BoxKind::kError, this, error, 400, 150);
      return false;
    }
  }
  return true;
}

std::vector<SourceItem*> MainWindow::SourcesToScan() const {
  std::vector<SourceItem*> out;
  SourceItem* selected = selectedSource();
  if (!selected) return out;
  // A disk row (or a partitioned image): every partition of it, in list
  // order. Unallocated stretches hold no file system to list, so only a deep
  // scan (which carves) takes them.
  const bool deep = page_ == kPageFileTypes;
  for (const auto& item : sources_)
    if (item->parent == selected && (deep || item->volume.kind != EntryKind::kGap)) out.push_back(item.get());
  if (out.empty()) out.push_back(selected);  // an unpartitioned disk or image: the whole of it
  return out;
}

bool MainWindow::ScanSelected() {
  std::vector<SourceItem*> sources = SourcesToScan();
  if (sources.empty()) {
    ShowMessageBox(BoxKind::kInformation, this, Msg("MSG0505"), 400, 130);
    return false;
  }
  if (!MakeReadable(sources)) return false;
  const bool deep = page_ == kPageFileTypes;
  lastScanDeep_ = deep;
  lastScanCancelled_ = false;
  DropResults();
  std::vector<ScanEntry*> entries;
  for (SourceItem* source : sources) {
    {
      std::lock_guard engineLock(EngineAccessLock());
      source->scan.engine.reset();
    }
    if (ResolveForScan(*source) != kSuccess) {
      ShowMessageBox(BoxKind::kWarning, this, Msg("MSG0504"), 300, 130);
      return false;
    }
    entries.push_back(&source->scan);
  }
  int result;
  {
    JobWindow window(this, QStringLiteral("ScanProcessWnd"), "ScanWnd", 420, 260);
    // Hidden until the saved-scan question (deep scans) is settled.
    window.StayHiddenUntilRevealed();
    result = window.Run([&](IJobView& view) {
      ScanOptions options;
      options.deep = deep;
      auto job = std::make_unique<ScanJob>(view, LanguageTable::Instance(), entries, options);
      job->passStarting = [&window] { window.Reveal(); };
      return job;
    });
  }
  for (SourceItem* source : sources)
    if (source->scan.outcome.status == ScanStatus::kStopped) lastScanCancelled_ = true;
  if (result == kJobFailed) {
    ShowMessageBox(BoxKind::kWarning, this, Msg("MSG0504"), 300, 130);
    return false;
  }
  std::vector<ScanEntry*> scanned;
  for (SourceItem* source : sources)
    if (source->scan.engine) scanned.push_back(&source->scan);
  if (scanned.empty()) return false;

  // The extension list: the ticked types, or photos, audio and video.
  std::string extensions;
  for (const QString& key : TickedTypeKeys()) extensions += "*." + key.toStdString() + "|";
  if (extensions.empty())
    extensions = std::string(kPhotoExtensions) + std::string(kAudioExtensions) + std::string(kVideoExtensions);
  auto found = std::make_shared<ResultSet>();
  {
    JobWindow window(this, QStringLiteral("SearchProcessWnd"), "SearchProcessWnd", 400, 160);
    window.Run([&](IJobView& view) {
      return std::make_unique<SearchJob>(view, LanguageTable::Instance(), scanned, extensions, found->records);
    });
    // Which engine found which record: the search appends entry by entry.
    const auto& ends = static_cast<SearchJob*>(window.job())->resultsEnd();
    found->sourceOf.reserve(found->records.size());
    for (size_t e = 0; e < ends.size(); ++e) {
      found->engines.push_back(scanned[e]->engine.get());
      found->sourceOf.resize(ends[e], static_cast<uint16_t>(e));
    }
    found->records.resize(found->sourceOf.size());  // nothing unowned is listed
  }
  ShowResults(std::move(found));
  return true;
}

void MainWindow::ShowResults(std::shared_ptr<ResultSet> results) {
  results_ = std::move(results);
  thumbnails_->Reset(results_);
  model_->SetResults(results_);
  typeRows_.clear();
  // Group by type key, then hang each group under the category of its
  // option. A million names take longer than a frame to group: a worker does
  // it while this loop keeps the window painting.
  std::unordered_map<std::string, std::vector<uint32_t>> groups;
  {
    QEventLoop loop;
    form_->setEnabled(false);
    std::thread worker([&groups, results = results_, &loop] {
      const auto& records = results->records;
      for (uint32_t i = 0; i < records.size(); ++i) groups[TypeKeyOf(records[i].Name())].push_back(i);
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    form_->setEnabled(true);
  }

  QSignalBlocker block(typeTree_);
  int firstCategory = -1;
  QTreeWidgetItem* firstChild = nullptr;
  const auto groupsOfPage = FileTypeGroups();
  for (int c = 0; c < 3; ++c) {
    QTreeWidgetItem* node = typeTree_->topLevelItem(c);
    qDeleteAll(node->takeChildren());
    node->setCheckState(0, Qt::Unchecked);
    int total = 0;
    if (c < int(groupsOfPage.size())) {
      QStringList seen;
      for (const FileTypeOption& option : groupsOfPage[c].options) {
        const QString key = QString::fromUtf8(option.key.data(), option.key.size());
        if (seen.contains(key)) continue;
        seen << key;
        auto it = groups.find(key.toStdString());
        if (it == groups.end() || it->second.empty()) continue;
        auto* child = new QTreeWidgetItem(node);
        const int count = static_cast<int>(it->second.size());
        child->setText(0, QStringLiteral("%1 (%2)").arg(OptionTitle(QString::fromUtf8(option.label.data(), option.label.size()))).arg(count));
        child->setData(0, kTypeKeyRole, key);
        child->setData(0, kTypeRowsRole, static_cast<int>(typeRows_.size()));
        child->setData(0, kTypeRowsRole + 1, count);
        child->setFlags(child->flags() | Qt::ItemIsUserCheckable);
        child->setCheckState(0, Qt::Unchecked);
        typeRows_.push_back(std::move(it->second));
        groups.erase(it);  // a key in two groups (rm) is listed once
        total += count;
        if (!firstChild) firstChild = child;
      }
    }
    node->setText(0, QStringLiteral("%1 (%2)").arg(Msg(kCategoryTitles[c])).arg(total));
    node->setHidden(total == 0);
    node->setExpanded(true);
    if (total > 0 && firstCategory < 0) firstCategory = c;
  }
  block.unblock();
  if (firstChild) {
    typeTree_->setCurrentItem(firstChild);
  } else {
    model_->ShowRows({});
  }
  OnTypeNodeSelected();
  UpdateSelectionSummary();
  ShowPage(kPageResults);
  emit resultsShown();
}

bool MainWindow::SelectTypeNode(const QString& key) {
  for (QTreeWidgetItemIterator it(typeTree_); *it; ++it)
    if ((*it)->data(0, kTypeKeyRole).toString() == key) {
      typeTree_->setCurrentItem(*it);
      return true;
    }
  return false;
}

void MainWindow::OnTypeNodeSelected() {
  QTreeWidgetItem* node = typeTree_->currentItem();
  std::vector<uint32_t> rows;
  if (node) {
    auto collect = [&](QTreeWidgetItem* child) {
      const QVariant index = child->data(0, kTypeRowsRole);
      if (index.isValid() && index.toInt() < int(typeRows_.size())) {
        const auto& group = typeRows_[index.toInt()];
        rows.insert(rows.end(), group.begin(), group.end());
      }
    };
    if (node->parent()) collect(node);
    else for (int i = 0; i < node->childCount(); ++i) collect(node->child(i));
  }
  model_->ShowRows(std::move(rows));
  UpdateCheckAll();
  if (preview_) preview_->clear();
}

void MainWindow::OnTypeNodeTicked(QTreeWidgetItem* item) {
  const Qt::CheckState state = item->checkState(0);
  if (state == Qt::PartiallyChecked) return;  // set by the tree from its children
  const bool ticked = state == Qt::Checked;
  auto tickGroup = [&](QTreeWidgetItem* child) {
    const QVariant index = child->data(0, kTypeRowsRole);
    if (index.isValid() && index.toInt() < int(typeRows_.size())) model_->SetTickedAll(typeRows_[index.toInt()], ticked);
  };
  if (item->parent()) {
    tickGroup(item);
  } else {
    for (int i = 0; i < item->childCount(); ++i) tickGroup(item->child(i));
  }
}

void MainWindow::UpdateTypeTicks() {
  auto stateOf = [](uint64_t ticked, uint64_t total) {
    return ticked == 0 ? Qt::Unchecked : ticked == total ? Qt::Checked : Qt::PartiallyChecked;
  };
  QSignalBlocker block(typeTree_);
  for (int c = 0; c < typeTree_->topLevelItemCount(); ++c) {
    QTreeWidgetItem* category = typeTree_->topLevelItem(c);
    uint64_t categoryTicked = 0, categoryTotal = 0;
    for (int i = 0; i < category->childCount(); ++i) {
      QTreeWidgetItem* node = category->child(i);
      const QVariant index = node->data(0, kTypeRowsRole);
      if (!index.isValid() || index.toInt() >= int(typeRows_.size())) continue;
      const auto& rows = typeRows_[index.toInt()];
      const uint64_t ticked = std::count_if(rows.begin(), rows.end(), [this](uint32_t r) { return model_->IsTicked(r); });
      node->setCheckState(0, stateOf(ticked, rows.size()));
      categoryTicked += ticked;
      categoryTotal += rows.size();
    }
    category->setCheckState(0, stateOf(categoryTicked, categoryTotal));
  }
}

void MainWindow::UpdateSelectionSummary() {
  auto* summary = Control<QLabel>(form_, "SelectedFileInfo");
  auto* recover = Control<QPushButton>(form_, "BtnRecover");
  const uint64_t count = model_->tickedCount();
  if (recover) recover->setEnabled(count > 0);
  if (!summary) return;
  if (count > 0)
    summary->setText(QStringLiteral("%1 %2 (%3)").arg(Msg("MSG0804")).arg(count).arg(SizeQ(model_->tickedBytes())));
  else
    summary->setText(Msg("MSG0803"));
}

void MainWindow::UpdateCheckAll() {
  QSignalBlocker block(checkAll_);
  checkAll_->setChecked(model_->AllShownTicked());
}

void MainWindow::PreviewCurrent() {
  if (!preview_ || !results_) return;
  const QModelIndex current = fileList_->currentIndex();
  if (!current.isValid()) return;
  const uint32_t recordIndex = model_->RecordAt(current.row());
  const FoundFileRecord& record = results_->records[recordIndex];
  auto* name = form_->findChild<QLabel*>(QStringLiteral("PreviewName"));
  if (name) name->setText(QString::fromUtf8(record.Name().data(), record.Name().size()));
  preview_->clear();
  if (record.IsDirectory()) {
    preview_->setText(Msg("MSG0904"));
    return;
  }
  // The pane shows pictures; other files open in the preview window.
  if (!ExtensionInList(ExtensionOf(record.Name()), kPhotoExtensions)) {
    preview_->setPixmap(style()->standardIcon(QStyle::SP_FileIcon).pixmap(64, 64));
    return;
  }
  IFileRecoveryParse* engine = results_->engines[results_->sourceOf[recordIndex]];
  std::lock_guard engineLock(EngineAccessLock());
  const PreviewData data = ExtractForPreview(this, *engine, record);
  if (data.cancelled) return;
  const bool shown = data.error == 0 && !data.tempPath.isEmpty() && ShowPictureIn(preview_, data.tempPath);
  if (!shown) preview_->setText(Msg("MSG0905"));
  emit previewShown(shown);
}

void MainWindow::OpenPreview(int row) {
  if (!results_ || row < 0 || row >= model_->rowCount()) return;
  const uint32_t recordIndex = model_->RecordAt(row);
  const FoundFileRecord& record = results_->records[recordIndex];
  IFileRecoveryParse* engine = results_->engines[results_->sourceOf[recordIndex]];
  if (record.IsDirectory()) {
    ShowMessageBox(BoxKind::kInformation, this, Msg("MSG0904"), 300, 130);
    return;
  }
  const std::string extension = ExtensionOf(record.Name());
  if (ExtensionInList(extension, kAudioExtensions) || ExtensionInList(extension, kVideoExtensions)) {
    // The player may hold the one temporary media file: end ours first.
    EndPlayerProcesses();
    std::lock_guard engineLock(EngineAccessLock());
    const PreviewData data = ExtractForPreview(this, *engine, record);
    if (data.cancelled) return;
    QString error;
    if (data.error != 0 || data.tempPath.isEmpty() || !StartPlayer(data.tempPath, &error))
      ShowMessageBox(BoxKind::kInformation, this, Msg("MSG1207"), 330, 150);
    return;
  }
  // The window steps through the files of the list as it stands, in list order.
  std::vector<PreviewEntry> entries;
  int index = -1;
  for (int r = 0; r < model_->rowCount(); ++r) {
    const uint32_t i = model_->RecordAt(r);
    if (results_->records[i].IsDirectory()) continue;
    if (r == row) index = int(entries.size());
    entries.push_back({results_->records[i], results_->engines[results_->sourceOf[i]]});
  }
  PreviewWindow window(this, std::move(entries), [this](const PreviewEntry& entry) { RecoverOne(entry.record, *entry.engine); });
  previewWindow_ = &window;
  // Modal from the first show: exec() on a window already shown does not
  // make it modal, and the main window would take clicks (a new scan that
  // frees the engines this window reads through) while it is open.
  window.setModal(true);
  window.show();
  window.ShowEntry(index);
  window.exec();
  previewWindow_ = nullptr;
}

void MainWindow::RecoverOne(const FoundFileRecord& record, IFileRecoveryParse& engine) {
  QString root = choosers_.recoveryFolder(this);
  if (root.isEmpty()) return;
  while (root.size() > 1 && root.endsWith(QLatin1Char('/'))) root.chop(1);
  if (!ConfirmRecoveryFolder(root)) return;
  FoundItem item;
  item.record = record;
  std::lock_guard engineLock(EngineAccessLock());
  JobWindow window(this, QStringLiteral("RecoverProcessWnd"), "RecoverProcessWnd", 520, 220);
  window.Run([&](IJobView& view) {
    return std::make_unique<RecoverJob>(view, LanguageTable::Instance(), engine, item, root.toStdString());
  });
}

bool MainWindow::ConfirmRecoveryFolder(const QString& root) {
  for (const auto& item : sources_) {
    if (!item->engine() || item->InImage()) continue;
    if (OnSameDisk(item->path, root.toStdString()))
      return ShowMessageBox(BoxKind::kConfirm, this, Msg("MSG0805"), 450, 150) == kBoxOk;
  }
  return true;
}

void MainWindow::RecoverTicked() {
  if (!results_ || model_->tickedCount() == 0) return;
  QString root = choosers_.recoveryFolder(this);
  if (root.isEmpty()) return;
  while (root.size() > 1 && (root.endsWith(QLatin1Char('/')) || root.endsWith(QLatin1Char('\\')))) root.chop(1);
  if (!ConfirmRecoveryFolder(root)) return;
  // One batch per engine, in the order of the scanned sources.
  std::vector<RecoverBatch> batches(results_->engines.size());
  for (size_t e = 0; e < batches.size(); ++e) batches[e].engine = results_->engines[e];
  for (uint32_t record : model_->TickedRecords()) {
    FoundItem item;
    item.record = results_->records[record];
    batches[results_->sourceOf[record]].items.push_back(std::move(item));
  }
  std::erase_if(batches, [](const RecoverBatch& batch) { return batch.items.empty() || !batch.engine; });
  std::lock_guard engineLock(EngineAccessLock());
  JobWindow window(this, QStringLiteral("RecoverProcessWnd"), "RecoverProcessWnd", 520, 220);
  if (auto* open = Control<QPushButton>(&window, "OpenBtn"))
    connect(open, &QPushButton::clicked, &window, [root] {
      QProcess::startDetached(QStringLiteral("xdg-open"), {root});
    });
  window.Run([&](IJobView& view) {
    return std::make_unique<RecoverJob>(view, LanguageTable::Instance(), std::move(batches), root.toStdString(),
                                        false);
  });
}

void MainWindow::CreateImageOfSelected() {
  SourceItem* source = selectedSource();
  if (!source || source->kind == SourceItem::Kind::kImage) {
    ShowMessageBox(BoxKind::kInformation, this, Msg("MSG0216"), 300, 130);
    return;
  }
  if (!MakeReadable({source})) return;
  const uint64_t bytes = source->totalBytes;
  const QString proposed = source->kind == SourceItem::Kind::kDisk
                               ? QStringLiteral("Physical Disk %1").arg(source->disk + 1)
                               : QStringLiteral("%1 (%2, %3)").arg(source->entryNumber).arg(source->fileSystem, SizeQ(bytes));
  QString destination;
  for (;;) {
    destination = choosers_.imageDestination(this, proposed);
    if (destination.isEmpty()) return;
    const ImageDestinationFacts facts = InspectImageDestination(source->path, false, destination.toStdString());
    const std::string problem = ImageDestinationProblem(facts, bytes);
    if (problem.empty()) break;
    ShowMessageBox(BoxKind::kInformation, this, Msg(problem), 300, 130);
  }
  ImageJobRequest request;
  request.source = source->path;
  request.sourceIsImage = false;
  request.partition.driveNumber = source->disk;
  request.partition.firstSector = source->kind == SourceItem::Kind::kDisk ? 0 : source->firstSector;
  request.partition.sectorCount = source->sectorCount;
  request.partition.wholeDisk = source->kind == SourceItem::Kind::kDisk;
  request.destination = destination.toStdString();
  int result;
  {
    JobWindow window(this, QStringLiteral("CreateImageProcessWnd"), "CreateImageWnd", 460, 240);
    result = window.Run([&](IJobView& view) {
      return std::make_unique<ImageJob>(view, LanguageTable::Instance(), request);
    });
  }
  if (result == kJobFailed) {
    QThread::msleep(100);
    ShowMessageBox(BoxKind::kInformation, this, Msg("MSG0217"), 300, 130);
    return;
  }
  if (result == kJobCancelled) return;
  if (ShowMessageBox(BoxKind::kQuestion, this, Msg("MSG0214"), 400, 150) == kBoxOk) {
    SetMode(0);
    AddImage(destination);
    ShowPage(kPageFileTypes);
  }
}

void MainWindow::ShowHelp() {
  QDialog dialog(this);
  dialog.setWindowTitle(Text("MenuWnd", "HelpTitle"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* browser = new QTextBrowser(&dialog);
  browser->setOpenExternalLinks(false);
  browser->setSource(QUrl(QStringLiteral("qrc:/help/help.html")));
  layout->addWidget(browser);
  dialog.resize(640, 520);
  dialog.exec();
}

void MainWindow::ShowAbout() {
  // Language files keep a text on one line; "\n" in it breaks the line.
  QString text = Text("MenuWnd", "AboutText").replace(QLatin1String("\\n"), QLatin1String("\n"));
  ShowMessageBox(BoxKind::kInformation, this, FormatMsg(text, {QStringLiteral(KESTREL_VERSION)}), 420, 200);
}

void MainWindow::StartDeviceMonitor() {
  // Devices settle for a few seconds after they come or go (partitions
  // appear one by one); one refresh after the last event.
  deviceTimer_.setSingleShot(true);
  deviceTimer_.setInterval(kDeviceRefreshMs);
  connect(&deviceTimer_, &QTimer::timeout, this, &MainWindow::RefreshDevices);
  udev* context = udev_new();
  if (!context) return;
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  if (!monitor) {
    udev_unref(context);
    return;
  }
  udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr);
  if (udev_monitor_enable_receiving(monitor) < 0) {
    udev_monitor_unref(monitor);
    udev_unref(context);
    return;
  }
  udev_ = context;
  udevMonitor_ = monitor;
  auto* notifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    udev_device* device = udev_monitor_receive_device(static_cast<udev_monitor*>(udevMonitor_));
    if (!device) return;
    const char* action = udev_device_get_action(device);
    if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0 || std::strcmp(action, "change") == 0))
      deviceTimer_.start();
    udev_device_unref(device);
  });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (grid_ && watched == grid_->viewport()) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
      QMetaObject::invokeMethod(this, &MainWindow::UpdateVisibleThumbnails, Qt::QueuedConnection);
    return QMainWindow::eventFilter(watched, event);
  }
  // Hovering a mode button explains the mode.
  if (event->type() == QEvent::Enter)
    if (auto* info = Control<QLabel>(form_, "TxtMainInfo"))
      info->setText(Msg(watched->objectName() == QLatin1String("BtnCreateImageMode") ? "MSG0102" : "MSG0101"));
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Engines and their stores close with the sources.
  DropResults();
  {
    std::lock_guard engineLock(EngineAccessLock());
    sources_.clear();
  }
  QMainWindow::closeEvent(event);
}

}  // namespace kestrel::ui
