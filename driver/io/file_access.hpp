#pragma once

// How the driver opens the files that callers name: one place that refuses
// paths the system would misread, files that are not regular files (a FIFO
// would block the caller, a device could feed it without end) and files
// larger than their reader can take.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel::io {

// Why `path` cannot name a file, or nothing when it can. The system ends a
// path at its first NUL byte, so "x\0y" would silently act on "x".
std::optional<std::string> path_refusal(std::string_view path);

// An open file descriptor, closed with its owner.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();

private:
    int fd_ = -1;
};

// Which file a descriptor refers to, to tell later whether a path still
// names it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

// A regular file opened for reading; its size as it was at the open.
struct ReadableFile {
    FileDescriptor fd;
    std::uint64_t size = 0;
};

// Opens `path` for reading if it is a regular file (following symbolic
// links), without ever waiting: the kind of file is checked on the open
// descriptor, so a path replaced by a FIFO after an earlier check is refused
// too. A file larger than `max_size` bytes is refused. False, with `error`
// saying why ("no such file", "is not a regular file (a FIFO)", ...).
bool open_for_reading(const std::string& path, std::uint64_t max_size, ReadableFile& out,
                      std::string& error);

// The whole content of the regular file `path`, at most `max_size` bytes:
// a file that is (or grows) larger is refused rather than read on.
bool read_whole_file(const std::string& path, std::size_t max_size, std::string& out,
                     std::string& error);

// Creates `path`, or empties it if it exists, for writing; refuses what is
// not a regular file without waiting for a FIFO's reader and without
// emptying anything first. `exclusive`: the file must not exist yet (and a
// symbolic link there is not followed).
bool create_for_writing(const std::string& path, bool exclusive, FileDescriptor& out,
                        FileIdentity& identity, std::string& error);

// Creates `path` as above and writes `bytes` to it; on failure nothing is
// left behind.
bool write_new_file(const std::string& path, std::string_view bytes, bool exclusive, std::string& error);

// Removes `path` if it still names the regular file `identity` (so a file
// that another program put there meanwhile survives).
void remove_if_same(const std::string& path, const FileIdentity& identity);

}  // namespace vantrel::io
