#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "sim/tool_journal.hpp"
#include "tools/tool_set.hpp"
#include "tools/tool_write_observer.hpp"

namespace vantrel::sim {

// The simulator's watch over the tools of its devices: the journal of each
// device's writes, and documents that a tool's next toJson returns instead
// of its values. Installed into the tools only once asked for (observe(),
// which the vantrel_sim module calls when it loads, or a document
// override): until then the tools pay nothing for it and nothing is kept.
// Never destroyed.
class ToolObserver final : public tools::ToolWriteObserver {
public:
    static ToolObserver& instance();

    // Installs the observer; from then on writes are journalled.
    void observe();
    // A device's tools write into `journal`; until forget().
    void track(const tools::ToolSet& tools, std::shared_ptr<ToolJournal> journal);
    void forget(const tools::ToolSet& tools);
    // The tool's next toJson returns `document` (installs the observer).
    void overrideDocument(const CameraToolCore& tool, nlohmann::json document);

    void set(const CameraToolCore& tool, std::string_view name, const ParamValue& value) override;
    void apply(const CameraToolCore& tool, const ParamValueMap& values) override;
    void fromJson(const CameraToolCore& tool, const nlohmann::json& document) override;
    bool takeDocument(const CameraToolCore& tool, nlohmann::json& document) override;

private:
    ToolObserver() = default;
    std::shared_ptr<ToolJournal> journalOf(const CameraToolCore& tool) const;

    // Guards both maps; a leaf lock (the journal's own lock is taken after
    // it is released).
    mutable std::mutex mutex_;
    std::unordered_map<const CameraToolCore*, std::shared_ptr<ToolJournal>> journals_;
    std::unordered_map<const CameraToolCore*, nlohmann::json> documents_;
};

}  // namespace vantrel::sim
