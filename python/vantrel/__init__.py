"""Python helpers of the Vantrel SDK: pictures of events, a progress bar, the
`vantrel` command line and the demo. The SDK itself is the extension module
vantrel_core; simulated cameras are controlled with vantrel_sim."""

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
    "accumulate",
    "event_rate",
    "polarity_frame",
    "rate_plot",
    "save_png",
    "time_surface",
    "time_surface_image",
]
