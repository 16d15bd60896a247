// PLACEHOLDER: registers nothing yet.
#include "registration.hpp"

namespace vantrel_sim {

void register_devices(py::module_&) {}

}  // namespace vantrel_sim
