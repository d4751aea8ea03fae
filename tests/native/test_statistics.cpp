// The worker pool and row reduction, the progress bar, the inverse transform,
// the centre of gravity and the two ensemble signals.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/buffer.hpp"
#include "core/error.hpp"
#include "harness.hpp"
#include "statistics/center_of_gravity.hpp"
#include "statistics/inverse_fft.hpp"
#include "statistics/progress_bar.hpp"
#include "statistics/reduce.hpp"
#include "statistics/signals.hpp"
#include "statistics/worker_pool.hpp"

using namespace vexlume;

using native_tests::failure_message;

namespace {

bool close_to(double actual, double expected, double relative = 1e-12) {
    return std::fabs(actual - expected) <= relative * std::max(1.0, std::fabs(expected));
}

// N rows of P points laid out with every other element skipped and the rows
// stored back to front, so that a reduction only sees them through strides.
// Logical point k of row i holds (i + k/4, k).
struct StridedEnsemble {
    std::vector<Complex> storage;
    View2<Complex> rows;

    StridedEnsemble(std::size_t n, std::size_t p) : storage(std::max<std::size_t>(1, 2 * n * p)) {
        const auto row_stride = static_cast<std::ptrdiff_t>(2 * p);
        const Complex* first = storage.data() + (n == 0 ? 0 : (n - 1) * 2 * p);
        rows = View2<Complex>{first, n, p, -row_stride, 2};
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < p; ++k) {
                const_cast<Complex&>(rows(i, k)) = Complex{double(i) + double(k) / 4, double(k)};
            }
        }
    }
    // Row index recovered from the values, so a row seen twice is noticed.
    static std::size_t index_of(View1<Complex> row) { return static_cast<std::size_t>(row[0].re); }
    static double statistic(View1<Complex> row) {
        double sum = 0.0;
        for (std::size_t k = 0; k < row.size; ++k) sum += row[k].re * 3 + row[k].im;
        return sum;
    }
};

}  // namespace

// ---------------------------------------------------------------- reduction

NATIVE_TEST(reduction_writes_every_row_in_range_exactly_once) {
    constexpr std::size_t points = 3;
    constexpr double untouched = -12345.0;
    for (std::size_t workers : {1, 2, 3, 7}) {
        WorkerPool pool(workers);
        for (std::size_t n : {0, 1, 2, 7, 1000}) {
            for (std::size_t out_len : {n, n / 2, std::size_t{0}}) {
                StridedEnsemble ensemble(n, points);
                std::vector<std::atomic<int>> calls(n);
                std::atomic<bool> on_caller{false};
                const auto caller = std::this_thread::get_id();
                std::vector<double> out(n + 1, untouched);
                complex_reduce_inplace(pool, ensemble.rows, out.data(), out_len,
                                       [&](View1<Complex> row) {
                                           if (std::this_thread::get_id() == caller) on_caller = true;
                                           calls[StridedEnsemble::index_of(row)]++;
                                           return StridedEnsemble::statistic(row);
                                       });
                const std::size_t evaluated = std::min(n, out_len);
                bool rows_ok = true;
                for (std::size_t i = 0; i < n; ++i) {
                    const int expected_calls = i < evaluated ? 1 : 0;
                    const double expected =
                        i < evaluated ? StridedEnsemble::statistic(ensemble.rows.row(i)) : untouched;
                    rows_ok = rows_ok && calls[i] == expected_calls && out[i] == expected;
                }
                if (!rows_ok || on_caller || out[n] != untouched) {
                    std::fprintf(stderr, "  workers %zu, rows %zu, out_len %zu\n", workers, n, out_len);
                }
                EXPECT(rows_ok);
                EXPECT(!on_caller);
                EXPECT(out[n] == untouched);
            }
        }
    }
}

