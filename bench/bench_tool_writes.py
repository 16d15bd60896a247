"""What ordinary tool writes cost: the resident memory a process gains over
200,000 `set` calls on one tool, and the time per call, in a fresh process
each, with and without the simulator module loaded (loading it is what
turns the record of tool writes on).

    python bench/bench_tool_writes.py [--calls N]
"""

import argparse
import json
import subprocess
import sys

PROGRAM = r"""
import json, sys, time
import vantrel_core as vc
if {with_sim}:
    import vantrel_sim

def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])

tool = vc.EvCameraService().open("VTR-SIM-0001").get_tool_by_id("bias")
tool.set("threshold_on", 1)
before = rss_kib()
begin = time.perf_counter()
for i in range({calls}):
    tool.set("threshold_on", i % 50)
elapsed = time.perf_counter() - begin
print(json.dumps({{"grown_kib": rss_kib() - before, "us_per_call": elapsed / {calls} * 1e6}}))
"""


def run(with_sim, calls):
    out = subprocess.run([sys.executable, "-c", PROGRAM.format(with_sim=with_sim, calls=calls)],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=200_000)
    args = parser.parse_args()
    for with_sim in (False, True):
        figures = run(with_sim, args.calls)
        label = "with vantrel_sim loaded" if with_sim else "vantrel_core only"
        print(f"{label:26} {args.calls} set calls: resident memory +{figures['grown_kib'] / 1024:.1f} MiB, "
              f"{figures['us_per_call']:.2f} us per call")


if __name__ == "__main__":
    main()
