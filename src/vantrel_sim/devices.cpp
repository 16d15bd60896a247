// Plugging simulated cameras in and out, pushing exact data into their
// streams, and writing firmware images.
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "common/gil_release.hpp"
#include "registration.hpp"
#include "arguments.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel_sim {

namespace {

using vantrel::Event2D;
using vantrel::sim::CameraSpec;

std::vector<Event2D> events_from_array(const py::object& events) {
    const py::array array = event_array_arg(events);
    const auto* data = static_cast<const Event2D*>(array.data());
    return std::vector<Event2D>(data, data + array.shape(0));
}

void add_camera(const py::object& serial, long long width, long long height, const py::object& product,
                const py::object& manufacturer, long long vid, long long pid, vantrel::InterfaceType interface_type,
                const py::object& firmware_version, double event_rate, const std::string& scene,
                const py::int_& seed, bool realtime, const py::object& tools, const py::object& source) {
    CameraSpec spec;
    spec.serial = text_arg(serial, "serial");
    spec.width = ranged<std::uint16_t>(width, "width", 1, 65535);
    spec.height = ranged<std::uint16_t>(height, "height", 1, 65535);
    spec.product = text_arg(product, "product");
    spec.manufacturer = text_arg(manufacturer, "manufacturer");
    spec.vid = ranged<std::uint16_t>(vid, "vid", 0, 65535);
    spec.pid = ranged<std::uint16_t>(pid, "pid", 0, 65535);
    spec.interface_type = interface_type;
    spec.firmware_version = text_arg(firmware_version, "firmware_version");
    spec.event_rate = event_rate;
    spec.scene = scene;
    if (seed < py::int_(0) || seed > py::int_(std::numeric_limits<std::uint64_t>::max())) {
        throw py::value_error("seed must be from 0 to 2**64 - 1");
    }
    spec.seed = seed.cast<std::uint64_t>();
    spec.realtime = realtime;
    if (!tools.is_none()) {
        std::vector<vantrel::ToolType> types;
        for (const auto& item : py::iter(tools)) {
            try {
                types.push_back(item.cast<vantrel::ToolType>());
            } catch (const py::cast_error&) {
                throw py::type_error("tools must hold ToolType members, not " +
                                     py::str(py::type::of(item).attr("__name__")).cast<std::string>());
            }
        }
        spec.tools = std::move(types);
    }
    if (!source.is_none()) spec.source = path_arg(source, "source");
    vantrel_gil::scoped_release release;
    vantrel::sim::addCamera(spec);
}

// The baseline of the callback benchmark: a plain C++ thread calling a
// trivial Python function under the GIL, n times. Returns the seconds taken.
double bench_call(const py::function& fn, std::uint64_t n) {
    std::chrono::steady_clock::duration elapsed{};
    {
        vantrel_gil::scoped_release release;
        std::thread worker([&] {
            const auto begin = std::chrono::steady_clock::now();
            for (std::uint64_t i = 0; i < n; ++i) {
                py::gil_scoped_acquire gil;
                try {
                    fn(py::none());
                } catch (py::error_already_set& e) {
                    PyErr_WriteUnraisable(e.value().ptr());
                }
            }
            elapsed = std::chrono::steady_clock::now() - begin;
        });
        worker.join();
    }
    return std::chrono::duration<double>(elapsed).count();
}

}  // namespace

