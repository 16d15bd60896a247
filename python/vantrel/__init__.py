"""Python helpers of the Vantrel SDK: pictures of events, a progress bar, the
`vantrel` command line and the demo. The SDK itself is the extension module
vantrel_core; simulated cameras are controlled with vantrel_sim."""

from vantrel.events import EVENT_DTYPE, make_events
from vantrel.render import (
    accumulate,
    event_rate,
    polarity_frame,
    rate_plot,
    save_png,
    time_surface,
    time_surface_image,
)

__all__ = [
    "EVENT_DTYPE",
    "make_events",
    "accumulate",
    "event_rate",
    "polarity_frame",
    "rate_plot",
    "save_png",
    "time_surface",
    "time_surface_image",
]
