"""The viewer's pictures: the accumulator against references computed from
the events themselves, the rate plot's bins, the binary frame layout, and
the checks of the messages a page sends."""

import numpy as np
import pytest

from simcam import make_events
from vantrel import render, time_slice, window_index
from vantrel.viewer import protocol
from vantrel.viewer.frames import (
    HEADER,
    NONE,
    OFF,
    ON,
    RATE_BIN_US,
    RATE_BINS,
    Accumulator,
    FrameSettings,
    decode_frame,
)

W, H = 40, 30


def random_events(n, *, seed=0, span_us=300_000):
    rng = np.random.default_rng(seed)
    events = make_events(n, width=W, height=H)
    # Few pixels, so that pixels fire often and with both polarities.
    events["x"] = rng.integers(0, 8, n)
    events["y"] = rng.integers(0, 6, n)
    events["polarity"] = rng.integers(0, 2, n)
    events["timestamp"] = np.sort(rng.integers(1_000, 1_000 + span_us, n))
    return events


def fed(events, batches=7):
    acc = Accumulator(W, H)
    for part in np.array_split(events, batches):
        acc.add(part)
    return acc


def reference_frame(events, start, end, polarity):
    """The event-frame rule, event by event: the later polarity of a pixel wins."""
    expected = np.full((H, W), NONE, dtype=np.uint8)
    latest = {}
    for e in time_slice(events, start, end):
        on = e["polarity"] != 0
        if polarity == "on" and not on or polarity == "off" and on:
            continue
        key = (int(e["y"]), int(e["x"]))
        if key not in latest or int(e["timestamp"]) >= latest[key][0]:
            latest[key] = (int(e["timestamp"]), on)
    for (y, x), (_, on) in latest.items():
        expected[y, x] = ON if on else OFF
    return expected


@pytest.mark.parametrize("window_us", [1_000, 7_000, 100_000])
@pytest.mark.parametrize("polarity", ["both", "on", "off"])
def test_event_frame_shows_the_events_of_its_window(window_us, polarity):
    events = random_events(3_000)
    acc = fed(events)
    frame = acc.frame(FrameSettings("frame", polarity, window_us))
    end = int(events["timestamp"].max()) + 1
    assert (frame.start, frame.end) == (end - window_us, end)
    assert (frame.pixels == reference_frame(events, end - window_us, end, polarity)).all()


def test_both_polarities_the_later_wins_and_on_wins_a_tie():
    events = make_events(4, width=W, height=H)
    events["x"], events["y"] = [1, 1, 2, 2], [0, 0, 0, 0]
    events["polarity"] = [1, 0, 0, 1]
    events["timestamp"] = [100, 200, 300, 300]
    pixels = fed(events, 2).frame(FrameSettings("frame", "both", 1_000)).pixels
    assert (pixels[0, 1], pixels[0, 2]) == (OFF, ON)


@pytest.mark.parametrize("window_us", [1_000, 40_000])
def test_time_surface_is_the_rendered_surface_of_the_same_events(window_us):
    events = random_events(2_000, seed=3)
    acc = fed(events)
    t_ref = int(events["timestamp"].max())
    both = acc.frame(FrameSettings("surface", "both", window_us)).pixels
    assert (both == render.time_surface_image(events, W, H, tau_us=window_us / 4, t_ref=t_ref)).all()
    on = events[events["polarity"] != 0]
    only_on = acc.frame(FrameSettings("surface", "on", window_us)).pixels
    assert (only_on == render.time_surface_image(on, W, H, tau_us=window_us / 4, t_ref=t_ref)).all()


def test_events_off_the_sensor_are_left_out_and_counted():
    events = make_events(6, width=W, height=H)
    events["x"] = [0, W, 3, 5, 65535, 7]
    events["y"] = [0, 0, H, 5, 1, 8]
    events["timestamp"] = [10, 11, 12, 13, 14, 2**63 + 5]   # the last one beyond int64
    acc = Accumulator(W, H)
    acc.add(np.repeat(events, 2)[::2])                      # a strided view is fine too
    assert (acc.events, acc.ignored) == (2, 4)
    pixels = acc.frame(FrameSettings("frame", "both", 1_000)).pixels
    assert set(zip(*np.nonzero(pixels))) == {(0, 0), (5, 5)}
    assert acc.clock == 14


def test_clock_reset_and_advance_move_the_window():
    events = make_events(2, width=W, height=H)
    events["timestamp"] = [1_000, 50_000]
    acc = fed(events, 1)
    assert acc.frame(FrameSettings("frame", "both", 1_000)).pixels.sum() == ON   # only the later event
    acc.advance(200_000)                                   # a playback moved on without events
    assert acc.frame(FrameSettings("frame", "both", 100_000)).pixels.sum() == 0
    acc.advance(10)                                        # the clock never goes back by itself
    assert acc.clock == 200_000
    acc.reset(5_000)
    assert acc.clock == 5_000 and acc.frame(FrameSettings("surface", "both", 1_000)).pixels.sum() == 0


