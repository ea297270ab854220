#!/usr/bin/env bash
# Installs the Debian package of a build into a fresh Debian 12 root and uses it there:
# debootstrap makes a minimal bookworm root, apt-get installs the .deb with the
# dependencies it declares (and a C compiler and pkg-config), and inside the root (by
# chroot) every program answers --help from /usr/bin, the installed ixoserver serves
# from the user's folder the installed registration names, the installed ixoindex
# fills it, the installed sapiolux-suggest lists the expected document, and a small
# client built with `pkg-config --cflags --libs libixo` gets hits.
#
#   SAPIOLUX_DEB_CHROOT_TEST=1 scripts/deb-install-test.sh BUILD_DIR [PACKAGE.deb]
#
# Needs root (debootstrap, chroot, mount) and the network; takes a few minutes. Exit
# status 77 (skipped) without SAPIOLUX_DEB_CHROOT_TEST=1, without root, or where a
# chroot cannot be made. SAPIOLUX_DEB_MIRROR names another Debian mirror.
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: deb-install-test.sh BUILD_DIR [PACKAGE.deb]}" && pwd)
deb=${2:-}

if [ "${SAPIOLUX_DEB_CHROOT_TEST:-0}" != 1 ]; then
  echo "SKIP: set SAPIOLUX_DEB_CHROOT_TEST=1 to install the package into a fresh Debian 12 root"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing into a fresh root needs root (debootstrap, chroot)"
  exit 77
fi
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null ||
    { echo "SKIP: debootstrap is not installed and could not be"; exit 77; }
fi

work=$(mktemp -d -t sapiolux-chroot.XXXXXX)
target="$work/root"
mounted=()
cleanup() {
  for ((i=${#mounted[@]}-1; i>=0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT

if [ -z "$deb" ]; then
  echo "== making the package"
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
  deb=$(ls "$work"/pkg/*.deb | head -n 1)
fi

echo "== a fresh Debian 12 root in $target (debootstrap, minbase)"
mirror=${SAPIOLUX_DEB_MIRROR:-http://deb.debian.org/debian}
if ! debootstrap --variant=minbase bookworm "$target" "$mirror" >"$work/debootstrap.log" 2>&1; then
  tail -n 20 "$work/debootstrap.log" >&2
  if grep -q -i -E 'chroot|permission|operation not permitted' "$work/debootstrap.log"; then
    echo "SKIP: no chroot can be made here"
    exit 77
  fi
  echo "FAIL: debootstrap" >&2
  exit 1
fi
for fs in proc sys dev; do
  if mount --bind "/$fs" "$target/$fs" 2>/dev/null; then mounted+=("$target/$fs"); fi
done
cp /etc/resolv.conf "$target/etc/resolv.conf" 2>/dev/null || true
cp "$deb" "$target/tmp/sapiolux.deb"
cp "$root_dir/tests/packaging/client.c" "$target/tmp/client.c"

echo "== apt-get install ./sapiolux.deb (and a compiler) inside the root"
chroot "$target" /usr/bin/env DEBIAN_FRONTEND=noninteractive bash -c \
  'apt-get update -qq && apt-get install -y -qq --no-install-recommends /tmp/sapiolux.deb gcc libc6-dev pkg-config python3' \
  >"$work/apt.log" 2>&1 || { tail -n 30 "$work/apt.log" >&2; echo "FAIL: apt-get install" >&2; exit 1; }

echo "== using the installed package inside the root"
cat > "$target/tmp/inside.sh" <<'INSIDE'
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
for program in /usr/bin/sapiolux /usr/bin/sapiolux-suggest /usr/bin/ixoserver /usr/bin/ixoclient \
               /usr/bin/ixoindex /usr/bin/imex /usr/bin/mailfetch; do
  "$program" --help >/dev/null || fail "$program --help"
done
# A user of the machine: the registration in /etc/sapiolux names the server's folder
# under the user's data folder.
export HOME=/tmp/user XDG_DATA_HOME= XDG_CONFIG_HOME=
personal=$HOME/.local/share/sapiolux/personal
mkdir -p "$personal/ixo" "$HOME/docs"
read -r qport iport < <(python3 -c 'import socket
s=[socket.socket() for _ in range(2)]
[x.bind(("127.0.0.1",0)) for x in s]
print(*[x.getsockname()[1] for x in s])')
printf '[SERVER]\nQUERYPORT=%s\nINDEXPORT=%s\nCOMMITINTERVALMS=100\n' "$qport" "$iport" > "$personal/ixo/ixo.ini"
echo "Basalt and obsidian form where lava from volcanic fissures cools quickly near the crater." > "$HOME/docs/volcanic.txt"
echo "Sourdough bread rises slowly because wild yeast ferments the flour in the dough." > "$HOME/docs/bread.txt"
ixoserver -runhidden --user-home &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 1 200); do [ -f "$personal/ixo/ports" ] && break; sleep 0.1; done
[ -f "$personal/ixo/ports" ] || fail "ixoserver --user-home did not start"
ixoindex --home "$personal" --state "$HOME/state" "$HOME/docs" || fail "ixoindex"
sleep 0.5
echo "obsidian basalt lava volcanic crater fissures" | sapiolux-suggest --dir "$HOME" - > "$HOME/suggest.out" ||
  { cat "$HOME/suggest.out"; fail "sapiolux-suggest"; }
head -n 2 "$HOME/suggest.out"
head -n 2 "$HOME/suggest.out" | grep -q 'volcanic.txt' || fail "the first suggestion is not the volcanic document"
cc -o /tmp/client /tmp/client.c $(pkg-config --cflags --libs libixo) || fail "the pkg-config client does not build"
quser=$(sed -n 's/^QUERYUSER=//p' "$personal/ixo/ixo.ini" | tr -d '\r')
qpass=$(sed -n 's/^QUERYPASSWORD=//p' "$personal/ixo/ixo.ini" | tr -d '\r')
/tmp/client "$qport" "sourdough yeast dough" "$quser" "$qpass" | grep -q bread || fail "the client found nothing"
echo "PASS (inside a fresh Debian 12 root)"
INSIDE
chroot "$target" /bin/bash /tmp/inside.sh
