#!/usr/bin/env bash
# Short demonstration of the driver without a scale: starts three simulated
# scales on loopback addresses 127.0.0.2 to 127.0.0.4 (ports chosen by the
# system), runs the example host against the first and the list host against
# all three, and stops the scales again. Exits 0 when both hosts succeeded.
#     scripts/demo.sh <build folder>
set -euo pipefail
build="${1:?usage: scripts/demo.sh <build folder>}"
sim="$build/tests/sim/sim_scale"
host="$build/examples/host_demo"
list_host="$build/examples/scale_list_host"
lib="$build/src/libquorvix_driver.so"
for f in "$sim" "$host" "$list_host" "$lib"; do
  [ -e "$f" ] || { echo "demo: $f is missing; build the project first" >&2; exit 1; }
done

out="$(mktemp -d)"
# shellcheck source=scripts/sim_scales.sh
source "$(dirname "$0")/sim_scales.sh"
cleanup() { stop_sim_scales; rm -rf "$out"; }
trap cleanup EXIT
start_sim_scales "$sim" "$out" || { echo "demo: see above" >&2; exit 1; }

echo "Demonstration: simulated scale on 127.0.0.2 port ${ports[0]}"
status=0
"$host" "$lib" 127.0.0.2 "${ports[0]}" || status=$?
echo
echo "Demonstration: a list of the scales on 127.0.0.2 to 127.0.0.4, and 127.0.0.5 where none answers"
"$list_host" 127.0.0.2:"${ports[0]}" 127.0.0.3:"${ports[1]}" 127.0.0.4:"${ports[2]}" \
  --silent 127.0.0.5:"${ports[0]}" || status=$?
exit "$status"
