"""kelvo from Python: the effective coverage of an ocean observing network.

The functions read domains and observations and run kelvo's analyses with
the tools' own C++ (the extension kelvo._kelvo), and return xarray and
pandas objects holding what the tools' files hold:

    open_domain(path_or_name, scale_dir=None)  -> xarray.Dataset, the domain file
    read_observations(*paths, param=None)       -> pandas.DataFrame, one row per record
    assess(domain, observations, day, param=...) -> xarray.Dataset, the `kelvo map` file
    series(domain, observations, start, end, step=1, param=...) -> xarray.Dataset, the `kelvo series` file
    plan(domain, observations, add=K, kind=..., day=... or start=/end=) -> xarray.Dataset, `kelvo plan`'s file
    load_domain(domain, param, layers=None)     -> Domain, read once for many assessments

A domain is a domain file (FILE.nc), the name of a domain tree under
`scale_dir` (the folder of the <NAME>_ASC folders), a Dataset with the
domain file's variables (as open_domain gives), or a Domain. Observations
are observation files (lists, CSV tables, index files), or a DataFrame with
the columns read_observations gives. Errors are kelvo's: a file that cannot
be opened is an OSError, anything else a ValueError, with kelvo's message.

KELVO_THREADS sets the number of threads, as for kelvo; the engine runs
without holding the GIL.
"""

import datetime as _datetime
import os as _os
import tempfile as _tempfile

import numpy as _np
import pandas as _pd
import xarray as _xr

from . import _kelvo
from ._kelvo import Domain

__all__ = ["Domain", "open_domain", "load_domain", "read_observations", "assess", "series", "plan"]

# The columns of an observation table, in the order read_observations gives them.
OBSERVATION_COLUMNS = ["platform", "kind", "layer", "latitude", "longitude", "time_start", "time_end",
                       "parameters", "source", "line"]


def _dataset(raw):
    """The Dataset of a file's raw variables and attributes, decoded as
    xarray decodes the file it opens (fill values, times, coordinates,
    character arrays as strings)."""
    variables = {name: _xr.Variable(dims, data, attrs) for name, dims, data, attrs in raw["variables"]}
    return _xr.decode_cf(_xr.Dataset(variables, attrs=raw["attrs"]))


def _scale_dir(scale_dir):
    return _kelvo.default_scale_dir() if scale_dir is None else _os.fspath(scale_dir)


def _layers_text(layers):
    """kelvo's --layers text of None (every layer), N, (A, B) or "A-B"."""
    if layers is None:
        return ""
    if isinstance(layers, str):
        return layers
    if isinstance(layers, (tuple, list)):
        first, last = layers
        return f"{int(first)}-{int(last)}"
    return str(int(layers))


def _day_text(day):
    """kelvo's --day text of a date: YYYY-MM-DD, or YYYY-MM-DDTHH:MM when it has a time of day."""
    if isinstance(day, str):
        return day
    t = _pd.Timestamp(day)
    return t.strftime("%Y-%m-%dT%H:%M") if (t.hour, t.minute) != (0, 0) else t.strftime("%Y-%m-%d")


def open_domain(path_or_name, scale_dir=None):
    """The whole domain as an xarray.Dataset with the variables and attributes
    of its domain file.

    `path_or_name` is a domain file FILE.nc (any value ending in .nc or
    holding a /), read layer by layer, or the name of a domain tree under
    `scale_dir` (default: kelvo's built-in scale directory). The Dataset
    holds lon, lat, layer, levnum, depth, and for each parameter P the
    planes P_scale_x, P_scale_y, P_scale_t (layer, lat, lon; float32, NaN
    where there is no value, land) and the exponents P_power_x, P_power_y,
    P_power_t (layer); global attributes domain, parameters, west, east,
    south, north, dlon, dlat and longitude_periodic. `to_netcdf()` writes a
    domain file every kelvo command reads.
    """
    return _dataset(_kelvo.open_domain(_os.fspath(path_or_name), _scale_dir(scale_dir)))


