#!/usr/bin/env bash
# Runs a kelvo_brino executable bound to a golden case's input directory and
# compares its standard output, exit status and summary file byte for byte
# with the case's expected files.
# usage: run_golden_executable.sh EXE CASE_DIR RESULTS_DIR SUMMARY_NAME ARG...
# "@META@" among the arguments stands for the case's metadata list.
set -euo pipefail
exe=$1 case_dir=$2 results=$3 summary=$4
shift 4
args=()
for a in "$@"; do args+=("${a//@META@/$case_dir/input/meta.lst}"); done
rm -rf "$results" && mkdir -p "$results"
out=$(mktemp)
trap 'rm -f "$out" "$out.expected"' EXIT
status=0
"$exe" "${args[@]}" >"$out" || status=$?
[ "$status" -eq 0 ] || { echo "exit status $status, expected 0"; cat "$out"; exit 1; }
sed "s|@SCALE_DIR@|$case_dir/input/BRINO_S/|g" "$case_dir/expected_stdout.txt" >"$out.expected"
cmp "$out.expected" "$out" || { diff "$out.expected" "$out" | head -20; exit 1; }
cmp "$case_dir/expected_summary.asc" "$results/$summary"
[ "$(ls -A "$results")" = "$summary" ] || { echo "unexpected files in $results"; ls -A "$results"; exit 1; }
echo "golden run matches: $(basename "$case_dir")"
