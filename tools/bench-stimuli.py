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

    def rate(count, seconds):
        return f"{count / seconds:8.1f}"

    for w, h in ((640, 480), (1920, 1080)):
        lumenweave.render(0, (w, h))
        count, start = 0, time.perf_counter()
        while time.perf_counter() - start < 3:
            lumenweave.render(count, (w, h))
            count += 1
        rows.append((f"arrays {w}x{h}", rate(count, time.perf_counter() - start), "render()"))
        with tempfile.TemporaryDirectory() as folder:
            start = time.perf_counter()
            for seed in range(5):
                subprocess.run([tool, "--seed", str(seed), "--size", f"{w}x{h}",
                                os.path.join(folder, "f.png")], check=True, env=env)
            rows.append((f"lumenweave-render {w}x{h}", rate(5, time.perf_counter() - start),
                         "one process, one PNG"))

    for count, (w, h) in ((1000, (256, 256)), (100, (1920, 1080))):
        loop = max(1, args.loop if w == 256 else args.loop // 5)
        with tempfile.TemporaryDirectory() as folder:
            batch = os.path.join(folder, "batch.jsonl")
            with open(batch, "w") as f:
                for seed in range(count):
                    f.write(json.dumps({"output": os.path.join(folder, f"{seed}.png"),
                                        "seed": seed, "size": f"{w}x{h}"}) + "\n")
            start = time.perf_counter()
            subprocess.run([tool, "--batch", batch], check=True, env=env,
                           stderr=subprocess.DEVNULL)
            rows.append((f"--batch {count} x {w}x{h}", rate(count, time.perf_counter() - start),
                         "images per second"))
            start = time.perf_counter()
            for seed in range(loop):
                subprocess.run([tool, "--seed", str(seed), "--size", f"{w}x{h}",
                                os.path.join(folder, f"{seed}.png")], check=True, env=env)
            rows.append((f"loop {loop} x {w}x{h}", rate(loop, time.perf_counter() - start),
                         "one process per image"))

    print(f"{'case':32} {'per s':>8}  note  ({os.cpu_count()} cores)")
    for name, value, note in rows:
        print(f"{name:32} {value}  {note}")


if __name__ == "__main__":
    main()