NATIVE_TEST(reduction_rethrows_the_first_failure_after_every_part_stopped) {
    constexpr std::size_t n = 2000;
    StridedEnsemble ensemble(n, 2);
    std::vector<double> out(n);
    WorkerPool pool(4);

    struct Case {
        std::size_t failing_row;
        bool internal;  // InternalFailure or a foreign exception type
    };
    for (const Case c : {Case{0, true}, Case{777, true}, Case{n - 1, false}}) {
        std::atomic<int> running{0};
        std::atomic<std::size_t> evaluated{0};
        std::string message;
        bool right_type = false;
        try {
            complex_reduce_inplace(pool, ensemble.rows, out.data(), n, [&](View1<Complex> row) {
                running++;
                evaluated++;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                const std::size_t i = StridedEnsemble::index_of(row);
                if (i == c.failing_row) {
                    running--;
                    if (c.internal) fail("row " + std::to_string(i) + " failed");
                    throw std::runtime_error("foreign failure");
                }
                running--;
                return 0.0;
            });
        } catch (const InternalFailure& failure) {
            message = failure.message();
            right_type = c.internal;
        } catch (const std::runtime_error& failure) {
            message = failure.what();
            right_type = !c.internal;
        }
        EXPECT(right_type);
        EXPECT(message == (c.internal ? "row " + std::to_string(c.failing_row) + " failed"
                                      : std::string("foreign failure")));
        EXPECT(running == 0);
        // After a failure at the first row no worker claims another part,
        // so far from all rows are evaluated.
        if (c.failing_row == 0) EXPECT(evaluated < n);
    }

    // One worker failing at row 0 stops at once.
    WorkerPool single(1);
    std::atomic<std::size_t> evaluated{0};
    const std::string message = failure_message([&] {
        complex_reduce_inplace(single, ensemble.rows, out.data(), n, [&](View1<Complex>) -> double {
            evaluated++;
            fail("first row failed");
        });
    });
    EXPECT(message == "first row failed");
    EXPECT(evaluated == 1);

    // Both pools still work.
    for (WorkerPool* p : {&pool, &single}) {
        std::vector<double> again(n, -1.0);
        complex_reduce_inplace(*p, ensemble.rows, again.data(), n, StridedEnsemble::statistic);
        bool all = true;
        for (std::size_t i = 0; i < n; ++i) all = all && again[i] == StridedEnsemble::statistic(ensemble.rows.row(i));
        EXPECT(all);
    }
}

NATIVE_TEST(reduction_started_from_a_worker_of_the_same_pool_runs_serially) {
    WorkerPool pool(2);
    StridedEnsemble outer(4, 2), inner(3, 2);
    std::vector<double> out(4);
    complex_reduce_inplace(pool, outer.rows, out.data(), 4, [&](View1<Complex> row) {
        double inner_out[3];
        complex_reduce_inplace(pool, inner.rows, inner_out, 3, StridedEnsemble::statistic);
        return inner_out[0] + inner_out[1] + inner_out[2] + StridedEnsemble::statistic(row);
    });
    const double inner_total = StridedEnsemble::statistic(inner.rows.row(0)) +
                               StridedEnsemble::statistic(inner.rows.row(1)) +
                               StridedEnsemble::statistic(inner.rows.row(2));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT(out[i] == inner_total + StridedEnsemble::statistic(outer.rows.row(i)));
    }
}

NATIVE_TEST(worker_count_comes_from_a_positive_integer_only) {
    struct Case {
        const char* text;
        std::size_t count;  // 0: rejected
    };
    const Case cases[] = {
        {"1", 1}, {"7", 7}, {"0012", 12}, {"0", 0}, {"", 0}, {"-2", 0}, {"+2", 0},
        {" 4", 0}, {"4 ", 0}, {"3x", 0}, {"two", 0}, {"1e3", 0}, {"99999999999999999999999", 0},
    };
    for (const Case& c : cases) {
        std::size_t parsed = 0;
        const std::string message = failure_message([&] { parsed = parse_worker_count(c.text); });
        if (c.count != 0) {
            EXPECT(message.empty() && parsed == c.count);
        } else {
            EXPECT(message.find("VEXLUME_NUM_THREADS") != std::string::npos);
            EXPECT(message.find(std::string("\"") + c.text + "\"") != std::string::npos);
        }
    }

    const char* saved = std::getenv("VEXLUME_NUM_THREADS");
    const std::string saved_value = saved ? saved : "";
    setenv("VEXLUME_NUM_THREADS", "3", 1);
    EXPECT(configured_worker_count() == 3);
    setenv("VEXLUME_NUM_THREADS", "many", 1);
    EXPECT(failure_message([] { configured_worker_count(); }).find("\"many\"") != std::string::npos);
    unsetenv("VEXLUME_NUM_THREADS");
    EXPECT(configured_worker_count() >= 1);
    if (saved) setenv("VEXLUME_NUM_THREADS", saved_value.c_str(), 1);
}

