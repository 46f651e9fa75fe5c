"""skyset: a set of skies on Dask that survives being killed at any moment,
and whose index says what its files are."""

import csv
import json
import os
import random
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import kvsky

SKYSET = os.environ["KV_SKYSET"]
EXR_FLOATS = os.environ["KV_EXR_FLOATS"]


def skyset(*args, **kwargs):
    return subprocess.run([sys.executable, SKYSET, *map(str, args)], capture_output=True, text=True, **kwargs)


def exr_pixels(path):
    out = subprocess.run([EXR_FLOATS, str(path)], check=True, capture_output=True).stdout
    header, data = out.split(b"\n", 1)
    width, height = (int(v) for v in header.split())
    return np.frombuffer(data, dtype=np.float32).reshape(height, width, 3)


def read_jsonl(path):
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def test_a_run_killed_at_random_moments_ends_whole(tmp_path):
    spec = tmp_path / "spec.yaml"
    spec.write_text(
        "model: preetham\n"
        "turbidity: {min: 2, max: 6}\n"
        "albedo: [0.1, 0.3, 0.6]\n"
        "place: {latitude: {min: 20, max: 60}, longitude: {min: -10, max: 30}}\n"
        "moment: {from: '2026-06-21T06:00Z', to: '2026-06-21T16:00Z'}\n"
        "sampling: {method: random, count: 120, seed: 7}\n"
        "outputs: {panorama: {width: 256, format: exr}}\n"
    )
    out = tmp_path / "set"
    rng = random.Random(34)
    indexed = []
    for round in range(10):
        # Killed as a machine going down kills it: the run and its workers at
        # once. Some runs die starting, the others once they have written
        # some files, a moment later: before, while or after they write the
        # next ones and the index.
        run = subprocess.Popen(
            [sys.executable, SKYSET, str(spec), str(out), "--workers", "2"],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
        if round % 3 == 0:
            time.sleep(rng.uniform(0.0, 2.0))
        else:
            wanted = rng.randint(1, 4)
            seen = set(os.listdir(out / "skies")) if (out / "skies").exists() else set()
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and run.poll() is None:
                now = set(os.listdir(out / "skies")) if (out / "skies").exists() else set()
                if len(now - seen) >= wanted:
                    break
                time.sleep(0.01)
            time.sleep(rng.uniform(0.0, 0.1))
        try:
            os.killpg(run.pid, signal.SIGKILL)
        except ProcessLookupError:  # it ended first: all made, or nothing left to make
            pass
        run.wait()
        gone_by = time.monotonic() + 10
        while True:
            try:
                os.killpg(run.pid, 0)
            except ProcessLookupError:
                break
            assert time.monotonic() < gone_by, "a worker outlived its run"
            time.sleep(0.05)
        if (out / "index.jsonl").exists():
            indexed.append(len(read_jsonl(out / "index.jsonl")))
    done = skyset(spec, out, "--workers", "2", timeout=600)
    assert done.returncode == 0, done.stderr
    # The kills came at different stages: some runs had indexed skies, and
    # the last was still short of the set.
    assert max(indexed, default=0) > 0 and indexed[-1] < 120, indexed

    rows = read_jsonl(out / "index.jsonl")
    assert sorted(r["id"] for r in rows) == list(range(120))
    files = {r["panorama"] for r in rows}
    assert {"skies/" + n for n in os.listdir(out / "skies")} == files
    assert sorted(os.listdir(out)) == ["index.jsonl", "skies", "skyset.json"]
    for r in rows:
        pixels = exr_pixels(out / r["panorama"])
        assert pixels.shape == (128, 256, 3) and np.isfinite(pixels).all()
        assert os.path.getsize(out / r["panorama"]) == r["panorama_bytes"]
    # A sky of the set is the sky its row describes.
    r = rows[17]
    sky = kvsky.Sky(r["model"], r["turbidity"], r["albedo"], r["altitude"])
    sky.set_sun_at(r["latitude"], r["longitude"], r["time"])
    assert np.array_equal(exr_pixels(out / r["panorama"]), sky.panorama(256))
    assert r["sun_illuminance"] == pytest.approx(sky.sun_illuminance)
    assert skyset(spec, out, "--check").returncode == 0


def test_a_grid_from_json_on_a_clusters_scheduler(tmp_path):
    from dask.distributed import LocalCluster

    spec = tmp_path / "spec.json"
    spec.write_text(
        json.dumps(
            {
                "model": "physical",
                "turbidity": [2, 4],
                "altitude": {"min": 0, "max": 2000},
                "sun": {"zenith": {"min": 10, "max": 95}, "azimuth": {"min": 0, "max": 360}},
                "sampling": {"method": "grid", "steps": 3},
                "outputs": {"panorama": {"width": 32, "format": "hdr"}, "irradiance": True, "gltf": {"rings": 4}},
                "index": "csv",
            }
        )
    )
    out = tmp_path / "set"
    with LocalCluster(n_workers=1, threads_per_worker=1, dashboard_address=None) as cluster:
        done = skyset(spec, out, "--scheduler", cluster.scheduler_address, timeout=600)
    assert done.returncode == 0, done.stderr
    with open(out / "index.csv", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    # 2 turbidities x 3 altitudes x 3 zenith angles x 3 azimuths (a full turn: 0, 120, 240).
    assert len(rows) == 54
    assert sorted({float(r["sun_azimuth"]) for r in rows}) == [0.0, 120.0, 240.0]
    assert sorted({round(float(r["sun_zenith"]), 3) for r in rows}) == [10.0, 52.5, 95.0]
    r = next(r for r in rows if float(r["sun_zenith"]) == 95.0)
    assert float(r["sun_direction_y"]) < 0 and float(r["sun_illuminance"]) == 0.0
    sky = kvsky.Sky("physical", 4.0, 0.3, 1000.0)
    sky.set_sun(52.5, 120.0)
    r = next(
        r
        for r in rows
        if float(r["turbidity"]) == 4 and float(r["altitude"]) == 1000 and float(r["sun_zenith"]) == 52.5
        and float(r["sun_azimuth"]) == 120
    )
    assert float(r["horizontal_illuminance"]) == pytest.approx(sky.horizontal_illuminance[0], rel=1e-6)
    # The irradiance's constant term is the mean radiance times sqrt(4 pi) Y00.
    sh = np.array(json.loads(r["irradiance_sh"]))
    assert sh.shape == (9, 3) and sh[0].min() > 0
    for name in (r["panorama"], r["gltf"]):
        assert (out / name).exists()
    check = skyset(spec, out, "--check")
    assert check.returncode == 0, check.stdout
    # A file gone, and a stray one: --check names both, and a run mends both.
    os.remove(out / r["panorama"])
    (out / "skies" / "stray.exr").write_bytes(b"x")
    check = skyset(spec, out, "--check")
    assert check.returncode == 1
    assert r["panorama"] in check.stdout and "skies/stray.exr is in no row" in check.stdout


@pytest.mark.parametrize(
    "text,words",
    [
        ("turbidity: {min: 2}\n", "turbidity: a range is {min: A, max: B}"),
        ("turbidity: 12\n", "turbidity: 12 is out of range (1.7 to 10)"),
        ("sun: {zenith: 10, azimuth: 0}\nplace: {latitude: 1, longitude: 2}\n", "give one of them"),
        ("moment: ['2026-06-21T12:00']\nplace: {latitude: 1, longitude: 2}\n", "needs its UTC offset"),
        ("outputs: {panorama: {width: 100000}}\n", "width: 100000 is out of range"),
        ("colour: red\n", "unknown entries colour"),
    ],
)
def test_a_set_file_that_cannot_run_is_refused_in_words(tmp_path, text, words):
    spec = tmp_path / "spec.yaml"
    spec.write_text(text + "sampling: {method: grid, steps: 1}\n")
    done = skyset(spec, tmp_path / "set", "--workers", "1", timeout=300)
    assert done.returncode == 2 and words in done.stderr, done.stderr
    # Refused before anything is made: no folder is left.
    assert not (tmp_path / "set").exists()
