#pragma once

// Camera configuration files: one JSON document holding the camera's
// identity and every tool's parameters.
//
//   {"format": "vantrel-camera-config", "version": 1,
//    "camera": {"serial": ..., "product": ..., ...},
//    "tools": {"<tool id>": {"<parameter>": value, ...}, ...}}

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vantrel/camera_description.hpp"
#include "vantrel/camera_tool.hpp"

namespace vantrel::tools {

inline constexpr const char* kConfigFormat = "vantrel-camera-config";
inline constexpr int kConfigVersion = 1;

// The document for a camera, tools in the camera's order and parameters in
// schema order.
nlohmann::ordered_json make_camera_config(const CameraDescription& camera,
                                          const std::vector<std::shared_ptr<CameraTool>>& tools);

// Writes the document through a temporary file in the same folder, so a
// failed write leaves an existing file as it was. Why not, on failure.
std::optional<std::string> write_camera_config(const std::string& path, const nlohmann::ordered_json& document);

// Judges the whole document against the camera's tools, then writes every
// value, all or nothing; why nothing was changed, on failure. A tool section
// may name some of its tool's parameters; the others keep their values.
std::optional<std::string> apply_camera_config(const nlohmann::json& document, const std::string& serial,
                                               const std::vector<std::shared_ptr<CameraTool>>& tools);

// Reads the file and applies it as above.
std::optional<std::string> import_camera_config(const std::string& path, const std::string& serial,
                                                const std::vector<std::shared_ptr<CameraTool>>& tools);

}  // namespace vantrel::tools
