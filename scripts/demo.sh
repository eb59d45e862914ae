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
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$out"
}
trap cleanup EXIT

# Each scale prints its port first: "sim_scale listening on IP port N ...".
ports=()
for n in 2 3 4; do
  "$sim" --ip "127.0.0.$n" --serial "QVSIM000$n" --quiet --seconds 60 >"$out/sim$n" 2>&1 &
  pids="$pids $!"
  port=""
  for _ in $(seq 1 100); do
    port="$(sed -n 's/^sim_scale listening on [0-9.]* port \([0-9]*\).*/\1/p' "$out/sim$n")"
    [ -n "$port" ] && break
    sleep 0.05
  done
  if [ -z "$port" ]; then
    echo "demo: the simulated scale on 127.0.0.$n did not start" >&2
    cat "$out/sim$n" >&2
    exit 1
  fi
  ports+=("$port")
done

echo "Demonstration: simulated scale on 127.0.0.2 port ${ports[0]}"
status=0
"$host" "$lib" 127.0.0.2 "${ports[0]}" || status=$?
echo
echo "Demonstration: a list of the scales on 127.0.0.2 to 127.0.0.4, and 127.0.0.5 where none answers"
"$list_host" 127.0.0.2:"${ports[0]}" 127.0.0.3:"${ports[1]}" 127.0.0.4:"${ports[2]}" \
  --silent 127.0.0.5:"${ports[0]}" || status=$?
exit "$status"
