#!/usr/bin/env bash
# Makes a map, a short series with --by-kind and a plan of the sample domain
# with kelvo, draws them with tools/plot_coverage, plot_series and plot_plan
# (and one through kelvo plot), and checks the figures, the formats, --help and the errors.
# usage: run_plots.sh KELVO SOURCE_DIR WORK_DIR
# Skipped (status 77) where GMT is not installed.
set -euo pipefail
kelvo=$1 src=$2 work=$3
command -v gmt >/dev/null 2>&1 || { echo "gmt not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
tools=$src/tools
common=(--domain NsBs --scale-dir "$src/sample/BRINO_S" --layers 1-2 -q)
year=$src/sample/metadata/NsBs_network_2004.lst
"$kelvo" map "${common[@]}" --param salt --obs "$year" --day 2004-01-01 --by-kind -o "$work/m.nc"
"$kelvo" series "${common[@]}" --param temp --obs "$src/sample/metadata/NsBs_network_2004Q1.lst" \
  --from 2004-01-01 --to 2004-01-10 --by-kind -o "$work/s.nc"
"$kelvo" plan "${common[@]}" --param salt --obs "$year" --day 2004-01-01 --add 2 --kind float -o "$work/p"

failed=0
check() { # check DESCRIPTION COMMAND...: counts a failure when the command fails
  local what=$1; shift
  if ! "$@"; then echo "FAILED: $what"; failed=1; fi
}
is_png() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = "211PNG" ]; }
is_pdf() { [ "$(head -c 4 "$1")" = "%PDF" ]; }
status_of() { local rc=0; "$@" >/dev/null 2>&1 || rc=$?; echo "$rc"; }

"$tools/plot_coverage" "$work/m.nc" -o "$work/fig" -q
"$tools/plot_series" "$work/s.nc" --outdir "$work/fig" --layer 2 -q
"$tools/plot_plan" "$work/p.nc" "$work/fig" 2 >"$work/plan.out"
"$kelvo" plot "$work/p.nc" -o "$work/fig" --layer 1 -q >"$work/kelvo_plot.out"
for f in m_layer1 m_layer2 s_coverage s_days_layer2 s_by_kind_layer2 p_layer2 p_layer1; do
  check "$f.png is a PNG" is_png "$work/fig/$f.png"
done
check "a line per figure written" grep -qx "written $work/fig/p_layer2.png" "$work/plan.out"
check "-q prints only the path" grep -qx "$work/fig/p_layer1.png" "$work/kelvo_plot.out"

"$tools/plot_coverage" "$work/m.nc" -o "$work/pdf" --layer 1 --format pdf -q
check "--format pdf gives a PDF" is_pdf "$work/pdf/m_layer1.pdf"
check "only the layer asked" test ! -e "$work/pdf/m_layer2.pdf"

for tool in plot_coverage plot_series plot_plan; do
  check "$tool --help exits 0" test "$(status_of "$tools/$tool" --help)" -eq 0
  check "$tool: unknown option exits 1" test "$(status_of "$tools/$tool" "$work/m.nc" --bogus)" -eq 1
done
check "--help names the files" grep -q "STEM_by_kind_layerN" <("$tools/plot_series" --help)
check "--help names the map files" grep -q "STEM_layerN" <("$tools/plot_coverage" --help)
check "bad format exits 1" test "$(status_of "$tools/plot_plan" "$work/p.nc" --format gif)" -eq 1
check "a series given to plot_coverage fails" test "$(status_of "$tools/plot_coverage" "$work/s.nc" -o "$work/x")" -ne 0
check "a layer not in the file fails" test "$(status_of "$tools/plot_plan" "$work/p.nc" --layer 9)" -ne 0

[ "$failed" -eq 0 ] || exit 1
echo "plots made and checked"
