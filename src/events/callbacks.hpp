#pragma once

// The bridge that lets the driver own Python callables and call them from
// its own threads.

#include <memory>

#include <pybind11/pybind11.h>

#include "vantrel/events.hpp"

namespace vantrel_py {

namespace py = pybind11;

// Takes over the reference held by `f`. The holder may be copied and dropped
// on any thread; the reference itself is released only under the GIL (and
// abandoned during interpreter finalisation). Call with the GIL held.
std::shared_ptr<py::function> make_python_callback(py::function f);

// Adapters in the driver's callback types. Each takes the GIL per delivery,
// passes one argument, and reports errors as unraisable; nothing reaches the
// driver. Building them touches no Python object.
vantrel::EventBatchCallback make_batch_copy_adapter(std::shared_ptr<py::function> callback);
vantrel::EventBatchCallback make_batch_view_adapter(std::shared_ptr<py::function> callback);
vantrel::TriggerInCallback make_trigger_in_adapter(std::shared_ptr<py::function> callback);
vantrel::StatisticsCallback make_statistics_adapter(std::shared_ptr<py::function> callback);

}  // namespace vantrel_py
