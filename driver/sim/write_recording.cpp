#include <stdexcept>
#include <string>

#include "common/utf8.hpp"
#include "file/block_codec.hpp"
#include "file/recording_writer.hpp"
#include "io/file_access.hpp"
#include "vantrel/sim/recording_compression.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel::sim {

namespace {

file::Compression compression_called(const std::string& name) {
    if (auto c = file::compression_named(name)) return *c;
    std::string known;
    for (const std::string& n : file::compression_names()) known += (known.empty() ? "'" : ", '") + n + "'";
    throw std::invalid_argument("unknown compression '" + name + "' (known: " + known + ")");
}

void write(const std::string& path, const Event2D* events, std::size_t count, std::uint16_t width,
           std::uint16_t height, const std::string& serial, const std::vector<EventTriggerIn>& triggers,
           std::int64_t local_time_ticks, const file::Compression& compression) {
    // Checked before the file is touched, so a refused call leaves no file.
    if (auto why = io::path_refusal(path)) throw std::invalid_argument("cannot write a recording: " + *why);
    for (std::size_t i = 0; i < count; ++i) {
        const Event2D& e = events[i];
        if (e.x >= width || e.y >= height)
            throw std::invalid_argument("event " + std::to_string(i) + " at (" + std::to_string(e.x) +
                                        ", " + std::to_string(e.y) + ") lies outside the " +
                                        std::to_string(width) + "x" + std::to_string(height) +
                                        " sensor");
        if (i > 0 && e.timestamp < events[i - 1].timestamp)
            throw std::invalid_argument("event timestamps go backwards at event " + std::to_string(i));
    }
    for (std::size_t i = 1; i < triggers.size(); ++i)
        if (triggers[i].timestamp < triggers[i - 1].timestamp)
            throw std::invalid_argument("trigger timestamps go backwards at edge " + std::to_string(i));
    if (!text::is_utf8(serial)) throw std::invalid_argument("the serial number is not UTF-8");
    if (serial.size() > file::kMaxSerialSize)
        throw std::invalid_argument("serial number longer than 65535 bytes");

    file::RecordingWriter writer({}, compression);
    bool ok = writer.open(path, file::RecordingInfo{width, height, serial, local_time_ticks}) &&
              writer.add(events, count);
    for (std::size_t i = 0; ok && i < triggers.size(); ++i) ok = writer.add(triggers[i]);
    if (ok) ok = writer.finish();
    if (!ok) {
        writer.abandon();  // no partial recording stays behind
        throw std::runtime_error("cannot write recording '" + path + "': " + writer.error());
    }
}

}  // namespace

void writeRecording(const std::string& path, const Event2D* events, std::size_t count, std::uint16_t width,
                    std::uint16_t height, const std::string& serial, const std::vector<EventTriggerIn>& triggers,
                    std::int64_t local_time_ticks) {
    write(path, events, count, width, height, serial, triggers, local_time_ticks, file::default_compression());
}

void writeRecording(const std::string& path, const Event2D* events, std::size_t count, std::uint16_t width,
                    std::uint16_t height, const std::string& serial, const std::vector<EventTriggerIn>& triggers,
                    std::int64_t local_time_ticks, const std::string& compression) {
    write(path, events, count, width, height, serial, triggers, local_time_ticks, compression_called(compression));
}

std::vector<std::string> recordingCompressions() { return file::compression_names(); }

void setRecordingCompression(const std::string& name) { file::set_default_compression(compression_called(name)); }

std::string recordingCompression() { return file::name_of(file::default_compression()); }

}  // namespace vantrel::sim
