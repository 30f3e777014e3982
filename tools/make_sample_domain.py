#!/usr/bin/env python3
"""Writes the NsBs sample domain of kelvo_brino from two GMT text grids.

Called by tools/make_sample_domain, which produces the inputs with GMT:

  --sea  FILE   grd2xyz output of the land/sea mask (1 = ocean, 0 = land, lake)
  --dist FILE   grd2xyz output of the distance to the nearest GSHHG shoreline, km
  --out  DIR    the sample directory (DIR/BRINO_S/NsBs_ASC/ and DIR/metadata/)

Only the Python standard library is used. Every random choice comes from a
random.Random with a fixed seed, so the same inputs always give the same files.

What is written:

  BRINO_S/NsBs_ASC/NsBs_grid_cfg                  grid sizes, level numbers, edges, steps
  BRINO_S/NsBs_ASC/NsBs_<par>_scale_lev<LL>_<c>.dat  scale factors, one file per layer/component
  BRINO_S/NsBs_ASC/NsBs_<par>_power_<c>.dat       exponents, one line of nz values
  metadata/NsBs_network_2004.lst                  the sample observing network

  <par> is salt or temp, <LL> the level number 01..05, <c> is x, y or t.

Scale files hold factors, not reaches: the tool covers a point when
dx^px*Sx + dy^py*Sy + dt^pt*St <= 1 (in weights: the product of the three
exp(-d^p*S) is at least exp(-1)). With all exponents 1 a reach of R km
is written as S = 1/R, and a time reach of T days as St = 1/T.

Observation kind codes of the network (column 51-52 of the list):
  1 research-cruise CTD station      (all layers)
  2 ferrybox, ship intake near 5 m   (surface layer only)
  3 mooring / fixed buoy             (all layers)
  4 profiling float                  (all layers)
  5 coastal station                  (all layers)
  6 glider                           (all layers)
  7 XBT / ship of opportunity        (all layers, temperature only)
"""

import argparse
import datetime as dt
import math
import os
import random
import sys

# ---------------------------------------------------------------- grid
DOMAIN = "NsBs"
WEST, EAST, SOUTH, NORTH = -20.0, 13.0, 40.0, 65.5
DLON, DLAT = 0.25, 0.125
NLON = int(round((EAST - WEST) / DLON)) + 1      # 133
NLAT = int(round((NORTH - SOUTH) / DLAT)) + 1    # 205
LEVNUM = [1, 2, 3, 4, 5]
NZ = len(LEVNUM)
# Without bathymetry the distance from the shoreline stands in for depth: a
# layer holds the ocean nodes at least this far (km) from the nearest coast.
LAYER_MIN_COAST_KM = [0.0, 15.0, 40.0, 80.0, 150.0]

NOVALUE = "99.99900"
KM_PER_DEG = 111.12

PARAMS = ("salt", "temp")
# Reach model per parameter: reach at the coast, reach far offshore (km), and
# the offshore distance (km) over which the reach grows; meridional reach as a
# fraction of the zonal one; time reach at the coast and offshore (days) and
# the bounds it is kept in.
MODEL = {
    "salt": dict(r_coast=20.0, r_open=200.0, d_scale=130.0, y_ratio=0.85,
                 t_coast=3.0, t_open=4.3, t_min=3.0, t_max=5.0, seed=2004),
    "temp": dict(r_coast=30.0, r_open=280.0, d_scale=130.0, y_ratio=0.92,
                 t_coast=5.0, t_open=8.5, t_min=5.0, t_max=10.0, seed=1996),
}
R_MIN_KM, R_MAX_KM = 12.0, 500.0


def lon_of(i):          # i = 0 .. NLON-1
    return WEST + i * DLON


def lat_of(j):          # j = 0 .. NLAT-1, j = 0 is the southern edge
    return SOUTH + j * DLAT


