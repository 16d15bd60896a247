#pragma once

#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "vantrel/params.hpp"

namespace vantrel {
class CameraToolCore;
}

namespace vantrel::tools {

// Sees every write that reaches a tool, accepted or refused, and may stand
// in for a tool's next document. Test machinery (the simulator's write
// journal and document overrides) installs one; without one, a write pays a
// single load of an empty pointer.
//
// Called on the writing thread, before the write is judged, without any
// tool lock held; must not call back into the tool.
class ToolWriteObserver {
public:
    virtual ~ToolWriteObserver() = default;

    virtual void set(const CameraToolCore& tool, std::string_view name, const ParamValue& value) = 0;
    virtual void apply(const CameraToolCore& tool, const ParamValueMap& values) = 0;
    virtual void fromJson(const CameraToolCore& tool, const nlohmann::json& document) = 0;
    // True, with `document` set, when the tool's toJson must return that
    // document instead of its values (once).
    virtual bool takeDocument(const CameraToolCore& tool, nlohmann::json& document) = 0;
};

// Installs the process-wide observer. It is never destroyed nor replaced by
// another: the tools may be writing through it on any thread.
void install_write_observer(ToolWriteObserver& observer);
ToolWriteObserver* write_observer() noexcept;

}  // namespace vantrel::tools
