# Sourced by the shell test scripts: one line per check, "ok   - ..." or
# "FAIL - ..." with what was expected; finish() prints the tally and sets
# the exit status.
passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok   - $*"; }
bad() { failed=$((failed + 1)); echo "FAIL - $*"; }
check() {  # check "description" actual expected
    if [ "$2" == "$3" ]; then ok "$1"; else
        bad "$1"; printf '       expected: %q\n       actual:   %q\n' "$3" "$2"; fi
}
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
holds() {  # holds "description" command...: ok when the command succeeds
    local description=$1; shift
    if "$@"; then ok "$description"; else bad "$description"; fi
}
