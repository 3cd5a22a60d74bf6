#include "ui/engine_jobs.h"

#include <cstdio>

#include "app/recovery_destination.h"
#include "catalogue/categories.h"
#include "engines/engine_factory.h"
#include "platform/error_codes.h"

namespace kestrel::ui {
namespace {

std::string Printf(const std::string& format, std::initializer_list<std::string> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char kind = format[i + 1];
      if (kind == '%') { out += '%'; ++i; continue; }
      if (kind == 's' || kind == 'd' || kind == 'u' || kind == 'c') {
        if (next != args.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

// "text value" or the text with its field filled when it has one.
std::string WithValue(const std::string& text, const std::string& value) {
  return text.find('%') != std::string::npos ? Printf(text, {value}) : text + " " + value;
}

std::string SourceName(const SourceItem& source) {
  return source.kind == SourceItem::Kind::kImage ? source.path.filename().string() : source.path.string();
}

}  // namespace

ScanJob::ScanJob(IJobView& view, LanguageTable& texts, std::vector<SourceItem*> sources, bool deep)
    : Job(view, texts), sources_(std::move(sources)), deep_(deep) {}

int ScanJob::Run() {
  for (SourceItem* source : sources_) {
    const bool image = source->kind == SourceItem::Kind::kImage;
    view_.SetText("stage", WithValue(Msg(image ? "MSG0703" : "MSG0701"), SourceName(*source)));
    source->engine.reset();
    source->engine = image ? CreateEngineForImage(source->path, 0, deep_)
                           : CreateEngineForPartition(source->disk, source->firstSector, source->sectorCount, 0, deep_);
    if (!source->engine) return kJobFailed;
    source->engine->SetCallbacks(&ScanJob::OnProgress, nullptr, this, deep_ ? 100 : 100);
    if (source->engine->Scan(std::nullopt) == kCancelled) {
      cancelled_ = true;
      break;
    }
  }
  return kJobDone;
}

int ScanJob::OnProgress(void* user, int32_t progress, int32_t scale, int32_t remaining, uint64_t done, uint64_t total,
                        uint64_t found, int32_t) {
  auto* job = static_cast<ScanJob*>(user);
  const int percent = progress * scale / 100;
  return job->Report([&] {
    job->view_.SetValue("progress", percent);
    job->view_.SetText("percent", WithValue(job->Msg("MSG0704"), std::to_string(percent) + "%"));
    job->view_.SetText("time", remaining < 0 ? job->Msg("MSG0705")
                                            : job->Msg("MSG0708") + " " + DurationText(remaining));
    job->view_.SetVisible("sectors", total != 0);
    job->view_.SetVisible("totalfile", total != 0);
    if (total != 0) {
      job->view_.SetText("sectors", job->Msg("MSG0706") + " " + std::to_string(done) + " / " + std::to_string(total));
      job->view_.SetText("totalfile", job->Msg("MSG0707") + " " + std::to_string(found));
    }
  });
}

SearchJob::SearchJob(IJobView& view, LanguageTable& texts, std::vector<SourceItem*> sources, std::string extensions,
                     ResultSet& out)
    : Job(view, texts), sources_(std::move(sources)), extensions_(std::move(extensions)), out_(out) {}

int SearchJob::Run() {
  for (SourceItem* source : sources_) {
    if (!source->engine) continue;
    const bool image = source->kind == SourceItem::Kind::kImage;
    view_.SetText("stage", WithValue(Msg(image ? "MSG1203" : "MSG1201"), SourceName(*source)));
    source->engine->SetSearchCallback(&SearchJob::OnProgress, this);
    std::vector<FoundFileRecord> found;
    const int result = source->engine->SearchByExtension(extensions_, found);
    const auto sourceIndex = static_cast<uint16_t>(out_.engines.size());
    out_.engines.push_back(source->engine.get());
    if (out_.records.empty()) {
      out_.records = std::move(found);  // the one copy the window keeps
    } else {
      out_.records.insert(out_.records.end(), found.begin(), found.end());
    }
    out_.sourceOf.resize(out_.records.size(), sourceIndex);
    if (result == kCancelled) return kJobCancelled;
  }
  return kJobDone;
}

int SearchJob::OnProgress(void* user, int32_t percent, int32_t) {
  auto* job = static_cast<SearchJob*>(user);
  return job->Report([&] {
    job->view_.SetValue("progress", percent);
    job->view_.SetText("percent", WithValue(job->Msg("MSG1204"), std::to_string(percent) + "%"));
  });
}

RecoverJob::RecoverJob(IJobView& view, LanguageTable& texts, const ResultSet& results, std::vector<uint32_t> records,
                       std::filesystem::path root)
    : Job(view, texts), results_(results), records_(std::move(records)), root_(std::move(root)) {}

void RecoverJob::ShowCounts() {
  view_.SetText("recovered", Printf(Msg("MSG1102"), {std::to_string(done_), std::to_string(records_.size()),
                                                     std::to_string(done_ - failed_), std::to_string(failed_)}));
}

int RecoverJob::Run() {
  const int32_t rootDepth = RootDepth(root_);
  ShowCounts();
  for (uint32_t index : records_) {
    const FoundFileRecord& record = results_.records[index];
    IFileRecoveryParse* engine = results_.engines[results_.sourceOf[index]];
    const std::filesystem::path destination = RecoveryDestination(root_, record);
    std::error_code ec;
    std::filesystem::create_directories(destination.parent_path(), ec);
    itemReported_ = false;
    engine->SetCallbacks(nullptr, &RecoverJob::OnItem, this, 100);
    const int result = engine->RecoverItem(&record, destination, rootDepth);
    if (result == kCancelled) return kJobCancelled;
    if (!itemReported_) {
      // The engine failed before writing anything: count it here.
      const int code = result == kSuccess ? kErrGeneralFailure : result;
      if (Report([&] {
            ++done_;
            ++failed_;
            view_.SetText("DetailList", "!" + destination.string() + "\t" + ErrorText(code));
            ShowCounts();
          }) == kCancelled)
        return kJobCancelled;
    }
  }
  view_.SetVisible("CancelBtn", false);
  view_.SetVisible("FinishBtn", true);
  return kJobDone;
}

int RecoverJob::OnItem(void* user, int32_t percent, int32_t scale, int32_t errorCode, const std::filesystem::path& path) {
  auto* job = static_cast<RecoverJob*>(user);
  const int shown = percent * scale / 100;
  return job->Report([&] {
    if (shown >= 100) {
      job->itemReported_ = true;
      ++job->done_;
      if (errorCode != 0) {
        ++job->failed_;
        job->view_.SetText("DetailList", "!" + path.string() + "\t" + ErrorText(errorCode));
      } else {
        job->view_.SetText("DetailList", path.string() + "\tSuccess");
      }
    }
    job->view_.SetValue("progress", shown);
    job->view_.SetText("current", path.string());
    job->view_.SetText("percent", WithValue(job->Msg("MSG1101"), std::to_string(shown) + "%"));
    job->ShowCounts();
  });
}

}  // namespace kestrel::ui
