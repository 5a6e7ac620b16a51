#!/usr/bin/env bash
# The exits under load: busy loops on every core (niced, so other work keeps its share), then the
# exit benchmark's driver hosts (100 exits per mode, crash dumps on) and the suite's exit tests 20
# times in a row. Run inside a network namespace of its own, like the tests, from the source tree:
#   bash bench/jaeger/exitUnderLoad.sh [build folder, build] [exits per mode, 100] [test rounds, 20]
set -uo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$here" && cd "${1:-build}" && pwd) || exit 2
perMode=${2:-100}
rounds=${3:-20}

loads=()
for _ in $(seq "$(nproc)"); do
  nice -n 19 bash -c 'while :; do :; done' &
  loads+=($!)
done
trap 'kill "${loads[@]}" 2>/dev/null' EXIT

nice bash "$here/scripts/wine-run.sh" "$build/bin/bench_jaeger_exit.exe" driver "$perMode" dumps
benchResult=$?
(cd "$build" && nice ctest -R 'Exit' --repeat "until-fail:$rounds" --output-on-failure)
testResult=$?
echo "exit benchmark: $([ $benchResult -eq 0 ] && echo "no host hung" || echo "hosts hung")," \
     "exit tests: $([ $testResult -eq 0 ] && echo "passed $rounds times in a row" || echo failed)"
exit $(( benchResult || testResult ))
