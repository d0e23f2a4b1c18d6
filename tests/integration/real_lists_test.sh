#!/usr/bin/env bash
# real_lists_test.sh DATA_DIR VELMORA_CLI: each shared real Enigma2 list
# (version 4 as published, versions 3 and 5 written from it) and the VDR list
# gives the image that its services give as a SATCODX list (list_as_sdx.py)
# converted with the same settings: with the defaults, with room for every
# service, and with a choice of satellite, free services and a bouquet.
# Skipped (77) when the shared lists are not there.
set -u
data=$1
cli=$2
oracle=$(dirname "$0")/list_as_sdx.py
lamedb=$data/enigma2-lamedb-v4
if [ ! -f "$lamedb" ] || [ ! -f "$data/vdr-channels.conf" ]; then
    echo "skipped: the shared lists are not in $data"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$oracle" --lamedb 3 "$lamedb" "$work/lamedb3" || exit 1
python3 "$oracle" --lamedb 5 "$lamedb" "$work/lamedb5" || exit 1

xml=(--satellites-xml "$data/enigma2-satellites.xml")
room=(--max-sat 200 --max-tp 4000 --max-tv 4000 --max-radio 2000 --db-size 0)
passed=0
failed=0
# same NAME LIST "LIST OPTIONS" "DATABASE OPTIONS"
same() {
    local name=$1 list=$2 choice=$3 limits=$4 dir=$work/$1
    mkdir -p "$dir/list" "$dir/sdx"
    # shellcheck disable=SC2086
    python3 "$oracle" "$list" "$dir/same.sdx" $choice &&
        "$cli" convert "$list" $choice $limits --work-dir "$dir/list" -q >"$dir/list.txt" &&
        "$cli" convert "$dir/same.sdx" $limits --work-dir "$dir/sdx" -q >"$dir/sdx.txt" &&
        cmp "$dir/list/db1.bin" "$dir/sdx/db1.bin"
    if [ $? -eq 0 ]; then
        passed=$((passed + 1))
        echo "same image: $name ($(stat -c %s "$dir/list/db1.bin") bytes): $(sed -n 3p "$dir/list.txt")"
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
        cat "$dir/list.txt" "$dir/sdx.txt" 2>/dev/null
    fi
}
for version in 3 4 5; do
    list=$lamedb
    [ "$version" = 4 ] || list=$work/lamedb$version
    same "enigma2-v$version" "$list" "${xml[*]}" ""
    same "enigma2-v$version-all" "$list" "${xml[*]}" "${room[*]}"
done
same "enigma2-v4-13E-free" "$lamedb" "${xml[*]} --satellite 13E --free-only" "${room[*]}"
same "enigma2-v4-bouquet" "$lamedb" "--bouquet $data/enigma2-userbouquet.favourites.tv" ""
same "vdr" "$data/vdr-channels.conf" "" ""
same "vdr-all" "$data/vdr-channels.conf" "" "${room[*]}"
echo "real lists: $passed the same image, $failed not"
[ "$failed" -eq 0 ]
