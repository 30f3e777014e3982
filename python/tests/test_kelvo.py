"""The module against the kelvo built beside it: each result is compared
with the file the command line writes for the same inputs."""
import os
import subprocess

import numpy as np
import pandas as pd
import pytest
import xarray as xr

import kelvo

SOURCE = os.environ["KELVO_SOURCE_DIR"]
KELVO = os.environ["KELVO_EXE"]
SCALE_DIR = os.path.join(SOURCE, "sample", "BRINO_S")
LIST = os.path.join(SOURCE, "sample", "metadata", "NsBs_network_2004.lst")
TREE = ["--domain", "NsBs", "--scale-dir", SCALE_DIR, "--param", "salt"]


def kelvo_map(tmp_path, obs, *extra):
    out = str(tmp_path / "map.nc")
    subprocess.run([KELVO, "map", *TREE, "--obs", obs, "--day", "2004-01-01", "-q", "-o", out, *extra], check=True)
    return xr.open_dataset(out).load()


def assert_same_file(ours, theirs, ignored=("history",)):
    """Every variable identical (values, dims, attributes), and the global attributes but `ignored`."""
    assert sorted(ours.variables) == sorted(theirs.variables)
    for name in theirs.variables:
        xr.testing.assert_identical(ours[name], theirs[name])
    strip = lambda attrs: {k: v for k, v in attrs.items() if k not in ignored}
    assert strip(ours.attrs) == strip(theirs.attrs)


def test_assess_is_the_map_file(tmp_path):
    ours = kelvo.assess("NsBs", LIST, "2004-01-01", param="salt", scale_dir=SCALE_DIR, by_kind=True)
    theirs = kelvo_map(tmp_path, LIST, "--by-kind")
    assert_same_file(ours, theirs)
    ours.to_netcdf(tmp_path / "ours.nc")
    assert_same_file(xr.open_dataset(tmp_path / "ours.nc").load(), theirs)


def test_series_is_the_series_file(tmp_path):
    season = os.path.join(SOURCE, "sample", "metadata", "NsBs_network_2004Q1.lst")
    out = str(tmp_path / "series.nc")
    subprocess.run([KELVO, "series", *TREE, "--obs", season, "--from", "2004-01-01", "--to", "2004-01-20",
                    "--step", "3", "--by-kind", "-q", "-o", out], check=True)
    ours = kelvo.series("NsBs", season, "2004-01-01", "2004-01-20", step=3, param="salt", scale_dir=SCALE_DIR,
                        by_kind=True)
    assert_same_file(ours, xr.open_dataset(out).load())


@pytest.mark.parametrize("when, options", [
    ({"day": "2004-01-01"}, ["--day", "2004-01-01"]),
    ({"start": "2004-01-01", "end": "2004-01-05"}, ["--from", "2004-01-01", "--to", "2004-01-05"]),
])
def test_plan_is_the_plan_file(tmp_path, when, options):
    subprocess.run([KELVO, "plan", *TREE, "--layers", "1-2", "--obs", LIST, *options, "--add", "3", "--kind", "float",
                    "--region", "-15", "5", "45", "60", "-q", "-o", str(tmp_path / "plan")], check=True)
    ours = kelvo.plan("NsBs", LIST, add=3, kind="float", param="salt", layers=(1, 2), region=(-15, 5, 45, 60),
                      scale_dir=SCALE_DIR, **when)
    assert_same_file(ours, xr.open_dataset(tmp_path / "plan.nc").load(), ("history", "run_id"))


def test_table_round_trip_and_dropped_rows(tmp_path):
    table = kelvo.read_observations(LIST, param="salt")
    domain = kelvo.load_domain("NsBs", "salt", scale_dir=SCALE_DIR)
    # The table taken back gives the records read from the file.
    assert_same_file(kelvo.assess(domain, table, "2004-01-01"), kelvo.assess(domain, LIST, "2004-01-01"))
    # Without the profiling floats, as kelvo on the list without their lines.
    floats = table[table.kind == 4]
    assert len(floats) > 0
    dropped = set(floats.line)
    with open(LIST) as f:
        kept = [line for n, line in enumerate(f, start=1) if n not in dropped]
    edited = tmp_path / "edited.lst"
    edited.write_text("".join(kept))
    ours = kelvo.assess(domain, table.drop(floats.index), "2004-01-01")
    theirs = kelvo_map(tmp_path, str(edited))
    for name in ("coverage", "nwater", "covered_points", "effective_coverage", "obs_kind", "obs_present"):
        xr.testing.assert_identical(ours[name], theirs[name])
    full = kelvo.assess(domain, table, "2004-01-01")
    assert (ours.covered_points < full.covered_points).any()


