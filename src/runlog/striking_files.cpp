#include "runlog/striking_files.h"

#include <atomic>

#include "core/text.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "runlog/striking_page.h"
#include "runlog/run_log.h"
#include "runlog/striking_summary_lines.h"

namespace qn {

namespace {

constexpr int kFinishWaitMs = 10000;

std::string file_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// What the thread that fills the files has: its own copy of the report,
// the open files, and the log (which takes lines from any thread).
struct StrikingFiles::Job {
    TouchStrikingPtr report;
    std::string base, run_log;
    std::unique_ptr<platform::OutFile> page, csv;
    RunLog* log = nullptr;
    std::atomic<bool> done{false};

    void run() {
        platform::Result<void> r = page->write(striking_page(*report, run_log));
        if (r.ok()) r = page->close();
        if (r.ok()) r = csv->write(striking_csv(*report));
        if (r.ok()) r = csv->close();
        if (r.ok())
            log->write_line("Striking report written: " + base + ".html, every blow in " + base + ".csv");
        else
            log->write_line("Striking report of touch " + str(report->touch) + " not written: " + r.error());
        log->flush();
        done = true;
    }
};

void StrikingFiles::touch_striking(const TouchStrikingPtr& report) {
    const TouchStriking& t = *report;
    log_.write_line("Striking report of touch " + str(t.touch));
    for (const std::string& line : striking_log_lines(t)) log_.write_line(line);
    log_.flush();
    files_line_.clear();
    if (log_.name().empty()) return;
    finish();
    auto job = std::make_shared<Job>();
    job->base = log_.name() + "_touch" + str(t.touch);
    job->run_log = file_name(log_.name()) + ".log";
    job->log = &log_;
    auto page = files_.create(job->base + ".html");
    auto csv = page.ok() ? files_.create(job->base + ".csv") : std::move(page);
    if (!csv.ok()) {
        if (page.ok()) (void)files_.remove(job->base + ".html");
        log_.write_line("Striking report of touch " + str(t.touch) + " not written: " + csv.error());
        files_line_ = "Report not written: " + csv.error();
        return;
    }
    job->page = std::move(page.value());
    job->csv = std::move(csv.value());
    job->report = report;
    files_line_ = "Report: " + file_name(job->base) + ".html";
    job_ = job;
    if (!threads_.create([job] { job->run(); }).ok()) job->run();
}

void StrikingFiles::finish() {
    for (int waited = 0; job_ && !job_->done && waited < kFinishWaitMs; ++waited) threads_.sleep_ms(1);
}

}  // namespace qn
