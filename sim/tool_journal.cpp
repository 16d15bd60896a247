// PLACEHOLDER: registers nothing yet.
#include "registration.hpp"

namespace vantrel_sim {

void register_tool_journal(py::module_&) {}

}  // namespace vantrel_sim
