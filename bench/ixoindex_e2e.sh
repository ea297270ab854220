#!/usr/bin/env bash
# usage: e2e.sh IXOSERVER IXOINDEX FOLDER [--home]: a fresh server, one ixoindex run, the
# time until it exits (every batch acknowledged, hence committed and searchable).
set -e
server=$1 indexer=$2 folder=$3 mode=${4:-}
home=$(mktemp -d); mkdir -p "$home/ixo"
printf '[SERVER]\nQUERYPORT=0\nINDEXPORT=0\n' > "$home/ixo/ixo.ini"
"$server" -runhidden --home "$home" & pid=$!
while [ ! -f "$home/ixo/ports" ]; do sleep 0.05; done
iport=$(sed -n 's/INDEXPORT=//p' "$home/ixo/ports"); qport=$(sed -n 's/QUERYPORT=//p' "$home/ixo/ports")
start=$(date +%s.%N)
if [ "$mode" = --home ]; then "$indexer" --home "$home" --state "$home/state" "$folder"
else "$indexer" --server 127.0.0.1:$iport --state "$home/state" "$folder"; curl -s "http://127.0.0.1:$iport/IXOFINISHEDINDEX" >/dev/null; fi
end=$(date +%s.%N)
docs=$(curl -s "http://127.0.0.1:$qport/qmethod=V" | sed -n 's/DOCNUM=//p')
echo "$(basename "$server"): $docs documents in $(echo "$end - $start" | bc) s"
kill $pid; wait $pid || true; rm -rf "$home"
