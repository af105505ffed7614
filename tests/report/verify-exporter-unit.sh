#!/bin/sh
# Checks the exporter's systemd unit with systemd-analyze, pointing it at the program just built
# (the installed path need not exist here). Exit 77: skipped, where systemd-analyze is missing.
set -eu
program="$1"
unit="$2"
command -v systemd-analyze >/dev/null || { echo "skipped: systemd-analyze is not installed"; exit 77; }
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
sed "s|^ExecStart=/usr/bin/ostrelle|ExecStart=$program|" "$unit" >"$folder/ostrelle-exporter.service"
# The manual page is checked by the package's own test, once it is installed.
systemd-analyze verify --man=no "$folder/ostrelle-exporter.service"
# Every hardening setting counted: no more exposure than "OK" (below 2).
exposure="$(systemd-analyze security --offline=yes "$folder/ostrelle-exporter.service" | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')"
echo "exposure $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e < 2.0) }'