def test_table_of_a_csv_file_round_trips(tmp_path):
    """Times to the minute, spans and open starts come back as the CSV reader gives them."""
    table = kelvo.read_observations(LIST, param="salt")
    minutes = lambda n: pd.Timedelta(minutes=n)
    rows = ["platform,kind,latitude,longitude,time_start,time_end,parameters"]
    for i, r in enumerate(table.itertuples()):
        start = "" if pd.isna(r.time_start) else (r.time_start + minutes(i * 7 - 700)).isoformat()[:16]
        end = start and (pd.Timestamp(start) + minutes((i % 5) * 1337)).isoformat()[:16]
        if i % 11 == 3 and start:
            start = ""  # open before its end
        rows.append(f"{r.platform},{r.kind},{r.latitude},{r.longitude},{start},{end},{r.parameters}")
    csv = tmp_path / "network.csv"
    csv.write_text("\n".join(rows) + "\n")
    theirs = kelvo_map(tmp_path, str(csv))
    assert_same_file(kelvo.assess("NsBs", kelvo.read_observations(csv), "2004-01-01", param="salt",
                                  scale_dir=SCALE_DIR), theirs)


def test_domain_file_and_dataset_domain(tmp_path):
    path = str(tmp_path / "NsBs.nc")
    subprocess.run([KELVO, "domain", "convert", "--domain", "NsBs", "--scale-dir", SCALE_DIR, "-o", path], check=True)
    theirs = xr.open_dataset(path).load()
    ignored = ("history", "source", "comment")
    assert_same_file(kelvo.open_domain(path), theirs, ignored)
    assert_same_file(kelvo.open_domain("NsBs", scale_dir=SCALE_DIR), theirs, ignored)
    # A Dataset made from plain NumPy arrays is the same domain as the file.
    arrays = {name: (theirs[name].dims, np.array(theirs[name].values)) for name in theirs.data_vars}
    coords = {name: np.array(theirs[name].values) for name in ("lon", "lat", "layer")}
    built = xr.Dataset(arrays, coords=coords, attrs={"domain": "NsBs"})
    for name in ("levnum", "depth"):
        built[name] = ("layer", np.array(theirs[name].values))
    assert_same_file(kelvo.assess(built, LIST, "2004-01-01", param="salt"),
                     kelvo.assess(path, LIST, "2004-01-01", param="salt"),
                     ("history", "grid_configuration_file", "scale_directory"))


@pytest.mark.parametrize("call, error, message", [
    (lambda: kelvo.assess("NsBs", LIST, "2004-01-01", param="salinity", scale_dir=SCALE_DIR), ValueError,
     '--param "salinity": the parameter is salt (salinity) or temp (temperature)'),
    (lambda: kelvo.assess("NsBs", LIST, "2004-02-30", param="salt", scale_dir=SCALE_DIR), ValueError,
     'day "2004-02-30": no such day in the calendar'),
    (lambda: kelvo.assess("NsBs", LIST, "2004-01-01", param="salt", layers=(1, 9), scale_dir=SCALE_DIR), ValueError,
     "--layers 1-9: NsBs has layers 1 to 5"),
    (lambda: kelvo.assess("NsBS", LIST, "2004-01-01", param="salt", scale_dir=SCALE_DIR), OSError,
     "--domain NsBS: no such domain under"),
    (lambda: kelvo.read_observations("missing.lst"), OSError,
     "cannot open the observation list missing.lst: No such file or directory"),
])
def test_errors_carry_kelvos_message(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert message in str(caught.value)


def test_example_drop_floats(tmp_path):
    png = tmp_path / "drop_floats.png"
    script = os.path.join(SOURCE, "examples", "python_drop_floats.py")
    printed = subprocess.run(["/usr/bin/python3", script, str(png)], check=True, capture_output=True, text=True).stdout
    coverage = float(kelvo_map(tmp_path, LIST).effective_coverage.sel(layer=1)) * 100
    assert f"all: {coverage:.3f} % of layer 1 covered" in printed
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_python_threads_assess_side_by_side():
    from concurrent.futures import ThreadPoolExecutor
    domain = kelvo.load_domain("NsBs", "salt", scale_dir=SCALE_DIR)
    table = kelvo.read_observations(LIST, param="salt")
    days = ["2004-01-01", "2004-01-02", "2004-01-03", "2004-01-04"] * 2
    alone = [kelvo.assess(domain, table, day).coverage for day in days]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(lambda day: kelvo.assess(domain, table, day).coverage, days))
    for a, b in zip(alone, together):
        xr.testing.assert_identical(a, b)
