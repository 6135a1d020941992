// The progress line: one self-updating line on standard error for a job that
// walks records for longer than about a second, naming the table, the parameter,
// the records done of the total, the rate and the time left. It is shown only
// when standard error is a terminal (scripts and pipes see nothing) and erased
// when the walk ends, so the terminal is left as it was.
#pragma once
#include <cstdint>
#include <string>

namespace rorarodi {

// What the line names from now on: the table's file and the parameter being
// run (shown as given). Starts the job's clock: the line appears once the job
// has run for about a second.
void set_progress_job(const std::string& table_path, const std::string& parameter);

// Whether a walk prints to standard output while it runs.
enum class ProgressOutput { quiet, prints_to_stdout };

// One walk over `total` records. Only the outermost walk of a job draws; a walk
// that prints to standard output draws nothing when standard output is a
// terminal too, since its text would break into the line.
class ProgressMeter {
public:
    explicit ProgressMeter(uint64_t total, ProgressOutput output = ProgressOutput::quiet);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // `done` records of the total are finished. Costs a comparison for most
    // records; the clock is read every few hundred.
    void step(uint64_t done) {
        if (done >= next_check_) check(done);
    }

private:
    void check(uint64_t done);

    uint64_t total_;
    uint64_t next_check_;
    bool owner_ = false;
};

// The text of the line (without the carriage return), cut to `width`
// characters: for the tests and the meter.
std::string progress_text(const std::string& table, const std::string& parameter, uint64_t done, uint64_t total,
                          double seconds, size_t width);

} // namespace rorarodi
