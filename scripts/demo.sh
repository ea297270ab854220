#!/usr/bin/env bash
# The main job: installs what is missing, builds, then shows real suggestions from local
# content. It sets up a demo home in a temporary folder (settings hives, the personal
# server's folder registered in the machine hive), starts ixoserver on two free loopback
# ports, indexes a few hundred documents from /usr/share/doc and runs sapiolux-suggest
# on a paragraph of one of them. Everything is stopped and removed at the end.
#
# DEMO_BUILD_DIR names the build folder (default: build); DEMO_SKIP_BUILD=1 uses it as
# it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${DEMO_BUILD_DIR:-build}

if [ "${DEMO_SKIP_BUILD:-0}" != 1 ]; then
  bash scripts/setup.sh
  bash scripts/build.sh "$build"
fi
bin="$root/$build/bin"

home=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$home"
}
trap cleanup EXIT

# Two free loopback ports, chosen by the kernel.
read -r qport iport < <(python3 - <<'PY'
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])
PY
)

# The demo home: settings hives, the personal server's folder, the agent's folder.
export SAPIOLUX_USER_HIVE_DIR="$home/hive"
export SAPIOLUX_MACHINE_HIVE_DIR="$home/hive"
mkdir -p "$home/hive" "$home/personal/ixo" "$home/agent" "$home/corpus"
printf '[SERVER]\nQUERYPORT=%s\nINDEXPORT=%s\nCOMMITINTERVALMS=200\n' "$qport" "$iport" \
  > "$home/personal/ixo/ixo.ini"
cat > "$home/hive/machine.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\PersonalIXO]
"Path"="$home/personal"
"ExeFilePath"="$bin/ixoserver"

REG

echo "== starting ixoserver in $home/personal (query port $qport, index port $iport)"
(cd "$home/personal" && exec "$bin/ixoserver" -runhidden) &
server_pid=$!
for _ in $(seq 1 300); do
  [ -f "$home/personal/ixo/ports" ] && break
  sleep 0.1
done
if [ ! -f "$home/personal/ixo/ports" ]; then
  echo "demo: ixoserver did not start" >&2
  cat "$home/personal/ixo/ixoserver.log" >&2 || true
  exit 1
fi

# At its first start the server generated an index user and password and stored them in
# its ixo.ini; index commands are taken only with them.
ini_value() {
  sed -n "s/^$1=\(.*\)\r\{0,1\}\$/\1/p" "$home/personal/ixo/ixo.ini" | tr -d '\r' | head -n 1
}
index_user=$(ini_value INDEXUSER)
index_pass=$(ini_value INDEXPASSWORD)
if [ -z "$index_user" ] || [ -z "$index_pass" ]; then
  echo "demo: the server wrote no index credentials" >&2
  exit 1
fi

echo "== indexing documents from /usr/share/doc"
count=$(python3 scripts/demo_corpus.py "$home/corpus" 400)
for idx in "$home"/corpus/*.idx; do
  reply=$(curl -sS -m 120 -H 'Expect:' --data-binary "@$idx" \
    "http://127.0.0.1:$iport/IXOADDDATA?&user=$index_user&pass=$index_pass")
  case "$reply" in
    *INDEXID=*) echo "$reply" >> "$home/index.log" ;;
    *) echo "demo: the server refused $idx: $reply" >&2; exit 1 ;;
  esac
done
echo "   $count documents indexed"

# The sample text: a paragraph from the middle of one indexed document.
sample_doc=$(ls "$home"/corpus/*.idx | head -n 1)
python3 - "$sample_doc" "$home/sample.txt" <<'PY'
import sys
docs = open(sys.argv[1], encoding="latin-1").read().split("#IXOENDDOC\n")
docs = [d for d in docs if d.strip()]
best = max(docs[:40], key=lambda d: len(d.split("#IXOCONTENT\n", 1)[1].split()))
ref = best.split("\n", 1)[0].replace("#IXOREFERENCE ", "")
words = best.split("#IXOCONTENT\n", 1)[1].split()
start = len(words) // 3
open(sys.argv[2], "w", encoding="latin-1").write(" ".join(words[start:start + 120]) + "\n")
print("== sample text: 120 words from " + ref)
PY
fold -s -w 88 "$home/sample.txt" | sed 's/^/   /'

echo "== sapiolux-suggest --explain"
"$bin/sapiolux-suggest" --explain --dir "$home/agent" "$home/sample.txt"
