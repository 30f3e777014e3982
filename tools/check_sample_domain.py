#!/usr/bin/env python3
"""Checks the files of the NsBs sample domain (standard library only).

  tools/check_sample_domain.py [sample directory, default: sample]

Checks the grid configuration columns, the line count and width of every
scale and exponent file, that every field parses, that the water of each
layer is the same in x, y and t and shrinks with depth, and that every
observation of the network lies on a layer-1 water node (nearest node). Prints
the water points per layer, the ranges of the reaches, and the observations
per kind and parameter with how many of them fall on the 1 January 2004 slot.
Exits 1 on the first failed check.
"""

import os
import re
import struct
import sys

DOMAIN = "NsBs"
PARAMS = ("salt", "temp")
NOVALUE = "99.99900"
KINDS = {1: "CTD station", 2: "ferrybox (surface)", 3: "mooring", 4: "profiling float",
         5: "coastal station", 6: "glider", 7: "XBT"}


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def julian_day(mm, dd, yy):
    jy = yy + 1 if yy < 0 else yy
    if mm > 2:
        jm = mm + 1
    else:
        jy -= 1
        jm = mm + 13
    n = int(f32(f32(30.6001) * jm)) + int(f32(f32(365.25) * jy)) + dd + 1720995
    if dd + 31 * (mm + 12 * yy) >= 588829:
        ja = int(f32(f32(0.01) * jy))
        n = n + 2 - ja + int(f32(f32(0.25) * ja))
    return n


def day_number(mm, dd, yy, hh, mi):
    f = f32(f32(mi * f32(1.0 / 1440.0)) + f32(hh * f32(1.0 / 24.0)))
    s = f32(float(julian_day(mm, dd, yy)) + f)
    return f32(s - 2451910.0)


FIXED = re.compile(r"^ *-?\d+\.\d*$")