def read_xyz(path):
    """Reads a grd2xyz listing into a [j][i] table (j = 0 is the southern row)."""
    grid = [[None] * NLON for _ in range(NLAT)]
    n = 0
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) != 3:
                continue
            x, y, z = (float(p) for p in parts)
            i = int(round((x - WEST) / DLON))
            j = int(round((y - SOUTH) / DLAT))
            if not (0 <= i < NLON and 0 <= j < NLAT):
                sys.exit(f"{path}: node {x} {y} outside the grid")
            if abs(lon_of(i) - x) > 1e-6 or abs(lat_of(j) - y) > 1e-6:
                sys.exit(f"{path}: node {x} {y} is not on the grid lines")
            grid[j][i] = z
            n += 1
    if n != NLON * NLAT or any(v is None for row in grid for v in row):
        sys.exit(f"{path}: expected {NLON * NLAT} nodes, got {n}")
    return grid


# ---------------------------------------------------------------- text fields
def fixed(value, w, d):
    """A real right-aligned in w columns with d decimals; never wider than w."""
    text = f"{value:{w}.{d}f}"
    if len(text) > w:
        sys.exit(f"value {value} does not fit fixed({w}.{d})")
    return text


def write_lines(path, lines):
    with open(path, "w", newline="\n") as f:
        for line in lines:
            f.write(line + "\n")


def write_grid_cfg(path):
    lines = [
        "nlon,nlat,nz    " + f"{NLON:5d}{NLAT:5d}{NZ:5d}",
        "levnum          " + "".join(f"{k:4d}" for k in LEVNUM),
        "west,east,s,n   " + "".join(fixed(v, 9, 5) for v in (WEST, EAST, SOUTH, NORTH)),
        "dlon,dlat       " + fixed(DLON, 9, 5) + fixed(DLAT, 9, 5),
    ]
    for line in lines:
        assert line[:16].strip() and len(line[:16]) == 16
    write_lines(path, lines)


# ---------------------------------------------------------------- scales
class SmoothField:
    """A smooth deterministic pattern in [-1, 1]: a few plane waves with
    wavelengths of 300 to 1000 km, directions and phases from a seeded RNG."""

    def __init__(self, seed, modes=4):
        rng = random.Random(seed)
        self.waves = []
        for _ in range(modes):
            wavelength = rng.uniform(300.0, 1000.0)
            angle = rng.uniform(0.0, math.pi)
            k = 2.0 * math.pi / wavelength
            self.waves.append((rng.uniform(0.5, 1.0), k * math.cos(angle),
                               k * math.sin(angle), rng.uniform(0.0, 2.0 * math.pi)))
        self.norm = sum(w[0] for w in self.waves)

    def __call__(self, lon, lat):
        x = lon * KM_PER_DEG * math.cos(math.radians(52.0))
        y = lat * KM_PER_DEG
        return sum(a * math.sin(kx * x + ky * y + ph) for a, kx, ky, ph in self.waves) / self.norm


def layer_masks(sea, dist):
    masks = []
    for dmin in LAYER_MIN_COAST_KM:
        masks.append([[sea[j][i] == 1 and dist[j][i] >= dmin for i in range(NLON)]
                      for j in range(NLAT)])
    return masks


