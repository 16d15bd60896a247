#include "sim/tool_observer.hpp"

#include "tools/camera_tool_core.hpp"
#include "tools/json_bounds.hpp"
#include "tools/tool_access.hpp"

namespace vantrel::sim {

ToolObserver& ToolObserver::instance() {
    static ToolObserver* const observer = new ToolObserver();
    return *observer;
}

void ToolObserver::observe() { tools::install_write_observer(*this); }

void ToolObserver::track(const tools::ToolSet& tools, std::shared_ptr<ToolJournal> journal) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& tool : tools.tools) journals_[&tools::core_of(*tool)] = journal;
}

void ToolObserver::forget(const tools::ToolSet& tools) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& tool : tools.tools) {
        journals_.erase(&tools::core_of(*tool));
        documents_.erase(&tools::core_of(*tool));
    }
}

void ToolObserver::overrideDocument(const CameraToolCore& tool, nlohmann::json document) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        documents_[&tool] = std::move(document);
    }
    observe();
}

std::shared_ptr<ToolJournal> ToolObserver::journalOf(const CameraToolCore& tool) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = journals_.find(&tool);
    return it == journals_.end() ? nullptr : it->second;
}

void ToolObserver::set(const CameraToolCore& tool, std::string_view name, const ParamValue& value) {
    const auto journal = journalOf(tool);
    if (!journal) return;
    ToolWrite write;
    write.tool = tool.info().id;
    write.op = "set";
    write.name = std::string(name);
    write.value = value;
    journal->record(std::move(write));
}

void ToolObserver::apply(const CameraToolCore& tool, const ParamValueMap& values) {
    const auto journal = journalOf(tool);
    if (!journal) return;
    ToolWrite write;
    write.tool = tool.info().id;
    write.op = "apply";
    write.values.assign(values.begin(), values.end());
    journal->record(std::move(write));
}

void ToolObserver::fromJson(const CameraToolCore& tool, const nlohmann::json& document) {
    const auto journal = journalOf(tool);
    if (!journal) return;
    ToolWrite write;
    write.tool = tool.info().id;
    write.op = "from_json";
    // Names given as raw bytes need not be UTF-8; the journal must not throw for them.
    write.json = tools::compact_text(document);
    journal->record(std::move(write));
}

bool ToolObserver::takeDocument(const CameraToolCore& tool, nlohmann::json& document) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = documents_.find(&tool);
    if (it == documents_.end()) return false;
    document = std::move(it->second);
    documents_.erase(it);
    return true;
}

}  // namespace vantrel::sim
