# Sourced by the end-to-end and package scripts.
# wait_exit PID SECONDS: waits up to SECONDS for the process (a child of the calling shell) to
# end; its exit code in $RC, 124 when it did not end (it is then killed).
wait_exit() {
  RC=124
  for _ in $(seq $(($2 * 20))); do
    if ! kill -0 "$1" 2> /dev/null; then wait "$1"; RC=$?; return 0; fi
    sleep 0.05
  done
  kill -9 "$1" 2> /dev/null
  wait "$1" 2> /dev/null
}
