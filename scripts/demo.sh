#!/usr/bin/env bash
# The main job: installs what is missing, builds, then asks a small local web server
# (127.0.0.1 only, a port the kernel picks) for a sample results text through
# ixoclient and prints the reply. The server is stopped at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh build

work=$(mktemp -d)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/sample" <<'EOF'
numhits=3
totalhits=3
Doc_name=http://docs.example/apples.html
URL_title=Growing apples at home
Doc_weight=87
Doc_name=http://docs.example/pears.html
URL_title=Pear varieties
Doc_weight=64
Doc_name=file:///home/user/notes/orchard.txt
URL_title=Orchard notes
Doc_weight=41
EOF

# Port 0: the kernel picks a free port, which the server prints on its first line.
(cd "$work" && exec python3 -u -m http.server 0 --bind 127.0.0.1 > "$work/server.log" 2>&1) &
server_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/.* port \([0-9][0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the local web server did not start" >&2
  cat "$work/server.log" >&2
  exit 1
fi

echo "== ixoclient --host 127.0.0.1 --port $port /sample"
"$root/build/bin/ixoclient" --host 127.0.0.1 --port "$port" /sample