NATIVE_TEST(forked_child_gets_a_working_pool_of_its_own) {
    StridedEnsemble ensemble(100, 2);
    std::vector<double> out(100);
    complex_reduce_inplace(ensemble.rows, out.data(), 100, StridedEnsemble::statistic);
    const WorkerPool* parent_pool = &process_pool();

    const pid_t child = fork();
    if (child == 0) {
        alarm(20);  // a hang ends the child instead of the test run
        std::vector<double> again(100, 0.0);
        complex_reduce_inplace(ensemble.rows, again.data(), 100, StridedEnsemble::statistic);
        const bool same = again == out && &process_pool() != parent_pool;
        _exit(same ? 0 : 1);
    }
    EXPECT(child > 0);
    int status = 0;
    EXPECT(waitpid(child, &status, 0) == child);
    EXPECT(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The parent's pool is the one it had.
    EXPECT(&process_pool() == parent_pool);
}

// ------------------------------------------------------------- progress bar

namespace {

// A pseudo-terminal whose slave side the bar writes to.
struct PseudoTerminal {
    int master = -1;
    int slave = -1;

    explicit PseudoTerminal(unsigned short columns) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        ioctl(master, TIOCSWINSZ, &size);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    // Everything written so far; the terminal delivers asynchronously, so
    // read until it has been quiet for a moment.
    std::string drain() const {
        std::string text;
        pollfd ready{master, POLLIN, 0};
        while (poll(&ready, 1, 150) > 0) {
            char chunk[4096];
            const ssize_t got = read(master, chunk, sizeof chunk);
            if (got <= 0) break;
            text.append(chunk, static_cast<std::size_t>(got));
        }
        return text;
    }
};

std::string repeat(const char* cell, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += cell;
    return text;
}

}  // namespace

NATIVE_TEST(progress_line_fills_the_width_but_the_last_column) {
    struct Case {
        std::size_t position, total, columns, filled, empty;
        const char* counter;
    };
    const Case cases[] = {
        {0, 4, 20, 0, 15, " 0/4"},
        {2, 4, 20, 7, 8, " 2/4"},
        {4, 4, 20, 15, 0, " 4/4"},
        {3, 10, 20, 3, 10, "  3/10"},
        {10, 10, 80, 73, 0, " 10/10"},
        {1, 2, 4, 0, 0, " 1/2"},
    };
    for (const Case& c : cases) {
        EXPECT(progress_line(c.position, c.total, c.columns) ==
               repeat("\u2588", c.filled) + repeat("\u2591", c.empty) + c.counter);
    }
}

NATIVE_TEST(progress_bar_draws_only_on_a_terminal_and_for_two_or_more_steps) {
    struct Case {
        std::size_t total;
        bool terminal;
        unsigned short columns;  // of the terminal; 0: unknown
        const char* columns_variable;
        bool finish;
        const char* last_line;  // "" when nothing may be written
    };
    const std::string full30 = repeat("\u2588", 25) + " 3/3";
    const std::string full40 = repeat("\u2588", 35) + " 2/2";
    const std::string full80 = repeat("\u2588", 75) + " 2/2";
    const std::string half30 = repeat("\u2588", 12) + repeat("\u2591", 13) + " 1/2";
    const Case cases[] = {
        {3, true, 30, nullptr, true, full30.c_str()},
        {2, true, 0, "40", true, full40.c_str()},
        {2, true, 0, nullptr, true, full80.c_str()},
        {2, true, 30, nullptr, false, half30.c_str()},
        {1, true, 30, nullptr, true, ""},
        {0, true, 30, nullptr, true, ""},
        {5, false, 30, nullptr, true, ""},
    };
    const char* saved = std::getenv("COLUMNS");
    const std::string saved_value = saved ? saved : "";
    for (const Case& c : cases) {
        if (c.columns_variable) setenv("COLUMNS", c.columns_variable, 1);
        else unsetenv("COLUMNS");
        PseudoTerminal terminal(c.columns);
        int pipe_ends[2];
        EXPECT(pipe(pipe_ends) == 0);
        const int fd = c.terminal ? terminal.slave : pipe_ends[1];
        {
            ProgressBar bar = ProgressBar::counting(c.total, fd);
            bar.set_prefix("jitter");
            for (std::size_t i = 0; i < c.total; ++i) {
                if (!c.finish && i + 1 == c.total) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
                bar.advance(1);
            }
            if (c.finish) bar.finish();
        }
        close(pipe_ends[1]);
        std::string written;
        if (c.terminal) {
            written = terminal.drain();
        } else {
            char chunk[256];
            for (ssize_t got; (got = read(pipe_ends[0], chunk, sizeof chunk)) > 0;) written.append(chunk, got);
        }
        close(pipe_ends[0]);

        const std::string expected = c.last_line;
        if (expected.empty()) {
            EXPECT(written.empty());
            continue;
        }
        // The terminal turns the final "\n" into "\r\n"; the bar stays on screen.
        const std::string ending = "\r" + expected + "\r\n";
        const bool ends_right = written.size() >= ending.size() &&
                                written.compare(written.size() - ending.size(), ending.size(), ending) == 0;
        if (!ends_right) std::fprintf(stderr, "  total %zu: wrote \"%s\"\n", c.total, written.c_str());
        EXPECT(ends_right);
        EXPECT(written.find("jitter") == std::string::npos);
    }
    if (saved) setenv("COLUMNS", saved_value.c_str(), 1);
    else unsetenv("COLUMNS");
}

NATIVE_TEST(progress_bar_redraws_at_most_about_twenty_times_a_second) {
    PseudoTerminal terminal(40);
    const auto start = std::chrono::steady_clock::now();
    {
        ProgressBar bar = ProgressBar::counting(100000, terminal.slave);
        for (int i = 0; i < 100000; ++i) bar.advance(1);
        bar.finish();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string written = terminal.drain();
    std::size_t draws = 0;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\r' && (i + 1 == written.size() || written[i + 1] != '\n')) ++draws;
    }
    // The first state, the final state, and one redraw per 50 ms between.
    EXPECT(draws >= 2);
    EXPECT(draws <= 2 + static_cast<std::size_t>(seconds * 20) + 1);
}

// -------------------------------------------------------- inverse transform

NATIVE_TEST(inverse_fft_is_the_unnormalised_backward_transform) {
    for (std::size_t n : {1, 2, 5, 7, 8, 12}) {
        const InverseFft transform(n);
        FftwBuffer buffer(n);
        std::vector<std::complex<double>> input(n);
        for (std::size_t u = 0; u < n; ++u) {
            input[u] = {std::cos(1.3 * double(u)) + 0.25, std::sin(0.7 * double(u * u))};
            buffer[u] = Complex{input[u].real(), input[u].imag()};
        }
        transform.execute(buffer);
        double worst = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            std::complex<double> sum = 0.0;
            for (std::size_t u = 0; u < n; ++u) {
                sum += input[u] * std::polar(1.0, 2 * std::numbers::pi * double(u * k % n) / double(n));
            }
            worst = std::max(worst, std::abs(sum - std::complex<double>(buffer[k].re, buffer[k].im)));
        }
        EXPECT(worst < 1e-12 * double(n));
    }
    // An empty transform has nothing to do.
    const InverseFft empty(0);
    FftwBuffer nothing(0);
    empty.execute(nothing);
    EXPECT(empty.length() == 0);
}

