"""The sky from Python: the same numbers and files as the program, the
program's words for bad input, and threads that run at once."""

import os
import subprocess
import threading

import numpy as np
import pytest

import kvsky

SKYDOME = os.environ["KV_SKYDOME"]
EXR_FLOATS = os.environ["KV_EXR_FLOATS"]


def exr_pixels(path):
    out = subprocess.run([EXR_FLOATS, str(path)], check=True, capture_output=True).stdout
    header, data = out.split(b"\n", 1)
    width, height = (int(v) for v in header.split())
    return np.frombuffer(data, dtype=np.float32).reshape(height, width, 3)


def program(tmp_path, *options):
    subprocess.run([SKYDOME, "--export-only", *options], check=True, capture_output=True, cwd=tmp_path)


# The program's sky and the module's, made from the same parameters: the
# preetham sky by angles, the physical one by a place and a moment.
CASES = [
    (
        dict(model="preetham", turbidity=3.0, albedo=0.2),
        ("set_sun", (40.0, 120.0)),
        ["--sun", "40,120", "--turbidity", "3", "--albedo", "0.2"],
    ),
    (
        dict(model="physical", turbidity=2.5, albedo=0.5, altitude=1500.0),
        ("set_sun_at", (48.8566, 2.3522, "2026-06-21T19:30+02:00")),
        [
            "--sky",
            "physical",
            "--turbidity",
            "2.5",
            "--albedo",
            "0.5",
            "--altitude",
            "1500",
            "--location",
            "48.8566,2.3522",
            "--time",
            "2026-06-21T19:30+02:00",
        ],
    ),
]


