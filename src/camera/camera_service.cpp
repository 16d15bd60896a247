#include <pybind11/stl.h>

#include "common/gil_release.hpp"
#include "module/registration.hpp"
#include "vantrel/camera.hpp"
#include "vantrel/camera_service.hpp"
#include "vantrel/process_exit.hpp"

namespace vantrel_py {

namespace {

// Python's share of a camera. Dropping the driver's last share may wait for
// the camera's delivery thread, which may itself wait for the GIL, so it is
// dropped with the GIL released, under an ExitGuard that keeps the exit
// from going on meanwhile (finalisation ends a thread that asks for the GIL
// back). Once the program is exiting every stream is already stopped and
// dropping the share waits for nothing, so the GIL stays held.
class PythonShare {
public:
    explicit PythonShare(std::shared_ptr<vantrel::ICamera> camera) : camera_(std::move(camera)) {}

    void operator()(vantrel::ICamera*) {
        std::shared_ptr<vantrel::ICamera> last = std::move(camera_);
        if (PyThreadState_GetUnchecked() == nullptr) return;  // no GIL to release
        const vantrel::ExitGuard guard;
        if (!guard) return;
        PyThreadState* state = PyEval_SaveThread();
        last.reset();
        PyEval_RestoreThread(state);
    }

private:
    std::shared_ptr<vantrel::ICamera> camera_;
};

std::shared_ptr<vantrel::ICamera> share_with_python(std::shared_ptr<vantrel::ICamera> camera) {
    if (!camera) return nullptr;
    vantrel::ICamera* raw = camera.get();
    return std::shared_ptr<vantrel::ICamera>(raw, PythonShare(std::move(camera)));
}

}  // namespace

void register_camera_service(py::module_& m) {
    using vantrel::EvCameraService;

    py::class_<EvCameraService, std::shared_ptr<EvCameraService>>(m, "EvCameraService")
        .def(py::init<>())
        .def("refresh", &EvCameraService::refresh, "Refresh the list of connected cameras and return the count",
             vantrel_gil::release_gil_during_call())
        .def("list", &EvCameraService::listCameras, "Get the list of camera descriptions")
        .def("list_cameras", &EvCameraService::listCameras, "Get the list of camera descriptions")
        .def(
            "open",
            [](EvCameraService& service, const std::string& serial) {
                std::shared_ptr<vantrel::ICamera> camera;
                {
                    vantrel_gil::scoped_release release;
                    camera = service.open(serial);
                }
                return share_with_python(std::move(camera));
            },
            "Open a camera by its serial number and return ICamera", py::arg("serial"));
}

}  // namespace vantrel_py
