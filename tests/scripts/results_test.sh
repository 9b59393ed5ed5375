#!/usr/bin/env bash
# scripts/test's closing line: a suite that died, ran short or never started
# is counted as failed, never as passed.
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/results.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
bad=0
# exit code | log lines (\n-separated) | passed failed status
while IFS='|' read -r rc lines want; do
    printf '%b' "$lines" >"$log"
    passed=0 failed=0 status=0
    count_gtest "$log" "$rc" >/dev/null
    got="$passed $failed $status"
    if [[ $got != "$want" ]]; then echo "rc=$rc log='$lines': got '$got', want '$want'"; bad=1; fi
done <<'ROWS'
0|[==========] Running 3 tests from 1 test suite.\n[  PASSED  ] 3 tests.\n|3 0 0
1|[==========] Running 3 tests from 1 test suite.\n[  PASSED  ] 2 tests.\n[  FAILED  ] 1 test, listed below:\n|2 1 1
1|[==========] Running 77 tests from 9 test suites.\n[       OK ] A.B (1 ms)\n|0 77 1
0|[==========] Running 4 tests from 1 test suite.\n[  PASSED  ] 3 tests.\n[  SKIPPED ] 1 test, listed below:\n|3 0 0
2|wine-tests: wine is not installed\n|0 1 1
1|[==========] Running 5 tests.\n[  PASSED  ] 5 tests.\n[==========] Running 2 tests.\n|5 2 1
ROWS
exit $bad
