#!/bin/bash
# Checks the Pd patch set against the stock Pd program (Debian's puredata-core).
#
# usage: check_patches.sh PATCHES_DIR
#
# For every voice patch in PATCHES_DIR it
#   - opens the voice alone, and the main patch with the voice installed as
#     lattice_voice.pd next to the shell patches, failing on any
#     "couldn't create" or "error" line;
#   - renders in batch mode with a driver patch that plays the player's
#     protocol: the macro query, a few notes started and released, a gate-off
#     to a voice that never started, then all 128 voices at full volume with
#     the master volume at 1.5, and checks the answers and the output level.
# Prints one PASS/FAIL line per check and ends with "N passed, M failed".

set -u

patches=${1:?usage: check_patches.sh PATCHES_DIR}
shell="$patches/shell"
pd=${PD:-pd}
# lattice_main.pd's ceiling: -0.1 dBFS
ceiling=0.98855

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# verdict STATUS PASS_TEXT FAIL_TEXT: passes when the check just made succeeded
verdict() { if [ "$1" -eq 0 ]; then pass "$2"; else fail "$3"; fi; }
finish() { echo "$passed passed, $failed failed"; [ "$failed" -eq 0 ]; exit $?; }

if ! command -v "$pd" >/dev/null 2>&1; then
    fail "the stock Pd program ($pd) is not installed (Debian package puredata-core)"
    finish
fi
shellfiles="lattice_main.pd lattice_vprep.pd equal-loudness.pd tb_compressor~.pd tb_compressorUI.pd"
for f in $shellfiles; do
    [ -f "$shell/$f" ] || fail "missing shell patch $f"
done
[ "$failed" -eq 0 ] || finish

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Pd keeps every name it makes until the program ends. The shell is opened
# at every patch change, with 128 copies of its slot and of the voice, so a
# name that differs at each opening ($0) adds to memory for good; so does
# the name of a function or variable in an [expr] box (Pd 0.53 never frees
# them), and an outlet of the cloned slot (a copy's connections stay behind
# when the clone closes).
for file in "$patches"/*.pd "$shell"/*.pd; do
    name=${file#"$patches"/}
    made=$(grep -v '^#X text' "$file" | grep -o '[^ ;]*\\\$0[^ ;]*' | sort -u | head -3 | tr '\n' ' ')
    [ -z "$made" ]
    verdict $? "$name: no \$0 names" "$name: names made with \$0: $made"
    named=$(grep -E '^#X obj [0-9]+ [0-9]+ f?expr~? ' "$file" |
        sed -E 's/^#X obj [0-9]+ [0-9]+ f?expr~? //; s/, f [0-9]+;$//; s/\\?\$[fisvxyFISVXY][0-9]*//g' |
        grep -E '[A-Za-z_]' | head -1)
    [ -z "$named" ]
    verdict $? "$name: no names in [expr] boxes" "$name: an [expr] box names a function or variable: $named"
done
! grep -qE '^#X obj [0-9]+ [0-9]+ outlet~?( |;)' "$shell/lattice_vprep.pd"
verdict $? "the cloned slot has no outlets" "the cloned slot has outlets"

# Lines in Pd's own output that mean a patch is broken.
pd_errors() {
    grep -E "couldn't create|error" "$1" | grep -v -E '^(INFO|STOP|PEAK|QUERY|LEVEL)'
}

# open DIR FILE: open a patch in the stock Pd and quit at once
open_patch() {
    (cd "$1" && timeout 30 "$pd" -nrt -nogui -noaudio -stderr -open "$2" -send "pd quit") >"$tmp/open.log" 2>&1
}

