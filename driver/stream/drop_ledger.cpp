#include "stream/drop_ledger.hpp"

#include "log/log.hpp"

namespace vantrel::stream {

DropCount& operator+=(DropCount& a, const DropCount& b) {
    a.batches += b.batches;
    a.events += b.events;
    a.edges += b.edges;
    a.reports += b.reports;
    return a;
}

std::string DropLedger::describe(const DropCount& c) {
    std::string out;
    const auto part = [&](std::uint64_t n, const char* one, const char* many) {
        if (!n) return;
        if (!out.empty()) out += ", ";
        out += std::to_string(n) + " " + (n == 1 ? one : many);
    };
    part(c.batches, "batch", "batches");
    if (c.batches) out += " (" + std::to_string(c.events) + (c.events == 1 ? " event)" : " events)");
    part(c.edges, "trigger edge", "trigger edges");
    part(c.reports, "statistics report", "statistics reports");
    return out.empty() ? "nothing" : out;
}

void DropLedger::addQuietly(DropQueue queue, const DropCount& count) {
    std::lock_guard<std::mutex> lock(mutex_);
    PerQueue& q = queues_[static_cast<std::size_t>(queue)];
    q.total += count;
    q.noteworthy += count;
}

void DropLedger::add(DropQueue queue, const DropCount& count, const char* why, bool routine) {
    DropCount report;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        PerQueue& q = queues_[static_cast<std::size_t>(queue)];
        q.total += count;
        if (routine) return;
        q.noteworthy += count;
        q.unreported += count;
        if (!q.throttle.admit()) return;
        report = q.unreported;
        q.unreported = {};
    }
    log::warning(owner_, ": ", kDropQueueNames[static_cast<std::size_t>(queue)], " queue: ", why,
                 "; dropped ", describe(report), " since the last report");
}

StreamDrops DropLedger::totals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    StreamDrops out;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = queues_[i].total;
    return out;
}

StreamDrops DropLedger::noteworthy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    StreamDrops out;
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = queues_[i].noteworthy;
    return out;
}

}  // namespace vantrel::stream
