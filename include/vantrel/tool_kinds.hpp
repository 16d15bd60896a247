#pragma once

// The kinds of camera tool: one row each, in the order of their values.
//
//   X(enumerator, number, id, display name)
//
// `id` is a bare word: its text is the tool's stable id (tool_id), and the
// driver finds each tool's definition under that name. Everything that
// lists the tools (the ToolType enumeration, the names, the bindings'
// enumeration, the driver's tool definitions) is generated from this table.
#define VANTREL_TOOL_KINDS(X)                                                   \
    X(TOOL_BIAS, 0, bias, "Bias")                                               \
    X(TOOL_TRIGGER_IN, 1, trigger_in, "Trigger In")                             \
    X(TOOL_SYNC, 2, sync, "Sync")                                               \
    X(TOOL_ANTI_FLICKER, 3, anti_flicker, "Anti-Flicker")                       \
    X(TOOL_EVENT_TRAIL_FILTER, 4, event_trail_filter, "Event Trail Filter")     \
    X(TOOL_EVENT_RATE_CONTROL, 5, event_rate_control, "Event Rate Control")     \
    X(TOOL_ROI, 6, roi, "Region of Interest")