# The driver: plays the protocol against [lattice_main] and prints what comes back.
# Times (ms): 0 query; 50 four notes and the macros; 650 their release and a
# gate-off to voice 7; 4000 all 128 voices at volume 1, master 1.5; 5000 their
# release; 8800 the peak levels; 9000 quit.
write_driver() {
    local all="" k f
    for k in $(seq 1 128); do
        f=$(awk -v k="$k" 'BEGIN { printf "%.3f", 55 * 2 ^ ((k - 1) / 24) }')
        all="$all \\; lattice-in $f 2 $k \\; lattice-in 1 3 $k \\; lattice-in 1 1 $k"
    done
    cat >"$1" <<EOF
#N canvas 0 50 900 600 12;
#X obj 20 20 loadbang;
#X obj 20 50 t b b b;
#X obj 20 80 print QUERY;
#X msg 100 80 \\; query-macros bang;
#X msg 280 80 \\; pd dsp 1 \\; master-vol 1;
#X obj 300 120 delay 50;
#X msg 300 150 \\; lattice-in 0.5 4 0 \\; lattice-in 0.5 5 0 \\; lattice-in 220 2 1 \\; lattice-in 0.75 3 1 \\; lattice-in 1 1 1 \\; lattice-in 330 2 2 \\; lattice-in 0.75 3 2 \\; lattice-in 1 1 2 \\; lattice-in 440 2 3 \\; lattice-in 0.75 3 3 \\; lattice-in 1 1 3 \\; lattice-in 1000 2 128 \\; lattice-in 0.75 3 128 \\; lattice-in 1 1 128, f 60;
#X obj 300 250 delay 650;
#X msg 300 280 \\; lattice-in 0 1 1 \\; lattice-in 0 1 2 \\; lattice-in 0 1 3 \\; lattice-in 0 1 128 \\; lattice-in 0 1 7, f 60;
#X obj 300 340 delay 4000;
#X msg 300 370 \\; master-vol 1.5 $all, f 60;
#X obj 300 440 delay 5000;
#X msg 300 470 \\; lattice-in 0 1 0;
#X obj 300 510 delay 8800;
#X obj 420 510 delay 9000;
#X msg 420 540 \\; pd quit;
#X obj 20 120 r output-voice-info;
#X obj 20 150 print INFO;
#X obj 20 200 r voice-stop;
#X obj 20 230 t a b b;
#X obj 60 290 timer;
#X obj 20 330 pack f f f;
#X obj 20 360 print STOP;
#X obj 100 260 f 1;
#X msg 160 230 2;
#X obj 700 20 lattice_main;
#X obj 700 50 abs~;
#X obj 700 80 slop~ 0 0 0 0 1e+09;
#X obj 700 230 slop~ 0 0 0 0 1e+09;
#X obj 560 110 t b b;
#X obj 700 140 snapshot~;
#X obj 560 170 f;
#X msg 560 200 set 0;
#X obj 560 270 t b b;
#X obj 700 300 snapshot~;
#X obj 560 330 pack f f;
#X obj 560 360 print PEAK;
#X obj 820 50 env~ 4096;
#X obj 820 330 f;
#X obj 820 360 print LEVEL;
EOF
    # the connections: source outlet sink inlet
    printf '#X connect %s %s %s %s;\n' \
    0 0 1 0 1 0 2 0 1 1 3 0 1 2 4 0 0 0 5 0 5 0 6 0 0 0 7 0 7 0 8 0 0 0 9 0 9 0 10 0 0 0 11 0 \
    11 0 12 0 0 0 13 0 0 0 14 0 14 0 15 0 16 0 17 0 18 0 19 0 19 2 23 0 23 0 21 1 19 1 20 1 \
    20 0 21 2 19 0 21 0 21 0 22 0 7 0 20 0 11 0 20 0 11 0 24 0 24 0 23 1 25 0 26 0 26 0 27 0 \
    26 0 28 0 9 0 29 0 29 1 30 0 27 0 30 0 30 0 31 1 29 0 32 0 32 0 28 0 13 0 33 0 33 1 34 0 \
    28 0 34 0 34 0 35 1 33 0 31 0 31 0 35 0 35 0 36 0 25 0 37 0 37 0 38 1 13 0 38 0 38 0 39 0 >>"$1"
}
# STOP prints the voice, the part (1 or 2) and the ms since that part's
# release. PEAK prints two numbers: the peak of the first part (four notes at
# volume 0.75, master 1), taken at 4 s, and of the second (128 voices,
# master 1.5), held from 4 s on. LEVEL is the output level in dB (Pd's scale,
# 100 = full) at 8.8 s, when every voice has finished its release.

voices=$(cd "$patches" && ls -- *.pd 2>/dev/null)
if [ -z "$voices" ]; then
    fail "no voice patches in $patches"
    finish
fi

write_driver "$tmp/driver.pd"