def test_rate_history_keeps_the_last_ten_seconds_in_time_windows():
    # 12.5 s of events, bin k of the stream holding k + 1 events, in batches
    # that straddle bins.
    t0 = 777
    per_bin = [np.full(k + 1, t0 + k * RATE_BIN_US, dtype=np.int64) for k in range(125)]
    ts = np.concatenate(per_bin)
    events = make_events(len(ts), width=W, height=H)
    events["timestamp"] = ts
    acc = Accumulator(W, H)
    for part in np.array_split(events, 37):
        acc.add(part)
    recent = acc.rates()
    newest_complete = int(window_index(int(ts[-1]), t0, RATE_BIN_US)) - 1
    first = newest_complete - RATE_BINS + 1
    assert recent["start"] == t0 + first * RATE_BIN_US
    assert recent["rates"] == [(k + 1) * 1e6 / RATE_BIN_US for k in range(first, newest_complete + 1)]


def test_a_jump_in_time_keeps_the_rate_plot_small():
    events = make_events(4, width=W, height=H)
    events["timestamp"] = [0, 5, 2**62, 2**62 + 1]
    acc = Accumulator(W, H)
    acc.add(events)                                         # no bin for every 100 ms in between
    assert acc.rates()["rates"] == [] and acc.events == 4
    acc.add(make_events(1, start=2**62 + RATE_BIN_US, width=W, height=H))
    assert acc.rates()["rates"] == [2 * 1e6 / RATE_BIN_US]


def test_frame_message_layout():
    events = make_events(5, width=W, height=H)
    frame = fed(events, 1).frame(FrameSettings("frame", "off", 2_000))
    message = frame.encode(2**32 + 7)
    assert len(message) == HEADER.size + W * H
    fields, pixels = decode_frame(message)
    assert fields == dict(kind=0, width=W, height=H, polarity=2, number=7, start=frame.start, end=frame.end,
                          lit=int(np.count_nonzero(frame.pixels)))
    assert (pixels == frame.pixels).all()
    for bad in (message[:10], b"XXXX" + message[4:], message + b"\0"):
        with pytest.raises(ValueError):
            decode_frame(bad)


def test_frame_settings_refuse_values_out_of_range():
    for bad in (dict(mode="x"), dict(polarity="up"), dict(window_us=999), dict(window_us=100_001)):
        with pytest.raises(ValueError):
            FrameSettings(**bad)


GOOD = [
    '{"type": "settings", "window_us": 1000, "mode": "surface", "polarity": "off", "id": 3}',
    '{"type": "ready"}',
    '{"type": "set", "tool": "bias", "name": "gain", "value": 1.5}',
    '{"type": "set", "tool": "sync", "name": "primary_serial", "value": ""}',
    '{"type": "apply", "tool": "roi", "values": {"x": 1, "enabled": true}}',
    '{"type": "record"}',
    '{"type": "record", "name": "run-1.vtr"}',
    '{"type": "seek", "t_us": 0}',
    '{"type": "speed", "speed": 100}',
]

BAD = [
    ("[1, 2]", "must be a JSON object"),
    ("{", "not JSON"),
    ('{"type": "settings", "window_us": NaN}', "not JSON"),
    ('{"type": 5}', "unknown message type"),
    ('{"type": "explode"}', "unknown message type"),
    ('{"type": "start", "force": true}', "unknown field"),
    ('{"type": "settings", "window_us": 999}', "from 1000 to 100000"),
    ('{"type": "settings", "window_us": 2000.0}', "whole number"),
    ('{"type": "settings", "window_us": true}', "whole number"),
    ('{"type": "settings", "mode": "movie"}', "one of frame, surface"),
    ('{"type": "set", "tool": "bias", "name": "gain"}', "value is missing"),
    ('{"type": "set", "tool": "bias", "name": "gain", "value": null}', "true, false, a number or a text"),
    ('{"type": "set", "tool": "bias", "name": "gain", "value": [1]}', "true, false, a number or a text"),
    ('{"type": "set", "tool": "bias", "name": "gain", "value": 1e999}', "finite"),
    ('{"type": "set", "tool": "", "name": "gain", "value": 1}', "1 to 64 characters"),
    ('{"type": "set", "tool": "bias", "name": "\\ud800", "value": 1}', "no UTF-8 form"),
    ('{"type": "apply", "tool": "roi", "values": {}}', "1 to 64 parameter values"),
    ('{"type": "record", "name": "../escape.vtr"}', "plain file name"),
    ('{"type": "record", "name": "/etc/passwd"}', "plain file name"),
    ('{"type": "record", "name": ".hidden"}', "plain file name"),
    ('{"type": "seek", "t_us": -1}', "whole number from 0"),
    ('{"type": "speed", "speed": 1000}', "from 0.1 to 100"),
    ('{"type": "ready", "id": "x"}', "id must be a whole number"),
    ('"' + "x" * (protocol.MAX_MESSAGE_BYTES + 1) + '"', "longer than"),
    ("[" * 50_000, "not JSON"),
]


def test_messages_are_checked_field_by_field():
    for text in GOOD:
        message = protocol.check(protocol.parse(text))
        assert message["type"]
    for text, words in BAD:
        with pytest.raises(protocol.BadMessage, match=words.replace("(", r"\(")):
            protocol.check(protocol.parse(text))
    with pytest.raises(protocol.BadMessage, match="JSON text messages only"):
        protocol.parse(b"{}")
