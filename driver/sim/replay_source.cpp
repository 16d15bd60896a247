#include "sim/replay_source.hpp"

#include <algorithm>

#include "file/event_cursor.hpp"
#include "file/recording_file.hpp"

namespace vantrel::sim {

namespace {

using file::BlockEntry;
using file::EventCursor;
using file::RecordingFile;

class ReplaySource final : public camera::EventSource {
public:
    explicit ReplaySource(std::unique_ptr<RecordingFile> file)
        : file_(std::move(file)), cursor_(*file_) {
        const auto& events = file_->eventBlocks();
        const auto& edges = file_->triggerBlocks();
        std::uint64_t start = events.empty() ? ~0ull : events.front().header.first_timestamp;
        for (const BlockEntry& b : edges) {
            start = std::min(start, b.header.min_timestamp);
            last_edge_ = std::max(last_edge_, b.header.max_timestamp);
        }
        file_start_ = events.empty() && edges.empty() ? 0 : start;
    }

    void generate(std::uint64_t t_begin, std::uint64_t t_end, const tools::SourceControls&,
                  std::vector<Event2D>& out) override {
        begin(t_begin);
        if (cursor_.atEnd() || t_end <= t_begin) return;
        const std::size_t first = out.size();
        cursor_.readBefore(to_file(t_end), out);
        for (std::size_t i = first; i < out.size(); ++i) out[i].timestamp = to_stream(out[i].timestamp);
    }

    void triggers(std::uint64_t t_begin, std::uint64_t t_end,
                  std::vector<EventTriggerIn>& out) override {
        begin(t_begin);
        if (t_end <= t_begin) return;
        // Every edge before the start of the recording belongs to the first slice.
        const std::uint64_t lo = triggers_until_ == 0 ? 0 : to_file(t_begin);
        const std::uint64_t hi = to_file(t_end);
        if (hi == 0) return;
        const std::size_t first = out.size();
        file_->edgesBetween(lo, hi - 1, out);
        for (std::size_t i = first; i < out.size(); ++i) out[i].timestamp = to_stream(out[i].timestamp);
        triggers_until_ = std::max(triggers_until_, hi);
    }

    bool exhausted() const override {
        return cursor_.atEnd() &&
               (file_->triggerCount() == 0 || triggers_until_ > last_edge_);
    }

private:
    void begin(std::uint64_t t) {
        if (started_) return;
        started_ = true;
        stream_start_ = t;
    }

    // Stream time t corresponds to recording time to_file(t).
    std::uint64_t to_file(std::uint64_t t) const { return rebase(t, stream_start_, file_start_); }
    std::uint64_t to_stream(std::uint64_t f) const { return rebase(f, file_start_, stream_start_); }

    // t moved from the time base starting at `from` to the one starting at
    // `to`, saturating instead of wrapping.
    static std::uint64_t rebase(std::uint64_t t, std::uint64_t from, std::uint64_t to) {
        if (t < from) {
            const std::uint64_t back = from - t;
            return back > to ? 0 : to - back;
        }
        const std::uint64_t ahead = t - from;
        return ahead > ~0ull - to ? ~0ull : to + ahead;
    }

    std::unique_ptr<RecordingFile> file_;
    EventCursor cursor_;
    std::uint64_t file_start_ = 0;
    std::uint64_t last_edge_ = 0;
    std::uint64_t stream_start_ = 0;
    std::uint64_t triggers_until_ = 0;  // recording time up to which edges were handed out
    bool started_ = false;
};

std::unique_ptr<RecordingFile> open_file(const std::string& path, ReplayInfo& info,
                                         std::string& error) {
    auto file = std::make_unique<RecordingFile>();
    if (!file->open(path, error)) return nullptr;
    info.width = file->info().width;
    info.height = file->info().height;
    return file;
}

}  // namespace

std::unique_ptr<camera::EventSource> open_replay_source(const std::string& path, ReplayInfo& info,
                                                        std::string& error) {
    auto file = open_file(path, info, error);
    if (!file) return nullptr;
    return std::make_unique<ReplaySource>(std::move(file));
}

bool probe_recording(const std::string& path, ReplayInfo& info, std::string& error) {
    return open_file(path, info, error) != nullptr;
}

}  // namespace vantrel::sim
