#!/usr/bin/env python3
"""Makes the sample network of a season, January to March 2004, on the NsBs
sample domain: sample/metadata/NsBs_network_2004Q1.lst.

The platforms are those of the one-day sample list (tools/make_sample_domain.py),
dated as a season really has them: coastal stations and moorings repeating;
every ferrybox route crossed both ways each week; profiling floats surfacing
every ten days while they drift; the CTD section of a winter cruise in early
January and again, worked the other way, in early March; glider missions in
each month; XBT lines run monthly. Sea and land come from the committed layer-1
scale file (99.999 marks land), the open ocean from layer 5, so no GMT is
needed. Fixed random seeds: reruns give identical files.

Usage: tools/make_sample_season.py [sample directory, default: sample]
"""
import datetime as dt
import math
import os
import random
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_sample_domain as base  # noqa: E402

FIRST = dt.datetime(2004, 1, 1, 0)
LAST = dt.datetime(2004, 3, 31, 23)


def water_mask(sample, level):
    name = os.path.join(sample, "BRINO_S", "NsBs_ASC", f"NsBs_salt_scale_lev{level:02d}_x.dat")
    with open(name) as f:
        rows = [line.rstrip("\n") for line in f]
    return [[0 if abs(float(row[8 * i:8 * i + 8]) - 99.999) < 1e-6 else 1 for i in range(base.NLON)]
            for row in rows]


def in_season(when):
    return FIRST <= when <= LAST


def add_ferries(net):
    for name, wps, crossings in base.FERRIES:
        speed = crossings[0][2]
        start = crossings[0][0].replace(year=2004, month=1, day=1) if crossings[0][0] < FIRST else crossings[0][0]
        for week in range(13):
            for direction, offset in ((+1, dt.timedelta(0)), (-1, dt.timedelta(days=2))):
                dep = start + dt.timedelta(days=7 * week) + offset
                track = wps if direction > 0 else list(reversed(wps))
                for (lat, lon), km in base.along_track(track, base.FERRY_SPACING_KM):
                    when = base.hour_floor(dep + dt.timedelta(hours=km / speed))
                    if in_season(when):
                        net.add(lat, lon, when, 0, 1, 1, 2, what=f"{name} {dep:%d %b}")


def add_floats(net, open_ocean):
    rng = random.Random(2004)
    ident = 6900160
    floats = 0
    while floats < 36:
        lat = rng.uniform(base.SOUTH + 0.3, base.NORTH - 0.3)
        lon = rng.uniform(base.WEST + 0.3, 4.0)
        i, j = int(round((lon - base.WEST) / base.DLON)), int(round((lat - base.SOUTH) / base.DLAT))
        if open_ocean[j][i] != 1 or (lon > -4.0 and lat < 61.5):
            continue
        floats += 1
        ident += rng.choice((1, 2, 3, 5))
        first = FIRST + dt.timedelta(hours=rng.randrange(0, 240))
        heading = rng.uniform(0.0, 2.0 * math.pi)
        speed_km_per_cycle = rng.uniform(4.0, 15.0)
        for cycle in range(10):
            when = first + dt.timedelta(days=10 * cycle)
            if not in_season(when):
                break
            drift = cycle * speed_km_per_cycle
            heading += rng.uniform(-0.4, 0.4)
            plat = lat + drift * math.sin(heading) / base.KM_PER_DEG
            plon = lon + drift * math.cos(heading) / (base.KM_PER_DEG * math.cos(math.radians(lat)))
            net.add(plat, plon, base.hour_floor(when), 0, 1, 1, 4, ident=ident, what=f"float {ident}")


def add_cruises(net):
    c = base.CRUISE
    for start, waypoints in ((dt.datetime(2004, 1, 5, 0), c["waypoints"]),
                             (dt.datetime(2004, 3, 2, 0), list(reversed(c["waypoints"])))):
        for n, ((lat, lon), _) in enumerate(base.along_track(waypoints, c["spacing_km"])):
            when = start + dt.timedelta(hours=c["hours_per_station"] * n)
            net.add(lat, lon, when, 0, 1, 1, 1, what=f"CTD station {n + 1} {start:%b}")


def add_gliders(net):
    for name, wps, start, every_h, speed, surfacings in base.GLIDERS:
        total = base.km_between(wps[0], wps[1])
        for month in range(3):
            mission = dt.datetime(2004, 1 + month, 3 + 4 * month, start.hour)
            track = wps if month % 2 == 0 else list(reversed(wps))
            for n in range(4 * surfacings):
                km = n * every_h * speed
                if km > total:
                    break
                f = km / total
                lat = track[0][0] + f * (track[1][0] - track[0][0])
                lon = track[0][1] + f * (track[1][1] - track[0][1])
                net.add(lat, lon, mission + dt.timedelta(hours=n * every_h), 0, 1, 1, 6, what=f"glider {name}")


def add_xbt(net):
    for name, wps, start, speed, spacing in base.XBT_LINES:
        for month in range(3):
            first = dt.datetime(2004, 1 + month, 10, start.hour)
            for (lat, lon), km in base.along_track(wps, spacing):
                when = base.hour_floor(first + dt.timedelta(hours=km / speed))
                net.add(lat, lon, when, 0, 1, 0, 7, what=f"XBT {name}")


def main():
    sample = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "sample")
    net = base.Network(water_mask(sample, 1))
    for name, lat, lon, freq, t, s in base.COASTAL:
        net.add(lat, lon, FIRST.replace(hour=12), freq, t, s, 5, what=name)
    for name, lat, lon, freq, t, s, ident in base.MOORINGS:
        net.add(lat, lon, FIRST, freq, t, s, 3, ident=ident, what=name)
    add_ferries(net)
    add_floats(net, water_mask(sample, 5))
    add_cruises(net)
    add_gliders(net)
    add_xbt(net)
    out = os.path.join(sample, "metadata", "NsBs_network_2004Q1.lst")
    base.write_lines(out, net.records)
    print(f"{out}: {len(net.records)} observations, {len(net.moved)} positions moved, {len(net.dropped)} dropped")


if __name__ == "__main__":
    main()