def scale_fields(param, masks, dist):
    """Returns {(level index k, component): rows of formatted values}."""
    m = MODEL[param]
    fx, fy, ft = (SmoothField(m["seed"] + c) for c in (1, 2, 3))
    rng = random.Random(m["seed"] * 10 + 7)
    out = {}
    for k in range(NZ):
        deeper = 1.0 + 0.10 * k          # reaches grow with depth
        deeper_t = 1.0 + 0.03 * k
        rows = {c: [] for c in "xyt"}
        for j in range(NLAT):
            lat = lat_of(j)
            # Smaller reaches to the north (smaller Rossby radius), larger to the south.
            lat_factor = 1.0 + 0.012 * (50.0 - lat)
            line = {c: [] for c in "xyt"}
            for i in range(NLON):
                # The jitter is drawn at every node, so the draws do not depend on the mask.
                jit = [rng.uniform(-0.03, 0.03) for _ in range(3)]
                if not masks[k][j][i]:
                    for c in "xyt":
                        line[c].append(NOVALUE)
                    continue
                lon = lon_of(i)
                offshore = 1.0 - math.exp(-dist[j][i] / m["d_scale"])
                r = m["r_coast"] + (m["r_open"] - m["r_coast"]) * offshore
                r *= lat_factor * deeper
                rx = r * (1.0 + 0.10 * fx(lon, lat) + jit[0])
                ry = r * m["y_ratio"] * (1.0 + 0.10 * fy(lon, lat) + jit[1])
                t = m["t_coast"] + (m["t_open"] - m["t_coast"]) * offshore
                t *= deeper_t * (1.0 + 0.06 * ft(lon, lat) + jit[2])
                rx = min(max(rx, R_MIN_KM), R_MAX_KM)
                ry = min(max(ry, R_MIN_KM), R_MAX_KM)
                t = min(max(t, m["t_min"]), m["t_max"])
                line["x"].append(fixed(1.0 / rx, 8, 5))
                line["y"].append(fixed(1.0 / ry, 8, 5))
                line["t"].append(fixed(1.0 / t, 8, 5))
            for c in "xyt":
                rows[c].append("".join(line[c]))
        for c in "xyt":
            out[(k, c)] = rows[c]
    return out


# ---------------------------------------------------------------- network
DAY0 = dt.datetime(2004, 1, 1, 0, 0)


class Network:
    def __init__(self, sea):
        self.sea = sea
        self.records = []
        self.moved = []
        self.dropped = []

    # -- positions
    def _node(self, lat, lon):
        return int(round((lon - WEST) / DLON)), int(round((lat - SOUTH) / DLAT))

    def _is_sea(self, i, j):
        return 0 <= i < NLON and 0 <= j < NLAT and self.sea[j][i] == 1

    def place(self, lat, lon, what):
        """Returns a position whose nearest grid node is ocean. A position on a
        land node is moved just inside the cell of the closest ocean node within
        three cells (coastal sites and harbour ends of tracks); None if there is none."""
        lat, lon = round(lat, 4), round(lon, 4)
        i, j = self._node(lat, lon)
        if not self._is_sea(i, j):
            best = None
            kx = KM_PER_DEG * math.cos(math.radians(lat))
            for jj in range(j - 3, j + 4):
                for ii in range(i - 3, i + 4):
                    if self._is_sea(ii, jj):
                        d = math.hypot((lon_of(ii) - lon) * kx, (lat_of(jj) - lat) * KM_PER_DEG)
                        if best is None or d < best[0]:
                            best = (d, ii, jj)
            if best is None:
                self.dropped.append(what)
                return None
            _, i, j = best
            # Closest point to the original inside the ocean node's cell, 0.4 cell margin.
            lon = lon_of(i) + max(-0.4 * DLON, min(0.4 * DLON, lon - lon_of(i)))
            lat = lat_of(j) + max(-0.4 * DLAT, min(0.4 * DLAT, lat - lat_of(j)))
            lat, lon = round(lat, 4), round(lon, 4)
            self.moved.append(what)
        # Keep clear of the exact midpoint between two nodes.
        for axis in (0, 1):
            step, edge, v = (DLAT, SOUTH, lat) if axis == 0 else (DLON, WEST, lon)
            frac = (v - edge) / step - math.floor((v - edge) / step)
            if abs(frac - 0.5) < 0.02:
                v = v - 0.03 * step if frac >= 0.5 else v + 0.03 * step
                v = round(v, 4)
                if axis == 0:
                    lat = v
                else:
                    lon = v
        assert self._is_sea(*self._node(lat, lon)), (what, lat, lon)
        return lat, lon

    # -- records
    def add(self, lat, lon, when, freq, temp, salt, kind, ident=0, what=""):
        pos = self.place(lat, lon, what or f"kind {kind}")
        if pos is None:
            return
        if temp not in (0, 1) or salt not in (0, 1) or temp + salt == 0:
            raise ValueError(f"{what}: an observation must carry temperature or salinity")
        lat, lon = pos
        date = f"{when.hour:02d}{when.day:02d}{when.month:02d}{when.year:04d}"
        ident_text = f"{ident:10d}" if ident else "        0."
        line = (fixed(lat, 8, 4) + fixed(lon, 9, 4) + date + f"{int(freq):4d}." + "  0."
                + ident_text + f"{temp:2d}{salt:2d}{kind:2d}")
        assert len(line) == 52, line
        self.records.append(line)


