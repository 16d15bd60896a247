// The driver's log, handed to Python. Driver threads only push into a
// bounded queue (no GIL, no waiting: the oldest lines are dropped and
// counted when Python falls behind); a Python thread takes them out with the
// GIL released while it waits.
#include "native/log_capture.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "vantrel/log_queue.hpp"
#include "vantrel/logger.hpp"

namespace vantrel_native {

namespace py = pybind11;

namespace {

constexpr std::size_t kMaxRecords = 10000;
constexpr std::size_t kMaxBytes = 4u << 20;

// One queue for the process, never destroyed: a driver thread may still log
// into it while the interpreter exits.
const std::shared_ptr<vantrel::LogQueue>& queue() {
    static const auto* const instance = new std::shared_ptr<vantrel::LogQueue>(
        std::make_shared<vantrel::LogQueue>(kMaxRecords, kMaxBytes));
    return *instance;
}

py::tuple take_log_records(double timeout) {
    if (!(timeout >= 0)) throw py::value_error("timeout must be a non-negative number of seconds");
    const auto wait = std::chrono::milliseconds(static_cast<std::int64_t>(std::min(timeout, 3600.0) * 1000));
    std::vector<vantrel::LogRecord> records;
    std::uint64_t dropped = 0;
    {
        py::gil_scoped_release release;
        records = queue()->take(wait);
        dropped = queue()->dropped();
    }
    py::list out;
    for (const auto& record : records) {
        const double when = std::chrono::duration<double>(record.time.time_since_epoch()).count();
        // Driver text may hold bytes that are not UTF-8 (a camera's serial):
        // shown escaped, never an error in the forwarding thread.
        py::str text = py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
            record.text.data(), static_cast<Py_ssize_t>(record.text.size()), "backslashreplace"));
        out.append(py::make_tuple(static_cast<int>(record.level), when, text));
    }
    return py::make_tuple(out, dropped);
}

}  // namespace

void register_log_capture(py::module_& m) {
    m.def(
        "capture_log", [] { vantrel::Logger::Instance().setSink(vantrel::LogQueue::sinkInto(queue())); },
        "Send the driver's log lines to the queue that take_log_records empties, instead of the log file "
        "or standard error");
    m.def(
        "release_log", [] { vantrel::Logger::Instance().setSink({}); },
        "Send the driver's log lines to its log file or standard error again");
    m.def("take_log_records", &take_log_records,
          "Wait up to `timeout` seconds for captured log lines (GIL released) and return "
          "([(level, unix_time, text), ...], lines dropped so far because the queue was full)",
          py::arg("timeout"));
}

}  // namespace vantrel_native