def parse_fixed(text, where):
    if not FIXED.match(text):
        fail(f"{where}: field {text!r} is not a plain decimal")
    return float(text)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "sample"
    asc = os.path.join(root, "BRINO_S", f"{DOMAIN}_ASC")

    # Grid configuration.
    cfg = open(os.path.join(asc, f"{DOMAIN}_grid_cfg")).read().split("\n")
    if cfg[-1] != "" or len(cfg) != 5:
        fail("grid_cfg must hold exactly 4 newline-ended lines")
    nlon, nlat, nz = (int(cfg[0][16 + 5 * k:21 + 5 * k]) for k in range(3))
    if len(cfg[0]) != 31:
        fail("grid_cfg line 1 width")
    if len(cfg[1]) != 16 + 4 * nz:
        fail("grid_cfg line 2 width")
    levnum = [int(cfg[1][16 + 4 * k:20 + 4 * k]) for k in range(nz)]
    edges = [parse_fixed(cfg[2][16 + 9 * k:25 + 9 * k], "grid_cfg line 3") for k in range(4)]
    steps = [parse_fixed(cfg[3][16 + 9 * k:25 + 9 * k], "grid_cfg line 4") for k in range(2)]
    if len(cfg[2]) != 52 or len(cfg[3]) != 34:
        fail("grid_cfg line 3/4 width")
    west, east, south, north = edges
    dlon, dlat = steps
    print(f"grid: nlon {nlon} nlat {nlat} nz {nz} levnum {levnum} "
          f"edges {edges} steps {steps}")
    if (nlon - 1) * dlon + west != east or (nlat - 1) * dlat + south != north:
        fail("edges and steps do not match the sizes")

    water = {}
    for param in PARAMS:
        prev = None
        for k in range(nz):
            comp_mask = []
            for c in "xyt":
                name = f"{DOMAIN}_{param}_scale_lev{levnum[k]:02d}_{c}.dat"
                text = open(os.path.join(asc, name)).read()
                if not text.endswith("\n"):
                    fail(f"{name}: last line not ended")
                lines = text[:-1].split("\n")
                if len(lines) != nlat:
                    fail(f"{name}: {len(lines)} lines, expected {nlat}")
                mask = []
                vals = []
                for j, line in enumerate(lines):
                    if len(line) != 8 * nlon:
                        fail(f"{name} line {j + 1}: width {len(line)}, expected {8 * nlon}")
                    for i in range(nlon):
                        field = line[8 * i:8 * i + 8]
                        v = parse_fixed(field, f"{name} line {j + 1} field {i + 1}")
                        if field == NOVALUE:
                            mask.append(False)
                        else:
                            if not (0.0 < v < 1.0) or len(field.strip().split(".")[1]) != 5:
                                fail(f"{name}: bad scale {field!r}")
                            digits = field.strip().lstrip("0.").rstrip()
                            if len(digits) < 3:
                                fail(f"{name}: {field!r} keeps fewer than 3 significant digits")
                            mask.append(True)
                            vals.append(v)
                comp_mask.append(mask)
                reach = sorted(1.0 / v for v in vals)
                unit = "d" if c == "t" else "km"
                print(f"  {name}: {len(vals):5d} values, reach min {reach[0]:6.1f} "
                      f"median {reach[len(reach) // 2]:6.1f} max {reach[-1]:6.1f} {unit}")
            if not (comp_mask[0] == comp_mask[1] == comp_mask[2]):
                fail(f"{param} layer {k + 1}: x, y, t disagree on water")
            mask = comp_mask[0]
            if prev is not None and any(m and not p for m, p in zip(mask, prev)):
                fail(f"{param} layer {k + 1}: water where the layer above has none")
            prev = mask
            water[(param, k)] = mask
        for c in "xyt":
            name = f"{DOMAIN}_{param}_power_{c}.dat"
            lines = open(os.path.join(asc, name)).read().split("\n")
            if len(lines) != 2 or lines[1] != "" or len(lines[0]) != 8 * nz:
                fail(f"{name}: must be one line of {nz} fields of 8 columns")
            powers = [parse_fixed(lines[0][8 * k:8 * k + 8], name) for k in range(nz)]
            print(f"  {name}: {powers}")
    for k in range(nz):
        if water[("salt", k)] != water[("temp", k)]:
            fail(f"layer {k + 1}: salt and temp water differ")
        print(f"layer {k + 1}: {sum(water[('salt', k)]):6d} water points")

    # Network.
    lst = os.path.join(root, "metadata", f"{DOMAIN}_network_2004.lst")
    text = open(lst).read()
    if not text.endswith("\n"):
        fail("network list: last line not ended")
    lines = text[:-1].split("\n")
    if not 0 < len(lines) <= 99999:
        fail("network list: line count")
    layer1 = water[("salt", 0)]
    counts = {}
    for n, line in enumerate(lines, 1):
        where = f"network line {n}"
        if len(line) != 52:
            fail(f"{where}: width {len(line)}")
        lat = parse_fixed(line[0:8], where)
        lon = parse_fixed(line[8:17], where)
        date = line[17:27]
        if not date.isdigit():
            fail(f"{where}: date text {date!r}")
        hh, dd, mm, yy = int(date[0:2]), int(date[2:4]), int(date[4:6]), int(date[6:10])
        if not (0 <= hh <= 23 and 1 <= dd <= 31 and 1 <= mm <= 12 and yy in (2003, 2004)):
            fail(f"{where}: date {date}")
        freq = parse_fixed(line[27:32], where)
        parse_fixed(line[32:36], where)
        unused = line[36:46]
        if not (unused.strip().isdigit() or unused == "        0."):
            fail(f"{where}: columns 37-46 {unused!r}")
        temp, salt, kind = (int(line[46 + 2 * k:48 + 2 * k]) for k in range(3))
        if temp not in (0, 1) or salt not in (0, 1) or temp + salt == 0 or kind not in KINDS:
            fail(f"{where}: flags {line[46:52]!r}")
        if kind == 7 and salt:
            fail(f"{where}: XBT with salinity")
        fi = (lon - west) / dlon
        fj = (lat - south) / dlat
        if abs(fi - int(fi) - 0.5) < 1e-6 or abs(fj - int(fj) - 0.5) < 1e-6:
            fail(f"{where}: position midway between two nodes")
        i, j = int(round(fi)), int(round(fj))
        if not (0 <= i < nlon and 0 <= j < nlat) or not layer1[j * nlon + i]:
            fail(f"{where}: nearest node ({i + 1},{j + 1}) is not layer-1 water")
        repeating = 0.0 < freq < 9999.0
        if repeating:
            placed = True
        else:
            jday = day_number(mm, dd, yy, hh, 0)
            placed = abs(f32(jday - 1096.0)) < 1.0
        c = counts.setdefault(kind, [0, 0, 0, 0, 0])
        c[0] += 1
        c[1] += temp
        c[2] += salt
        c[3] += repeating
        c[4] += placed
    print(f"network: {len(lines)} observations")
    print("  kind                      all  temp  salt  repeating  on 1 Jan 2004 slot")
    tot = [0] * 5
    for kind in sorted(counts):
        c = counts[kind]
        tot = [a + b for a, b in zip(tot, c)]
        print(f"  {kind} {KINDS[kind]:<21s}{c[0]:5d}{c[1]:6d}{c[2]:6d}{c[3]:11d}{c[4]:20d}")
    print(f"  {'total':<23s}{tot[0]:5d}{tot[1]:6d}{tot[2]:6d}{tot[3]:11d}{tot[4]:20d}")
    print("OK")


if __name__ == "__main__":
    main()
