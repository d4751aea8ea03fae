#include "statistics/progress_bar.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace vexlume {

namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(50);
constexpr std::size_t fallback_columns = 80;

std::size_t terminal_columns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* text = std::getenv("COLUMNS")) {
        char* end = nullptr;
        errno = 0;
        const long columns = std::strtol(text, &end, 10);
        if (errno == 0 && end != text && *end == '\0' && columns > 0 && columns < 100000) {
            return static_cast<std::size_t>(columns);
        }
    }
    return fallback_columns;
}

// Writes everything, or as much as the stream takes: a bar that cannot be
// drawn must not disturb the computation.
void write_all(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

std::string progress_line(std::size_t position, std::size_t total, std::size_t columns) {
    std::string total_text = std::to_string(total);
    std::string position_text = std::to_string(position);
    // Pad the count to the width of the total so the bar keeps its length.
    if (position_text.size() < total_text.size()) {
        position_text.insert(0, total_text.size() - position_text.size(), ' ');
    }
    const std::string counter = " " + position_text + "/" + total_text;
    const std::size_t usable = columns > 0 ? columns - 1 : 0;
    const std::size_t cells = usable > counter.size() ? usable - counter.size() : 0;
    const std::size_t done =
        total == 0 ? cells : static_cast<std::size_t>(
                                 static_cast<double>(cells) *
                                 (static_cast<double>(std::min(position, total)) / static_cast<double>(total)));
    std::string line;
    line.reserve(cells * 3 + counter.size());
    for (std::size_t i = 0; i < cells; ++i) line += i < done ? "\u2588" : "\u2591";
    line += counter;
    return line;
}

ProgressBar::ProgressBar(std::size_t total, int fd, bool shown)
    : total_(total), fd_(fd), shown_(shown) {}

ProgressBar ProgressBar::counting(std::size_t total, int fd) {
    ProgressBar bar(total, fd, total >= 2 && isatty(fd) == 1);
    if (bar.shown_) bar.draw();
    return bar;
}

ProgressBar::ProgressBar(ProgressBar&& other) noexcept
    : total_(other.total_),
      position_(other.position_),
      fd_(other.fd_),
      shown_(std::exchange(other.shown_, false)),
      finished_(other.finished_),
      drawn_(std::exchange(other.drawn_, false)),
      last_draw_(other.last_draw_),
      prefix_(std::move(other.prefix_)) {}

ProgressBar::~ProgressBar() {
    if (shown_ && drawn_ && !finished_) write_all(fd_, "\n");
}

void ProgressBar::advance(std::size_t steps) {
    if (finished_) return;
    position_ = std::min(total_, position_ + std::min(steps, total_));
    if (shown_ && std::chrono::steady_clock::now() - last_draw_ >= redraw_interval) draw();
}

void ProgressBar::finish() {
    if (finished_) return;
    position_ = total_;
    if (shown_) {
        draw();
        write_all(fd_, "\n");
    }
    finished_ = true;
}

void ProgressBar::draw() {
    std::string text(1, '\r');
    text += progress_line(position_, total_, terminal_columns(fd_));
    write_all(fd_, text);
    last_draw_ = std::chrono::steady_clock::now();
    drawn_ = true;
}

}  // namespace vexlume
