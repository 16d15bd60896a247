#pragma once

// The whole driver interface.
#include "vantrel/camera.hpp"
#include "vantrel/camera_description.hpp"
#include "vantrel/camera_service.hpp"
#include "vantrel/camera_tool.hpp"
#include "vantrel/enums.hpp"
#include "vantrel/events.hpp"
#include "vantrel/file_reader.hpp"
#include "vantrel/logger.hpp"
#include "vantrel/names.hpp"
#include "vantrel/params.hpp"
#include "vantrel/process_exit.hpp"
#include "vantrel/recording_layout.hpp"
