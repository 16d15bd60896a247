#include "events/exit_gate.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace vantrel_py::exit_gate {

namespace {

struct Gate {
    std::atomic<bool> closed{false};
    std::atomic<std::size_t> inside{0};
    std::mutex mutex;
    std::condition_variable cleared;
};

// Never destroyed: driver threads may pass it while the process exits.
Gate& gate() {
    static Gate* const instance = new Gate();
    return *instance;
}

void leave(Gate& g) {
    if (g.inside.fetch_sub(1) == 1 && g.closed.load()) {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.cleared.notify_all();
    }
}

}  // namespace

Pass::Pass() noexcept {
    Gate& g = gate();
    // Counted first, checked second (both sequentially consistent): either
    // the closing hook sees this thread inside, or this thread sees the gate
    // closed.
    g.inside.fetch_add(1);
    passed_ = !g.closed.load();
    if (!passed_) leave(g);
}

Pass::~Pass() {
    if (passed_) leave(gate());
}

bool closed() noexcept { return gate().closed.load(); }

void close() noexcept { gate().closed.store(true); }

bool wait_until_clear(std::chrono::steady_clock::time_point deadline) {
    Gate& g = gate();
    std::unique_lock<std::mutex> lock(g.mutex);
    return g.cleared.wait_until(lock, deadline, [&] { return g.inside.load() == 0; });
}

}  // namespace vantrel_py::exit_gate
