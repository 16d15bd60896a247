// PLACEHOLDER: registers nothing yet.
#include "module/registration.hpp"

namespace vantrel_py {

void register_event_records(py::module_&) {}

}  // namespace vantrel_py
