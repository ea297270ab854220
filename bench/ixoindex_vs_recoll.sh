#!/usr/bin/env bash
# usage: ixoindex_vs_recoll.sh IXOSERVER IXOINDEX FOLDER [RUNS]
#
# End-to-end indexing of one folder, side by side: a fresh ixoserver and one `ixoindex
# --home` run (timed until ixoindex exits: every batch acknowledged, hence committed and
# searchable), then one `recollindex` run into a fresh configuration folder whose
# recoll.conf names only topdirs = FOLDER (timed until it exits, its index committed).
# The two alternate RUNS times (default 3); each line gives the wall time, the CPU time
# (user + system, the server's included for ixo) and the idle share of the machine in
# the second before the run (each run first waits, up to a minute, for a second in
# which the machine is at least 90% idle); the last lines give the medians.
#
# Needs recollindex (Debian package recollcmd), a benchmark-only dependency, plus curl
# and bc. Everything it writes goes into one private temporary folder, removed at exit.
set -euo pipefail
server=$1 indexer=$2 folder=$3 runs=${4:-3}
command -v recollindex >/dev/null || { echo "recollindex not found (package recollcmd)" >&2; exit 2; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
tick=$(getconf CLK_TCK)

# Clock ticks of user plus system time of a live process.
cputicks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Idle share (percent) of all cores over one second.
idle1() {
    local a b; a=$(head -1 /proc/stat); sleep 1; b=$(head -1 /proc/stat)
    echo "$a" "$b" | awk '{t1 = 0; for (i = 2; i <= 11; ++i) t1 += $i; t2 = 0; for (i = 13; i <= 22; ++i) t2 += $i;
        printf "%d", 100 * (($16 + $17) - ($5 + $6)) / (t2 - t1)}'
}
# Waits (up to a minute) for a quiet second; prints the last idle share.
load() {
    local idle
    for ((k = 0; k < 60; ++k)); do idle=$(idle1); [ "$idle" -ge 90 ] && break; done
    echo "${idle}%idle"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

ixo_run() {
    local home=$work/ixo; rm -rf "$home"; mkdir -p "$home/ixo"
    printf '[SERVER]\nQUERYPORT=0\nINDEXPORT=0\n' >"$home/ixo/ixo.ini"
    "$server" -runhidden --home "$home" & local pid=$!
    while [ ! -f "$home/ixo/ports" ]; do sleep 0.05; done
    local l; l=$(load)
    local start end; start=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o "$work/time" "$indexer" --home "$home" --state "$home/state" "$folder"
    end=$(date +%s.%N)
    local qport user pass docs srv
    qport=$(sed -n 's/QUERYPORT=//p' "$home/ixo/ports")
    user=$(tr -d "\r" <"$home/ixo/ixo.ini" | sed -n "s/^QUERYUSER=//p"); pass=$(tr -d "\r" <"$home/ixo/ixo.ini" | sed -n "s/^QUERYPASSWORD=//p")
    docs=$(curl -s "http://127.0.0.1:$qport/qmethod=V&user=$user&pass=$pass" | sed -n 's/DOCNUM=//p')
    srv=$(cputicks "$pid")
    kill "$pid"; wait "$pid" || true
    local cpu; cpu=$(echo "$(awk '{print $1 + $2}' "$work/time") + $srv / $tick" | bc -l)
    printf 'ixo    %8.2f s wall %8.2f s cpu  %s docs  %s\n' "$(echo "$end - $start" | bc)" "$cpu" "$docs" "$l"
}

recoll_run() {
    local conf=$work/recoll; rm -rf "$conf"; mkdir -p "$conf"
    printf 'topdirs = %s\n' "$(cd "$folder" && pwd)" >"$conf/recoll.conf"
    local l; l=$(load)
    local start end; start=$(date +%s.%N)
    /usr/bin/time -f '%U %S' -o "$work/time" recollindex -c "$conf" >"$conf/log" 2>&1
    end=$(date +%s.%N)
    local docs; docs=$(xapian-delve -1 "$conf/xapiandb" 2>/dev/null | sed -n 's/^number of documents = //p' || true)
    printf 'recoll %8.2f s wall %8.2f s cpu  %s docs  %s\n' "$(echo "$end - $start" | bc)" \
        "$(awk '{print $1 + $2}' "$work/time")" "${docs:-?}" "$l"
}

for ((i = 0; i < runs; ++i)); do
    ixo_run | tee -a "$work/results"
    recoll_run | tee -a "$work/results"
done
for tool in ixo recoll; do
    wall=$(awk -v t=$tool '$1 == t {print $2}' "$work/results" | median)
    cpu=$(awk -v t=$tool '$1 == t {print $5}' "$work/results" | median)
    printf 'median %-6s %8.2f s wall %8.2f s cpu\n' "$tool" "$wall" "$cpu"
done
