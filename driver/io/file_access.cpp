#include "io/file_access.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vantrel::io {

namespace {

// What the kind of a file that is not a regular one is called in messages.
std::string not_regular(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory, not a file";
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "of an unknown kind";
    return std::string("is not a regular file (") + kind + ")";
}

// The kind of file on an open descriptor: the path may name another file
// than the one checked before opening.
bool regular_on_descriptor(int fd, const char* failure, struct stat& st, std::string& error) {
    if (::fstat(fd, &st) != 0) {
        error = std::string(failure) + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = not_regular(st.st_mode);
        return false;
    }
    return true;
}

// A path the file functions take: no NUL byte, and nothing there yet or a
// regular file. Devices are not even opened: opening some has effects of
// their own.
bool acceptable_path(const std::string& path, std::string& error) {
    if (auto why = path_refusal(path)) {
        error = *why;
        return false;
    }
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
        error = not_regular(named.st_mode);
        return false;
    }
    return true;
}

std::string open_failure(int err) {
    if (err == ENOENT) return "no such file";
    if (err == EISDIR) return "is a directory, not a file";
    return std::string("cannot open: ") + std::strerror(err);
}

}  // namespace

std::optional<std::string> path_refusal(std::string_view path) {
    const std::size_t nul = path.find('\0');
    if (nul == std::string_view::npos) return std::nullopt;
    return "the path holds a NUL byte (at position " + std::to_string(nul) + ")";
}

void FileDescriptor::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool open_for_reading(const std::string& path, std::uint64_t max_size, ReadableFile& out,
                      std::string& error) {
    if (!acceptable_path(path, error)) return false;
    // The path may name another file by the time it is opened: the kind is
    // checked again on the descriptor. O_NONBLOCK: opening a FIFO put there
    // meanwhile returns at once instead of waiting for a writer. Reads of
    // regular files ignore it.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) {
        error = open_failure(errno);
        return false;
    }
    struct stat st {};
    if (!regular_on_descriptor(fd.get(), "cannot read: ", st, error)) return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > max_size) {
        error = "is too large (" + std::to_string(size) + " bytes, at most " + std::to_string(max_size) + ")";
        return false;
    }
    out.fd = std::move(fd);
    out.size = size;
    return true;
}

bool read_whole_file(const std::string& path, std::size_t max_size, std::string& out, std::string& error) {
    ReadableFile file;
    if (!open_for_reading(path, max_size, file, error)) return false;
    // The size is a hint only: the file may change while it is read, and
    // some (in /proc) report 0. One byte more than allowed tells "too large".
    std::string data(static_cast<std::size_t>(std::min<std::uint64_t>(file.size, max_size)) + 1, '\0');
    std::size_t have = 0;
    for (;;) {
        if (have == data.size()) {
            if (have > max_size) {
                error = "is too large (more than " + std::to_string(max_size) + " bytes)";
                return false;
            }
            data.resize(std::min(max_size + 1, std::max<std::size_t>(2 * data.size(), 4096)));
        }
        const ssize_t n = ::read(file.fd.get(), data.data() + have, data.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::string("cannot read: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    data.resize(have);
    out = std::move(data);
    return true;
}

bool create_for_writing(const std::string& path, bool exclusive, FileDescriptor& out,
                        FileIdentity& identity, std::string& error) {
    if (!acceptable_path(path, error)) return false;
    // No O_TRUNC: nothing is emptied before the kind of file is known (the
    // path may name another file by now). O_NONBLOCK: a FIFO put there
    // meanwhile fails at once instead of waiting for a reader.
    int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (exclusive) flags |= O_EXCL | O_NOFOLLOW;
    FileDescriptor fd(::open(path.c_str(), flags, 0644));
    if (!fd) {
        const int err = errno;
        struct stat st {};
        // A FIFO without a reader (or a device without its hardware) fails
        // the non-blocking open itself.
        if (err == ENXIO && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            error = not_regular(st.st_mode);
        else
            error = std::string("cannot create the file: ") + std::strerror(err);
        return false;
    }
    struct stat st {};
    if (!regular_on_descriptor(fd.get(), "cannot create the file: ", st, error)) return false;
    if (::ftruncate(fd.get(), 0) != 0 ||
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        error = std::string("cannot create the file: ") + std::strerror(errno);
        return false;
    }
    identity = {st.st_dev, st.st_ino};
    out = std::move(fd);
    return true;
}

bool write_new_file(const std::string& path, std::string_view bytes, bool exclusive, std::string& error) {
    FileDescriptor fd;
    FileIdentity identity;
    if (!create_for_writing(path, exclusive, fd, identity, error)) return false;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::string("cannot write: ") + std::strerror(n < 0 ? errno : ENOSPC);
            fd.reset();
            remove_if_same(path, identity);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) {
        error = std::string("cannot write: ") + std::strerror(errno);
        remove_if_same(path, identity);
        return false;
    }
    return true;
}

void remove_if_same(const std::string& path, const FileIdentity& identity) {
    struct stat st {};
    if (path_refusal(path) || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_dev != identity.device || st.st_ino != identity.inode)
        return;
    ::unlink(path.c_str());
}

}  // namespace vantrel::io
