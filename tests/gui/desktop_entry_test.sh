#!/usr/bin/env bash
# quillon started as the menu starts it: the Exec line of the desktop entry,
# from the home folder. Its working files must go to the per-user data
# directory ($XDG_DATA_HOME/quillon, else ~/.local/share/quillon), made on
# first start, and nothing may be written to the directory it started in.
set -euo pipefail
quillon=$1
entry=$2

scratch=$(mktemp -d)
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

exec_line=$(sed -n 's/^Exec=//p' "$entry")
read -r -a command <<<"$exec_line"
[ "${command[0]}" = quillon ] || { echo "Exec does not start quillon: $exec_line"; exit 1; }
command[0]=$quillon

# Starts the entry's command in $scratch/home with the given environment and
# waits for the settings file $1; the program is stopped afterwards.
run_entry() {
    local settings=$1
    shift
    mkdir -p "$scratch/home"
    (cd "$scratch/home" && exec env "$@" HOME="$scratch/home" QT_QPA_PLATFORM=offscreen \
        "${command[@]}" >"$scratch/quillon.log" 2>&1) &
    app=$!
    for _ in $(seq 1 100); do
        if [ -s "$settings" ]; then
            sleep 0.5
            kill "$app" 2>/dev/null || true
            wait "$app" 2>/dev/null || true
            app=""
            return 0
        fi
        kill -0 "$app" 2>/dev/null || { echo "quillon ended early:"; cat "$scratch/quillon.log"; exit 1; }
        sleep 0.1
    done
    echo "no settings file $settings within 10 s"
    cat "$scratch/quillon.log"
    exit 1
}

# Nothing but the data directory may appear in the home folder.
only_data_in_home() {
    local unexpected
    unexpected=$(cd "$scratch/home" && find . -mindepth 1 \
        ! -path ./.local ! -path ./.local/share ! -path './.local/share/quillon*' \
        ! -path './.cache*' ! -path './.config*' | head -5)
    [ -z "$unexpected" ] || { echo "written to the directory it started in: $unexpected"; exit 1; }
}

# With XDG_DATA_HOME set.
run_entry "$scratch/xdg/quillon/Quillon.---" XDG_DATA_HOME="$scratch/xdg"
[ "$(stat -c %a "$scratch/xdg/quillon")" = 700 ] || { echo "data directory not private"; exit 1; }
only_data_in_home
[ ! -e "$scratch/home/.local" ] || { echo "wrote to ~/.local although XDG_DATA_HOME is set"; exit 1; }
grep -q "$scratch/xdg/quillon/Symbols.sym" "$scratch/xdg/quillon/Quillon.---" ||
    { echo "the symbol file is not in the data directory"; exit 1; }
echo "settings written to \$XDG_DATA_HOME/quillon"

# Without it: ~/.local/share/quillon.
rm -rf "$scratch/home"
run_entry "$scratch/home/.local/share/quillon/Quillon.---" -u XDG_DATA_HOME
only_data_in_home
echo "settings written to ~/.local/share/quillon"
