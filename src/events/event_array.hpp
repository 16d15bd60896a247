#pragma once

// Builders of event arrays: one-dimensional NumPy structured arrays whose
// dtype mirrors vantrel::Event2D byte for byte. All need the GIL.

#include <cstddef>
#include <vector>

#include <pybind11/numpy.h>

#include "events/event_dtype.hpp"
#include "vantrel/events.hpp"

namespace vantrel_py {

namespace py = pybind11;

// Readies the event dtype (and pybind11's NumPy bindings) now. Called by
// bindings that block in the driver without the GIL and build an array
// afterwards: the first build lets the GIL go for a moment (see
// event_dtype), which is safe before the blocking call, while the program
// is not exiting, and not always after it.
void ready_event_arrays();

// Owning, writeable array of length 0.
py::array make_empty_event_array();

// Owning, writeable array of n records whose bytes are not initialised yet:
// for the driver to decode into. n > 0.
py::array make_event_array_for(std::size_t n);
// Shortens an array that make_event_array_for made (and nothing else
// refers to) to its first n records, keeping them in place; n > 0.
void shrink_event_array(py::array& array, std::size_t n);

// Owning copies of [begin, end) (one block copy) and of a vector's records.
py::array make_event_array_copy(const vantrel::Event2D* begin, const vantrel::Event2D* end);
py::array make_event_array_copy(const std::vector<vantrel::Event2D>& events);

// Read-only view of the driver's memory [begin, end), valid only as long as
// the driver keeps that buffer; an empty range gives the owning empty array.
py::array make_event_array_view(vantrel::Event2D* begin, vantrel::Event2D* end);

}  // namespace vantrel_py
