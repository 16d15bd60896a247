// Entry point of vantrel_core. PYBIND11_MODULE's multi-phase form supplies the
// interpreter version gate, the create and exec steps, the one-body-per-
// interpreter rule and the refusal of sub-interpreters.

#include <pybind11/pybind11.h>

#include "module/registration.hpp"

PYBIND11_MODULE(vantrel_core, m) {
    using namespace vantrel_py;

    m.doc() = "Vantrel Event Camera Python SDK";

    // The order below is the order of the module's namespace and decides how
    // generated signatures name types (registered ones by their Python name).
    register_enums(m);
    register_param_records(m);
    register_camera_description(m);
    register_event_records(m);
    register_file_info(m);
    register_camera_service(m);
    register_camera_tool(m);
    register_camera(m);
    register_file_reader(m);
    register_logger(m);
    register_functions(m);

    install_exit_hook();
}
