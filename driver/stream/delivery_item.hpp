#pragma once

#include <cstddef>

#include "stream/batch.hpp"
#include "vantrel/events.hpp"

namespace vantrel::stream {

// One thing the delivery thread hands to the callbacks.
struct DeliveryItem {
    enum class Kind { Batch, TriggerIn, Statistics };
    Kind kind = Kind::Batch;
    BatchPtr batch;
    EventTriggerIn edge{};
    EvCameraStatisticInfo statistics{};

    static DeliveryItem ofBatch(BatchPtr b) {
        DeliveryItem item;
        item.kind = Kind::Batch;
        item.batch = std::move(b);
        return item;
    }
    static DeliveryItem ofEdge(const EventTriggerIn& e) {
        DeliveryItem item;
        item.kind = Kind::TriggerIn;
        item.edge = e;
        return item;
    }
    static DeliveryItem ofStatistics(const EvCameraStatisticInfo& s) {
        DeliveryItem item;
        item.kind = Kind::Statistics;
        item.statistics = s;
        return item;
    }
};

// Queue weight: the events an item holds.
struct DeliveryItemWeight {
    std::size_t operator()(const DeliveryItem& item) const noexcept {
        return item.batch ? item.batch->size() : 0;
    }
};

struct BatchWeight {
    std::size_t operator()(const BatchPtr& batch) const noexcept { return batch ? batch->size() : 0; }
};

}  // namespace vantrel::stream
