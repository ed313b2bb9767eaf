# Sourced by the shell tests: a line for each check, "ok: WHAT" or "FAIL: WHERE: WHAT", and a
# count. WHERE is the check's file and line, after those of the calls that led to it from the
# top level of a test's file: "tests/wine/scenarios/install.sh:12 > tests/wine/library.sh:40".
passed=0
failed=0
report_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# check WHAT COMMAND...: runs COMMAND and reports WHAT, and VELKRA_TEST_AS, by its outcome.
check() {
    local what=$1${VELKRA_TEST_AS:+ (as $VELKRA_TEST_AS)}
    shift
    if "$@"; then
        echo "ok: $what"
        passed=$((passed + 1))
        return
    fi
    echo "FAIL: $(called_from 2): $what"
    failed=$((failed + 1))
}

# called_from FRAME: where the function FRAME calls up from here was called, after the calls
# that led there from the top level of a test's file.
called_from() {
    local where= i
    for ((i = $1; i < ${#FUNCNAME[@]}; i++)); do
        where="${BASH_SOURCE[i]#"$report_root/"}:${BASH_LINENO[i - 1]}${where:+ > $where}"
        [[ ${FUNCNAME[i]} = main || ${FUNCNAME[i]} = source ]] && break
    done
    printf '%s' "$where"
}

# finish: the closing count; fails when any check failed.
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
