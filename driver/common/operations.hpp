#pragma once

// The operations that test machinery may make fail, throw or wait (fault
// injection): one table, from which the Operation enumeration, the names
// that vantrel_sim.fault_operations() lists and the names a fault is armed
// by all come. Adding a row adds a fault point's name; the code marks the
// point with faults::hit(Operation::...) (common/fault_hook.hpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel {

#define VANTREL_OPERATIONS(X) \
    X(EvCameraService_refresh, "EvCameraService::refresh") \
    X(EvCameraService_listCameras, "EvCameraService::listCameras") \
    X(EvCameraService_open, "EvCameraService::open") \
    X(ICamera_isConnected, "ICamera::isConnected") \
    X(ICamera_registerEventBatchCallback, "ICamera::registerEventBatchCallback") \
    X(ICamera_unregisterEventBatchCallback, "ICamera::unregisterEventBatchCallback") \
    X(ICamera_registerTriggerInCallback, "ICamera::registerTriggerInCallback") \
    X(ICamera_unregisterTriggerInCallback, "ICamera::unregisterTriggerInCallback") \
    X(ICamera_getNextBatch, "ICamera::getNextBatch") \
    X(ICamera_setBatchEventsNum, "ICamera::setBatchEventsNum") \
    X(ICamera_setBatchEventsTime, "ICamera::setBatchEventsTime") \
    X(ICamera_start, "ICamera::start") \
    X(ICamera_stop, "ICamera::stop") \
    X(ICamera_close, "ICamera::close") \
    X(ICamera_startRecording, "ICamera::startRecording") \
    X(ICamera_stopRecording, "ICamera::stopRecording") \
    X(ICamera_getWidth, "ICamera::getWidth") \
    X(ICamera_getHeight, "ICamera::getHeight") \
    X(ICamera_setStatisticsCallback, "ICamera::setStatisticsCallback") \
    X(ICamera_firmwareUpgrade, "ICamera::firmwareUpgrade") \
    X(ICamera_getDescription, "ICamera::getDescription") \
    X(ICamera_getToolsInfo, "ICamera::getToolsInfo") \
    X(ICamera_getToolInfo, "ICamera::getToolInfo") \
    X(ICamera_getTool, "ICamera::getTool") \
    X(ICamera_getToolById, "ICamera::getToolById") \
    X(ICamera_exportCameraConfig, "ICamera::exportCameraConfig") \
    X(ICamera_importCameraConfig, "ICamera::importCameraConfig") \
    X(CameraTool_info, "CameraTool::info") \
    X(CameraTool_schema, "CameraTool::schema") \
    X(CameraTool_get, "CameraTool::get") \
    X(CameraTool_set, "CameraTool::set") \
    X(CameraTool_apply, "CameraTool::apply") \
    X(CameraTool_toJson, "CameraTool::toJson") \
    X(CameraTool_fromJson, "CameraTool::fromJson") \
    X(EvFileReader_createFileReader, "EvFileReader::createFileReader") \
    X(EvFileReader_open, "EvFileReader::open") \
    X(EvFileReader_getStartTime, "EvFileReader::getStartTime") \
    X(EvFileReader_getEndTime, "EvFileReader::getEndTime") \
    X(EvFileReader_getEventCount, "EvFileReader::getEventCount") \
    X(EvFileReader_isEndReached, "EvFileReader::isEndReached") \
    X(EvFileReader_seekToTimestamp, "EvFileReader::seekToTimestamp") \
    X(EvFileReader_seekToEventIndex, "EvFileReader::seekToEventIndex") \
    X(EvFileReader_getCurrentTimestamp, "EvFileReader::getCurrentTimestamp") \
    X(EvFileReader_getCurrentEventIndex, "EvFileReader::getCurrentEventIndex") \
    X(EvFileReader_readEvents, "EvFileReader::readEvents") \
    X(EvFileReader_readEventsFromTimestamp, "EvFileReader::readEventsFromTimestamp") \
    X(EvFileReader_readEventsFromEventIndex, "EvFileReader::readEventsFromEventIndex") \
    X(EvFileReader_readEventsByTimeInterval, "EvFileReader::readEventsByTimeInterval") \
    X(EvFileReader_readEventsByTimeIntervalFromTimestamp, "EvFileReader::readEventsByTimeIntervalFromTimestamp") \
    X(EvFileReader_readEventsByTimeIntervalFromEventIndex, "EvFileReader::readEventsByTimeIntervalFromEventIndex") \
    X(EvFileReader_exportEventsToRaw, "EvFileReader::exportEventsToRaw") \
    X(EvFileReader_registerTriggerInCallback, "EvFileReader::registerTriggerInCallback") \
    X(EvFileReader_unregisterTriggerInCallback, "EvFileReader::unregisterTriggerInCallback") \
    X(EvFileReader_getWidth, "EvFileReader::getWidth") \
    X(EvFileReader_getHeight, "EvFileReader::getHeight") \
    X(EvFileReader_getDecodeStatistics, "EvFileReader::getDecodeStatistics") \
    X(EvFileReader_getFileMetadata, "EvFileReader::getFileMetadata") \
    X(Logger_setLogLevel, "Logger::setLogLevel") \
    X(Logger_getLogLevel, "Logger::getLogLevel") \
    X(Logger_setLogFile, "Logger::setLogFile") \
    X(Callback_buildArgument, "Callback::buildArgument")

enum class Operation : std::uint16_t {
#define VANTREL_OPERATION_ENUM(ident, name) ident,
    VANTREL_OPERATIONS(VANTREL_OPERATION_ENUM)
#undef VANTREL_OPERATION_ENUM
};

inline constexpr std::array<std::string_view, 61> kOperationNames = {
#define VANTREL_OPERATION_NAME(ident, name) name,
    VANTREL_OPERATIONS(VANTREL_OPERATION_NAME)
#undef VANTREL_OPERATION_NAME
};

inline constexpr std::size_t kOperationCount = kOperationNames.size();

constexpr std::string_view operation_name(Operation op) noexcept {
    return kOperationNames[static_cast<std::size_t>(op)];
}

constexpr std::optional<Operation> operation_named(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kOperationCount; ++i) {
        if (kOperationNames[i] == name) return static_cast<Operation>(i);
    }
    return std::nullopt;
}

}  // namespace vantrel
