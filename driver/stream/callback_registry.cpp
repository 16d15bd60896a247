#include "stream/callback_registry.hpp"

#include <cxxabi.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "log/log.hpp"
#include "stream/activity.hpp"

namespace vantrel::stream {

namespace {
enum EntryKind : int { kBatch = 0, kTriggerIn = 1, kStatistics = 2 };
}

struct CallbackRegistry::Entry {
    int kind = kBatch;
    std::uint32_t id = 0;
    bool active = true;  // guarded by the registry's mutex
    EventBatchCallback batch;
    TriggerInCallback trigger_in;
    StatisticsCallback statistics;
};

CallbackRegistry::CallbackRegistry(std::string owner) : owner_(std::move(owner)) {}

CallbackRegistry::~CallbackRegistry() = default;

std::uint32_t CallbackRegistry::add(EntryPtr entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Ids wrap after 2^32 - 1 registrations; 0 and ids still in use are skipped.
    auto in_use = [&](std::uint32_t id) {
        return std::any_of(entries_.begin(), entries_.end(),
                           [id](const EntryPtr& e) { return e->id == id; });
    };
    std::uint32_t id = next_id_;
    while (id == 0 || in_use(id)) ++id;
    next_id_ = id + 1;
    entry->id = id;
    entries_.push_back(std::move(entry));
    updateCounts();
    return id;
}

std::uint32_t CallbackRegistry::addBatch(EventBatchCallback callback) {
    auto entry = std::make_shared<Entry>();
    entry->kind = kBatch;
    entry->batch = std::move(callback);
    return add(std::move(entry));
}

std::uint32_t CallbackRegistry::addTriggerIn(TriggerInCallback callback) {
    auto entry = std::make_shared<Entry>();
    entry->kind = kTriggerIn;
    entry->trigger_in = std::move(callback);
    return add(std::move(entry));
}

void CallbackRegistry::updateCounts() {
    std::size_t batches = 0, triggers = 0;
    for (const auto& e : entries_) (e->kind == kBatch ? batches : triggers) += 1;
    batch_count_.store(batches, std::memory_order_release);
    trigger_count_.store(triggers, std::memory_order_release);
    statistics_set_.store(statistics_ != nullptr, std::memory_order_release);
}

void CallbackRegistry::retire(std::unique_lock<std::mutex>& lock, const std::vector<EntryPtr>& victims) {
    for (const auto& victim : victims) victim->active = false;
    const auto self = std::this_thread::get_id();
    call_ended_.wait(lock, [&] {
        // Once the process exits, a call still in progress may never end
        // (its thread is gone); the exit itself waits for such calls, bounded.
        if (Activity::quiesced()) return true;
        return std::none_of(calls_.begin(), calls_.end(), [&](const Call& call) {
            if (call.thread == self) return false;  // our own caller: it cannot end first
            return std::any_of(victims.begin(), victims.end(),
                               [&](const EntryPtr& v) { return v.get() == call.entry; });
        });
    });
}

bool CallbackRegistry::remove(std::uint32_t id, int kind) {
    std::vector<EntryPtr> victims;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const EntryPtr& e) {
            return e->id == id && e->kind == kind;
        });
        if (it == entries_.end()) return false;
        victims.push_back(*it);
        entries_.erase(it);
        updateCounts();
        retire(lock, victims);
    }
    // `victims` goes here, outside the lock: it may destroy the callable.
    return true;
}

bool CallbackRegistry::removeBatch(std::uint32_t id) { return remove(id, kBatch); }
bool CallbackRegistry::removeTriggerIn(std::uint32_t id) { return remove(id, kTriggerIn); }

void CallbackRegistry::setStatistics(StatisticsCallback callback) {
    EntryPtr replacement;
    if (callback) {
        replacement = std::make_shared<Entry>();
        replacement->kind = kStatistics;
        replacement->statistics = std::move(callback);
    }
    std::vector<EntryPtr> victims;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (statistics_) victims.push_back(statistics_);
        statistics_ = std::move(replacement);
        updateCounts();
        retire(lock, victims);
    }
}

void CallbackRegistry::clear() {
    std::vector<EntryPtr> victims;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        victims.swap(entries_);
        if (statistics_) victims.push_back(std::move(statistics_));
        statistics_ = nullptr;
        updateCounts();
        retire(lock, victims);
    }
}

// Catching a forced unwind (the thread being ended) binds a null reference:
// that is how the ABI works, not a fault for the sanitizer to report (nor
// to check in a caller this would be inlined into).
[[gnu::no_sanitize("null"), gnu::noinline]] void CallbackRegistry::invoke(const EntryPtr& entry, const DeliveryItem& item) {
    // Counted in the process-wide tally, so that an exit waits for the call.
    const Activity::Token token = Activity::enter();
    if (!token) return;  // the process is exiting: no callback runs any more
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!entry->active) return;
        calls_.push_back(Call{std::this_thread::get_id(), entry.get()});
    }
    // Ends the call's record also when the thread is being unwound.
    struct CallEnd {
        CallbackRegistry& registry;
        const Entry* entry;
        ~CallEnd() {
            {
                std::lock_guard<std::mutex> lock(registry.mutex_);
                const auto self = std::this_thread::get_id();
                const auto it = std::find_if(registry.calls_.begin(), registry.calls_.end(),
                                             [&](const Call& c) { return c.thread == self && c.entry == entry; });
                if (it != registry.calls_.end()) registry.calls_.erase(it);
            }
            registry.call_ended_.notify_all();
        }
    } end{*this, entry.get()};

    static const char* const kind_names[] = {"event batch", "trigger-in", "statistics"};
    try {
        switch (entry->kind) {
            case kBatch: {
                Event2D* begin = item.batch ? item.batch->data() : nullptr;
                entry->batch(begin, begin + (item.batch ? item.batch->size() : 0));
                break;
            }
            case kTriggerIn: entry->trigger_in(item.edge); break;
            case kStatistics: entry->statistics(item.statistics); break;
        }
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being cancelled: let it go
    } catch (const std::exception& e) {
        log::error(owner_, ": ", kind_names[entry->kind], " callback ", entry->id, " threw: ", e.what());
    } catch (...) {
        log::error(owner_, ": ", kind_names[entry->kind], " callback ", entry->id,
                   " threw an unknown exception");
    }
}

void CallbackRegistry::deliver(const DeliveryItem& item) {
    const int kind = item.kind == DeliveryItem::Kind::Batch       ? kBatch
                     : item.kind == DeliveryItem::Kind::TriggerIn ? kTriggerIn
                                                                  : kStatistics;
    std::vector<EntryPtr> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (kind == kStatistics) {
            if (statistics_) targets.push_back(statistics_);
        } else {
            for (const auto& e : entries_)
                if (e->kind == kind) targets.push_back(e);
        }
    }
    for (const auto& entry : targets) invoke(entry, item);
    // `targets` may hold the last reference of a callable removed meanwhile;
    // it is destroyed here, with no lock held.
}

}  // namespace vantrel::stream
