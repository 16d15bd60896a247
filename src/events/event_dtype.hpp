#pragma once

// The NumPy dtype of event arrays, one definition for every extension module
// (vantrel_core, vantrel_sim and vantrel._native): a structured dtype that
// mirrors vantrel::Event2D byte for byte, so that arrays can view driver
// memory. Needs the GIL.

#include <cstddef>

#include <pybind11/gil_safe_call_once.h>
#include <pybind11/numpy.h>

#include "vantrel/events.hpp"

namespace vantrel_py {

namespace py = pybind11;

// Built on first use and kept for the life of the process (each module keeps
// its own, equal, instance).
inline py::dtype event_dtype() {
    // Never released, not even at interpreter exit. The GIL-safe once guard
    // avoids a deadlock should importing NumPy release the GIL while another
    // thread waits for the first build.
    PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::dtype> storage;
    return storage
        .call_once_and_store_result([] {
            using vantrel::Event2D;
            py::dict spec;
            spec["names"] = py::make_tuple("x", "y", "polarity", "timestamp");
            spec["formats"] = py::make_tuple("<u2", "<u2", "u1", "<u8");
            spec["offsets"] = py::make_tuple(offsetof(Event2D, x), offsetof(Event2D, y),
                                             offsetof(Event2D, polarity), offsetof(Event2D, timestamp));
            spec["itemsize"] = sizeof(Event2D);
            return py::dtype::from_args(spec);
        })
        .get_stored();
}

}  // namespace vantrel_py
