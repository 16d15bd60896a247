#pragma once

// JSON documents that come from outside the driver (configuration files,
// documents handed to a tool) may be nested arbitrarily deep. The JSON
// library parses without recursion but prints and copies recursively, so
// the driver bounds the nesting it accepts and prints without recursion.

#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace vantrel::tools {

// Deepest nesting the driver accepts in a document (a configuration file
// needs three levels, a tool's parameters one).
inline constexpr std::size_t kMaxJsonDepth = 64;

// Parses `text` into `out`; why not, when it is not JSON or nests arrays
// and objects deeper than kMaxJsonDepth.
std::optional<std::string> parse_bounded(const std::string& text, nlohmann::json& out);

// Whether `document` nests arrays and objects deeper than kMaxJsonDepth.
bool too_deep(const nlohmann::json& document);

// Compact JSON text of `document` (invalid UTF-8 replaced), built without
// recursion. With `max_chars`, longer text is cut there and ends in "...".
std::string compact_text(const nlohmann::json& document, std::size_t max_chars = std::string::npos);

}  // namespace vantrel::tools
