#!/usr/bin/env bash
# usage: e2e.sh IXOSERVER IXOINDEX FOLDER [--home]: a fresh server, one ixoindex run, the
# time until it exits (every batch acknowledged, hence committed and searchable).
# With --home the server generates its credentials and ixoindex reads them from its
# folder; without, ixoindex --server has none to send, so the server is started open.
set -e
server=$1 indexer=$2 folder=$3 mode=${4:-}
home=$(mktemp -d); mkdir -p "$home/ixo"
if [ "$mode" = --home ]; then printf '[SERVER]\nQUERYPORT=0\nINDEXPORT=0\n' > "$home/ixo/ixo.ini"
else printf '[SERVER]\nQUERYPORT=0\nINDEXPORT=0\nINDEXAUTH=OFF\nQUERYAUTH=OFF\n' > "$home/ixo/ixo.ini"; fi
"$server" -runhidden --home "$home" & pid=$!
while [ ! -f "$home/ixo/ports" ]; do sleep 0.05; done
iport=$(sed -n 's/INDEXPORT=//p' "$home/ixo/ports"); qport=$(sed -n 's/QUERYPORT=//p' "$home/ixo/ports")
# The query pair the server keeps (empty when it is open), for the document count.
ini() { sed -n "s/^$1=//p" "$home/ixo/ixo.ini" | tr -d '\r'; }
auth=""; [ -n "$(ini QUERYUSER)" ] && auth="&user=$(ini QUERYUSER)&pass=$(ini QUERYPASSWORD)"
start=$(date +%s.%N)
if [ "$mode" = --home ]; then "$indexer" --home "$home" --state "$home/state" "$folder"
else "$indexer" --server 127.0.0.1:$iport --state "$home/state" "$folder"; curl -s "http://127.0.0.1:$iport/IXOFINISHEDINDEX" >/dev/null; fi
end=$(date +%s.%N)
docs=$(curl -s "http://127.0.0.1:$qport/qmethod=V$auth" | sed -n 's/DOCNUM=//p')
echo "$(basename "$server"): $docs documents in $(echo "$end - $start" | bc) s"
kill $pid; wait $pid || true; rm -rf "$home"
