#!/usr/bin/env bash
# Short demonstration of the driver without a scale: starts the simulated
# scale on a loopback address (port chosen by the system), runs the example
# host against it and stops the scale again. Exits with the host's status.
#     scripts/demo.sh <build folder>
set -euo pipefail
build="${1:?usage: scripts/demo.sh <build folder>}"
sim="$build/tests/sim/sim_scale"
host="$build/examples/host_demo"
lib="$build/src/libquorvix_driver.so"
for f in "$sim" "$host" "$lib"; do
  [ -e "$f" ] || { echo "demo: $f is missing; build the project first" >&2; exit 1; }
done

out="$(mktemp)"
"$sim" --ip 127.0.0.2 --quiet --seconds 60 >"$out" 2>&1 &
sim_pid=$!
cleanup() { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$out"; }
trap cleanup EXIT

# The scale prints its port first: "sim_scale listening on IP port N ...".
port=""
for _ in $(seq 1 100); do
  port="$(sed -n 's/^sim_scale listening on [0-9.]* port \([0-9]*\).*/\1/p' "$out")"
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "demo: the simulated scale did not start" >&2
  cat "$out" >&2
  exit 1
fi

echo "Demonstration: simulated scale on 127.0.0.2 port $port"
status=0
"$host" "$lib" 127.0.0.2 "$port" || status=$?
exit "$status"