def km_between(a, b):
    (lat1, lon1), (lat2, lon2) = a, b
    kx = KM_PER_DEG * math.cos(math.radians(0.5 * (lat1 + lat2)))
    return math.hypot((lon2 - lon1) * kx, (lat2 - lat1) * KM_PER_DEG)


def along_track(waypoints, spacing_km):
    """Points every spacing_km along a polyline of (lat, lon) waypoints, each
    with its distance from the start; the first and last waypoints are included
    (the last is not added when it would fall within half a spacing of the previous)."""
    cum = [0.0]
    for a, b in zip(waypoints, waypoints[1:]):
        cum.append(cum[-1] + km_between(a, b))
    total = cum[-1]

    def at(s):
        for n in range(len(waypoints) - 1):
            if s <= cum[n + 1] or n == len(waypoints) - 2:
                seg = cum[n + 1] - cum[n]
                f = 0.0 if seg == 0.0 else (s - cum[n]) / seg
                a, b = waypoints[n], waypoints[n + 1]
                return (a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1]))

    pts = []
    s = 0.0
    while s <= total - 0.5 * spacing_km or not pts:
        pts.append((at(s), s))
        s += spacing_km
    if total - pts[-1][1] >= 0.5 * spacing_km or len(pts) == 1:
        pts.append((waypoints[-1], total))
    return pts


def hour_floor(t):
    return t.replace(minute=0, second=0, microsecond=0)


# Repeating coastal stations: name, lat, lon, times per year, temp, salt.
COASTAL = [
    ("Helgoland Roads",        54.1800,   7.9000, 365, 1, 1),
    ("Sylt Roads",             55.0300,   8.4600,  52, 1, 1),
    ("Boknis Eck",             54.5300,  10.0400,  12, 1, 1),
    ("Noordwijk 10 km",        52.3000,   4.3000,  12, 1, 1),
    ("Terschelling 10 km",     53.4600,   5.1000,  12, 1, 1),
    ("Belgian coast 330",      51.4300,   2.8100,  12, 1, 1),
    ("Gravelines",             51.0100,   2.0800,  24, 1, 1),
    ("Boulogne",               50.7500,   1.5200,  24, 1, 1),
    ("Dove, Northumberland",   55.1200,  -1.3800,  12, 1, 1),
    ("Stonehaven",             56.9600,  -2.1000,  52, 1, 1),
    ("Loch Ewe",               57.8400,  -5.6100,  52, 1, 1),
    ("Millport",               55.7500,  -4.9000, 365, 1, 1),
    ("Malin Head",             55.3700,  -7.3500, 365, 1, 0),
    ("Galway Bay",             53.2300,  -9.1000,  12, 1, 1),
    ("Plymouth L4",            50.2500,  -4.2200,  52, 1, 1),
    ("Western Channel E1",     50.0300,  -4.3700,  12, 1, 1),
    ("Roscoff Astan",          48.7800,  -3.9400,  24, 1, 1),
    ("Brest Portzic",          48.3600,  -4.5500,  24, 1, 1),
    ("Arcachon",               44.6700,  -1.3000,  24, 1, 1),
    ("Santander 4",            43.5700,  -3.7800,  12, 1, 1),
    ("A Coruna",               43.4200,  -8.4300,  12, 1, 1),
    ("Vigo Ria",               42.1500,  -8.8500,  52, 1, 1),
    ("Porto Leixoes",          41.1800,  -8.7200,  12, 1, 1),
    ("Aveiro",                 40.6500,  -8.7800,  12, 1, 1),
    ("Flodevigen",             58.4200,   8.7500, 365, 1, 1),
    ("Torungen",               58.3800,   8.8200,  24, 1, 1),
    ("Indre Utsira",           59.3100,   4.7500,  24, 1, 1),
    ("Sognesjoen",             61.0800,   4.7000,  24, 1, 1),
    ("Bud",                    62.9300,   6.7500,  24, 1, 1),
    ("Sklinna",                65.2000,  10.9500,  12, 1, 1),
    ("Hirtshals",              57.6000,   9.9500,  52, 1, 1),
    ("A17 Skagerrak",          58.2700,  10.5100,  12, 1, 1),
    ("Slaggo",                 58.2600,  11.4300,  24, 1, 1),
    ("Fladen",                 57.1900,  11.6700,  12, 1, 1),
    ("Anholt E",               56.6700,  12.1200,  12, 1, 1),
    ("Aalborg Bight",          56.9300,  10.5000,  12, 1, 1),
]

