#include "common/fault_hook.hpp"

namespace vantrel::faults {

namespace detail {
std::atomic<FaultHook*> installed{nullptr};
}

void install(FaultHook& hook) { detail::installed.store(&hook, std::memory_order_release); }

}  // namespace vantrel::faults
