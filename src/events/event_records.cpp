#include <string>

#include "module/registration.hpp"
#include "vantrel/events.hpp"

namespace vantrel_py {

void register_event_records(py::module_& m) {
    using vantrel::EvCameraStatisticInfo;
    using vantrel::Event2D;
    using vantrel::EventTriggerIn;

    py::class_<Event2D>(m, "Event2D")
        .def(py::init<>())
        .def(py::init<std::uint16_t, std::uint16_t, std::uint8_t, std::uint64_t>(), py::arg("x"), py::arg("y"),
             py::arg("polarity"), py::arg("timestamp"))
        .def_readwrite("x", &Event2D::x)
        .def_readwrite("y", &Event2D::y)
        .def_readwrite("polarity", &Event2D::polarity)
        .def_readwrite("timestamp", &Event2D::timestamp)
        .def("__repr__", [](const Event2D& e) {
            return "<Event2D x=" + std::to_string(e.x) + " y=" + std::to_string(e.y) +
                   " polarity=" + std::to_string(static_cast<unsigned>(e.polarity)) +
                   " timestamp=" + std::to_string(e.timestamp) + ">";
        });

    py::class_<EventTriggerIn>(m, "EventTriggerIn")
        .def(py::init([] { return EventTriggerIn{}; }))
        .def(py::init([](std::int16_t id, std::int16_t polarity, std::uint64_t timestamp) {
                 EventTriggerIn edge{};
                 edge.id = id;
                 edge.polarity = polarity;
                 edge.timestamp = timestamp;
                 return edge;
             }),
             py::arg("id"), py::arg("polarity"), py::arg("timestamp"))
        .def_readwrite("id", &EventTriggerIn::id)
        .def_readwrite("polarity", &EventTriggerIn::polarity)
        .def_readwrite("timestamp", &EventTriggerIn::timestamp);

    py::class_<EvCameraStatisticInfo>(m, "EvCameraStatisticInfo")
        .def(py::init([] { return EvCameraStatisticInfo{}; }))
        .def(py::init([](std::uint64_t bandwidth_byte, std::uint64_t events_count) {
                 return EvCameraStatisticInfo{bandwidth_byte, events_count};
             }),
             py::arg("bandwidth_byte"), py::arg("events_count"))
        .def_readwrite("bandwidth_byte", &EvCameraStatisticInfo::bandwidth_byte)
        .def_readwrite("events_count", &EvCameraStatisticInfo::events_count);
}

}  // namespace vantrel_py