# Repeating moorings and fixed buoys: name, lat, lon, times per year, temp, salt, id.
MOORINGS = [
    ("Deutsche Bucht",         54.1700,   7.4500, 8760, 1, 1, 6200301),
    ("Ems",                    54.1700,   6.3500, 8760, 1, 1, 6200302),
    ("Nordsee Boje II",        55.0000,   6.3300, 8760, 1, 1, 6200303),
    ("Kiel Lighthouse",        54.5000,  10.2700, 8760, 1, 1, 6200304),
    ("Fehmarn Belt",           54.6000,  11.1500, 8760, 1, 1, 6200305),
    ("Darss Sill",             54.7000,  12.7000, 8760, 1, 1, 6200306),
    ("West Gabbard",           51.9800,   2.0800,  365, 1, 1, 6200311),
    ("Warp",                   51.5300,   1.0300,  365, 1, 1, 6200312),
    ("Dowsing",                53.5300,   1.0500,  365, 1, 1, 6200313),
    ("Oyster Grounds",         54.4100,   4.0200,  365, 1, 1, 6200314),
    ("Ekofisk",                56.5400,   3.2200, 8760, 1, 1, 6200321),
    ("M1 west of Galway",      53.1300, -11.2000, 8760, 1, 1, 6200091),
    ("M2 Irish Sea",           53.4800,  -5.4300, 8760, 1, 1, 6200092),
    ("M3 southwest Ireland",   51.2200, -10.5500, 8760, 1, 1, 6200093),
    ("M4 Donegal Bay",         55.0000, -10.0000, 8760, 1, 1, 6200094),
    ("PAP",                    49.0000, -16.5000,  365, 1, 1, 6200100),
    ("Bilbao-Vizcaya",         43.6400,  -3.0900, 8760, 1, 1, 6200331),
    ("Estaca de Bares",        44.0600,  -7.6200, 8760, 1, 1, 6200332),
    ("Villano-Sisargas",       43.5000,  -9.2100, 8760, 1, 1, 6200333),
    ("Cabo Silleiro",          42.1200,  -9.4300, 8760, 1, 1, 6200334),
    ("Channel Lightvessel",    49.9000,  -2.9000, 8760, 1, 0, 6200341),
    ("Brittany buoy",          48.5000,  -5.8000, 8760, 1, 0, 6200342),
    ("Gascogne buoy",          45.2000,  -5.0000, 8760, 1, 0, 6200343),
    ("K5",                     59.1000, -11.4000, 8760, 1, 0, 6200344),
]

