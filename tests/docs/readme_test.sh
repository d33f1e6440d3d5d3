#!/usr/bin/env bash
# The command blocks of README.md, run as a reader runs them.
#
#   readme_test.sh README.md PROGRAMS_DIR
#
# Every ```sh block of the README is preceded by a marker:
#   <!-- test: NAME -->           the block is run
#   <!-- test: skip, REASON -->   it is not (the package, say)
# and a ```text block after <!-- output: NAME --> holds lines the output of
# block NAME shows, in order: "..." stands for any lines, a line ending in
# "..." for any line that begins so, and /home/you for the home directory.
#
# The blocks run in README order, each in a new shell (bash -e, so the first
# failing command fails the block) at the top of a scratch checkout that
# holds the source's scripts/ and docs/, in a scratch home, with the
# checkout's build/bin/ first in PATH. The build is replaced by the programs
# of PROGRAMS_DIR: scripts/demo links the ones it builds into build/bin/
# (QUILLON_DEMO_PROGRAMS), so a program the demo does not build is missing
# as it would be. Port 8080 of the examples becomes a free port, so that
# runs side by side do not meet.
set -uo pipefail

readme=$(realpath "$1")
programs=$(realpath "$2")
source_dir=$(dirname "$readme")
block_seconds=60

# README_TEST_SCRATCH names the scratch directory (made, and kept after
# the run); README_TEST_KEEP keeps a new one.
keep=${README_TEST_KEEP:-}
if [ -n "${README_TEST_SCRATCH:-}" ]; then
    mkdir -p "$README_TEST_SCRATCH"
    scratch=$(realpath "$README_TEST_SCRATCH")
    keep=1
else
    scratch=$(mktemp -d)
fi
group=""
cleanup() {
    if [ -n "$group" ]; then kill -- -"$group" 2>/dev/null; fi
    [ -n "$keep" ] || rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "readme_test: $*" >&2
    exit 1
}

# The blocks and the expected output, one file each, in README order.
mkdir -p "$scratch/blocks" "$scratch/expected"
awk -v out="$scratch" '
    function problem(text) { print "README.md:" NR ": " text > "/dev/stderr"; bad = 1 }
    /^<!-- test: skip[ ,]/ { marker = "skip"; next }
    /^<!-- test: [a-z0-9-]+ -->$/ { marker = $3; next }
    /^<!-- output: [a-z0-9-]+ -->$/ { output = $3; next }
    /^```/ && !inside {
        inside = 1
        file = ""
        if ($0 == "```sh") {
            if (marker == "") problem("a command block without <!-- test: NAME --> or <!-- test: skip, REASON -->")
            else if (marker != "skip") {
                file = sprintf("%s/blocks/%02d-%s", out, ++count, marker)
                printf "" > file
            }
        } else if (output != "") {
            file = out "/expected/" output
        }
        marker = output = ""
        next
    }
    /^```/ && inside { inside = 0; if (file != "") close(file); next }
    inside && file != "" { print >> file; next }
    !/^[ \t]*$/ { marker = output = "" }
    END { exit bad }
' "$readme" || fail "$readme: a command block is not marked"
ls "$scratch/blocks" | grep -q . || fail "$readme: no command block is marked for the test"
for expected in "$scratch/expected"/*; do
    [ -e "$expected" ] || continue
    ls "$scratch/blocks" | grep -q -- "-$(basename "$expected")\$" \
        || fail "output block $(basename "$expected") belongs to no command block"
done

# A port nothing listens on, for the examples' 8080.
port=""
for _ in $(seq 1 50); do
    candidate=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
        port=$candidate
        break
    fi
done
[ -n "$port" ] || fail "no free port"

home="$scratch/home"
top="$scratch/checkout"
mkdir -p "$home" "$top"
ln -s "$source_dir/scripts" "$top/scripts"
ln -s "$source_dir/docs" "$top/docs"

# Lines of `log` that `expected` names, in order.
check_output() {
    local expected=$1 log=$2 line want at=0 n
    local -a got
    mapfile -t got < <(sed -e 's/\r$//' -e 's/[[:space:]]*$//' "$log")
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%$'\r'}
        line=${line//\/home\/you/$home}
        line=${line//127.0.0.1:8080/127.0.0.1:$port}
        line=$(printf '%s' "$line" | sed -e 's/[[:space:]]*$//')
        [ "$line" = "..." ] && continue
        n=$at
        while [ "$n" -lt "${#got[@]}" ]; do
            if [[ "$line" == *... ]]; then
                want=${line%...}
                [[ "${got[$n]}" == "$want"* ]] && break
            elif [ "${got[$n]}" = "$line" ]; then
                break
            fi
            n=$((n + 1))
        done
        if [ "$n" -ge "${#got[@]}" ]; then
            echo "expected, after line $at of the output: $line" >&2
            return 1
        fi
        at=$((n + 1))
    done <"$expected"
}

failed=0
for block in "$scratch/blocks"/*; do
    name=$(basename "$block")
    name=${name#*-}
    sed -i "s/127\.0\.0\.1:8080/127.0.0.1:$port/g" "$block"
    log="$scratch/$name.log"
    (
        cd "$top" || exit 1
        # timeout makes a process group of its own and, when the time is
        # up, stops the whole group.
        exec env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u QUILLON_PASSWORD \
            HOME="$home" PATH="$top/build/bin:$PATH" QUILLON_DEMO_PROGRAMS="$programs" \
            timeout --kill-after=5 "$block_seconds" bash -e -o pipefail "$block"
    ) >"$log" 2>&1 </dev/null &
    group=$!
    wait "$group"
    status=$?
    # What the block left running (a service it did not stop) goes with it.
    kill -- -"$group" 2>/dev/null
    group=""
    problem=""
    if [ "$status" -ne 0 ]; then
        problem="exit status $status"
        [ "$status" -eq 124 ] && problem="still running after $block_seconds seconds"
    elif [ -e "$scratch/expected/$name" ] && ! check_output "$scratch/expected/$name" "$log"; then
        problem="the output is not the README's"
    fi
    if [ -n "$problem" ]; then
        failed=1
        echo "FAILED: block $name ($problem):" >&2
        sed 's/^/    $ /' "$block" >&2
        echo "  its output:" >&2
        sed 's/^/    /' "$log" >&2
    else
        echo "ok: block $name"
    fi
done
exit "$failed"
