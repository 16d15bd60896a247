// Fault injection: make any driver operation fail, throw or wait.
#include <pybind11/stl.h>

#include "registration.hpp"
#include "vantrel/sim/faults.hpp"

namespace vantrel_sim {

void register_faults(py::module_& m) {
    m.def(
        "inject_fault",
        [](const std::string& operation, const std::string& kind, const std::string& message, std::uint32_t count,
           double delay) {
            const auto parsed = vantrel::sim::parseFaultKind(kind);
            if (!parsed) {
                throw py::value_error("unknown fault kind '" + kind +
                                      "' (known: fail, delay, out_of_range, invalid_argument, domain_error, "
                                      "length_error, range_error, overflow_error, runtime_error, bad_alloc, "
                                      "exception, unknown)");
            }
            // std::invalid_argument (ValueError) for an unknown operation or a bad delay.
            vantrel::sim::injectFault(operation, *parsed, message, count, delay);
        },
        "Arm a fault for the next `count` calls of a driver operation such as 'ICamera::start' (0: until "
        "cleared). kind: 'fail', 'delay' (sleep `delay` seconds, then run normally), 'out_of_range', "
        "'invalid_argument', 'domain_error', 'length_error', 'range_error', 'overflow_error', 'runtime_error', "
        "'bad_alloc', 'exception' or 'unknown'",
        py::arg("operation"), py::arg("kind"), py::kw_only(), py::arg("message") = "injected fault",
        py::arg("count") = 1, py::arg("delay") = 0.0);

    m.def("clear_faults", &vantrel::sim::clearFaults, "Disarm every injected fault");

    m.def(
        "fault_operations", [] { return vantrel::sim::faultableOperations(); },
        "Qualified names of the driver operations that accept faults");
}

}  // namespace vantrel_sim
