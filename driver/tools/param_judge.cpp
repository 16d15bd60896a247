#include "tools/param_judge.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "vantrel/names.hpp"

namespace vantrel::tools {
namespace {

// Shortest text that reads back as the same float.
std::string float_text(float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

Judged refuse(std::string why) { return Judged{std::nullopt, std::move(why)}; }
Judged accept(ParamValue value) { return Judged{std::move(value), {}}; }

std::string expects(ParamType type, const std::string& got) {
    return "expects " + to_string(type) + ", got " + got;
}

Judged judge_int(const ParamConstraint::IntRange& range, int value) {
    if (value < range.min || value > range.max) {
        return refuse("value " + std::to_string(value) + " is outside the range " +
                      std::to_string(range.min) + ".." + std::to_string(range.max));
    }
    return accept(value);
}

Judged judge_float(const ParamConstraint::FloatRange& range, float value) {
    if (std::isnan(value)) return refuse("value is not a number");
    if (value < range.min || value > range.max) {
        return refuse("value " + float_text(value) + " is outside the range " + float_text(range.min) +
                      ".." + float_text(range.max));
    }
    return accept(value);
}

Judged judge_option(const ParamConstraint::EnumDef& options, const std::string& value) {
    for (const auto& option : options.options) {
        if (option == value) return accept(value);
    }
    std::string list;
    for (const auto& option : options.options) {
        if (!list.empty()) list += ", ";
        list += option;
    }
    return refuse("'" + value + "' is not one of: " + list);
}

// Nearest float of a double; beyond the float range the result saturates to
// an infinity (which every range then refuses).
float narrow(double value) {
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return value > 0 ? std::numeric_limits<float>::infinity()
                         : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

}  // namespace

const char* alternative_name(const ParamValue& value) {
    switch (value.index()) {
        case 0: return "int";
        case 1: return "float";
        case 2: return "bool";
        case 3: return "string";
    }
    return "nothing";
}

std::string describe(const ParamValue& value) {
    switch (value.index()) {
        case 0: return std::to_string(std::get<int>(value));
        case 1: return float_text(std::get<float>(value));
        case 2: return std::get<bool>(value) ? "true" : "false";
        case 3: return "'" + std::get<std::string>(value) + "'";
    }
    return "nothing";
}

Judged judge_value(const ParamDescriptor& descriptor, const ParamValue& value) {
    const auto& constraint = descriptor.constraint.value;
    switch (descriptor.type) {
        case ParamType::INT:
            if (const int* v = std::get_if<int>(&value)) {
                return judge_int(std::get<ParamConstraint::IntRange>(constraint), *v);
            }
            break;
        case ParamType::FLOAT:
            if (const float* v = std::get_if<float>(&value)) {
                return judge_float(std::get<ParamConstraint::FloatRange>(constraint), *v);
            }
            if (const int* v = std::get_if<int>(&value)) {
                return judge_float(std::get<ParamConstraint::FloatRange>(constraint),
                                   static_cast<float>(*v));
            }
            break;
        case ParamType::BOOL:
            if (std::holds_alternative<bool>(value)) return accept(value);
            break;
        case ParamType::STRING:
            if (std::holds_alternative<std::string>(value)) return accept(value);
            break;
        case ParamType::ENUM:
            if (const std::string* v = std::get_if<std::string>(&value)) {
                return judge_option(std::get<ParamConstraint::EnumDef>(constraint), *v);
            }
            break;
    }
    return refuse(expects(descriptor.type, alternative_name(value)));
}

std::string json_type_name(const nlohmann::json& value) {
    switch (value.type()) {
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned: return "integer";
        case nlohmann::json::value_t::number_float: return "real";
        default: return value.type_name();
    }
}

Judged judge_json(const ParamDescriptor& descriptor, const nlohmann::json& member) {
    using value_t = nlohmann::json::value_t;
    const auto refuse_type = [&] { return refuse(expects(descriptor.type, "JSON " + json_type_name(member))); };
    switch (descriptor.type) {
        case ParamType::INT: {
            const auto& range = std::get<ParamConstraint::IntRange>(descriptor.constraint.value);
            const std::string range_text = std::to_string(range.min) + ".." + std::to_string(range.max);
            if (member.type() == value_t::number_integer) {
                const auto v = member.get<std::int64_t>();
                if (v < range.min || v > range.max) {
                    return refuse("value " + std::to_string(v) + " is outside the range " + range_text);
                }
                return accept(static_cast<int>(v));
            }
            if (member.type() == value_t::number_unsigned) {
                const auto v = member.get<std::uint64_t>();
                if (range.max < 0 || v > static_cast<std::uint64_t>(range.max) ||
                    static_cast<std::int64_t>(v) < range.min) {
                    return refuse("value " + std::to_string(v) + " is outside the range " + range_text);
                }
                return accept(static_cast<int>(v));
            }
            return refuse_type();
        }
        case ParamType::FLOAT:
            if (member.is_number()) {
                // Integers of any size become the nearest float before the range check.
                const double v = member.is_number_unsigned() ? static_cast<double>(member.get<std::uint64_t>())
                                 : member.is_number_integer() ? static_cast<double>(member.get<std::int64_t>())
                                                              : member.get<double>();
                return judge_float(std::get<ParamConstraint::FloatRange>(descriptor.constraint.value),
                                   narrow(v));
            }
            return refuse_type();
        case ParamType::BOOL:
            if (member.is_boolean()) return accept(member.get<bool>());
            return refuse_type();
        case ParamType::STRING:
            if (member.is_string()) return judge_value(descriptor, member.get<std::string>());
            return refuse_type();
        case ParamType::ENUM:
            if (member.is_string()) return judge_value(descriptor, member.get<std::string>());
            return refuse_type();
    }
    return refuse_type();
}

nlohmann::json value_to_json(const ParamValue& value) {
    switch (value.index()) {
        case 0: return std::get<int>(value);
        case 1: return static_cast<double>(std::get<float>(value));
        case 2: return std::get<bool>(value);
        case 3: return std::get<std::string>(value);
    }
    return nullptr;
}

void check_descriptor(const ParamDescriptor& d) {
    const auto fail = [&](const std::string& why) {
        throw std::logic_error("parameter '" + d.name + "': " + why);
    };
    const auto& c = d.constraint.value;
    switch (d.type) {
        case ParamType::INT: {
            const auto* r = std::get_if<ParamConstraint::IntRange>(&c);
            if (!r) fail("an integer parameter needs an integer range");
            if (r->min > r->max || r->default_value < r->min || r->default_value > r->max) {
                fail("default outside its range");
            }
            return;
        }
        case ParamType::FLOAT: {
            const auto* r = std::get_if<ParamConstraint::FloatRange>(&c);
            if (!r) fail("a real parameter needs a real range");
            if (!(r->min <= r->max) || !(r->default_value >= r->min) || !(r->default_value <= r->max)) {
                fail("default outside its range");
            }
            return;
        }
        case ParamType::BOOL:
            if (!std::holds_alternative<ParamConstraint::BoolDef>(c)) fail("a switch needs a bool default");
            return;
        case ParamType::STRING:
            if (!std::holds_alternative<ParamConstraint::StringDef>(c)) fail("a text needs a string default");
            return;
        case ParamType::ENUM: {
            const auto* e = std::get_if<ParamConstraint::EnumDef>(&c);
            if (!e) fail("an enumeration needs an option list");
            if (!judge_option(*e, e->default_value).value) fail("default is not an option");
            return;
        }
    }
    fail("unknown type");
}

ParamValue default_value(const ParamDescriptor& d) {
    return std::visit(
        [](const auto& kind) -> ParamValue { return kind.default_value; }, d.constraint.value);
}

}  // namespace vantrel::tools
