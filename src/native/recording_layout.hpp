#pragma once

#include <pybind11/pybind11.h>

namespace vantrel_native {

// recording_layout: a recording's event blocks as its index lists them.
void register_recording_layout(pybind11::module_& m);

}  // namespace vantrel_native
