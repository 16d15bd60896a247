"""
Vantrel Event Camera Python SDK
"""
from __future__ import annotations
import builtins
import collections.abc
import datetime
import numpy
import numpy.typing
import typing
__all__: list[str] = ['BOOL', 'BatchConditionType', 'CameraDescription', 'CameraStatus', 'CameraTool', 'ENUM', 'EvCameraService', 'EvCameraStatisticInfo', 'EvFileInfo', 'EvFileReader', 'Event2D', 'EventTriggerIn', 'FLOAT', 'ICamera', 'INT', 'InterfaceType', 'LOG_DEBUG', 'LOG_ERROR', 'LOG_FATAL', 'LOG_INFO', 'LOG_INVALID', 'LOG_OFF', 'LOG_WARNING', 'LogLevelType', 'Logger', 'MIPI', 'NO_CONDITION', 'N_EVENTS', 'N_US', 'ParamBoolDef', 'ParamConstraint', 'ParamDescriptor', 'ParamEnumDef', 'ParamError', 'ParamFloatRange', 'ParamIntRange', 'ParamResult', 'ParamStringDef', 'ParamType', 'RUNNING', 'STARTED', 'STOP', 'STOPPED', 'STRING', 'SUSPEND', 'StreamStatus', 'TOOL_ANTI_FLICKER', 'TOOL_BIAS', 'TOOL_EVENT_RATE_CONTROL', 'TOOL_EVENT_TRAIL_FILTER', 'TOOL_ROI', 'TOOL_SYNC', 'TOOL_TRIGGER_IN', 'ToolInfo', 'ToolType', 'USB', 'get_build_date', 'get_version', 'param_type_to_string', 'tool_id', 'tool_type_to_string']
class InterfaceType:
    """
    Members:
    
      USB
    
      MIPI
    """
    MIPI: typing.ClassVar[InterfaceType]
    USB: typing.ClassVar[InterfaceType]
    __members__: typing.ClassVar[dict[str, InterfaceType]]
    @typing.overload
    def __eq__(self, other: InterfaceType) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: InterfaceType) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class BatchConditionType:
    """
    Members:
    
      NO_CONDITION
    
      N_EVENTS
    
      N_US
    """
    NO_CONDITION: typing.ClassVar[BatchConditionType]
    N_EVENTS: typing.ClassVar[BatchConditionType]
    N_US: typing.ClassVar[BatchConditionType]
    __members__: typing.ClassVar[dict[str, BatchConditionType]]
    @typing.overload
    def __eq__(self, other: BatchConditionType) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.SupportsIndex) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: BatchConditionType) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.SupportsIndex) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class CameraStatus:
    """
    Members:
    
      STOPPED
    
      STARTED
    """
    STARTED: typing.ClassVar[CameraStatus]
    STOPPED: typing.ClassVar[CameraStatus]
    __members__: typing.ClassVar[dict[str, CameraStatus]]
    @typing.overload
    def __eq__(self, other: CameraStatus) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.SupportsIndex) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: CameraStatus) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.SupportsIndex) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class ToolType:
    """
    Members:
    
      TOOL_BIAS
    
      TOOL_TRIGGER_IN
    
      TOOL_SYNC
    
      TOOL_ANTI_FLICKER
    
      TOOL_EVENT_TRAIL_FILTER
    
      TOOL_EVENT_RATE_CONTROL
    
      TOOL_ROI
    """
    TOOL_ANTI_FLICKER: typing.ClassVar[ToolType]
    TOOL_BIAS: typing.ClassVar[ToolType]
    TOOL_EVENT_RATE_CONTROL: typing.ClassVar[ToolType]
    TOOL_EVENT_TRAIL_FILTER: typing.ClassVar[ToolType]
    TOOL_ROI: typing.ClassVar[ToolType]
    TOOL_SYNC: typing.ClassVar[ToolType]
    TOOL_TRIGGER_IN: typing.ClassVar[ToolType]
    __members__: typing.ClassVar[dict[str, ToolType]]
    @typing.overload
    def __eq__(self, other: ToolType) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: ToolType) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class StreamStatus:
    """
    Members:
    
      STOP
    
      RUNNING
    
      SUSPEND
    """
    RUNNING: typing.ClassVar[StreamStatus]
    STOP: typing.ClassVar[StreamStatus]
    SUSPEND: typing.ClassVar[StreamStatus]
    __members__: typing.ClassVar[dict[str, StreamStatus]]
    @typing.overload
    def __eq__(self, other: StreamStatus) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: StreamStatus) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class LogLevelType:
    """
    Members:
    
      LOG_INVALID
    
      LOG_OFF
    
      LOG_FATAL
    
      LOG_ERROR
    
      LOG_WARNING
    
      LOG_INFO
    
      LOG_DEBUG
    """
    LOG_DEBUG: typing.ClassVar[LogLevelType]
    LOG_ERROR: typing.ClassVar[LogLevelType]
    LOG_FATAL: typing.ClassVar[LogLevelType]
    LOG_INFO: typing.ClassVar[LogLevelType]
    LOG_INVALID: typing.ClassVar[LogLevelType]
    LOG_OFF: typing.ClassVar[LogLevelType]
    LOG_WARNING: typing.ClassVar[LogLevelType]
    __members__: typing.ClassVar[dict[str, LogLevelType]]
    @typing.overload
    def __eq__(self, other: LogLevelType) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: LogLevelType) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class ParamType:
    """
    Members:
    
      INT
    
      FLOAT
    
      BOOL
    
      STRING
    
      ENUM
    """
    BOOL: typing.ClassVar[ParamType]
    ENUM: typing.ClassVar[ParamType]
    FLOAT: typing.ClassVar[ParamType]
    INT: typing.ClassVar[ParamType]
    STRING: typing.ClassVar[ParamType]
    __members__: typing.ClassVar[dict[str, ParamType]]
    @typing.overload
    def __eq__(self, other: ParamType) -> bool:
        ...
    @typing.overload
    def __eq__(self, other: typing.Any) -> bool:
        ...
    def __getstate__(self) -> int:
        ...
    def __hash__(self) -> int:
        ...
    def __index__(self) -> int:
        ...
    def __init__(self, value: typing.SupportsIndex) -> None:
        ...
    def __int__(self) -> int:
        ...
    @typing.overload
    def __ne__(self, other: ParamType) -> bool:
        ...
    @typing.overload
    def __ne__(self, other: typing.Any) -> bool:
        ...
    def __repr__(self) -> str:
        ...
    def __setstate__(self, state: typing.SupportsIndex) -> None:
        ...
    def __str__(self) -> str:
        ...
    @property
    def name(self) -> str:
        ...
    @property
    def value(self) -> int:
        ...