def load_domain(domain, param, layers=None, scale_dir=None):
    """The domain read once for parameter `param` ("salt" or "temp") and
    `layers` (None: every layer; N; (A, B); or "A-B"), for many assessments.

    `domain` is a domain file, a tree's name under `scale_dir`, or a Dataset
    with the domain file's variables: such a Dataset is written to a
    temporary domain file and read back by kelvo's reader, so that it means
    exactly what the file would (no value where a scale is NaN, the fill
    value or 99.999; the grid's edges from the attributes, else from lon and lat).
    """
    if isinstance(domain, Domain):
        return domain
    if isinstance(domain, _xr.Dataset):
        with _tempfile.TemporaryDirectory(prefix="kelvo-domain-") as folder:
            name = domain.attrs.get("domain", "domain")
            path = _os.path.join(folder, f"{name}.nc")
            domain.to_netcdf(path)
            return _kelvo.load_domain(path, _scale_dir(scale_dir), param, _layers_text(layers))
    return _kelvo.load_domain(_os.fspath(domain), _scale_dir(scale_dir), param, _layers_text(layers))


def read_observations(*paths, param=None, lenient=False):
    """The records of observation files as a pandas.DataFrame, read as kelvo
    reads its --obs files (lists, CSV tables and index files; a record of
    several files kept once).

    Columns: platform (its id, "" when none), kind (code 1-7), layer (the
    layer it counts for: -9 every layer, 0 none), latitude, longitude,
    time_start and time_end (datetime64[ns], to the minute; NaT at an open
    end, both NaT for a record present at every time), parameters ("TEMP",
    "PSAL" or "TEMP PSAL"), source (its file) and line (its line there).
    `param` ("salt" or "temp") keeps only the records of that parameter, as
    kelvo does; by default every record is kept. A line that cannot be
    read is an error, unless `lenient` (the list is read up to it).
    Rows may be dropped or edited: assess takes the table back.
    """
    if not paths:
        raise ValueError("read_observations: no observation file given")
    columns = _kelvo.read_observations([_os.fspath(p) for p in paths], param or "", bool(lenient))
    table = _pd.DataFrame({name: columns[name] for name in OBSERVATION_COLUMNS})
    for name in ("time_start", "time_end"):
        table[name] = table[name].to_numpy().view("datetime64[ns]")
    return table


def _columns(observations, param):
    """The columns of observations (a DataFrame, or files to read) as the
    extension takes them: times as nanoseconds from 1970, NaT as its integer."""
    if not isinstance(observations, _pd.DataFrame):
        paths = [observations] if isinstance(observations, (str, _os.PathLike)) else list(observations)
        observations = read_observations(*paths, param=param)
    missing = [c for c in OBSERVATION_COLUMNS if c not in observations.columns and c != "layer"]
    if missing:
        raise ValueError("observations: the table has no column " + ", ".join(missing))
    columns = {}
    for name in ("kind", "latitude", "longitude", "line"):
        columns[name] = observations[name].to_numpy()
    columns["layer"] = observations["layer"].to_numpy() if "layer" in observations.columns else None
    for name in ("time_start", "time_end"):
        times = observations[name].to_numpy()
        if times.dtype != _np.dtype("datetime64[ns]"):  # dates of another kind or unit: converted first
            times = _pd.to_datetime(observations[name]).to_numpy().astype("datetime64[ns]")
        columns[name] = times.view("int64")
    for name in ("platform", "parameters", "source"):
        columns[name] = ["" if v is None else str(v) for v in observations[name]]
    return columns


def assess(domain, observations, day, param=None, layers=None, by_kind=False, scale_dir=None):
    """The coverage map of one day: an xarray.Dataset with the variables,
    values and attributes of the file `kelvo map` writes for the same
    inputs (its `to_netcdf()` writes that file's contents).

    `domain`: a domain file, a tree's name under `scale_dir`, a Dataset with
    the domain file's variables, or a Domain (load_domain), whose parameter
    and layers are then the assessment's. `observations`: a DataFrame as
    read_observations gives (edited as you like), or observation files.
    `day`: "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or a date or timestamp (UTC).
    `param`: "salt" or "temp"; `layers`: None (every layer), N, (A, B) or
    "A-B"; `by_kind`: also each platform kind's coverage alone and without it.

    Variables: coverage(layer, lat, lon) (0 land, 1 water not covered, 2
    water covered), nwater, covered_points and effective_coverage per
    layer, the kept observations (obs_lat, obs_lon, obs_kind, obs_layer,
    obs_present, obs_platform) and, with by_kind, coverage_by_kind and
    coverage_without_kind.
    """
    loaded = _loaded(domain, param, layers, scale_dir)
    history = _history("kelvo.assess", loaded, "--day", _day_text(day), *(["--by-kind"] if by_kind else []))
    raw = _kelvo.assess(loaded, _columns(observations, loaded.param), _day_text(day), bool(by_kind), history)
    return _dataset(raw)


