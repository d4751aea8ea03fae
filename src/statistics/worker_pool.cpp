#include "statistics/worker_pool.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <system_error>

#include "core/error.hpp"

namespace vexlume {

namespace {

// The pool whose worker the current thread is, if any: a job submitted from
// inside a job of the same pool would wait for itself.
thread_local const WorkerPool* pool_of_this_thread = nullptr;

std::size_t processors_available() {
    // sched_getaffinity needs a set at least as large as the kernel's; grow
    // it for machines with more processors than a cpu_set_t holds.
    for (int processors = CPU_SETSIZE; processors <= (1 << 20); processors *= 2) {
        cpu_set_t* set = CPU_ALLOC(processors);
        if (set == nullptr) break;
        const std::size_t bytes = CPU_ALLOC_SIZE(processors);
        CPU_ZERO_S(bytes, set);
        const int result = sched_getaffinity(0, bytes, set);
        const int error = errno;
        const int count = result == 0 ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (result == 0) return count > 0 ? static_cast<std::size_t>(count) : 1;
        if (error != EINVAL) break;
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

}  // namespace

struct WorkerPool::Job {
    Job(RangeFunction body, std::size_t count, std::size_t workers)
        : body(body), count(count), workers(workers) {}

    RangeFunction body;
    std::size_t count;
    std::size_t workers;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;  // written once, by the worker that set `failed`
};

WorkerPool::WorkerPool(std::size_t workers) {
    workers = std::max<std::size_t>(workers, 1);
    threads_.reserve(workers);
    try {
        for (std::size_t i = 0; i < workers; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    } catch (const std::system_error& error) {
        const std::size_t started = threads_.size();
        {
            std::lock_guard lock(state_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& thread : threads_) thread.join();
        fail("could not start worker thread " + std::to_string(started + 1) + " of " +
             std::to_string(workers) + ": " + error.what());
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(state_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void WorkerPool::execute(Job& job) {
    while (!job.failed.load(std::memory_order_relaxed)) {
        // Guided self-scheduling: each claim takes a share of what is left,
        // so parts shrink towards single items as the range runs out.
        std::size_t begin = job.next.load(std::memory_order_relaxed);
        std::size_t end = 0;
        do {
            if (begin >= job.count) return;
            const std::size_t part = std::max<std::size_t>(1, (job.count - begin) / (2 * job.workers));
            end = begin + part;
        } while (!job.next.compare_exchange_weak(begin, end, std::memory_order_relaxed));
        try {
            job.body(begin, end);
        } catch (...) {
            if (!job.failed.exchange(true)) job.failure = std::current_exception();
            return;
        }
    }
}

void WorkerPool::work() {
    pool_of_this_thread = this;
    std::uint64_t seen = 0;
    for (;;) {
        Job* job = nullptr;
        {
            std::unique_lock lock(state_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            job = job_;
        }
        execute(*job);
        {
            std::lock_guard lock(state_);
            if (--busy_ == 0) done_.notify_one();
        }
    }
}

void WorkerPool::run(std::size_t count, RangeFunction body) {
    if (count == 0) return;
    if (pool_of_this_thread == this) {
        body(0, count);
        return;
    }
    std::lock_guard submitting(submit_);
    Job job{body, count, threads_.size()};
    {
        std::lock_guard lock(state_);
        job_ = &job;
        busy_ = threads_.size();
        ++generation_;
    }
    wake_.notify_all();
    {
        std::unique_lock lock(state_);
        done_.wait(lock, [&] { return busy_ == 0; });
        job_ = nullptr;
    }
    if (job.failure) std::rethrow_exception(job.failure);
}

std::size_t parse_worker_count(const char* text) {
    const auto reject = [&](const char* why) {
        fail(std::string("VEXLUME_NUM_THREADS must be a positive integer (the number of worker "
                         "threads), but it is \"") +
             text + "\"" + why);
    };
    if (*text == '\0') reject("");
    std::size_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') reject("");
        const std::size_t digit = static_cast<std::size_t>(*c - '0');
        if (value > (SIZE_MAX - digit) / 10) reject(", which is too large");
        value = value * 10 + digit;
    }
    if (value == 0) reject("");
    return value;
}

std::size_t configured_worker_count() {
    if (const char* text = std::getenv("VEXLUME_NUM_THREADS")) return parse_worker_count(text);
    return processors_available();
}

WorkerPool& process_pool() {
    static std::mutex creating;
    static WorkerPool* pool = nullptr;
    static pid_t owner = 0;
    std::lock_guard lock(creating);
    const pid_t self = getpid();
    if (pool == nullptr || owner != self) {
        // In a forked child the inherited pool's threads do not exist: its
        // state may say "busy" forever and joining would hang. Leave it
        // untouched (leaked) and start a pool for this process. The pool is
        // never destroyed: joining workers during exit gains nothing.
        pool = new WorkerPool(configured_worker_count());
        owner = self;
    }
    return *pool;
}

}  // namespace vexlume
