#include "file/event_buffers.hpp"

namespace vantrel::file {

std::shared_ptr<std::vector<Event2D>> EventBuffers::take(std::size_t n) {
    std::unique_ptr<std::vector<Event2D>> v;
    {
        std::lock_guard lock(mutex_);
        v = std::move(spare_);
    }
    if (!v) v = std::make_unique<std::vector<Event2D>>();
    // Growing past the capacity would copy stale records: start afresh then.
    if (n > v->capacity()) v->clear();
    v->resize(n);  // zero-fills only what the vector never held
    std::weak_ptr<EventBuffers> home = weak_from_this();
    return std::shared_ptr<std::vector<Event2D>>(v.release(), [home](std::vector<Event2D>* p) {
        if (const auto pool = home.lock())
            pool->give(p);
        else
            delete p;
    });
}

void EventBuffers::give(std::vector<Event2D>* v) {
    std::unique_ptr<std::vector<Event2D>> owned(v);
    if (owned->capacity() > kMaxKeptEvents) return;
    // Keep the size: records below it need no zero-filling next time.
    owned->resize(owned->capacity());
    std::lock_guard lock(mutex_);
    if (!spare_) spare_ = std::move(owned);
}

}  // namespace vantrel::file
