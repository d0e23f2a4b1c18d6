#!/usr/bin/env bash
# completion_test.sh COMPLETION VELMORA_CLI: completes command lines as bash
# would on Tab, against the real program's --help, and checks the offers.
set -u
source "$1"
cli=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/lists" "$work/logs"
touch "$work/image.bin" "$work/lists/astra.sdx"

passed=0
failed=0
# expect "OFFERS, SORTED" WORD...: the last word is the one being completed.
expect() {
    local want=$1
    shift
    COMP_WORDS=("$cli" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _velmora_cli 2>/dev/null
    # bash sorts the offers it shows; compare them sorted too.
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ')
    if [ "$got" = "$want" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: velmora-cli $*<Tab>: got [$got], want [$want]"
    fi
}

# Subcommands, and options that belong to the subcommand typed.
expect "convert inspect log ports send station" ""
expect "--type" send --ty
expect "--json" inspect --j
expect "" send --j
# Choices as the help lists them, quoted where they hold a space, also after '='.
expect 'Code Custom Database Db\ Import/Export' send --type ""
expect 'Db\ Import/Export' send --type Db
expect "EVEN NONE ODD" send --parity = ""
expect "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8" send --port CO
expect "auto" send --port au
# Folders for --work-dir, any file for the file to send.
expect "$work/lists $work/logs" convert --work-dir "$work/"
expect "$work/image.bin" send --quiet "$work/im"

# --record offers the ODBC data sources (the user's only, here), when
# unixODBC's odbcinst is there.
if command -v odbcinst >/dev/null; then
    printf '[shop]\nDriver=PostgreSQL Unicode\n[test bench]\nDriver=x\n' >"$work/odbc.ini"
    mkdir "$work/system"
    ODBCSYSINI=$work/system ODBCINI=$work/odbc.ini expect 'DSN=shop DSN=test\ bench' station --record ""
fi

echo "bash completion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
