# Counting a test run's results for scripts/test's closing line. The caller
# keeps the totals in passed, failed and status.

count_ctest() {  # from "N% tests passed, F tests failed out of T"
    local line t f
    line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$1" | tail -1 || true)
    if [ -z "$line" ]; then
        echo "ctest: no summary line: counted as one failure"
        failed=$((failed + 1))
        return 0
    fi
    t=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    f=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
}

# A gtest log's figures: each "Running N tests" must be answered by as many
# passed, failed and skipped; a suite that died or was killed part way is
# short, and the tests it never ran count as failed. A suite that ended
# non-zero without a single failure counted (it never started, or died before
# its first test) counts as one failure.
count_gtest() {  # count_gtest LOG EXIT_CODE
    local log=$1 rc=$2 running p f s short
    sum() { grep -hE "$1" "$log" | sed -E 's/[^0-9]*([0-9]+).*/\1/' | awk '{s+=$1} END {print s+0}' || true; }
    running=$(sum '^\[==========\] Running [0-9]+ tests?')
    p=$(sum '^\[  PASSED  \] [0-9]+ tests?')
    f=$(sum '^\[  FAILED  \] [0-9]+ tests?, listed below')
    s=$(sum '^\[  SKIPPED \] [0-9]+ tests?')
    short=$((running - p - f - s))
    if ((short > 0)); then
        echo "$(basename "$log" .log): $short of $running tests never ran (a suite died or was stopped part way): counted as failed"
        f=$((f + short))
    fi
    if ((rc != 0 && f == 0)); then
        echo "$(basename "$log" .log): ended with exit code $rc and no test result: counted as one failure"
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    if ((f > 0)); then status=1; fi
}
