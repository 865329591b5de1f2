# The module's arrays against lumenweave-render's PNGs, read by Pillow. Under a
# display the renderer draws on the GPU, so these compare the two routes.
import functools
import io
import os
import subprocess
import sys
import threading

import numpy as np
import pytest
from PIL import Image

import lumenweave

RENDER = os.environ.get("LUMENWEAVE_RENDER", "lumenweave-render")

# An X server of its own, ending with this process: the renderer draws on the
# GPU there, and no other test's windows share it.
_server = subprocess.Popen(["setpriv", "--pdeathsig", "TERM", "Xvfb", "-displayfd", "1", "-screen",
                            "0", "1920x1080x24", "-nolisten", "tcp", "-noreset"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"})
_number = _server.stdout.readline().decode().strip()
assert _number, "Xvfb did not start"
os.environ["DISPLAY"] = ":" + _number
os.environ.pop("WAYLAND_DISPLAY", None)

# The renderer's options and the same settings in Python.
CASES = {
    "single": ([], {}),
    "stereo": (["--stereo", "--disparity", "0.5"], dict(stereo=True, disparity=0.5)),
    "colour": (["--color", "--scale", "1.5"], dict(color=True, scale=1.5)),
    "anaglyph": (["--stereo-layout", "anaglyph"], dict(stereo_layout="anaglyph")),
    "narrow pair": (["--stereo-layout", "cross", "--pair-width", "2", "--gap", "0.5",
                     "--fusion-marks"],
                    dict(stereo_layout="cross", pair_width=2, gap=0.5, fusion_marks=True)),
    # A strip narrower than the picture, so the two variants differ.
    "centred autostereogram": (["--autostereogram", "--columns", "2"],
                               dict(autostereogram=True, columns=2)),
    "left-anchored autostereogram": (["--autostereogram", "--columns", "2", "--generator", "cpu"],
                                     dict(autostereogram=True, columns=2, anchored_left=True)),
    "time": (["--time", "2.35", "--rotation", "--phase-drift", "--breathing", "--spins",
              "--illuminant", "--speed", "fast"],
             dict(time=2.35, rotation=True, phase_drift=True, breathing=True, spins=True,
                  illuminant=True, speed="fast")),
}


@pytest.mark.parametrize("case", CASES)
def test_arrays_are_the_renderers_pngs(tmp_path, case):
    arguments, settings = CASES[case]
    path = tmp_path / "field.png"
    subprocess.run([RENDER, "--seed", "7", "--size", "300x200", *arguments, str(path)],
                   check=True, timeout=120, env=dict(os.environ, XDG_RUNTIME_DIR=str(tmp_path)))
    with Image.open(path) as png:
        expected = np.asarray(png.convert("RGB"))
    actual = lumenweave.render(7, (300, 200), **settings)
    assert actual.dtype == np.uint8 and actual.shape == expected.shape
    assert np.array_equal(actual, expected)


def test_frames_are_the_pictures_at_their_times():
    frames = lumenweave.frames(3, (64, 48), 4, 0.75, time=1, rotation=True, phase_drift=True)
    assert len(frames) == 3
    for k, frame in enumerate(frames):
        expected = lumenweave.render(3, (64, 48), time=1 + k / 4, rotation=True, phase_drift=True)
        assert np.array_equal(frame, expected), k
    assert k == 2


def test_tile_set_holds_the_seeds_known_values():
    # Seed 1's first two sets, as the tile set's own test pins them.
    seed = 1
    tiles = lumenweave.tile_set(seed, (800, 600))
    for i, (orientation, frequency, contrast) in enumerate([(90, 7.4746, 0.9797),
                                                            (75, 5.6655, 0.8340)]):
        assert tiles["orientation"][i] == orientation
        assert tiles["frequency"][i] == pytest.approx(frequency, abs=1e-4)
        assert tiles["contrast"][i] == pytest.approx(contrast, abs=1e-4)
    assert len(tiles["frequency"]) == 7 and set(tiles["sigma"]) == {0.32}
    assert tiles["cells"].shape == (5, 7) and tiles["cell_size"] == 128
    assert tiles["cells"].min() >= 0 and tiles["cells"].max() < 7
    # A 2 cm pair's halves (76 pixels, under 16-pixel bands for the marks) hold
    # cells of 76.
    pair = lumenweave.tile_set(seed, (800, 600), stereo=True, pair_width=2, fusion_marks=True)
    assert pair["cells"].shape == (8, 1) and pair["cell_size"] == 76
    # Where the grid fits the picture, cells of one set look alike and of two differ.
    cells = lumenweave.tile_set(seed, (896, 640))["cells"].ravel()
    blocks = lumenweave.render(seed, (896, 640)).reshape(5, 128, 7, 128 * 3).swapaxes(1, 2)
    looks = np.unique(blocks.reshape(35, -1), axis=0, return_inverse=True)[1].ravel()
    assert len(set(zip(cells, looks))) == len(set(cells)) == len(set(looks))


@pytest.mark.parametrize("call, error", [
    (lambda: lumenweave.render(-1), ValueError),
    (lambda: lumenweave.render(2**64), ValueError),
    (lambda: lumenweave.render(1, (0, 10)), ValueError),
    (lambda: lumenweave.render(1, (9000, 10), scale=2), ValueError),
    (lambda: lumenweave.render(1, (10,)), ValueError),
    (lambda: lumenweave.render(1, no_such_option=1), ValueError),
    (lambda: lumenweave.render(1, fps=30), ValueError),
    (lambda: lumenweave.render(1, stereo="yes"), ValueError),
    (lambda: lumenweave.render(1, columns=[3]), TypeError),
    (lambda: lumenweave.render(1, anchored_left=1), TypeError),
    (lambda: lumenweave.frames(1, (10, 10), 3, 0.5), ValueError),
    (lambda: lumenweave.tile_set(1, patch_size=0), ValueError),
])
def test_bad_arguments_raise(call, error):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value)


def test_threads_render_at_once():
    # Depth tables of two sizes at once (wide pictures of narrow strips), and a
    # stereo pair joined meanwhile.
    settings = {1: dict(stereo=True), 2: dict(autostereogram=True, patch_size=20, columns=2),
                3: dict(autostereogram=True, patch_size=30, columns=5, color=True)}
    expected = {seed: lumenweave.render(seed, (1200, 200), **s) for seed, s in settings.items()}
    results = {}

    def work(seed):
        results[seed] = [lumenweave.render(seed, (1200, 200), **settings[seed]) for _ in range(10)]

    threads = [threading.Thread(target=work, args=(seed,)) for seed in settings]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert set(results) == set(settings)
    for seed, arrays in results.items():
        assert all(np.array_equal(a, expected[seed]) for a in arrays), seed


def test_other_threads_run_while_a_picture_is_made():
    # The rendering thread's profile notes the call and its return from C (no
    # thread switch can come between); the main thread's notes fall between them
    # only if the GIL was given up.
    log = io.StringIO()

    frames = lumenweave.frames(1, (1600, 1200), 1, 1)

    def work():
        sys.setprofile(functools.partial(print, file=log))
        lumenweave.render(1, (1600, 1200))
        next(frames)
        sys.setprofile(None)

    thread = threading.Thread(target=work)
    thread.start()
    while thread.is_alive():
        log.write("main\n")
    lines = log.getvalue().splitlines()
    for name in ("method render", "function next"):
        call, back = [i for i, line in enumerate(lines) if f"built-in {name}" in line]
        assert "main" in lines[call + 1:back], name
