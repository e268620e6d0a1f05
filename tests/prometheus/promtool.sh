#!/usr/bin/env bash
# promtool with the given arguments (check config, check rules, test rules on
# the fleet's Prometheus files); exits 77 (skipped) where it is not installed.
set -euo pipefail
command -v promtool >/dev/null || { echo "no promtool here"; exit 77; }
exec promtool "$@"
