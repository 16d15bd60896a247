// PLACEHOLDER: registers nothing yet.
#include "module/registration.hpp"

namespace vantrel_py {

void register_camera_tool(py::module_&) {}

}  // namespace vantrel_py