// ------------------------------------------------------- centre of gravity

NATIVE_TEST(center_of_gravity_cases) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        std::vector<Complex> trace;
        double dt;
        double expected;  // NaN: the result must be NaN
    };
    const Case cases[] = {
        {"constant, n = 1", {{2, 0}}, 1.0, -0.5},
        {"constant, n = 2", {{1, 1}, {1, -1}}, 0.25, -0.125},
        {"constant, n = 5", {{0, 3}, {3, 0}, {0, -3}, {-3, 0}, {0, 3}}, 2.0, -1.0},
        {"single sample at the middle", {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {5, 0}, {0, 0}, {0, 0}, {0, 0}}, 0.3, 0.0},
        {"single sample first", {{0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}, 1.0, -2.5},
        {"single sample last, odd n", {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 1}}, 1.0, 1.5},
        // I = 1, 4, 0, 25 at t = -1, -0.5, 0, 0.5: (-1 - 2 + 12.5) / 30
        {"mixed", {{1, 0}, {0, 2}, {0, 0}, {3, 4}}, 0.5, 9.5 / 30},
        {"all zero", {{0, 0}, {0, 0}, {0, 0}}, 1.0, nan},
        {"empty", {}, 1.0, nan},
    };
    for (const Case& c : cases) {
        const double got = _center_of_gravity(View1<Complex>{c.trace.data(), c.trace.size(), 1}, c.dt);
        const bool ok = std::isnan(c.expected) ? std::isnan(got) : close_to(got, c.expected, 1e-14);
        if (!ok) std::fprintf(stderr, "  %s: got %.17g, expected %.17g\n", c.name, got, c.expected);
        EXPECT(ok);
    }
}