void register_devices(py::module_& m) {
    const CameraSpec defaults;
    m.attr("DEFAULT_SERIAL") = vantrel::sim::kDefaultSerial;

    m.def(
        "reset",
        [] {
            vantrel_gil::scoped_release release;
            vantrel::sim::reset();
        },
        "Unplug every simulated camera (the default one too), clear injected faults and recorded tool writes");

    m.def("add_camera", &add_camera,
          "Plug in a simulated camera; it is visible after the next EvCameraService.refresh(). "
          "ValueError for a duplicate serial or a bad option",
          py::arg("serial"), py::kw_only(), py::arg("width") = defaults.width, py::arg("height") = defaults.height,
          py::arg("product") = py::str(defaults.product), py::arg("manufacturer") = py::str(defaults.manufacturer),
          py::arg("vid") = defaults.vid, py::arg("pid") = defaults.pid,
          py::arg("interface_type") = defaults.interface_type,
          py::arg("firmware_version") = py::str(defaults.firmware_version), py::arg("event_rate") = defaults.event_rate,
          py::arg("scene") = defaults.scene, py::arg("seed") = py::int_(defaults.seed),
          py::arg("realtime") = defaults.realtime, py::arg("tools") = py::none(), py::arg("source") = py::none());

    m.def(
        "remove_camera",
        [](const py::object& serial) {
            const std::string text = text_arg(serial, "serial");
            vantrel_gil::scoped_release release;
            return vantrel::sim::removeCamera(text);
        },
        "Unplug a simulated camera; False when no camera has that serial", py::arg("serial"));

    m.def(
        "cameras",
        [] {
            py::list out;
            for (const auto& serial : vantrel::sim::cameras()) out.append(text_result(serial));
            return out;
        },
        "Serials of the plugged-in simulated cameras, in the order they were plugged in");

    m.def(
        "push_batch",
        [](const py::object& serial, const py::object& events) {
            const std::string text = text_arg(serial, "serial");
            std::vector<Event2D> batch = events_from_array(events);
            vantrel_gil::scoped_release release;
            return vantrel::sim::pushBatch(text, std::move(batch));
        },
        "While the camera streams, deliver exactly one batch holding exactly these events to every batch "
        "callback and to the poll queue; False when it is not streaming",
        py::arg("serial"), py::arg("events"));

    m.def(
        "push_trigger",
        [](const py::object& serial, std::int16_t id, std::int16_t polarity, std::uint64_t timestamp) {
            const std::string text = text_arg(serial, "serial");
            vantrel::EventTriggerIn edge{};
            edge.id = id;
            edge.polarity = polarity;
            edge.timestamp = timestamp;
            vantrel_gil::scoped_release release;
            return vantrel::sim::pushTrigger(text, edge);
        },
        "While the camera streams, deliver one trigger-in edge to its trigger-in callbacks; False when it is "
        "not streaming",
        py::arg("serial"), py::arg("id"), py::arg("polarity"), py::arg("timestamp"));

    m.def(
        "push_statistics",
        [](const py::object& serial, std::uint64_t bandwidth_byte, std::uint64_t events_count) {
            const std::string text = text_arg(serial, "serial");
            const vantrel::EvCameraStatisticInfo stats{bandwidth_byte, events_count};
            vantrel_gil::scoped_release release;
            return vantrel::sim::pushStatistics(text, stats);
        },
        "While the camera streams, deliver one statistics report to its statistics callback; False when it is "
        "not streaming",
        py::arg("serial"), py::arg("bandwidth_byte"), py::arg("events_count"));

    m.def(
        "stream_drops",
        [](const py::object& serial) {
            const std::string text = text_arg(serial, "serial");
            vantrel::sim::StreamDrops drops;
            {
                vantrel_gil::scoped_release release;
                drops = vantrel::sim::streamDrops(text);
            }
            py::dict out;
            for (std::size_t q = 0; q < drops.size(); ++q) {
                py::dict counts;
                counts["batches"] = drops[q].batches;
                counts["events"] = drops[q].events;
                counts["edges"] = drops[q].edges;
                counts["reports"] = drops[q].reports;
                out[vantrel::sim::kDropQueueNames[q]] = counts;
            }
            return out;
        },
        "What the camera's current stream, or its last one once stopped, dropped: a dict from queue name "
        "('poll', 'delivery', 'recorder') to a dict of counts ('batches', 'events', 'edges', 'reports'); "
        "all zero before the first start. ValueError when no open camera has that serial",
        py::arg("serial"));

    m.def(
        "write_firmware_image",
        [](const py::object& path, const std::string& version) {
            const std::string file = path_arg(path, "path");
            vantrel_gil::scoped_release release;
            vantrel::sim::writeFirmwareImage(file, version);
        },
        "Write a firmware image carrying `version` that ICamera.firmware_upgrade accepts", py::arg("path"),
        py::arg("version"));

    m.def("_bench_call", &bench_call,
          "Benchmark baseline: call fn(None) n times from a C++ thread, taking the GIL for each call; "
          "returns the seconds taken",
          py::arg("fn"), py::arg("n"));
}

}  // namespace vantrel_sim
