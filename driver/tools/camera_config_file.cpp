#include "tools/camera_config_file.hpp"
#include "tools/tool_access.hpp"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "io/file_access.hpp"
#include "log/log.hpp"
#include "tools/camera_tool_core.hpp"
#include "tools/json_bounds.hpp"
#include "tools/param_judge.hpp"

namespace vantrel::tools {

namespace {

namespace fs = std::filesystem;

// Configuration files are small; anything larger is not one.
constexpr std::size_t kMaxFileBytes = 16u << 20;

// How much of a wrong value a message quotes.
constexpr std::size_t kQuoted = 80;

const char* interface_name(InterfaceType type) { return type == InterfaceType::MIPI ? "MIPI" : "USB"; }

std::string tool_ids(const std::vector<std::shared_ptr<CameraTool>>& tools) {
    std::string ids;
    for (const auto& tool : tools) {
        if (!ids.empty()) ids += ", ";
        ids += core_of(*tool).info().id;
    }
    return ids.empty() ? "none" : ids;
}

std::optional<std::string> check_header(const nlohmann::json& document) {
    if (!document.is_object()) return "expected a JSON object at the top, got " + json_type_name(document);
    for (const auto& [key, value] : document.items()) {
        if (key != "format" && key != "version" && key != "camera" && key != "tools") {
            return "unknown member '" + key + "' at the top";
        }
    }
    const auto format = document.find("format");
    if (format == document.end()) return std::string("not a camera configuration: no \"format\" member");
    if (!format->is_string() || format->get<std::string>() != kConfigFormat) {
        return "not a camera configuration: format is " + compact_text(*format, kQuoted) + ", expected \"" +
               kConfigFormat + "\"";
    }
    const auto version = document.find("version");
    if (version == document.end()) return std::string("no \"version\" member");
    if (!version->is_number_integer() || version->get<std::int64_t>() != kConfigVersion) {
        return "unknown version " + compact_text(*version, kQuoted) + " (this driver reads version " +
               std::to_string(kConfigVersion) + ")";
    }
    const auto camera = document.find("camera");
    if (camera != document.end() && !camera->is_object()) {
        return "\"camera\" must be an object, got " + json_type_name(*camera);
    }
    const auto tools = document.find("tools");
    if (tools == document.end()) return std::string("no \"tools\" member");
    if (!tools->is_object()) return "\"tools\" must be an object, got " + json_type_name(*tools);
    return std::nullopt;
}

}  // namespace

nlohmann::ordered_json make_camera_config(const CameraDescription& camera,
                                          const std::vector<std::shared_ptr<CameraTool>>& tools) {
    nlohmann::ordered_json document;
    document["format"] = kConfigFormat;
    document["version"] = kConfigVersion;
    document["camera"] = {
        {"serial", camera.serial},
        {"product", camera.product},
        {"manufacturer", camera.manufacturer},
        {"vid", camera.vid},
        {"pid", camera.pid},
        {"interface_type", interface_name(camera.interface_type)},
        {"firmware_version", camera.firmware_version},
    };
    nlohmann::ordered_json sections = nlohmann::ordered_json::object();
    for (const auto& tool : tools) {
        const CameraToolCore& core = core_of(*tool);
        const auto snapshot = core.snapshot();
        nlohmann::ordered_json section = nlohmann::ordered_json::object();
        for (const auto& descriptor : core.schema()) {
            section[descriptor.name] = nlohmann::ordered_json(value_to_json(snapshot.values.at(descriptor.name)));
        }
        sections[core.info().id] = std::move(section);
    }
    document["tools"] = std::move(sections);
    return document;
}

std::optional<std::string> write_camera_config(const std::string& path, const nlohmann::ordered_json& document) {
    if (path.empty()) return std::string("empty path");
    if (auto why = io::path_refusal(path)) return why;
    std::string text;
    try {
        text = document.dump(2) + "\n";
    } catch (const nlohmann::json::exception& e) {
        return std::string("cannot encode the configuration: ") + e.what();
    }
    static std::atomic<unsigned> serial{0};
    const std::string temporary =
        path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
    std::string why;
    if (!io::write_new_file(temporary, text, true, why)) return "'" + temporary + "': " + why;
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return "cannot replace '" + path + "': " + error.message();
    }
    return std::nullopt;
}

std::optional<std::string> apply_camera_config(const nlohmann::json& document, const std::string& serial,
                                               const std::vector<std::shared_ptr<CameraTool>>& tools) {
    if (auto why = check_header(document)) return why;

    // Which tool each section is for, checked before anything is locked.
    const nlohmann::json& sections = document.at("tools");
    std::vector<std::pair<CameraToolCore*, const nlohmann::json*>> work;
    for (const auto& [id, section] : sections.items()) {
        CameraToolCore* core = nullptr;
        for (const auto& tool : tools) {
            if (core_of(*tool).info().id == id) core = &core_of(*tool);
        }
        if (!core) return "unknown tool '" + id + "' (this camera has: " + tool_ids(tools) + ")";
        work.emplace_back(core, &section);
    }

    // Locks in the camera's order, the same for every import, so two imports
    // cannot deadlock; writes through CameraTool take one lock only.
    std::vector<std::unique_lock<std::mutex>> locks;
    for (const auto& tool : tools) {
        for (const auto& [core, section] : work) {
            if (core == &core_of(*tool)) {
                locks.push_back(core->lock());
                break;
            }
        }
    }
    std::vector<ParamValueMap> accepted(work.size());
    for (std::size_t i = 0; i < work.size(); ++i) {
        const auto& [core, section] = work[i];
        const ParamResult result = core->judgeDocumentLocked(*section, accepted[i]);
        if (!result.ok) {
            if (result.error.param.empty()) return "tool '" + core->info().id + "': " + result.error.message;
            return "tool '" + core->info().id + "', parameter '" + result.error.param + "': " + result.error.message;
        }
    }
    for (std::size_t i = 0; i < work.size(); ++i) work[i].first->commitLocked(accepted[i]);

    const auto camera = document.find("camera");
    if (camera != document.end()) {
        const auto source = camera->find("serial");
        if (source != camera->end() && source->is_string() && source->get<std::string>() != serial) {
            log::info("camera ", serial, ": applied a configuration exported from camera ",
                      source->get<std::string>());
        }
    }
    return std::nullopt;
}

std::optional<std::string> import_camera_config(const std::string& path, const std::string& serial,
                                                const std::vector<std::shared_ptr<CameraTool>>& tools) {
    std::string text;
    std::string why;
    if (!io::read_whole_file(path, kMaxFileBytes, text, why)) return why;
    nlohmann::json document;
    if (auto refusal = parse_bounded(text, document)) return refusal;
    return apply_camera_config(document, serial, tools);
}

}  // namespace vantrel::tools
