#!/usr/bin/env bash
# The chain of the station against the Python reference: part of the full side-by-side run.
exec bash "$(dirname "$0")/run_benchmarks.sh" "$@"
