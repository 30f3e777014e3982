#!/usr/bin/python3
"""What the profiling floats add to the sample network: assess 1 January
2004 with every observation, then without the floats (kind 4), and draw
layer 1 of both into a PNG: water covered either way, water covered only
with the floats, water covered by neither, land.

    PYTHONPATH=build/python examples/python_drop_floats.py [OUT.png]
"""
import os
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
from matplotlib.colors import ListedColormap
from matplotlib.patches import Patch

import kelvo

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SCALE_DIR = os.path.join(ROOT, "sample", "BRINO_S")
LIST = os.path.join(ROOT, "sample", "metadata", "NsBs_network_2004.lst")
FLOAT = 4  # the kind code of profiling floats


def main(out):
    domain = kelvo.load_domain("NsBs", "salt", scale_dir=SCALE_DIR)
    table = kelvo.read_observations(LIST, param="salt")
    full = kelvo.assess(domain, table, "2004-01-01")
    without = kelvo.assess(domain, table[table.kind != FLOAT], "2004-01-01")

    layer = 1
    a = full.coverage.sel(layer=layer).values
    b = without.coverage.sel(layer=layer).values
    # 0 land, 1 water not covered, 2 covered only with the floats, 3 covered either way.
    classes = (a > 0) * 1 + (a == 2) * 1 + (b == 2) * 1
    for ds, name in ((full, "all"), (without, "without floats")):
        print(f"{name}: {float(ds.effective_coverage.sel(layer=layer)) * 100:.3f} % of layer {layer} covered")
    lost = int((classes == 2).sum())
    print(f"water points covered only with the floats: {lost}")

    colours = ["#bdbdbd", "#fdae6b", "#d7301f", "#3182bd"]
    fig, ax = plt.subplots(figsize=(7, 7.5))
    ax.pcolormesh(full.lon, full.lat, classes, cmap=ListedColormap(colours), vmin=-0.5, vmax=3.5, shading="nearest")
    present = full.obs_present.values.astype(bool) & (full.obs_kind.values == FLOAT)
    ax.plot(full.obs_lon.values[present], full.obs_lat.values[present], "kD", ms=4,
            label=f"floats in the slot ({present.sum()} of {(full.obs_kind.values == FLOAT).sum()})")
    ax.set_title(f"NsBs salinity, layer {layer}, 2004-01-01: what the floats add")
    ax.set_xlabel("longitude (degrees east)")
    ax.set_ylabel("latitude (degrees north)")
    ax.set_aspect(1.6)
    handles = [Patch(color=c, label=t) for c, t in zip(colours, [
        "land", "water not covered", f"covered only with the floats ({lost} points)", "covered without the floats"])]
    ax.legend(handles=handles + ax.get_legend_handles_labels()[0], loc="lower right", fontsize=8)
    fig.savefig(out, dpi=100, bbox_inches="tight")
    print(f"written {out}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "python_drop_floats.png")
