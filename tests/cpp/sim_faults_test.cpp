#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "common/operations.hpp"
#include "vantrel/camera_service.hpp"
#include "vantrel/sim/faults.hpp"
#include "vantrel/sim/simulator.hpp"

namespace vantrel {
namespace {

TEST(OperationTable, NamesAreUniqueAndMapBackToTheirOperation) {
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < kOperationCount; ++i) {
        const auto op = static_cast<Operation>(i);
        EXPECT_TRUE(seen.insert(operation_name(op)).second) << operation_name(op);
        EXPECT_EQ(operation_named(operation_name(op)), op);
    }
    EXPECT_FALSE(operation_named("ICamera::nothing"));
    const auto& listed = sim::faultableOperations();
    ASSERT_EQ(listed.size(), kOperationCount);
    EXPECT_EQ(listed.front(), "EvCameraService::refresh");
}

TEST(InjectedFaults, StrikeTheNamedOperationForTheirCountOnly) {
    sim::reset();
    sim::CameraSpec spec;
    spec.serial = "FAULTY";
    spec.width = 32;
    spec.height = 16;
    sim::addCamera(spec);
    const auto camera = EvCameraService().open("FAULTY");
    ASSERT_NE(camera, nullptr);

    sim::injectFault("ICamera::getWidth", sim::FaultKind::Fail, "m", 2, 0);
    sim::injectFault("ICamera::getHeight", sim::FaultKind::RangeError, "boom", 1, 0);
    EXPECT_EQ(camera->getWidth(), 0);
    EXPECT_EQ(camera->getWidth(), 0);
    EXPECT_EQ(camera->getWidth(), 32);
    EXPECT_THROW(camera->getHeight(), std::range_error);
    EXPECT_EQ(camera->getHeight(), 16);

    sim::injectFault("Callback::buildArgument", sim::FaultKind::Fail, "m", 0, 0);
    EXPECT_TRUE(sim::checkFault("Callback::buildArgument"));
    EXPECT_FALSE(sim::checkFault("ICamera::getWidth"));
    EXPECT_FALSE(sim::checkFault("no such operation"));
    sim::clearFaults();
    EXPECT_FALSE(sim::checkFault("Callback::buildArgument"));

    // Opening a camera is not a getDescription call.
    camera->close();
    sim::injectFault("ICamera::getDescription", sim::FaultKind::RuntimeError, "no", 0, 0);
    const auto reopened = EvCameraService().open("FAULTY");
    ASSERT_NE(reopened, nullptr);
    EXPECT_THROW(reopened->getDescription(), std::runtime_error);
    sim::clearFaults();
    EXPECT_EQ(reopened->getDescription().serial, "FAULTY");

    EXPECT_THROW(sim::injectFault("ICamera::nothing", sim::FaultKind::Fail, "", 1, 0), std::invalid_argument);
    EXPECT_THROW(sim::injectFault("ICamera::start", sim::FaultKind::Delay, "", 1, -1), std::invalid_argument);
    sim::reset();
}

}  // namespace
}  // namespace vantrel
