// Scan, search and recovery as jobs over the window's sources: a stand-in
// until app/ offers these jobs, kept small and built on the shared Job base
// (worker thread, progress lock, cancel handshake).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/jobs/job.h"
#include "ui/results_model.h"
#include "ui/source_catalog.h"

namespace kestrel::ui {

// Scans each source in order, leaving its engine in the source. Closes with
// kJobFailed when a source yields no engine (earlier sources keep theirs),
// else kJobDone (also after a cancel; cancelled() then says so).
class ScanJob : public Job {
 public:
  ScanJob(IJobView& view, LanguageTable& texts, std::vector<SourceItem*> sources, bool deep);
  bool cancelled() const { return cancelled_; }

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG0709"; }

 private:
  static int OnProgress(void* user, int32_t progress, int32_t scale, int32_t remaining, uint64_t done,
                        uint64_t total, uint64_t found, int32_t reserved);
  std::vector<SourceItem*> sources_;
  bool deep_;
  bool cancelled_ = false;
};

// Collects the found files whose extension is in extensions ("*.jpg|*.png|")
// from every scanned source into out.
class SearchJob : public Job {
 public:
  SearchJob(IJobView& view, LanguageTable& texts, std::vector<SourceItem*> sources, std::string extensions,
            ResultSet& out);

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG1205"; }

 private:
  static int OnProgress(void* user, int32_t percent, int32_t reserved);
  std::vector<SourceItem*> sources_;
  std::string extensions_;
  ResultSet& out_;
};

// Writes the given records below root, one sub-folder per category.
class RecoverJob : public Job {
 public:
  RecoverJob(IJobView& view, LanguageTable& texts, const ResultSet& results, std::vector<uint32_t> records,
             std::filesystem::path root);
  int done() const { return done_; }
  int failed() const { return failed_; }

 protected:
  int Run() override;
  std::string_view cancelQuestionId() const override { return "MSG1103"; }

 private:
  static int OnItem(void* user, int32_t percent, int32_t scale, int32_t errorCode, const std::filesystem::path& path);
  void ShowCounts();
  const ResultSet& results_;
  std::vector<uint32_t> records_;
  std::filesystem::path root_;
  int done_ = 0;
  int failed_ = 0;
  bool itemReported_ = false;
};

}  // namespace kestrel::ui
