#include <pybind11/stl.h>

#include "common/gil_release.hpp"
#include "events/callbacks.hpp"
#include "events/event_array.hpp"
#include "module/registration.hpp"
#include "vantrel/camera.hpp"
#include "vantrel/camera_tool.hpp"

namespace vantrel_py {

void register_camera(py::module_& m) {
    using vantrel::CameraTool;
    using vantrel::ICamera;
    using vantrel::ToolType;
    using release_gil = vantrel_gil::release_gil_during_call;

    // The holder is Python's share of the camera (see EvCameraService.open):
    // it lets go of the driver's camera without the GIL by itself.
    py::class_<ICamera, std::shared_ptr<ICamera>>(m, "ICamera")
        .def("is_connected", &ICamera::isConnected, "Check if the camera is physically connected")
        .def("get_description", &ICamera::getDescription, "Get camera description")

        // Callbacks: registering keeps the GIL, removing or replacing releases it.
        .def(
            "register_event_batch_callback",
            [](ICamera& camera, py::function callback) {
                auto holder = make_python_callback(std::move(callback));
                return camera.registerEventBatchCallback(make_batch_copy_adapter(holder));
            },
            "Register event batch callback (copy). The events array is an owning copy and may be safely "
            "stored or used outside the callback. Returns callback id.",
            py::arg("callback"))
        .def(
            "register_event_batch_callback_nocopy",
            [](ICamera& camera, py::function callback) {
                auto holder = make_python_callback(std::move(callback));
                return camera.registerEventBatchCallback(make_batch_view_adapter(holder));
            },
            "Register event batch callback (no-copy). The events array is a read-only zero-copy view into "
            "the SDK buffer. It is only valid inside the callback; storing it and accessing it afterwards is "
            "undefined behaviour and may crash the process. Returns the same callback id as the copy variant.",
            py::arg("callback"))
        .def(
            "unregister_event_batch_callback",
            [](ICamera& camera, std::uint32_t callback_id) { return camera.unregisterEventBatchCallback(callback_id); },
            "Unregister event batch callback by id", py::arg("callback_id"), release_gil())
        .def(
            "register_trigger_in_callback",
            [](ICamera& camera, py::function callback) {
                auto holder = make_python_callback(std::move(callback));
                return camera.registerTriggerInCallback(make_trigger_in_adapter(holder));
            },
            "Register trigger-in callback, returns callback id", py::arg("callback"))
        .def(
            "unregister_trigger_in_callback",
            [](ICamera& camera, std::uint32_t callback_id) { return camera.unregisterTriggerInCallback(callback_id); },
            "Unregister trigger-in callback by id", py::arg("callback_id"), release_gil())
        .def(
            "set_statistics_callback",
            [](ICamera& camera, py::function callback) {
                auto holder = make_python_callback(std::move(callback));
                vantrel_gil::scoped_release release;
                camera.setStatisticsCallback(make_statistics_adapter(holder));
            },
            "Set statistics callback", py::arg("callback"))

        .def(
            "get_next_batch",
            [](ICamera& camera) {
                ready_event_arrays();
                std::vector<vantrel::Event2D> events;
                bool ok;
                {
                    vantrel_gil::scoped_release release;
                    ok = camera.getNextBatch(events);
                }
                if (!ok || events.empty()) return make_empty_event_array();
                return make_event_array_copy(events);
            },
            "Get next event batch as structured numpy array with fields: x, y, polarity, timestamp")
        .def("set_batch_events_num", &ICamera::setBatchEventsNum, "Set the number of events per batch",
             py::arg("n"))
        .def("set_batch_events_time", &ICamera::setBatchEventsTime, "Set the time interval (us) for event batching",
             py::arg("n"))
        .def(
            "start", [](ICamera& camera) { return camera.start(); }, "Start the camera (returns true on success)",
            release_gil())
        .def(
            "stop", [](ICamera& camera) { return camera.stop(); }, "Stop the camera (returns true on success)",
            release_gil())
        .def(
            "close", [](ICamera& camera) { camera.close(); }, "Close the camera and release all resources",
            release_gil())
        .def(
            "start_recording", [](ICamera& camera, const std::string& file_path) { return camera.startRecording(file_path); },
            "Start recording events to file", py::arg("file_path"), release_gil())
        .def(
            "stop_recording", [](ICamera& camera) { return camera.stopRecording(); }, "Stop recording events",
            release_gil())
        .def("get_width", &ICamera::getWidth, "Get sensor width in pixels")
        .def("get_height", &ICamera::getHeight, "Get sensor height in pixels")

        // Tools and configuration.
        .def("get_tools_info", &ICamera::getToolsInfo, "Get info of all available tools")
        .def("get_tool_info", &ICamera::getToolInfo, "Get tool info by ToolType", py::arg("type"))
        .def(
            "get_tool", [](const ICamera& camera, ToolType type) { return camera.getTool(type); },
            "Get camera tool by ToolType", py::arg("type"))
        .def(
            "get_tool_by_id", [](const ICamera& camera, const std::string& tool_id) { return camera.getToolById(tool_id); },
            "Get camera tool by stable id (e.g. 'bias', 'roi')", py::arg("tool_id"))
        .def(
            "export_camera_config",
            [](ICamera& camera, const std::string& json_file_path) { return camera.exportCameraConfig(json_file_path); },
            "Export camera config to JSON file", py::arg("json_file_path"), release_gil())
        .def(
            "import_camera_config",
            [](ICamera& camera, const std::string& json_file_path) { return camera.importCameraConfig(json_file_path); },
            "Import camera config from JSON file", py::arg("json_file_path"), release_gil())

        .def(
            "firmware_upgrade", [](ICamera& camera, const std::string& image_path) { return camera.firmwareUpgrade(image_path); },
            "Perform OTA firmware upgrade from an .img file", py::arg("image_path"), release_gil());
}

}  // namespace vantrel_py
