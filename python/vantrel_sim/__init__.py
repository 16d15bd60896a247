"""Control of the Vantrel driver's simulated cameras: plug cameras in and out,
push exact data into their streams, inject faults into driver operations, see
what their tools received, and write recordings and firmware images.

The functions are those of the extension module vantrel_sim._sim, each
presented here with its signature and description (see docs/vantrel_sim.md).
"""

import functools
import inspect
from collections.abc import Callable
from typing import Any

from vantrel_sim import _sim
from vantrel_sim._signatures import signature_of


def _presented(function: Callable[..., Any]) -> Callable[..., Any]:
    """`function` behind a plain Python function that help() shows by its
    signature and description (a bound pybind11 function reads as the
    'method' of an internal object there). Calls pass straight through."""

    @functools.wraps(function)
    def call(*args: Any, **kwargs: Any) -> Any:
        return function(*args, **kwargs)

    signature, description = signature_of(function)
    call.__signature__ = signature  # type: ignore[attr-defined]
    call.__doc__ = description
    call.__module__ = __name__
    del call.__wrapped__  # help() reads __signature__, not the extension's
    return call


__all__ = [name for name in dir(_sim) if not name.startswith("__")]
for _name in __all__:
    _value = getattr(_sim, _name)
    globals()[_name] = _presented(_value) if inspect.isbuiltin(_value) else _value
del _name, _value
__all__ = [name for name in __all__ if not name.startswith("_")]
