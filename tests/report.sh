# Sourced by the shell tests: a line for each check, "ok: ..." or "FAIL: ...", and a count.
passed=0
failed=0

# check WHAT COMMAND...: runs COMMAND and reports WHAT by its outcome.
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok: $what"
        passed=$((passed + 1))
    else
        echo "FAIL: $what"
        failed=$((failed + 1))
    fi
}

# finish: the closing count; fails when any check failed.
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
