// The single top-level window: mode choice, source list, file types, results
// and the job windows for scan, search, recovery and imaging.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "ui/results_model.h"
#include "ui/source_catalog.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QMenu;
class QListView;

namespace kestrel {
class IFileRecoveryParse;
struct FoundFileRecord;
}  // namespace kestrel

namespace kestrel::ui {

// Pages of the window, by their index in the page stack.
class PreviewWindow;
class ThumbnailStore;

enum Page { kPageHome = 0, kPageSources = 1, kPageFileTypes = 2, kPageResults = 3 };

// How the window asks for files and folders; tests replace these.
struct FileChoosers {
  std::function<QString(QWidget*)> recoveryFolder;
  std::function<QString(QWidget*, const QString& proposedName)> imageDestination;
  std::function<QString(QWidget*)> imageToLoad;
};
FileChoosers NativeFileChoosers();

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(bool listDevices = true, QWidget* parent = nullptr);
  ~MainWindow() override;

  void SetFileChoosers(FileChoosers choosers) { choosers_ = std::move(choosers); }

  int page() const { return page_; }
  int mode() const { return mode_; }
  void ShowPage(int page);
  void SetMode(int mode);

  // Adds an image file under the image node and selects it.
  SourceItem* AddImage(const QString& path);
  // Adds a source (a disk or partition found elsewhere) to the list and selects it.
  SourceItem* AddSource(std::unique_ptr<SourceItem> item);
  void SelectSource(const SourceItem* item);
  // Rebuilds the disk part of the source list (device arrival or removal).
  void RefreshDevices();

  // Scans the selected source (deep from the file-type page), then searches
  // and shows the results. Returns false when nothing was scanned.
  bool ScanSelected();
  // The last scan was stopped by the user (its results are what was found so far).
  bool lastScanCancelled() const { return lastScanCancelled_; }
  // Recovers the ticked files into a folder the choosers supply.
  void RecoverTicked();
  // Image mode: copies the selected partition or disk into an image file.
  void CreateImageOfSelected();
  // True when root may receive recovered files (asks when it is on a scanned disk).
  bool ConfirmRecoveryFolder(const QString& root);

  // Previews the file of this list row: pictures and other files in the
  // preview window, audio and video in the player.
  void OpenPreview(int row);
  // The preview window while it is open (tests drive it).
  PreviewWindow* previewWindow() const { return previewWindow_; }
  // Recovers one file (the preview window's "recover this file").
  void RecoverOne(const FoundFileRecord& record, IFileRecoveryParse& engine);

  // Switches the file list to the grid of thumbnails and back.
  void ShowThumbnails(bool on);
  QListView* thumbnailGrid() const { return grid_; }
  ThumbnailStore* thumbnails() const { return thumbnails_; }

  // Results access for tests and the benchmark.
  ResultsModel* resultsModel() const { return model_; }
  QTreeWidget* typeTree() const { return typeTree_; }
  QTableView* fileList() const { return fileList_; }
  SourceItem* selectedSource() const;
  const std::vector<std::unique_ptr<SourceItem>>& sources() const { return sources_; }
  // Type keys ticked on the file-type page ("jpg", "png"...).
  QStringList TickedTypeKeys() const;
  // Builds the results page from a search result (kept as the one copy).
  void ShowResults(std::shared_ptr<ResultSet> results);
  // Lists the files of the type node with this key ("jpg"); false when there is none.
  bool SelectTypeNode(const QString& key);
  // Switches the language and re-applies every visible text.
  void SwitchLanguage(const QString& name);

 signals:
  void resultsShown();
  void previewShown(bool ok);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildPages();
  void BuildFileTypeOptions();
  void BuildThumbnailGrid();
  void UpdateVisibleThumbnails();
  // Forgets the results (after any thumbnail in the making is done).
  void DropResults();
  void BuildMenu();
  void ConnectControls();
  void ApplyTexts();
  void FillSourceList();
  void SelectDefaultSource();
  void ShowSourceDetails();
  void OnTypeNodeSelected();
  void OnTypeNodeTicked(QTreeWidgetItem* item);
  void UpdateSelectionSummary();
  void UpdateCheckAll();
  // Each type and category box shows whether all, some or none of its files are ticked.
  void UpdateTypeTicks();
  void PreviewCurrent();
  void UpdateHeaderTitles();
  void OnBack();
  void ShowHelp();
  void ShowAbout();
  void StartDeviceMonitor();
  QString SourceLabel(const SourceItem& item) const;
  QString FileSystemLabel(const SourceItem& item) const;
  std::vector<SourceItem*> SourcesToScan() const;
  // Opens each disk directly or through UDisks2; says which one cannot be read.
  bool MakeReadable(const std::vector<SourceItem*>& sources);

  FileChoosers choosers_;
  PreviewWindow* previewWindow_ = nullptr;
  int page_ = kPageHome;
  int mode_ = 0;
  bool lastScanDeep_ = false;
  bool lastScanCancelled_ = false;
  bool listDevices_ = true;
  std::vector<std::unique_ptr<SourceItem>> sources_;
  std::shared_ptr<ResultSet> results_;
  // Record indices per type node, in the order the search returned them.
  std::vector<std::vector<uint32_t>> typeRows_;

  QWidget* form_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QTreeWidget* diskList_ = nullptr;
  QTreeWidgetItem* imageNode_ = nullptr;
  QTreeWidget* typeTree_ = nullptr;
  QTableView* fileList_ = nullptr;
  QCheckBox* checkAll_ = nullptr;
  QLabel* preview_ = nullptr;
  QMenu* assistMenu_ = nullptr;
  QMenu* languageMenu_ = nullptr;
  ResultsModel* model_ = nullptr;
  ThumbnailStore* thumbnails_ = nullptr;
  QListView* grid_ = nullptr;
  QTimer deviceTimer_;
  int udevFd_ = -1;
  void* udevMonitor_ = nullptr;
  void* udev_ = nullptr;
};

}  // namespace kestrel::ui