# Ferrybox routes as (lat, lon) waypoints in sailing order, and their crossings:
# (departure, from the first (+1) or the last (-1) waypoint, speed km/h).
FERRIES = [
    ("Cuxhaven-Harwich", [(53.87, 8.70), (53.98, 8.25), (53.95, 7.40), (53.75, 6.20),
                          (53.50, 4.90), (52.95, 3.50), (52.25, 2.40), (51.95, 1.35)],
     [(dt.datetime(2004, 1, 1, 2), +1, 27.0), (dt.datetime(2004, 1, 2, 2), -1, 27.0)]),
    ("Kiel-Oslo", [(54.40, 10.20), (54.55, 10.30), (54.75, 10.75), (55.15, 10.95),
                   (55.45, 10.98), (55.85, 10.95), (56.25, 11.30), (56.75, 11.10),
                   (57.25, 10.85), (57.80, 10.90), (58.30, 10.60), (58.85, 10.55),
                   (59.25, 10.60), (59.60, 10.62), (59.88, 10.72)],
     [(dt.datetime(2004, 1, 1, 2), +1, 33.0), (dt.datetime(2004, 1, 2, 14), -1, 33.0)]),
    ("Portsmouth-Bilbao", [(50.75, -1.10), (50.55, -1.10), (50.10, -2.60), (49.30, -4.60),
                           (48.50, -5.60), (47.50, -5.70), (46.20, -4.90), (44.80, -3.90),
                           (43.70, -3.20), (43.38, -3.05)],
     [(dt.datetime(2004, 1, 1, 2), +1, 33.0), (dt.datetime(2004, 1, 3, 12), -1, 33.0)]),
    ("Newcastle-IJmuiden", [(55.01, -1.40), (54.80, -0.60), (54.30, 1.00), (53.70, 2.60),
                            (53.00, 3.90), (52.47, 4.55)],
     [(dt.datetime(2003, 12, 31, 17), +1, 28.0), (dt.datetime(2004, 1, 1, 17), -1, 28.0)]),
]

FERRY_SPACING_KM = 30.0

# XBT lines: waypoints, first drop time, ship speed km/h, drop spacing km.
XBT_LINES = [
    ("Channel-Azores", [(48.80, -6.00), (46.50, -11.50), (43.00, -19.90)],
     dt.datetime(2003, 12, 31, 6), 28.0, 40.0),
    ("Norwegian Sea", [(60.80, 4.30), (62.50, -1.50), (65.40, -10.00)],
     dt.datetime(2004, 1, 1, 8), 30.0, 40.0),
    ("Irish shelf-Rockall", [(51.50, -10.30), (53.80, -15.00), (55.50, -19.90)],
     dt.datetime(2003, 12, 29, 12), 30.0, 45.0),
]

# Research cruise: CTD stations along a Fair Isle - Faroe-Shetland Channel section.
CRUISE = dict(waypoints=[(59.28, 4.60), (59.28, -1.50), (60.40, -3.80), (61.50, -6.00)],
              start=dt.datetime(2003, 12, 31, 0), spacing_km=28.0, hours_per_station=3)

# Gliders: waypoints, start, hours between surfacings, speed km/h, surfacings.
GLIDERS = [
    ("Biscay shelf break", [(45.80, -4.60), (44.90, -3.20)], dt.datetime(2003, 12, 31, 12), 6, 1.1, 12),
    ("Skagerrak", [(58.05, 8.60), (57.85, 9.80)], dt.datetime(2004, 1, 1, 0), 6, 1.0, 12),
]


