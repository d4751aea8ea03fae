// The process-wide pool of worker threads behind the ensemble reductions.
//
// A pool runs one range of independent items at a time. Items are claimed
// dynamically (guided self-scheduling: large parts first, down to single
// items), so workers that finish early take over what is left when items
// differ in cost. The calling thread only waits. The first failure of any
// worker is rethrown on the caller once every worker has stopped.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace vexlume {

// A non-owning reference to a callable taking a half-open range of items.
// The referenced callable must outlive every call made through it; binding
// only to lvalues keeps temporaries from being referenced by accident.
class RangeFunction {
public:
    template <class Callable>
        requires(!std::is_same_v<std::remove_cvref_t<Callable>, RangeFunction>)
    RangeFunction(Callable& callable)
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          call_(&invoke<Callable>) {}

    void operator()(std::size_t begin, std::size_t end) const { call_(object_, begin, end); }

private:
    template <class Callable>
    static void invoke(void* object, std::size_t begin, std::size_t end) {
        (*static_cast<Callable*>(object))(begin, end);
    }

    void* object_;
    void (*call_)(void*, std::size_t, std::size_t);
};

class WorkerPool {
public:
    // Starts `workers` threads (at least one). Fails if a thread cannot start.
    explicit WorkerPool(std::size_t workers);
    // Stops and joins the workers. Never called for the process-wide pool.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const { return threads_.size(); }

    // Calls body on disjoint ranges covering [0, count) exactly once each,
    // from the worker threads, and returns when all are done. After a failure
    // no further ranges are handed out; the first failure is rethrown here
    // once every worker has left the job. One job runs at a time; a call made
    // from one of this pool's own workers runs serially on that worker.
    void run(std::size_t count, RangeFunction body);

private:
    struct Job;
    void work();
    static void execute(Job& job);

    std::vector<std::thread> threads_;
    std::mutex submit_;             // serialises callers of run
    std::mutex state_;              // guards everything below
    std::condition_variable wake_;  // workers wait here for a job or for stop
    std::condition_variable done_;  // the caller waits here for the workers
    Job* job_ = nullptr;
    std::uint64_t generation_ = 0;
    std::size_t busy_ = 0;
    bool stopping_ = false;
};

// The number a VEXLUME_NUM_THREADS value asks for: a positive decimal
// integer, nothing else. Fails, naming the variable and the value, otherwise.
std::size_t parse_worker_count(const char* text);

// VEXLUME_NUM_THREADS when set, else the number of processors this process
// may run on.
std::size_t configured_worker_count();

// The pool shared by all calls, created at its first use. A process forked
// from one that used it gets a pool of its own at its first call: the
// parent's threads do not exist in the child.
WorkerPool& process_pool();

}  // namespace vexlume
