"""What the camera tools cost the stream: events a realtime=False camera
delivers per second of wall time with its tools in several states, each as a
ratio to a camera that has no tools at all, measured in the same run.

    python bench/bench_tools.py [--events N]
"""

import argparse
import time

import vantrel_core as vc
import vantrel_sim as vs

CONFIGURATIONS = [
    ("no tools (baseline)", None, {}),
    ("seven tools, all disabled", "all", {}),
    ("roi enabled, full window", "all", {"roi": {"enabled": True}}),
    ("event_rate_control enabled, limit above the rate", "all",
     {"event_rate_control": {"enabled": True, "max_event_rate": 100_000_000}}),
    ("event_trail_filter enabled", "all", {"event_trail_filter": {"enabled": True, "threshold_us": 1}}),
    ("anti_flicker enabled", "all", {"anti_flicker": {"enabled": True}}),
    ("roi + anti_flicker + trail + rate enabled", "all", {
        "roi": {"enabled": True},
        "anti_flicker": {"enabled": True},
        "event_trail_filter": {"enabled": True, "threshold_us": 1},
        "event_rate_control": {"enabled": True, "max_event_rate": 100_000_000},
    }),
]


def measure(index, tools, settings, events):
    serial = f"BENCH-{index}"
    vs.add_camera(serial, realtime=False, scene="noise", event_rate=2e7, seed=1,
                  tools=[] if tools is None else None)
    camera = vc.EvCameraService().open(serial)
    for tool_id, values in settings.items():
        assert camera.get_tool_by_id(tool_id).apply(values), tool_id
    camera.set_batch_events_num(500_000)
    assert camera.start()
    received = 0
    begin = time.perf_counter()
    while received < events:
        received += len(camera.get_next_batch())
    elapsed = time.perf_counter() - begin
    camera.close()
    vs.remove_camera(serial)
    return received / elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--events", type=int, default=20_000_000)
    args, _ = parser.parse_known_args()
    if not hasattr(vs, "add_camera"):
        print("simulated cameras are not in this build; nothing to measure")
        return
    rates = []
    for index, (name, tools, settings) in enumerate(CONFIGURATIONS):
        rates.append(max(measure(index, tools, settings, args.events) for _ in range(2)))
    print(f"baseline: {rates[0] / 1e6:.1f} M events/s delivered (noise scene, 500k-event batches)")
    for (name, _, _), rate in zip(CONFIGURATIONS, rates):
        print(f"{name:55s} {rate / rates[0]:6.2f} x baseline")


if __name__ == "__main__":
    main()