def build_network(sea, dist):
    net = Network(sea)

    for name, lat, lon, freq, t, s in COASTAL:
        net.add(lat, lon, DAY0.replace(hour=12), freq, t, s, 5, what=name)

    for name, lat, lon, freq, t, s, ident in MOORINGS:
        net.add(lat, lon, DAY0, freq, t, s, 3, ident=ident, what=name)

    for name, wps, crossings in FERRIES:
        for dep, direction, speed in crossings:
            track = wps if direction > 0 else list(reversed(wps))
            for (lat, lon), km in along_track(track, FERRY_SPACING_KM):
                when = hour_floor(dep + dt.timedelta(hours=km / speed))
                net.add(lat, lon, when, 0, 1, 1, 2, what=f"{name} {dep:%d %b}")

    rng = random.Random(4711)
    # Profiling floats: open water, 10-day cycles, profiles from 20 Dec 2003 to 12 Jan 2004.
    floats = 0
    ident = 6900160
    while floats < 36:
        lat = rng.uniform(SOUTH + 0.3, NORTH - 0.3)
        lon = rng.uniform(WEST + 0.3, 4.0)
        i, j = int(round((lon - WEST) / DLON)), int(round((lat - SOUTH) / DLAT))
        if sea[j][i] != 1 or dist[j][i] < 180.0:
            continue
        if lon > -4.0 and lat < 61.5:          # keep them off the shelf seas
            continue
        floats += 1
        ident += rng.choice((1, 2, 3, 5))
        first = DAY0 - dt.timedelta(days=12) + dt.timedelta(hours=rng.randrange(0, 240))
        heading = rng.uniform(0.0, 2.0 * math.pi)
        for cycle in range(3):
            when = first + dt.timedelta(days=10 * cycle)
            if when > dt.datetime(2004, 1, 12, 23):
                break
            drift = cycle * rng.uniform(4.0, 15.0)
            plat = lat + drift * math.sin(heading) / KM_PER_DEG
            plon = lon + drift * math.cos(heading) / (KM_PER_DEG * math.cos(math.radians(lat)))
            net.add(plat, plon, hour_floor(when), 0, 1, 1, 4, ident=ident, what=f"float {ident}")

    c = CRUISE
    for n, ((lat, lon), _) in enumerate(along_track(c["waypoints"], c["spacing_km"])):
        when = c["start"] + dt.timedelta(hours=c["hours_per_station"] * n)
        net.add(lat, lon, when, 0, 1, 1, 1, what=f"CTD station {n + 1}")

    for name, wps, start, every_h, speed, surfacings in GLIDERS:
        total = km_between(wps[0], wps[1])
        for n in range(surfacings):
            km = n * every_h * speed
            if km > total:
                break
            f = km / total
            lat = wps[0][0] + f * (wps[1][0] - wps[0][0])
            lon = wps[0][1] + f * (wps[1][1] - wps[0][1])
            net.add(lat, lon, start + dt.timedelta(hours=n * every_h), 0, 1, 1, 6, what=f"glider {name}")

    for name, wps, start, speed, spacing in XBT_LINES:
        for (lat, lon), km in along_track(wps, spacing):
            when = hour_floor(start + dt.timedelta(hours=km / speed))
            net.add(lat, lon, when, 0, 1, 0, 7, what=f"XBT {name}")

    return net


# ---------------------------------------------------------------- main
def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--sea", required=True)
    ap.add_argument("--dist", required=True)
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    sea = read_xyz(args.sea)
    dist = read_xyz(args.dist)
    sea = [[1 if v >= 0.5 else 0 for v in row] for row in sea]

    asc = os.path.join(args.out, "BRINO_S", f"{DOMAIN}_ASC")
    meta = os.path.join(args.out, "metadata")
    os.makedirs(asc, exist_ok=True)
    os.makedirs(meta, exist_ok=True)

    write_grid_cfg(os.path.join(asc, f"{DOMAIN}_grid_cfg"))

    masks = layer_masks(sea, dist)
    for k in range(NZ):
        print(f"layer {k + 1}: {sum(map(sum, masks[k])):6d} water points "
              f"(at least {LAYER_MIN_COAST_KM[k]:g} km from the coast)")

    for param in PARAMS:
        fields = scale_fields(param, masks, dist)
        for k in range(NZ):
            for c in "xyt":
                name = f"{DOMAIN}_{param}_scale_lev{LEVNUM[k]:02d}_{c}.dat"
                write_lines(os.path.join(asc, name), fields[(k, c)])
        for c in "xyt":
            write_lines(os.path.join(asc, f"{DOMAIN}_{param}_power_{c}.dat"),
                        ["".join(fixed(1.0, 8, 5) for _ in range(NZ))])

    net = build_network(sea, dist)
    write_lines(os.path.join(meta, f"{DOMAIN}_network_2004.lst"), net.records)
    print(f"network: {len(net.records)} observations, {len(net.moved)} positions moved "
          f"onto the nearest ocean cell, {len(net.dropped)} dropped")
    for what in net.moved:
        print(f"  moved: {what}")
    for what in net.dropped:
        print(f"  dropped: {what}")


if __name__ == "__main__":
    main()
