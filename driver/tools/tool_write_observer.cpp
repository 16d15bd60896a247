#include "tools/tool_write_observer.hpp"

#include <atomic>

namespace vantrel::tools {

namespace {
std::atomic<ToolWriteObserver*> installed{nullptr};
}  // namespace

void install_write_observer(ToolWriteObserver& observer) { installed.store(&observer, std::memory_order_release); }

ToolWriteObserver* write_observer() noexcept { return installed.load(std::memory_order_acquire); }

}  // namespace vantrel::tools
