#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "vantrel/export.hpp"
#include "vantrel/params.hpp"

namespace vantrel {

class CameraToolCore;  // the driver's state and rules of one tool
namespace tools {
struct ToolAccess;  // how the driver makes tools and reaches their state
}

// One group of typed, named camera parameters (bias, ROI, ...). Every write
// is judged against the tool's schema; a refused write changes nothing and
// says why in its ParamResult. Thread-safe. Tools come from the driver
// (ICamera::getTool); the class is polymorphic, with a virtual info(), as
// the interface has always had it.
class VANTREL_EXPORT CameraTool {
public:
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

private:
    friend struct tools::ToolAccess;
    explicit CameraTool(std::unique_ptr<CameraToolCore> core);

    std::unique_ptr<CameraToolCore> core_;
};

}  // namespace vantrel
