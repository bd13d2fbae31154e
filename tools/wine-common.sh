# Sourced by tools/test-windows.sh and tools/test-windows-ui.sh: the Wine
# prefix of the cross build, kelosim on a pseudo-terminal linked as COM5, and
# the checks that a whole update of it went right.
# The sourcing script sets root (the source tree), win (the cross build) and
# native (the native build), and calls wine_cleanup when it ends.

pids=()
sim_options=()  # more kelosim options for update_com5
dos=""          # the prefix's dosdevices folder, once wine_setup ran
wine_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ -n "$dos" ]; then rm -f "$dos/com5" "$dos/com20" "$dos/com21" "$dos/com30"; fi
}

# Sets wine, WINEPREFIX (made once under the cross build, reused after) and
# dos; false when Wine is not installed.
wine_setup() {
    wine=$(command -v wine || command -v wine64 || true)
    [ -n "$wine" ] || return 1
    export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating the Wine prefix $WINEPREFIX ..."
        "$wine" wineboot --init >/dev/null 2>&1
    fi
    dos="$WINEPREFIX/dosdevices"
    # Start Wine's server and services once, kept for the whole stage: its
    # device manager redoes the COM links as it starts, so ours are made after it.
    wineserver -p 30 2>/dev/null || true
    "$wine" cmd /c exit >/dev/null 2>&1 || true
}

# Waits until file $1 has a line starting with $2 (at most $3 s, default 10).
wait_for_line() {
    for _ in $(seq $((${3:-10} * 10))); do
        grep -q "^$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "no '$2' line in $1" >&2
    return 1
}

# kelosim as an R7F 3.51 on COM5, its state and flash dump in $work.
start_sim() {
    "$native/sim/kelosim" --type R7F --version 3.51 --state "$work/device.state" --flash-dump "$work/flash.bin" \
        --link "$dos/com5" "$@" >"$work/kelosim.out" 2>&1 &
    sim_pid=$!
    pids+=("$sim_pid")
    wait_for_line "$work/kelosim.out" "ready "
    sim_path=$(sed -n 's/^ready //p' "$work/kelosim.out" | head -n1)
}
stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
}
# One command to the simulated instrument from the Linux side; prints the
# answer without CR, LF and prompt. In a session of its own, so the pty does
# not become our controlling terminal (its hang-up would then reach Wine).
ask() {
    setsid -w bash -c '
        exec 3<>"$1"
        stty -F "$1" raw -echo 9600
        printf "%s\r" "$2" >&3
        IFS= read -r -d ">" -t 3 answer <&3
        printf "%s" "$answer" | tr -d "\r\n"' _ "$sim_path" "$1"
}

check() {  # check DESCRIPTION COMMAND...; clears e2e_ok on failure
    local what=$1
    shift
    if "$@"; then echo "  ok: $what"; else echo "  FAILED: $what"; e2e_ok=0; fi
}

# update_com5 TITLE OUTPUT COMMAND...: COMMAND, run in $work with its output
# in OUTPUT, updates the simulated R7F 3.51 on COM5 to 3.52; then the checks
# of a whole update: exit code 0, the success text, the new version, good
# code, the settings back, the log in the Windows data folder and the flash
# equal to the image as srec_cat reads it. Sets e2e_ok to 1 or 0.
update_com5() {
    local title=$1 output=$2
    shift 2
    local appdata_user="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Tessaly/KeloBSL"
    rm -rf "$appdata_user" "$work/device.state" "$work/flash.bin"
    start_sim "${sim_options[@]}"
    local adccal config version post adccal_after config_after rc=0
    adccal=$(ask "get -adccal")
    config=$(ask "get -config")
    (cd "$work" && "$@") >"$output" 2>&1 || rc=$?
    version=$(ask "get -ver")
    post=$(ask "post")
    adccal_after=$(ask "get -adccal")
    config_after=$(ask "get -config")
    stop_sim

    e2e_ok=1
    echo "$title:"
    grep -v '%$' "$output" | tr -d '\r' | tail -n 3 | sed 's/^/    /'
    check "exit code 0" test "$rc" -eq 0
    check "\"Successfully updated firmware in\"" grep -q "Successfully updated firmware in" "$output"
    check "the instrument reports R7F 3.52" test "$version" = "R7F 3.52"
    check "post answers Code Good!" test "$post" = "Code Good!"
    check "settings restored (adccal, config)" test -n "$adccal" -a "$adccal" = "$adccal_after" -a "$config" = "$config_after"
    check "log in the Windows data folder" \
        grep -qs "BSLSendFirmware successful" "$appdata_user/Hydrova Series 3 Firmware Updater.errors.txt"
    # Program flash and the top segment (information flash holds the
    # settings; 0xFA00-0xFDFF is the bootloader's own).
    srec_cat "$root/firmware/R7F-3-52.txt" -ti_txt -fill 0xFF 0x0000 0x10000 -o "$work/expected.bin" -binary
    check "flash equals the image" same_range $((0x1100)) $((0xFA00 - 0x1100))
    check "top segment equals the image" same_range $((0xFE00)) $((0x200))
}
same_range() {  # same_range FROM LENGTH: the flash dump against the image
    cmp -s <(tail -c +$(($1 + 1)) "$work/flash.bin" | head -c "$2") \
           <(tail -c +$(($1 + 1)) "$work/expected.bin" | head -c "$2")
}