NATIVE_TEST(center_of_gravity_follows_the_logical_order_and_ignores_scale) {
    const std::size_t n = 9;
    std::vector<Complex> trace(n);
    for (std::size_t k = 0; k < n; ++k) trace[k] = Complex{std::exp(-0.3 * double(k)), 0.1 * double(k)};
    const double dt = 0.7;
    const double c = _center_of_gravity(View1<Complex>{trace.data(), n, 1}, dt);

    // The same samples reached through a reversed view of reversed storage,
    // and through a stride of 3 into a padded array.
    std::vector<Complex> reversed(trace.rbegin(), trace.rend());
    std::vector<Complex> padded(3 * n, Complex{99, 99});
    for (std::size_t k = 0; k < n; ++k) padded[3 * k] = trace[k];
    EXPECT(_center_of_gravity(View1<Complex>{reversed.data() + n - 1, n, -1}, dt) == c);
    EXPECT(_center_of_gravity(View1<Complex>{padded.data(), n, 3}, dt) == c);

    // Time runs the other way through the reversed samples: c -> -c - dt.
    EXPECT(close_to(_center_of_gravity(View1<Complex>{reversed.data(), n, 1}, dt), -c - dt));

    // A complex factor scales every intensity alike.
    for (const Complex factor : {Complex{1000, 0}, Complex{0, 1}, Complex{-0.5, 2}}) {
        std::vector<Complex> scaled(n);
        for (std::size_t k = 0; k < n; ++k) {
            scaled[k] = Complex{trace[k].re * factor.re - trace[k].im * factor.im,
                                trace[k].re * factor.im + trace[k].im * factor.re};
        }
        EXPECT(close_to(_center_of_gravity(View1<Complex>{scaled.data(), n, 1}, dt), c));
    }
    // Negating dt negates the result exactly.
    EXPECT(_center_of_gravity(View1<Complex>{trace.data(), n, 1}, -dt) == -c);
}

// ----------------------------------------------------------------- signals

namespace {

using SignalFunction = SignalResults (*)(View2<Complex>, View1<double>, View2<double>);

struct SignalCase {
    const char* name;
    SignalFunction function;
};
const SignalCase both_signals[] = {{"energy", energy_signals}, {"jitter", jitter_signals}};

// An ensemble of `n` rows over a rising grid w_k = 1 + k/2 with P = L = 8,
// and the masks given.
struct SignalFixture {
    static constexpr std::size_t points = 8;
    std::vector<Complex> spectra;
    std::vector<double> w;
    std::vector<double> masks;
    std::size_t n;
    std::size_t mask_count;