@pytest.mark.parametrize("parameters,sun,options", CASES, ids=["preetham", "physical"])
def test_the_module_makes_the_programs_panorama_and_files(tmp_path, parameters, sun, options):
    sky = kvsky.Sky(**parameters)
    getattr(sky, sun[0])(*sun[1])
    width = 64
    program(tmp_path, *options, "--export-panorama", "p.exr", "--panorama-size", str(width), "--export-gltf", "p.glb")
    program(tmp_path, *options, "--export-panorama", "p.png", "--panorama-size", str(width), "--exposure", "0.2")

    pano = sky.panorama(width)
    assert pano.shape == (width // 2, width, 3) and pano.dtype == np.float32
    expected = exr_pixels(tmp_path / "p.exr")
    assert np.array_equal(pano, expected), np.max(np.abs(pano - expected))
    # The sun's disc is in it: far brighter than the brightest sky.
    assert pano.max() > 100 * np.median(pano)
    # One thread gives the same numbers as two.
    assert np.array_equal(sky.panorama(width, threads=1), pano)

    sky.write_exr(tmp_path / "m.exr", width)
    assert np.array_equal(exr_pixels(tmp_path / "m.exr"), expected)
    # No engine runs here: the PNG and the glTF come out as the program's.
    sky.write_png(tmp_path / "m.png", width, exposure=0.2)
    assert (tmp_path / "m.png").read_bytes() == (tmp_path / "p.png").read_bytes()
    sky.write_gltf(tmp_path / "m.glb")
    assert (tmp_path / "m.glb").read_bytes() == (tmp_path / "p.glb").read_bytes()


def test_radiance_of_pixel_directions_is_the_panorama_without_the_sun():
    sky = kvsky.Sky(turbidity=4.0)
    sky.set_sun(60.0, 300.0)
    width = 64
    pano = sky.panorama(width)
    height = width // 2
    theta = np.radians((np.arange(height) + 0.5) * 180.0 / height)
    compass = np.radians((np.arange(width) + 0.5) * 360.0 / width - 180.0)
    t, c = np.meshgrid(theta, compass, indexing="ij")
    # y up, +z north, +x west: the compass azimuth turns towards east, -x.
    directions = np.stack([-np.sin(t) * np.sin(c), np.cos(t), np.sin(t) * np.cos(c)], axis=-1).reshape(-1, 3)
    radiance = sky.radiance(directions * 3.0).reshape(height, width, 3)
    sun = np.degrees(np.arccos(np.clip(directions @ sky.sun_direction, -1, 1))).reshape(height, width) < 10
    assert np.allclose(radiance[~sun], pano[~sun], rtol=1e-4, atol=1e-6)
    # The brightest pixel looks at the sun the sky says it has.
    y, x = np.unravel_index(np.argmax(pano.sum(axis=2)), (height, width))
    assert sun[y, x]


@pytest.mark.parametrize(
    "make,error,words",
    [
        (lambda: kvsky.Sky(turbidity=12), ValueError, "turbidity: 12 is out of range (1.7 to 10)"),
        (lambda: kvsky.Sky(albedo=-0.5), ValueError, "albedo: -0.5 is out of range (0 to 1)"),
        (lambda: kvsky.Sky(model="physical", altitude=30000), ValueError, "altitude: 30000 is out of range"),
        (lambda: kvsky.Sky(altitude=100), ValueError, "altitude needs model physical"),
        (lambda: kvsky.Sky(model="cloudy"), ValueError, 'model needs preetham or physical, not "cloudy"'),
        (lambda: kvsky.Sky().set_sun(90, 0), ValueError, "sun: the zenith angle 90 is out of range (0 to 85"),
        (lambda: kvsky.Sky().set_sun(float("nan"), 0), ValueError, "the zenith angle nan is out of range"),
        (lambda: kvsky.Sky().set_sun(10, 360), ValueError, "the azimuth 360 is out of range"),
        (lambda: kvsky.Sky().set_sun_at(95, 0, "2026-06-21T12:00Z"), ValueError, "the latitude 95 is out of range"),
        (lambda: kvsky.Sky().set_sun_at(0, 0, "2026-06-21T12:00"), ValueError, "time: "),
        (lambda: kvsky.Sky().set_sun_at(48.9, 2.35, "2026-06-21T23:00+02:00"), ValueError, "below the horizon"),
        (lambda: kvsky.Sky().panorama(33), ValueError, "width: 33 is out of range (an even number from 16"),
        (lambda: kvsky.Sky().panorama(64, threads=3), ValueError, "threads: 3 is out of range"),
        (lambda: kvsky.Sky().radiance(np.zeros((4, 2))), ValueError, "an (N, 3) array, not one of shape (4, 2)"),
        (lambda: kvsky.Sky().radiance([[0, 0, 0]]), ValueError, "row 0 (0, 0, 0) is not a direction"),
        (lambda: kvsky.Sky().write_png("x.png", 64, exposure=2), ValueError, "exposure: 2 is out of range"),
        (lambda: kvsky.Sky().write_gltf("x.glb", rings=40), ValueError, "rings: 40 is out of range (1 to 32)"),
        (
            lambda: kvsky.Sky().write_exr("/nonexistent-folder/x.exr", 64),
            OSError,
            "Cannot write the panorama to /nonexistent-folder/x.exr: ",
        ),
        (lambda: kvsky.Sky().write_gltf("/nonexistent-folder/x.glb"), OSError, "Cannot export the dome to"),
    ],
)
def test_bad_input_gets_the_programs_words(make, error, words):
    with pytest.raises(error) as caught:
        make()
    assert words in str(caught.value)


def test_a_refused_sun_leaves_the_sun_where_it_was():
    sky = kvsky.Sky()
    sky.set_sun(30.0, 45.0)
    with pytest.raises(ValueError):
        sky.set_sun(30.0, 400.0)
    with pytest.raises(ValueError):
        sky.set_sun_at(48.9, 2.35, "2026-06-21T23:00+02:00")
    assert sky.sun == pytest.approx((30.0, 45.0))


def test_threads_share_nothing_but_the_processors():
    # Skies of their own on four threads at once, and one sky several threads
    # ask at once: each result as one thread alone makes it.
    skies = [kvsky.Sky(turbidity=2 + k) for k in range(4)]
    for k, s in enumerate(skies):
        s.set_sun(20.0 + 10 * k, 90.0 * k)
    alone = [s.panorama(128) for s in skies]
    shared = kvsky.Sky(turbidity=5)
    shared.set_sun(35.0, 200.0)
    shared_alone = shared.panorama(128, threads=1)
    results = {}

    def work(k):
        results[k] = skies[k].panorama(128, threads=1 + k % 2)
        results[("shared", k)] = shared.panorama(128, threads=1 + k % 2)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(4):
        assert np.array_equal(results[k], alone[k])
        assert np.array_equal(results[("shared", k)], shared_alone)
