#!/usr/bin/env bash
# Draws a short series of the sample domain with tools/plot_series and checks
# that both PNGs are made. Skipped (status 77) where GMT is not installed.
# usage: run_plot_series.sh KELVO SOURCE_DIR WORK_DIR
set -euo pipefail
kelvo=$1 src=$2 work=$3
command -v gmt >/dev/null 2>&1 || { echo "gmt not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
nc=$("$kelvo" series NsBs temp 1 2 "$src/sample/metadata/NsBs_network_2004Q1.lst" p --quiet \
      --scale-dir "$src/sample/BRINO_S" --results-dir "$work" --from 2004-01-01 --to 2004-01-10)
"$src/tools/plot_series" "$nc" "$work" 2 >/dev/null
for png in "$work/NsBs_temp_series_coverage.png" "$work/NsBs_temp_series_days_layer2.png"; do
  [ "$(head -c 4 "$png" | od -An -c | tr -d ' ')" = "211PNG" ] || { echo "not a PNG: $png"; exit 1; }
done
echo "series plots made"
