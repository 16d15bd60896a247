#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/fault_hook.hpp"
#include "file/recording_reader.hpp"
#include "io/file_access.hpp"
#include "log/log.hpp"
#include "vantrel/file_reader.hpp"

namespace vantrel {

EvFileReader::~EvFileReader() = default;

std::unique_ptr<EvFileReader> EvFileReader::createFileReader(const std::string& filepath) {
    if (faults::hit(Operation::EvFileReader_createFileReader)) return nullptr;
    if (auto why = io::path_refusal(filepath)) {
        log::warning("createFileReader: refused: ", *why);
        return nullptr;
    }
    struct stat st {};
    if (::stat(filepath.c_str(), &st) != 0) {
        log::warning("createFileReader(", filepath, "): ", std::strerror(errno));
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        log::warning("createFileReader(", filepath, "): is not a regular file");
        return nullptr;
    }
    return std::make_unique<file::RecordingReader>(filepath);
}

}  // namespace vantrel