for voice in $voices; do
    name=${voice%.pd}

    # the voice alone
    open_patch "$patches" "$voice" && [ -z "$(pd_errors "$tmp/open.log")" ]
    verdict $? "$name opens alone" "$name opens alone: $(pd_errors "$tmp/open.log" | head -3)"

    # the shell with this voice
    run="$tmp/$name"
    mkdir -p "$run"
    for f in $shellfiles; do cp "$shell/$f" "$run/"; done
    cp "$patches/$voice" "$run/lattice_voice.pd"
    if open_patch "$run" lattice_main.pd && [ -z "$(pd_errors "$tmp/open.log")" ]; then
        pass "$name: lattice_main.pd opens"
    else
        fail "$name: lattice_main.pd opens: $(pd_errors "$tmp/open.log" | head -3)"
        continue
    fi

    cp "$tmp/driver.pd" "$run/driver.pd"
    log="$run/render.log"
    (cd "$run" && timeout 60 "$pd" -nrt -nogui -noaudio -batch -stderr -open driver.pd) >"$log" 2>&1
    [ -z "$(pd_errors "$log")" ]
    verdict $? "$name: batch run without errors" \
        "$name: batch run prints errors: $(pd_errors "$log" | head -3)"

    # exactly one macro answer, a list [1 names], sent before the bang returned
    info=$(grep -c '^INFO:' "$log")
    first=$(grep -n -m1 -E '^(INFO|QUERY):' "$log" | cut -d: -f2)
    names=$(grep -m1 '^INFO:' "$log" | sed -n 's/^INFO: 1 \([^ ]*\)$/\1/p')
    [ "$info" -eq 1 ] && [ "$first" = "INFO" ] && [ -n "$names" ]
    verdict $? "$name: one synchronous macro answer ($names)" \
        "$name: macro answer: $info answers, first line $first, text '$(grep -m1 '^INFO:' "$log")'"
    # names: 1..8 entries name(default) with the default in 0..1
    awk -v s="$names" 'BEGIN {
            n = split(s, part, ":"); if (n < 1 || n > 8) exit 1
            for (i = 1; i <= n; i++) {
                if (part[i] !~ /^[A-Za-z][A-Za-z0-9 _-]*\([0-9.]+\)$/) exit 1
                d = part[i]; sub(/^[^(]*\(/, "", d); sub(/\)$/, "", d)
                if (d + 0 < 0 || d + 0 > 1) exit 1
            }
        }'
    verdict $? "$name: macro names are name(default) with defaults in 0..1" \
        "$name: malformed macro names '$names'"

    # first part: voices 1, 2, 3 and 128 report once each, within 3 s of
    # their release; voice 7, never started, does not report
    stops=$(grep '^STOP:' "$log" | awk '$3 == 1 { print $2, $4 }')
    bad=""
    for v in 1 2 3 128; do
        n=$(echo "$stops" | awk -v v="$v" '$1 == v { c++ } END { print c + 0 }')
        t=$(echo "$stops" | awk -v v="$v" '$1 == v { print $2; exit }')
        if [ "$n" -ne 1 ] || ! awk -v t="${t:-0}" 'BEGIN { exit !(t > 0 && t <= 3000) }'; then
            bad="$bad voice $v: $n reports ${t:+after $t ms};"
        fi
    done
    if echo "$stops" | awk '$1 == 7 { found = 1 } END { exit !found }'; then
        bad="$bad voice 7 (never started) reported;"
    fi
    [ -z "$bad" ]
    verdict $? "$name: released voices report voice-stop once, within 3 s" "$name: voice-stop:$bad"

    # second part: all 128 voices report, each once
    late=$(grep '^STOP:' "$log" | awk '$3 == 2 && $4 <= 3000 { print $2 }' | sort -n | uniq)
    count=$(grep '^STOP:' "$log" | awk '$3 == 2' | wc -l)
    [ "$(echo "$late" | grep -c .)" -eq 128 ] && [ "$count" -eq 128 ]
    verdict $? "$name: all 128 voices report voice-stop after a release to voice 0" \
        "$name: 128-voice release: $count reports, $(echo "$late" | grep -c .) distinct voices"

    # levels: four notes are heard and stay below the ceiling's knee (0.9);
    # 128 voices stay below the ceiling
    peaks=$(grep -m1 '^PEAK:' "$log" | sed 's/^PEAK: //')
    [ -n "$peaks" ] && awk -v p="$peaks" -v c="$ceiling" 'BEGIN {
        split(p, v, " "); exit !(v[1] > 0.01 && v[1] < 0.9 && v[2] > 0.1 && v[2] <= c) }'
    verdict $? "$name: peaks $peaks (four notes clean, 128 voices at master 1.5 below -0.1 dBFS)" \
        "$name: peaks '$peaks' (want 0.01..0.9 for four notes, 0.1..$ceiling for 128 voices)"
    level=$(grep -m1 '^LEVEL:' "$log" | sed 's/^LEVEL: //')
    [ -n "$level" ] && awk -v l="$level" 'BEGIN { exit !(l < 10) }'
    verdict $? "$name: silent after the releases" \
        "$name: still sounding after the releases (level '$level' dB)"
done

finish
