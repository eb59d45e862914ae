# Sourced by demo.sh and test.sh: starts simulated scales on loopback.
#     start_sim_scales <sim_scale program> <folder for their output>
# starts one scale on each of 127.0.0.2, 127.0.0.3 and 127.0.0.4 (serial
# numbers QVSIM0002 to QVSIM0004, ports chosen by the system), appends their
# process ids to `sim_pids` and their ports to the array `ports`; 1 when one
# of them does not start. stop_sim_scales ends them.
sim_pids=""
ports=()

start_sim_scales() {
  local program="$1" out="$2" n port
  for n in 2 3 4; do
    # Made here, before the scale starts: the loop below may read it before
    # the background scale's own redirection has created it.
    : >"$out/sim$n.out"
    "$program" --ip "127.0.0.$n" --serial "QVSIM000$n" --quiet --seconds 60 >"$out/sim$n.out" 2>&1 &
    sim_pids="$sim_pids $!"
    # Each scale prints its port first: "sim_scale listening on IP port N ...".
    port=""
    for _ in $(seq 1 100); do
      port="$(sed -n 's/^sim_scale listening on [0-9.]* port \([0-9]*\).*/\1/p' "$out/sim$n.out")"
      [ -n "$port" ] && break
      sleep 0.05
    done
    if [ -z "$port" ]; then
      echo "the simulated scale on 127.0.0.$n did not start" >&2
      cat "$out/sim$n.out" >&2
      return 1
    fi
    ports+=("$port")
  done
}

stop_sim_scales() {
  local pid
  for pid in $sim_pids; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  sim_pids=""
}