class ToolInfo:
    description: str
    display_name: str
    id: str
    type: ToolType
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
class ParamError:
    message: str
    param: str
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
class ParamResult:
    error: ParamError
    ok: bool
    def __bool__(self) -> bool:
        ...
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
class ParamIntRange:
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
    @property
    def default_value(self) -> int:
        ...
    @default_value.setter
    def default_value(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def max(self) -> int:
        ...
    @max.setter
    def max(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def min(self) -> int:
        ...
    @min.setter
    def min(self, arg0: typing.SupportsIndex) -> None:
        ...
class ParamFloatRange:
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
    @property
    def default_value(self) -> float:
        ...
    @default_value.setter
    def default_value(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def max(self) -> float:
        ...
    @max.setter
    def max(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
    @property
    def min(self) -> float:
        ...
    @min.setter
    def min(self, arg0: typing.SupportsFloat | typing.SupportsIndex) -> None:
        ...
class ParamBoolDef:
    default_value: bool
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
class ParamEnumDef:
    default_value: str
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
    @property
    def options(self) -> list[str]:
        ...
    @options.setter
    def options(self, arg0: collections.abc.Sequence[str]) -> None:
        ...
class ParamStringDef:
    default_value: str
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
class ParamConstraint:
    def __init__(self) -> None:
        ...
    def get_bool_def(self) -> ParamBoolDef | None:
        """
        Get BoolDef constraint, or None
        """
    def get_enum_def(self) -> ParamEnumDef | None:
        """
        Get EnumDef constraint, or None
        """
    def get_float_range(self) -> ParamFloatRange | None:
        """
        Get FloatRange constraint, or None
        """
    def get_int_range(self) -> ParamIntRange | None:
        """
        Get IntRange constraint, or None
        """
    def get_string_def(self) -> ParamStringDef | None:
        """
        Get StringDef constraint, or None
        """
class ParamDescriptor:
    constraint: ParamConstraint
    description: str
    name: str
    type: ParamType
    unit: str
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
class CameraDescription:
    firmware_version: str
    interface_type: InterfaceType
    manufacturer: str
    product: str
    serial: str
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
    @property
    def pid(self) -> int:
        ...
    @pid.setter
    def pid(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def vid(self) -> int:
        ...
    @vid.setter
    def vid(self, arg0: typing.SupportsIndex) -> None:
        ...
class Event2D:
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, x: typing.SupportsIndex, y: typing.SupportsIndex, polarity: typing.SupportsIndex, timestamp: typing.SupportsIndex) -> None:
        ...
    def __repr__(self) -> str:
        ...
    @property
    def polarity(self) -> int:
        ...
    @polarity.setter
    def polarity(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def timestamp(self) -> int:
        ...
    @timestamp.setter
    def timestamp(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def x(self) -> int:
        ...
    @x.setter
    def x(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def y(self) -> int:
        ...
    @y.setter
    def y(self, arg0: typing.SupportsIndex) -> None:
        ...
class EventTriggerIn:
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, id: typing.SupportsIndex, polarity: typing.SupportsIndex, timestamp: typing.SupportsIndex) -> None:
        ...
    @property
    def id(self) -> int:
        ...
    @id.setter
    def id(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def polarity(self) -> int:
        ...
    @polarity.setter
    def polarity(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def timestamp(self) -> int:
        ...
    @timestamp.setter
    def timestamp(self, arg0: typing.SupportsIndex) -> None:
        ...
class EvCameraStatisticInfo:
    @typing.overload
    def __init__(self) -> None:
        ...
    @typing.overload
    def __init__(self, bandwidth_byte: typing.SupportsIndex, events_count: typing.SupportsIndex) -> None:
        ...
    @property
    def bandwidth_byte(self) -> int:
        ...
    @bandwidth_byte.setter
    def bandwidth_byte(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def events_count(self) -> int:
        ...
    @events_count.setter
    def events_count(self, arg0: typing.SupportsIndex) -> None:
        ...
class EvFileInfo:
    serial_number: str
    def __init__(self) -> None:
        ...
    def __repr__(self) -> str:
        ...
    @property
    def end_timestamp(self) -> int:
        ...
    @end_timestamp.setter
    def end_timestamp(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def height(self) -> int:
        ...
    @height.setter
    def height(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def local_time(self) -> datetime.datetime | None:
        ...
    @property
    def max_events(self) -> int:
        ...
    @max_events.setter
    def max_events(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def start_timestamp(self) -> int:
        ...
    @start_timestamp.setter
    def start_timestamp(self, arg0: typing.SupportsIndex) -> None:
        ...
    @property
    def width(self) -> int:
        ...
    @width.setter
    def width(self, arg0: typing.SupportsIndex) -> None:
        ...
class EvCameraService:
    def __init__(self) -> None:
        ...
    def list(self) -> builtins.list[CameraDescription]:
        """
        Get the list of camera descriptions
        """
    def list_cameras(self) -> builtins.list[CameraDescription]:
        """
        Get the list of camera descriptions
        """
    def open(self, serial: str) -> ICamera | None:
        """
        Open a camera by its serial number and return ICamera
        """
    def refresh(self) -> int:
        """
        Refresh the list of connected cameras and return the count
        """
class CameraTool:
    def apply(self, values: dict[str, typing.Any]) -> ParamResult:
        """
        Batch-set multiple parameters from a dict. Returns ParamResult.
        """
    def from_json(self, json_obj: typing.Any) -> ParamResult:
        """
        Deserialize parameter values from a Python dict. Returns ParamResult.
        """
    def get(self, name: str) -> bool | int | float | str | None:
        """
        Get parameter value by name (returns None if not found)
        """
    def info(self) -> ToolInfo:
        """
        Get tool information (ToolInfo)
        """
    def schema(self) -> list[ParamDescriptor]:
        """
        Get list of all parameter descriptors
        """
    def set(self, name: str, value: typing.Any) -> ParamResult:
        """
        Set parameter value (auto-detects type). Returns ParamResult.
        """
    def to_json(self) -> dict[str, typing.Any] | None:
        """
        Serialize all parameter names and values to a Python dict
        """
class ICamera:
    def close(self) -> None:
        """
        Close the camera and release all resources
        """
    def export_camera_config(self, json_file_path: str) -> bool:
        """
        Export camera config to JSON file
        """
    def firmware_upgrade(self, image_path: str) -> bool:
        """
        Perform OTA firmware upgrade from an .img file
        """
    def get_description(self) -> CameraDescription:
        """
        Get camera description
        """
    def get_height(self) -> int:
        """
        Get sensor height in pixels
        """
    def get_next_batch(self) -> numpy.typing.NDArray[numpy.void]:
        """
        Get next event batch as structured numpy array with fields: x, y, polarity, timestamp
        """
    def get_tool(self, type: ToolType) -> CameraTool | None:
        """
        Get camera tool by ToolType
        """
    def get_tool_by_id(self, tool_id: str) -> CameraTool | None:
        """
        Get camera tool by stable id (e.g. 'bias', 'roi')
        """
    def get_tool_info(self, type: ToolType) -> ToolInfo:
        """
        Get tool info by ToolType
        """
    def get_tools_info(self) -> list[ToolInfo]:
        """
        Get info of all available tools
        """
    def get_width(self) -> int:
        """
        Get sensor width in pixels
        """
    def import_camera_config(self, json_file_path: str) -> bool:
        """
        Import camera config from JSON file
        """
    def is_connected(self) -> bool:
        """
        Check if the camera is physically connected
        """
    def register_event_batch_callback(self, callback: collections.abc.Callable[[numpy.typing.NDArray[numpy.void]], object]) -> int:
        """
        Register event batch callback (copy). The events array is an owning copy and may be safely stored or used outside the callback. Returns callback id.
        """
    def register_event_batch_callback_nocopy(self, callback: collections.abc.Callable[[numpy.typing.NDArray[numpy.void]], object]) -> int:
        """
        Register event batch callback (no-copy). The events array is a read-only zero-copy view into the SDK buffer. It is only valid inside the callback; storing it and accessing it afterwards is undefined behaviour and may crash the process. Returns the same callback id as the copy variant.
        """
    def register_trigger_in_callback(self, callback: collections.abc.Callable[[EventTriggerIn], object]) -> int:
        """
        Register trigger-in callback, returns callback id
        """
    def set_batch_events_num(self, n: typing.SupportsIndex) -> None:
        """
        Set the number of events per batch
        """
    def set_batch_events_time(self, n: typing.SupportsIndex) -> None:
        """
        Set the time interval (us) for event batching
        """
    def set_statistics_callback(self, callback: collections.abc.Callable[[EvCameraStatisticInfo], object]) -> None:
        """
        Set statistics callback
        """
    def start(self) -> bool:
        """
        Start the camera (returns true on success)
        """
    def start_recording(self, file_path: str) -> bool:
        """
        Start recording events to file
        """
    def stop(self) -> bool:
        """
        Stop the camera (returns true on success)
        """
    def stop_recording(self) -> bool:
        """
        Stop recording events
        """
    def unregister_event_batch_callback(self, callback_id: typing.SupportsIndex) -> bool:
        """
        Unregister event batch callback by id
        """
    def unregister_trigger_in_callback(self, callback_id: typing.SupportsIndex) -> bool:
        """
        Unregister trigger-in callback by id
        """
class EvFileReader:
    @staticmethod
    def create_file_reader(filepath: str) -> EvFileReader | None:
        """
        Create a file reader from filepath
        """
    def export_events_to_raw(self, start: typing.SupportsIndex, end: typing.SupportsIndex, out_file_path: str) -> bool:
        """
        Extract event data in [start, end] to output raw file
        """
    def get_current_event_index(self) -> int:
        """
        Get event index at current position
        """
    def get_current_timestamp(self) -> int:
        """
        Get timestamp at current position
        """
    def get_decode_statistics(self) -> tuple[int, int] | None:
        """
        Get decode-side statistics as (bandwidth_bytes, events_count) tuple, or None
        """
    def get_end_time(self) -> int | None:
        """
        Get end timestamp (returns None if unavailable)
        """
    def get_event_count(self) -> int | None:
        """
        Get total number of events (returns None if unavailable)
        """
    def get_file_metadata(self) -> EvFileInfo | None:
        """
        Get file metadata (returns None if unavailable)
        """
    def get_height(self) -> int:
        """
        Get sensor height in pixels
        """
    def get_start_time(self) -> int | None:
        """
        Get start timestamp (returns None if unavailable)
        """
    def get_width(self) -> int:
        """
        Get sensor width in pixels
        """
    def is_end_reached(self) -> bool:
        """
        Check if all events have been read
        """
    def open(self) -> bool:
        """
        Load and index the file (may take time for large files)
        """
    def read_events(self, n: typing.SupportsIndex) -> numpy.typing.NDArray[numpy.void]:
        """
        Read n events from current position
        """
    def read_events_by_time_interval(self, interval: typing.SupportsIndex) -> numpy.typing.NDArray[numpy.void]:
        """
        Read events within a time interval (us) from current position
        """
    def read_events_by_time_interval_from_event_index(self, event_num: typing.SupportsIndex, interval: typing.SupportsIndex) -> numpy.typing.NDArray[numpy.void]:
        """
        Read events within a time interval starting from the event_num-th event
        """
    def read_events_by_time_interval_from_timestamp(self, start: typing.SupportsIndex, interval: typing.SupportsIndex) -> numpy.typing.NDArray[numpy.void]:
        """
        Read events within a time interval starting from a given timestamp
        """
    def read_events_from_event_index(self, event_num: typing.SupportsIndex, n: typing.SupportsIndex) -> numpy.typing.NDArray[numpy.void]:
        """
        Read n events starting from the event_num-th event
        """
    def read_events_from_timestamp(self, start: typing.SupportsIndex, n: typing.SupportsIndex) -> numpy.typing.NDArray[numpy.void]:
        """
        Read n events starting from a given timestamp
        """
    def register_trigger_in_callback(self, callback: collections.abc.Callable[[EventTriggerIn], object]) -> int:
        """
        Register trigger-in callback for file reader
        """
    def seek_to_event_index(self, n_event: typing.SupportsIndex) -> bool:
        """
        Seek to the n-th event
        """
    def seek_to_timestamp(self, t: typing.SupportsIndex) -> bool:
        """
        Seek to a specific timestamp
        """
    def unregister_trigger_in_callback(self, callback_id: typing.SupportsIndex) -> bool:
        """
        Unregister trigger-in callback by id
        """
class Logger:
    @staticmethod
    def instance() -> Logger:
        """
        Get the singleton Logger instance
        """
    def get_log_level(self) -> LogLevelType:
        """
        Get the current log level
        """
    def set_log_file(self, log_file: str) -> bool:
        """
        Set log output file path
        """
    def set_log_level(self, level: LogLevelType) -> None:
        """
        Set the minimum log level
        """
def get_build_date() -> str:
    """
    Get build date
    """
def get_version() -> str:
    """
    Get library version
    """
def param_type_to_string(type: ParamType) -> str:
    """
    Convert ParamType to string
    """
def tool_id(type: ToolType) -> str:
    """
    Get stable lowercase id for a ToolType
    """
def tool_type_to_string(type: ToolType) -> str:
    """
    Convert ToolType to human-readable string
    """
BOOL: ParamType
ENUM: ParamType
FLOAT: ParamType
INT: ParamType
LOG_DEBUG: LogLevelType
LOG_ERROR: LogLevelType
LOG_FATAL: LogLevelType
LOG_INFO: LogLevelType
LOG_INVALID: LogLevelType
LOG_OFF: LogLevelType
LOG_WARNING: LogLevelType
MIPI: InterfaceType
NO_CONDITION: BatchConditionType
N_EVENTS: BatchConditionType
N_US: BatchConditionType
RUNNING: StreamStatus
STARTED: CameraStatus
STOP: StreamStatus
STOPPED: CameraStatus
STRING: ParamType
SUSPEND: StreamStatus
TOOL_ANTI_FLICKER: ToolType
TOOL_BIAS: ToolType
TOOL_EVENT_RATE_CONTROL: ToolType
TOOL_EVENT_TRAIL_FILTER: ToolType
TOOL_ROI: ToolType
TOOL_SYNC: ToolType
TOOL_TRIGGER_IN: ToolType
USB: InterfaceType
