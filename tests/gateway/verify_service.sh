#!/usr/bin/env bash
# The gateway's service template, checked as the service manager reads it:
# an instance of it, with the built program in place of the installed one,
# must pass `systemd-analyze verify` without a word, and keep the hardening
# it is shipped with while leaving the serial devices reachable.
# Usage: verify_service.sh UNIT_FILE GATEWAY_BINARY
# Exits 77 (skipped) where the machine has no systemd-analyze.
set -euo pipefail
unit=$1 binary=$2
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze here"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
instance="$work/vecta-gateway@truck.service"
sed "s|^ExecStart=/usr/bin/vecta-gateway |ExecStart=$binary |" "$unit" >"$instance"
grep -q "^ExecStart=$binary " "$instance" || { echo "no ExecStart of /usr/bin/vecta-gateway in $unit"; exit 1; }
out=$(systemd-analyze verify --man=no "$instance" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "systemd-analyze verify has remarks:"; echo "$out"; exit 1; }
status=0
for line in Type=notify WatchdogSec= DynamicUser=yes SupplementaryGroups=dialout NoNewPrivileges=yes \
            ProtectSystem=strict ProtectHome=yes PrivateTmp=yes RestrictAddressFamilies= \
            EnvironmentFile=/etc/vecta/gateway/%i.conf; do
  grep -q "^$line" "$unit" || { echo "$unit lacks $line"; status=1; }
done
# The unit's serial device must stay visible and usable.
if grep -Eq '^(PrivateDevices=(yes|true|on|1)|DevicePolicy=(closed|strict))' "$unit" &&
   ! grep -q '^DeviceAllow=char-tty' "$unit"; then
  echo "$unit hides the serial devices"
  status=1
fi
exit "$status"
