#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows the real agent at work on
# local content.
#
# It sets up a demo home in a temporary folder (settings hives with the personal server
# registered, the server's folder, the agent's folder), starts ixoserver on two free
# loopback ports and indexes real documents with the project's own indexer (ixoindex
# over /usr/share/common-licenses and /usr/share/doc). Then:
#   - with a display: starts the agent there, with a window showing a passage of one of
#     the indexed documents; it runs until you end it (its Exit command, or Ctrl+C);
#   - without one: runs the agent on a private X11 desktop (Xvfb, openbox, a session
#     bus and the accessibility bus), opens the passage window, lets the agent read it
#     by itself, prints the suggestion lines it shows (read over the accessibility bus)
#     and saves a screenshot, whose path it prints.
# The demo home is removed at the end; the screenshot stays in the build folder.
#
# DEMO_BUILD_DIR names the build folder (default: build; relative to the source folder
# unless absolute); DEMO_SKIP_BUILD=1 uses it as it is; DEMO_HEADLESS=1 uses the private
# desktop even when a display is there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${DEMO_BUILD_DIR:-build}
case "$build" in
  /*) ;;
  *) build="$root/$build" ;;
esac

if [ "${DEMO_SKIP_BUILD:-0}" != 1 ]; then
  bash scripts/setup.sh
  echo "== building in $build (the first build takes a while)"
  bash scripts/build.sh "$build"
fi
bin="$build/bin"
for program in ixoserver ixoindex sapiolux; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo: $bin/$program is missing (build first, or drop DEMO_SKIP_BUILD)" >&2
    exit 1
  fi
done

home=$(mktemp -d -t sapiolux-demo.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Two free loopback ports, chosen by the kernel.
read -r qport iport < <(python3 - <<'PY'
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])
PY
)

# The demo home: settings hives, the personal server's folder, the agent's folder and a
# private runtime folder.
mkdir -p "$home/hive" "$home/personal/ixo" "$home/agent" "$home/run"
chmod 700 "$home/run"
printf '[SERVER]\nQUERYPORT=%s\nINDEXPORT=%s\nCOMMITINTERVALMS=200\n' "$qport" "$iport" \
  > "$home/personal/ixo/ixo.ini"
cat > "$home/hive/machine.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Halvoran\\PersonalIXO]
"Path"="$home/personal"
"ExeFilePath"="$bin/ixoserver"

REG

echo "== starting ixoserver in $home/personal (query port $qport, index port $iport)"
"$bin/ixoserver" -runhidden --home "$home/personal" &
server_pid=$!
for _ in $(seq 1 300); do
  [ -f "$home/personal/ixo/ports" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -f "$home/personal/ixo/ports" ]; then
  echo "demo: ixoserver did not start" >&2
  cat "$home/personal/ixo/ixoserver.log" >&2 || true
  exit 1
fi

# Real documents, indexed by the project's own indexer: the licence texts every Debian
# system has, and the documentation folders of the installed packages. A file the
# import library cannot read is reported and skipped (exit status 1), which is no reason
# to stop the demo; anything worse is.
folders=(/usr/share/common-licenses /usr/share/doc)
echo "== indexing ${folders[*]} with ixoindex"
started=$(date +%s)
set +e
"$bin/ixoindex" --home "$home/personal" --state "$home/ixoindex.state" "${folders[@]}" \
  > "$home/ixoindex.log" 2>&1
status=$?
set -e
if [ "$status" -gt 1 ]; then
  echo "demo: ixoindex failed (exit status $status):" >&2
  tail -n 20 "$home/ixoindex.log" >&2
  exit 1
fi
indexed=$(wc -l < "$home/ixoindex.state")
echo "   $indexed files indexed in $(( $(date +%s) - started )) s" \
     "($(grep -c . "$home/ixoindex.log" || true) lines of notes in the indexer's log)"

# The passage: 110 words from the middle of the longest indexed licence text.
passage_doc=$(ls -S /usr/share/common-licenses/* | head -n 1)
python3 - "$passage_doc" "$home/passage.txt" <<'PY'
import sys, textwrap
words = open(sys.argv[1], encoding="utf-8", errors="replace").read().split()
start = len(words) // 2
text = " ".join(words[start:start + 110])
open(sys.argv[2], "w").write(textwrap.fill(text, 72) + "\n")
PY
title="$(basename "$passage_doc") - a passage"
echo "== the passage, from $passage_doc:"
fold -s -w 88 "$home/passage.txt" | sed 's/^/   /'

export SAPIOLUX_USER_HIVE_DIR="$home/hive" SAPIOLUX_MACHINE_HIVE_DIR="$home/hive"
if [ -n "${DISPLAY:-}" ] && [ "${DEMO_HEADLESS:-0}" != 1 ] && xdpyinfo >/dev/null 2>&1; then
  echo "== starting the agent on $DISPLAY; switch to the passage window (or any window"
  echo "   with text) and watch its suggestions. End it with its Exit command or Ctrl+C."
  /usr/bin/python3 -c 'import sys; sys.path.insert(0, "tests/x11"); import desktoptest; exec(desktoptest.GTK_WINDOW)' \
    "$title" "$home/passage.txt" scroll &
  window_pid=$!
  set +e
  # Its own runtime folder: a copy of the agent the user already runs does not stop
  # this one (one copy per runtime folder).
  SAPIOLUX_DATA_DIR="$home/agent" XDG_RUNTIME_DIR="$home/run" "$bin/sapiolux"
  set -e
  kill "$window_pid" 2>/dev/null || true
else
  shot="$build/demo-out/sapiolux-demo.png"
  rm -f "$shot"
  echo "== no display: running the agent on a private X11 desktop"
  bash tests/x11/session.sh /usr/bin/python3 scripts/demo_desktop.py \
    "$bin" "$home" "$home/passage.txt" "$title" "$shot"
fi
