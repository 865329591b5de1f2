#!/usr/bin/python3
"""Stimuli per second: the Python module's arrays beside lumenweave-render for one
frame, and lumenweave-render --batch beside one process per image.

    /usr/bin/python3 tools/bench-stimuli.py [--build build] [--loop 100]

Every process runs without a display unless --display is given (then the single
frames and the loop draw on the GPU of $DISPLAY; a batch always uses the CPU).
Prints one table; a benchmark, not a test."""

import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile
import time


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(os.path.dirname(__file__), "..", "build"))
    parser.add_argument("--loop", type=int, default=100,
                        help="images in the one-process-per-image loop (a fifth at 1920x1080)")
    parser.add_argument("--display", action="store_true")
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import lumenweave

    tool = os.path.join(args.build, "bin", "lumenweave-render")
    env = dict(os.environ)
    if not args.display:
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
    rows = []

    # Wall-clock rate, and CPU time per item (this process's threads or its
    # children's), which another load on the machine disturbs less.
    def cpu(who):
        usage = resource.getrusage(who)
        return usage.ru_utime + usage.ru_stime

    class Timed:
        def __init__(self, name, note, who=resource.RUSAGE_CHILDREN):
            self.name, self.note, self.who, self.count = name, note, who, 0

        def __enter__(self):
            self.start, self.cpu = time.perf_counter(), cpu(self.who)
            return self

        def __exit__(self, *_):
            seconds, used = time.perf_counter() - self.start, cpu(self.who) - self.cpu
            rows.append((self.name, f"{self.count / seconds:8.1f}",
                         f"{used / self.count * 1000:9.1f}", self.note))

    def arrays(w, h, seconds):
        count, start = 0, time.perf_counter()
        while time.perf_counter() - start < seconds:
            lumenweave.render(count, (w, h))
            count += 1
        return count

    for w, h in ((640, 480), (1920, 1080)):
        arrays(w, h, 1)  # the allocator and the thread pool warm up first
        with Timed(f"arrays {w}x{h}", "render()", resource.RUSAGE_SELF) as timed:
            timed.count = arrays(w, h, 3)
        with tempfile.TemporaryDirectory() as folder, \
                Timed(f"lumenweave-render {w}x{h}", "one process, one PNG") as timed:
            for seed in range(5):
                subprocess.run([tool, "--seed", str(seed), "--size", f"{w}x{h}",
                                os.path.join(folder, "f.png")], check=True, env=env)
            timed.count = 5

    for count, (w, h) in ((1000, (256, 256)), (100, (1920, 1080))):
        loop = max(1, args.loop if w == 256 else args.loop // 5)
        with tempfile.TemporaryDirectory() as folder:
            batch = os.path.join(folder, "batch.jsonl")
            with open(batch, "w") as f:
                for seed in range(count):
                    f.write(json.dumps({"output": os.path.join(folder, f"{seed}.png"),
                                        "seed": seed, "size": f"{w}x{h}"}) + "\n")
            with Timed(f"--batch {count} x {w}x{h}", "one process, every core") as timed:
                subprocess.run([tool, "--batch", batch], check=True, env=env,
                               stderr=subprocess.DEVNULL)
                timed.count = count
            with Timed(f"loop {loop} x {w}x{h}", "one process per image") as timed:
                for seed in range(loop):
                    subprocess.run([tool, "--seed", str(seed), "--size", f"{w}x{h}",
                                    os.path.join(folder, f"{seed}.png")], check=True, env=env)
                timed.count = loop

    print(f"{'case':32} {'per s':>8} {'CPU ms':>9}  ({os.cpu_count()} cores)")
    for name, rate, used, note in rows:
        print(f"{name:32} {rate} {used}  {note}")


if __name__ == "__main__":
    main()
