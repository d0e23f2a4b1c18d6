# The pass/fail count of the Wine test harnesses (scripts/test-windows.sh and
# the dialog part it sources), sourced once before the first case.
passed=0
failed=0
# NAME: a case passed.
case_ok() {
    passed=$((passed + 1))
    echo "ok   $1"
}
# NAME [LOG]: a case failed; the end of LOG, when given, shows why.
case_fail() {
    failed=$((failed + 1))
    echo "FAIL $1"
    if [ -n "${2:-}" ] && [ -f "$2" ]; then
        tail -20 "$2" | sed 's/^/     /'
    fi
}
# The closing line; true when no case failed.
tally_end() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
