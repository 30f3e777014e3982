#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds come from the small test domains under tests/data/golden/ (their
grid, scale, exponent and metadata files, as whole runs and as single
fields and lines), from the edge cases of the field rules and, for
fuzz_import, from the index excerpts under tests/data/import/. Seed files are
named seed_*; files that fuzzing adds to a corpus keep libFuzzer's names.
Run it again after the test domains change; it rewrites only seed_* files
(of the targets named as arguments, or of all of them).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "..", "tests", "data", "golden")
IMPORT = os.path.join(HERE, "..", "tests", "data", "import")
SEP = b"\n==>\n"


def out_dir(target):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    return d


def write(target, name, data):
    with open(os.path.join(out_dir(target), "seed_" + name), "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ------------------------------------------------------------ whole runs

# (case, domain, parameter index: 0 salt 1 temp, first, last, tag, level numbers of the range)
GOLDEN_RUNS = [
    ("two_layers_salt", "Kat", 0, b" 1", b" 2", b"g1", [1, 5], "salt"),
    ("dateline_temp", "Dln", 1, b" 2", b" 3", b"t2", [20, 30], "temp"),
    ("empty_range", "Emp", 0, b" 2", b" 1", b"", [], "salt"),
]


def run_input(case, dom, par_index, first, last, tag, levels, par, flags=0, crlf=False):
    base = os.path.join(GOLDEN, case, "input")
    asc = os.path.join(base, "BRINO_S", dom + "_ASC")
    control = bytes([flags, par_index]) + first + last + tag
    chunks = [control, read(os.path.join(asc, dom + "_grid_cfg")), read(os.path.join(base, "meta.lst"))]
    for c in "xyt":
        chunks.append(read(os.path.join(asc, "%s_%s_power_%s.dat" % (dom, par, c))))
    for lev in levels:
        for c in "xyt":
            chunks.append(read(os.path.join(asc, "%s_%s_scale_lev%02d_%s.dat" % (dom, par, lev, c))))
    if crlf:
        chunks = [chunks[0]] + [ch.replace(b"\n", b"\r\n") for ch in chunks[1:]]
    return SEP.join(chunks)


def run_seeds():
    for case, dom, par_index, first, last, tag, levels, par in GOLDEN_RUNS:
        args = (case, dom, par_index, first, last, tag, levels, par)
        write("fuzz_run", case, run_input(*args))
        write("fuzz_run", case + "_crlf", run_input(*args, crlf=True))
    args = GOLDEN_RUNS[0]
    # An older summary of the same name and an unrelated file in the results
    # directory; no results directory; results under a regular file; no
    # run tag; no metadata list argument; the list a directory; no list file.
    for flags, name in [(0x28, "older_summary"), (0x04, "no_results_dir"), (0x10, "results_under_file"),
                        (0x01, "five_arguments"), (0x02, "four_arguments"), (0x03, "list_is_directory"),
                        (0x40, "no_list_file")]:
        write("fuzz_run", "two_layers_salt_" + name, run_input(*args, flags=flags))


# ------------------------------------------------------------ fields

INT, FIXED, TEXT, SKIP = 0, 1, 2, 3


def layout(*entries):
    b = bytes((kind << 6) | (w & 0x3F) for kind, w in entries)
    return (b + bytes(8))[:8]


def fields_input(text, d=5, blank_at=0, lay=None, text_length=10):
    lay = lay or layout((FIXED, 8), (FIXED, 8), (FIXED, 8), (FIXED, 8), (FIXED, 8))
    return bytes([blank_at, (d & 0x0F) | ((text_length - 1) << 4)]) + lay + text


def field_seeds():
    n = 0
    meta_layout = layout((FIXED, 8), (FIXED, 9), (TEXT, 10), (FIXED, 5), (FIXED, 4), (FIXED, 10), (FIXED, 2), (FIXED, 2))
    grid1_layout = layout((SKIP, 16), (INT, 5), (INT, 5), (INT, 5))
    grid2_layout = layout((SKIP, 16), (INT, 4), (INT, 4), (INT, 4), (INT, 4))
    grid3_layout = layout((SKIP, 16), (FIXED, 9), (FIXED, 9), (FIXED, 9), (FIXED, 9))
    for case, dom, _, _, _, _, _, _ in GOLDEN_RUNS:
        base = os.path.join(GOLDEN, case, "input")
        grid = read(os.path.join(base, "BRINO_S", dom + "_ASC", dom + "_grid_cfg")).split(b"\n")
        for line, lay in zip(grid, [grid1_layout, grid2_layout, grid3_layout, grid3_layout]):
            write("fuzz_fields", "%s_grid_%d" % (case, n), fields_input(line, lay=lay))
            n += 1
        for line in read(os.path.join(base, "meta.lst")).split(b"\n")[:3]:
            if line:
                write("fuzz_fields", "%s_meta_%d" % (case, n), fields_input(line, d=4, lay=meta_layout))
                n += 1
    asc = os.path.join(GOLDEN, "two_layers_salt", "input", "BRINO_S", "Kat_ASC")
    for name in ["Kat_salt_scale_lev01_t.dat", "Kat_salt_power_y.dat"]:
        line = read(os.path.join(asc, name)).split(b"\n")[-2]
        write("fuzz_fields", "scale_line_%d" % n, fields_input(line, d=5, blank_at=3))
        n += 1
    edges = [b"99.99900", b"99.99899", b" 1.50000", b"  1.5", b"1.5  ", b"150", b"    1111", b"", b"   ",
             b"1e5", b"1E+05", b"1D-3", b"1d3", b"2.5-3", b"-.5", b"+7", b"-0", b"-0.000", b"-", b".", b"-.",
             b"1e", b"1+", b"E5", b"1.5.2", b"12 34", b"2147483647", b"-2147483648", b"2147483648",
             b"3.4028235E38", b"3.4028236E38", b"1e-46", b"1.4e-45", b"0.000000000000000000000000000000000000000000001",
             b"16777217", b"0.1", b"99999999", b"1/2", b"\x00", b"\xc3\xa9", b"7\r"]
    for i, e in enumerate(edges):
        write("fuzz_fields", "edge_%02d" % i, fields_input(e, d=5 if i % 2 == 0 else 0, blank_at=i))


# ------------------------------------------------------------ writers


def item_text(s):
    return bytes([0, len(s)]) + s


def item_int(v):
    return bytes([1]) + struct.pack("<i", v)


def item_real(x):
    return bytes([2]) + struct.pack("<f", x)


def writers_input(x, w, d, m=1, v=0, items=()):
    return (struct.pack("<f", x) + bytes([w, d, m, 0]) + struct.pack("<q", v) + bytes([len(items)]) +
            b"".join(items))


def writer_seeds():
    cases = [
        ("fixed_0125", writers_input(0.125, 5, 2, 1, 123)),
        ("fixed_999996", writers_input(99.9996, 8, 3, 2, -5)),
        ("fixed_minus125", writers_input(-12.5, 5, 2, 2, 3)),
        ("fixed_minus00001", writers_input(-0.0001, 8, 3, 3, 7)),
        ("fixed_point_only", writers_input(0.4, 1, 0)),
        ("fixed_minus_point_only", writers_input(-0.4, 2, 0)),
        ("fixed_edge_minus120", writers_input(-120.0, 9, 5)),
        ("fixed_many_decimals", writers_input(0.1, 20, 18)),
        ("fixed_large", writers_input(3.0e38, 40, 2)),
        ("fixed_subnormal", writers_input(1.0e-45, 40, 39)),
        ("nan", struct.pack("<I", 0x7FC00000) + bytes([8, 3, 1, 0]) + struct.pack("<q", -9)),
        ("inf", struct.pack("<I", 0xFF800000) + bytes([4, 1, 1, 0]) + struct.pack("<q", 1 << 40)),
        ("free_layer_range", writers_input(1096.0, 12, 1, 1, 12,
                                           [item_text(b"From layer "), item_int(3), item_text(b" to layer "), item_int(12)])),
        ("free_wrap", writers_input(-182824.25, 15, 7, 1, 0,
                                    [item_text(b"m" * 40), item_text(b"f" * 60)])),
        ("free_reals", writers_input(1096.75, 15, 3, 1, 0,
                                     [item_text(b"Error in times: jday , jdayaxis(min)"), item_real(1097.0),
                                      item_real(1096.0), item_real(9999999.5), item_real(0.099999994),
                                      item_real(-1.5e-7), item_int(-2147483648)])),
        ("free_long_item", writers_input(0.5, 3, 1, 1, 0, [item_int(1), item_text(b"x" * 99), item_int(2)])),
    ]
    for name, data in cases:
        write("fuzz_writers", name, data)


# ------------------------------------------------------------ import

# (excerpt, format bit: 0 Argo, 1 in-situ)
IMPORT_EXCERPTS = [("argo_prof_excerpt.txt", 0), ("argo_synthetic_excerpt.txt", 0), ("insitu_index_excerpt.txt", 1)]


def import_seeds():
    # Control byte 0: format, bit 1 the window, bit 2 gzip, bit 3 the index
    # twice; byte 1 the region (0 none, 1 -20 15 40 65, 2 across the date
    # line, 3 rejected).
    for name, fmt in IMPORT_EXCERPTS:
        text = read(os.path.join(IMPORT, name))
        stem = name.replace("_excerpt.txt", "")
        for flags, region, tag in [(0, 0, "plain"), (2, 1, "window_region"), (4, 2, "gzip_dateline"),
                                   (8, 3, "twice_bad_region")]:
            write("fuzz_import", "%s_%s" % (stem, tag), bytes([fmt | flags, region]) + text)
        write("fuzz_import", stem + "_crlf", bytes([fmt | 2, 1]) + text.replace(b"\n", b"\r\n"))
    # The other format's excerpt (no header line), and an empty index.
    write("fuzz_import", "argo_of_insitu", bytes([0, 0]) + read(os.path.join(IMPORT, "insitu_index_excerpt.txt")))
    write("fuzz_import", "empty", bytes([1, 0]))


if __name__ == "__main__":
    import sys
    targets = sys.argv[1:] or ["fuzz_run", "fuzz_fields", "fuzz_writers", "fuzz_import"]
    if "fuzz_run" in targets:
        run_seeds()
    if "fuzz_fields" in targets:
        field_seeds()
    if "fuzz_writers" in targets:
        writer_seeds()
    if "fuzz_import" in targets:
        import_seeds()
