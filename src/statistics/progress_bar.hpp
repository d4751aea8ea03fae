// A one-line progress bar on a terminal: "█████░░░░░ 3/10".
//
// It draws only when it was created visible with a total of at least 2 and
// its stream is a terminal; otherwise it writes nothing at all. Redraws are
// rate-limited to about 20 a second; finishing always draws the final state
// and leaves it on the screen. Not thread-safe: one thread drives a bar.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace vexlume {

class ProgressBar {
public:
    // A bar over `total` steps on file descriptor `fd` (standard error by
    // default); it draws its initial state at once when it is shown.
    static ProgressBar counting(std::size_t total, int fd = 2);

    ProgressBar(ProgressBar&& other) noexcept;
    ProgressBar& operator=(ProgressBar&&) = delete;
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    // An unfinished bar that has drawn ends its line, so that whatever is
    // written next (an error report) starts on a line of its own.
    ~ProgressBar();

    // A label for the bar; kept, but not part of the drawn line.
    void set_prefix(std::string prefix) { prefix_ = std::move(prefix); }

    void advance(std::size_t steps = 1);
    // Sets the count to the total, draws it and ends the line. Only the
    // first call has an effect.
    void finish();

private:
    ProgressBar(std::size_t total, int fd, bool shown);
    void draw();

    std::size_t total_;
    std::size_t position_ = 0;
    int fd_;
    bool shown_;
    bool finished_ = false;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_draw_{};
    std::string prefix_;
};

// The line a bar of `columns` terminal columns shows at `position` of
// `total`: the bar, a blank and position/total, one column short of the
// width so that the cursor never wraps.
std::string progress_line(std::size_t position, std::size_t total, std::size_t columns);

}  // namespace vexlume
