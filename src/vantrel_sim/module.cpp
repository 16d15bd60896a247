// vantrel_sim._sim, presented by the Python package vantrel_sim: plugs
// simulated cameras into the driver that vantrel_core uses (both modules
// link the same driver library), pushes exact data into their streams,
// injects faults and shows what the tools received.

#include <pybind11/pybind11.h>

#include "registration.hpp"
#include "vantrel/sim/simulator.hpp"

PYBIND11_MODULE(_sim, m) {
    using namespace vantrel_sim;

    m.doc() = "Control of the Vantrel driver's simulated cameras";
    // Argument and result types such as InterfaceType and ToolType are vantrel_core's.
    py::module_::import("vantrel_core");
    // Writes reach tool_writes() from here on; programs that never load
    // this module keep none.
    vantrel::sim::observeToolWrites();

    register_devices(m);
    register_faults(m);
    register_tool_journal(m);
    register_recordings(m);
}
