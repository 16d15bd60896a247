// PLACEHOLDER: registers nothing yet.
#include "module/registration.hpp"

namespace vantrel_py {

void register_param_records(py::module_&) {}

}  // namespace vantrel_py