    SignalFixture(std::size_t n, std::vector<std::vector<double>> mask_rows) : n(n), mask_count(mask_rows.size()) {
        for (std::size_t k = 0; k < points; ++k) w.push_back(1.0 + 0.5 * double(k));
        for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t k = 0; k < points; ++k) {
                spectra.push_back(Complex{double(r + 1) * std::cos(double(k)), double(r + 1) * std::sin(double(k))});
            }
        }
        for (const auto& row : mask_rows) masks.insert(masks.end(), row.begin(), row.end());
    }
    View2<Complex> spectra_view() const {
        return View2<Complex>{spectra.data(), n, points, static_cast<std::ptrdiff_t>(points), 1};
    }
    View1<double> grid() const { return View1<double>{w.data(), w.size(), 1}; }
    View2<double> mask_view() const {
        return View2<double>{masks.data(), mask_count, points, static_cast<std::ptrdiff_t>(points), 1};
    }
    SignalResults run(SignalFunction f) const { return f(spectra_view(), grid(), mask_view()); }
};

}  // namespace

NATIVE_TEST(signals_fail_where_their_inputs_first_fall_short) {
    const std::vector<Complex> spectrum(8, Complex{1, 0});
    const std::vector<double> grid8 = {1, 2, 3, 4, 5, 6, 7, 8}, grid1 = {1};
    const std::vector<double> mask6(6, 0.5);
    struct Case {
        const char* name;
        std::size_t n;
        const std::vector<double>* w;
        std::size_t masks;
        const char* message_start;
    };
    const Case cases[] = {
        {"empty ensemble", 0, &grid8, 0, "assertion failed: index < dim"},
        {"empty ensemble with masks", 0, &grid8, 1, "assertion failed: index < dim"},
        {"one grid point", 1, &grid1, 0, "index out of bounds"},
        {"mask shorter than the grid", 1, &grid8, 1, "assertion failed: part.equal_dim(dimension)"},
    };
    for (const SignalCase& s : both_signals) {
        for (const Case& c : cases) {
            const std::string message = failure_message([&] {
                s.function(View2<Complex>{spectrum.data(), c.n, 8, 8, 1}, View1<double>{c.w->data(), c.w->size(), 1},
                           View2<double>{mask6.data(), c.masks, 6, 6, 1});
            });
            const bool ok = message.rfind(c.message_start, 0) == 0;
            if (!ok) std::fprintf(stderr, "  %s, %s: \"%s\"\n", s.name, c.name, message.c_str());
            EXPECT(ok);
        }
    }
}

NATIVE_TEST(signals_without_masks_need_no_agreeing_lengths) {
    // P = 4 points per row against a grid of 3.
    const std::vector<Complex> spectra = {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {-1, 0}, {1, 0}, {-1, 0}};
    const std::vector<double> w = {2.0, 2.5, 3.0};
    for (const SignalCase& s : both_signals) {
        const SignalResults r = s.function(View2<Complex>{spectra.data(), 2, 4, 4, 1}, View1<double>{w.data(), 3, 1},
                                           View2<double>{nullptr, 0, 7, 7, 1});
        EXPECT(r.statistics.ndim == 2 && r.statistics.extents[0] == 1 && r.statistics.extents[1] == 2);
        EXPECT(r.examples.ndim == 2 && r.examples.extents[0] == 0 && r.examples.extents[1] == 3);
    }
    const SignalResults energy = energy_signals(View2<Complex>{spectra.data(), 2, 4, 4, 1}, View1<double>{w.data(), 3, 1},
                                                View2<double>{nullptr, 0, 7, 7, 1});
    EXPECT(energy.statistics.buffer[0] == 2.0 && energy.statistics.buffer[1] == 2.0);
    // Row of ones: all intensity in sample 0 at -(P/2) dt with dt = 1/(3 * (0.5 * 0.5 / pi)).
    // Alternating row: all intensity in sample P/2, at time 0.
    const SignalResults jitter = jitter_signals(View2<Complex>{spectra.data(), 2, 4, 4, 1}, View1<double>{w.data(), 3, 1},
                                                View2<double>{nullptr, 0, 7, 7, 1});
    const double dt = 1.0 / (3.0 * (0.5 * 0.5 / std::numbers::pi));
    EXPECT(close_to(jitter.statistics.buffer[0], -2.0 * dt, 1e-12));
    EXPECT(std::fabs(jitter.statistics.buffer[1]) < 1e-12 * dt);
}

