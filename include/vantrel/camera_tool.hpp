#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "vantrel/export.hpp"
#include "vantrel/params.hpp"

namespace vantrel {

class CameraToolCore;  // the driver's state and rules of one tool

// One group of typed, named camera parameters (bias, ROI, ...). Every write
// is judged against the tool's schema; a refused write changes nothing and
// says why in its ParamResult. Thread-safe.
class VANTREL_EXPORT CameraTool {
public:
    explicit CameraTool(std::unique_ptr<CameraToolCore> core);
    CameraTool(const CameraTool&) = delete;
    CameraTool& operator=(const CameraTool&) = delete;

    virtual ~CameraTool();
    virtual ToolInfo info() const;

    const std::vector<ParamDescriptor>& schema() const;
    std::optional<ParamValue> get(std::string_view name) const;
    ParamResult set(std::string_view name, const ParamValue& value);
    // All or nothing: one refused entry and no parameter is written.
    ParamResult apply(const ParamValueMap& values);
    // {"name": value, ...} for every parameter.
    nlohmann::json toJson() const;
    // Takes the shape toJson gives, all or nothing.
    ParamResult fromJson(const nlohmann::json& json);

    CameraToolCore& core() const noexcept { return *core_; }

private:
    std::unique_ptr<CameraToolCore> core_;
};

}  // namespace vantrel