def series(domain, observations, start, end, step=1, param=None, layers=None, by_kind=False, scale_dir=None):
    """The coverage of every `step`-th day from `start` to `end` (included):
    an xarray.Dataset with the variables, values and attributes of the file
    `kelvo series` writes for the same inputs.

    The arguments are those of assess, with the period's first and last
    days (`start`, `end`: "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or dates) for its
    day. Each day is exactly that day's assessment; the inputs are prepared
    once and the days shared among the threads.

    Variables: time, covered_points(time, layer), effective_coverage(time,
    layer), observations_in_slot(time), nwater(layer),
    covered_days_fraction(layer, lat, lon) (the share of the days each water
    point is covered; NaN on land) and, with by_kind,
    coverage_by_kind(time, kind, layer).
    """
    loaded = _loaded(domain, param, layers, scale_dir)
    history = _history("kelvo.series", loaded, "--from", _day_text(start), "--to", _day_text(end),
                       "--step", str(int(step)), *(["--by-kind"] if by_kind else []))
    raw = _kelvo.series(loaded, _columns(observations, loaded.param), _day_text(start), _day_text(end), int(step),
                        bool(by_kind), history)
    return _dataset(raw)


def plan(domain, observations, add, kind, day=None, start=None, end=None, param=None, layers=None, region=None,
         sites=None, scale_dir=None):
    """Where `add` new platforms of `kind` would cover the most: an
    xarray.Dataset with the variables, values and attributes of the NetCDF
    file `kelvo plan` writes for the same inputs (kelvo's list of the plan
    is not made).

    `kind` is a kind code 1-7 or a kind's name ("float", "mooring",
    "ferrybox", ...). Either `day` (the network that day: each observation's
    and platform's unique coverage, then the greedy picks) or `start` and
    `end` (fixed platforms chosen for the covered point-days of the period).
    Candidates are the water points of the first layer, or the sites of the
    file `sites` (in the list's columns), inside `region` (west, east,
    south, north) when given. The other arguments are those of assess.

    Variables: covered_points_before and covered_points_after (layer), the
    kept observations (obs_list, obs_line, obs_present, obs_platform,
    obs_lat, obs_lon, obs_kind, obs_unique_points), each platform's
    platform_unique_points, the picks (pick_lat, pick_lon, pick_new_points)
    and coverage(layer, lat, lon): 0 land, 1 water not covered, 2 covered, 3
    newly covered by the plan.
    """
    if (day is None) == (start is None and end is None):
        raise ValueError("plan: give either day, or start and end")
    loaded = _loaded(domain, param, layers, scale_dir)
    when = ["--day", _day_text(day)] if day is not None else ["--from", _day_text(start), "--to", _day_text(end)]
    history = _history("kelvo.plan", loaded, *when, "--add", str(int(add)), "--kind", str(kind))
    raw = _kelvo.plan(loaded, _columns(observations, loaded.param), int(add), str(kind),
                      "" if day is None else _day_text(day), "" if start is None else _day_text(start),
                      "" if end is None else _day_text(end), [] if region is None else [float(v) for v in region],
                      "" if sites is None else _os.fspath(sites), history)
    return _dataset(raw)


def _loaded(domain, param, layers, scale_dir):
    """The Domain of an analysis: the one given, or the domain read for `param` and `layers`."""
    if isinstance(domain, Domain):
        if param is not None and param != domain.param:
            raise ValueError(f"param {param!r}: the domain was loaded for {domain.param!r}")
        return domain
    if param is None:
        raise ValueError("param is required: salt (salinity) or temp (temperature)")
    return load_domain(domain, param, layers, scale_dir)


def _history(call, loaded, *options):
    """The words of the history attribute: the call and kelvo's options for it."""
    return [call, "--domain", loaded.name, "--param", loaded.param,
            "--layers", f"{loaded.first_layer}-{loaded.last_layer}", *options]