NATIVE_TEST(energy_signals_behind_masks_of_ones_and_zeros) {
    const std::vector<double> ones(SignalFixture::points, 1.0), zeros(SignalFixture::points, 0.0);
    const SignalFixture fixture(5, {ones, zeros, ones});
    const SignalResults r = fixture.run(energy_signals);
    EXPECT(r.statistics.extents[0] == 4 && r.statistics.extents[1] == 5);
    EXPECT(r.examples.extents[0] == 3 && r.examples.extents[1] == SignalFixture::points);

    double vacuum = 0.0;
    for (double w : fixture.w) vacuum += 5.272859085e-35 * std::fabs(w);
    const double* e = r.statistics.buffer.data();
    for (std::size_t row = 0; row < 5; ++row) {
        // |E_k| = row + 1 at 8 points, dw = 0.5.
        const double unfiltered = 8 * double((row + 1) * (row + 1)) * 0.5;
        EXPECT(close_to(e[row], unfiltered));
        EXPECT(e[5 + row] == e[row]);
        EXPECT(e[15 + row] == e[row]);
        EXPECT(close_to(e[10 + row], vacuum, 1e-12));
    }
    // Behind a mask of ones the example is the example spectrum itself.
    bool example_is_spectrum = true;
    for (std::size_t k = 0; k < SignalFixture::points; ++k) {
        const Complex x = r.examples.buffer[k], s = fixture.spectra[k];
        example_is_spectrum = example_is_spectrum && x.re == s.re && x.im == s.im;
    }
    EXPECT(example_is_spectrum);
}

NATIVE_TEST(jitter_signals_behind_masks_of_ones_and_zeros) {
    const std::vector<double> ones(SignalFixture::points, 1.0), zeros(SignalFixture::points, 0.0);
    const SignalFixture fixture(6, {ones, zeros});
    const SignalResults r = fixture.run(jitter_signals);
    EXPECT(r.statistics.extents[0] == 3 && r.statistics.extents[1] == 6);
    EXPECT(r.examples.extents[0] == 2 && r.examples.extents[1] == SignalFixture::points);

    // Row r of the fixture is (r + 1) exp(i k): after the inverse transform
    // a linear phase ramp, the same centre for every realisation.
    const double* c = r.statistics.buffer.data();
    bool noise_centres_differ = false;
    for (std::size_t row = 0; row < 6; ++row) {
        EXPECT(close_to(c[row], c[0], 1e-9));
        EXPECT(c[6 + row] == c[row]);
        EXPECT(std::isfinite(c[12 + row]));
        noise_centres_differ = noise_centres_differ || c[12 + row] != c[12];
    }
    EXPECT(noise_centres_differ);

    // The example behind the mask of ones is the transform of the spectrum.
    const InverseFft transform(SignalFixture::points);
    FftwBuffer expected(SignalFixture::points);
    for (std::size_t k = 0; k < SignalFixture::points; ++k) expected[k] = fixture.spectra[k];
    transform.execute(expected);
    double worst = 0.0;
    for (std::size_t k = 0; k < SignalFixture::points; ++k) {
        worst = std::max(worst, std::hypot(r.examples.buffer[k].re - expected[k].re,
                                           r.examples.buffer[k].im - expected[k].im));
    }
    EXPECT(worst < 1e-12);
}

NATIVE_TEST(falling_grid_negates_row_zero_and_poisons_the_masked_rows) {
    const std::vector<double> half(SignalFixture::points, 0.5);
    SignalFixture rising(3, {half, half});
    SignalFixture falling = rising;
    std::reverse(falling.w.begin(), falling.w.end());
    for (const SignalCase& s : both_signals) {
        const SignalResults up = rising.run(s.function), down = falling.run(s.function);
        for (std::size_t row = 0; row < 3; ++row) {
            EXPECT(down.statistics.buffer[row] == -up.statistics.buffer[row]);
            EXPECT(std::isnan(down.statistics.buffer[3 + row]) && std::isnan(down.statistics.buffer[6 + row]));
            EXPECT(std::isfinite(up.statistics.buffer[3 + row]));
        }
        EXPECT(std::isnan(down.examples.buffer[0].re) && std::isnan(down.examples.buffer[0].im));
    }
}
