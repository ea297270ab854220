#!/usr/bin/env bash
# The Debian package of a build, checked and used unpacked:
#   - CPack makes the .deb; its control fields declare the dependencies, every file
#     lies under /usr (or the registration under /etc/sapiolux), the libraries carry
#     SONAME versions;
#   - unpacked into a private root, every program runs from there and answers --help,
#     finding the libraries of that root (not the build's); its imex converts a PDF
#     through the helper programs of that root;
#   - the unpacked ixoserver serves, the unpacked ixoindex fills it, the unpacked
#     sapiolux-suggest lists the expected document first;
#   - a small client program compiles and links with `pkg-config --cflags --libs
#     libixo`, and with the CMake package, and gets hits from that server.
#
#   deb_test.sh BUILD_DIR TEST_SOURCE_DIR      (exit 77: skipped)
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$2" && pwd)

for tool in cpack dpkg-deb pkg-config cc python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d -t sapiolux-deb.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- the package ----------------------------------------------------------------------
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack could not make the package"
fi
deb=$(ls "$work"/pkg/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb made"
echo "package: $(basename "$deb") ($(du -k "$deb" | cut -f1) KB)"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libxapian libqt6widgets6 libatspi2.0-0 libexpat1 zlib1g libc6 qt6-qpa-plugins xdg-utils; do
  case "$depends" in
    *"$dep"*) ;;
    *) fail "the package does not depend on $dep" ;;
  esac
done

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/contents"
outside=$(grep -v -E '^/(usr/.*|etc/|etc/sapiolux/.*)?$' "$work/contents" || true)
[ -z "$outside" ] || fail "files outside /usr and /etc/sapiolux: $outside"
for want in /usr/bin/sapiolux /usr/bin/ixoserver /usr/bin/ixoindex /usr/bin/ixoclient \
            /usr/bin/sapiolux-suggest /usr/bin/imex /usr/bin/mailfetch \
            /usr/libexec/sapiolux/importslave /usr/libexec/sapiolux/pdfslave \
            /usr/include/sapiolux/ixo.h /usr/include/sapiolux/imex.h \
            /usr/share/sapiolux/enc.dat /usr/share/sapiolux/english.dat \
            /usr/share/applications/sapiolux.desktop /usr/share/sapiolux/autostart/sapiolux.desktop \
            /usr/lib/systemd/user/ixoserver.service /usr/lib/systemd/user/ixoindex-watch.service \
            /etc/sapiolux/machine.reg; do
  grep -qx "$want" "$work/contents" || fail "the package lacks $want"
done
for want in 'libixo\.so\.0$' 'libimex\.so\.0$' 'libixosupport\.so\.0$' 'pkgconfig/libixo\.pc$' \
            'pkgconfig/libimex\.pc$' 'cmake/Sapiolux/SapioluxConfig\.cmake$' \
            'sapiolux/focus\.so$' 'sapiolux/sxNT\.so$'; do
  grep -q "$want" "$work/contents" || fail "the package lacks a file matching $want"
done

# --- unpacked into a private root -------------------------------------------------------
root="$work/root"
dpkg-deb -x "$deb" "$root"
libdir=$(dirname "$(find "$root/usr/lib" -name libixo.so.0 | head -n 1)")
for lib in libixo libimex libixosupport; do
  soname=$(objdump -p "$libdir/$lib.so.0" | awk '/SONAME/ {print $2}')
  [ "$soname" = "$lib.so.0" ] || fail "$lib has the SONAME '$soname'"
done
grep -q "^ExecStart=/usr/bin/ixoserver --user-home" "$root/usr/lib/systemd/user/ixoserver.service" ||
  fail "the server's unit does not start /usr/bin/ixoserver"
grep -q '"ExeFilePath"="/usr/bin/ixoserver"' "$root/etc/sapiolux/machine.reg" ||
  fail "the registration does not name /usr/bin/ixoserver"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/sapiolux.desktop" ||
    fail "the menu entry is not valid"
fi

for program in "$root"/usr/bin/*; do
  if ldd "$program" | grep -E 'libixo|libimex' | grep -v -q "$root"; then
    ldd "$program" >&2
    fail "$(basename "$program") takes project libraries from outside the unpacked root"
  fi
  "$program" --help >/dev/null 2>"$work/help.err" ||
    { cat "$work/help.err" >&2; fail "$(basename "$program") --help failed"; }
done
echo "programs: $(ls "$root/usr/bin" | tr '\n' ' ')run from the unpacked root"

# The import library of the unpacked root starts its helper programs from that root.
python3 "$here/make_pdf.py" "$work/glaciers.pdf" "Glaciers carve fjords and moraines in valleys"
(cd "$work" && "$root/usr/bin/imex" -o "$work/glaciers.idx" "$work/glaciers.pdf") >"$work/imex.log" 2>&1 ||
  { cat "$work/imex.log" >&2; fail "the unpacked imex could not import a PDF"; }
grep -q "Glaciers carve fjords" "$work/glaciers.idx" ||
  fail "the unpacked imex did not convert the PDF through its helper program"

# --- the unpacked server, indexer and suggester -----------------------------------------------
read -r qport iport < <(python3 - <<'PY'
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])
PY
)
# A user of the unpacked copy: the server in the user's own folder (--user-home), found
# by the agent's road through the registration the package ships.
unset SAPIOLUX_USER_HIVE_DIR SAPIOLUX_DATA_DIR
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
home="$XDG_DATA_HOME/sapiolux/personal"
mkdir -p "$home/ixo" "$work/docs/rocks" "$work/docs/kitchen" "$work/agent"
printf '[SERVER]\nQUERYPORT=%s\nINDEXPORT=%s\nCOMMITINTERVALMS=100\n' "$qport" "$iport" \
  > "$home/ixo/ixo.ini"
cat > "$work/docs/rocks/volcanic.txt" <<'EOF'
Basalt and obsidian form where lava from volcanic fissures cools quickly; pumice and
volcanic ash settle on the slopes of the crater after each eruption of the volcano.
EOF
cat > "$work/docs/kitchen/bread.txt" <<'EOF'
Sourdough bread rises slowly because wild yeast ferments the flour; bakers knead the
dough, proof it overnight and bake it in a hot oven until the crust is brown.
EOF
"$root/usr/bin/ixoserver" -runhidden --user-home &
server_pid=$!
for _ in $(seq 1 200); do
  [ -f "$home/ixo/ports" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -f "$home/ixo/ports" ] || { cat "$home/ixo/ixoserver.log" >&2 || true; fail "the unpacked ixoserver did not start"; }
"$root/usr/bin/ixoindex" --home "$home" --state "$work/state" "$work/docs" >"$work/index.log" 2>&1 ||
  { cat "$work/index.log" >&2; fail "the unpacked ixoindex failed"; }
sleep 0.5  # the server makes new documents searchable within its commit interval

echo "obsidian basalt pumice lava volcanic crater eruption ash slopes" > "$work/passage.txt"
SAPIOLUX_MACHINE_HIVE_DIR="$root/etc/sapiolux" \
  "$root/usr/bin/sapiolux-suggest" --dir "$work/agent" "$work/passage.txt" > "$work/suggest.out" ||
  { cat "$work/suggest.out" >&2; fail "the unpacked sapiolux-suggest could not reach the unpacked server"; }
# The first suggestion line ("NN%   title") and its reference.
first=$(head -n 2 "$work/suggest.out" | tr '\n' ' ')
echo "sapiolux-suggest: $first"
case "$first" in
  *%*volcanic.txt*) ;;
  *) cat "$work/suggest.out" >&2; fail "the first suggestion is not the volcanic document" ;;
esac

# --- a library user: pkg-config, then the CMake package -----------------------------------
export PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs libixo) || fail "pkg-config does not know libixo"
pkg-config --exists libimex || fail "pkg-config does not know libimex"
# shellcheck disable=SC2086
cc -std=c11 -Wall -Werror -o "$work/client" "$here/client.c" $flags -Wl,-rpath,"$libdir" ||
  fail "the client does not build with: $flags"
# The server generated a query pair into its folder; a library user sends it.
quser=$(sed -n 's/^QUERYUSER=//p' "$home/ixo/ixo.ini" | tr -d '\r')
qpass=$(sed -n 's/^QUERYPASSWORD=//p' "$home/ixo/ixo.ini" | tr -d '\r')
[ -n "$quser" ] || fail "the unpacked ixoserver generated no query user"
"$work/client" "$qport" "sourdough yeast dough oven crust" "$quser" "$qpass" > "$work/client.out" ||
  fail "the client got no hits"
grep -q "bread" "$work/client.out" || { cat "$work/client.out" >&2; fail "the client did not find the bread document"; }
echo "pkg-config client: $(head -n 1 "$work/client.out")"

mkdir -p "$work/cmake-user"
cat > "$work/cmake-user/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project(client C)
find_package(Sapiolux 0.2 REQUIRED)
add_executable(client "$here/client.c")
target_link_libraries(client PRIVATE Sapiolux::ixo)
EOF
cmake -S "$work/cmake-user" -B "$work/cmake-user/build" -DCMAKE_PREFIX_PATH="$root/usr" \
  -DCMAKE_BUILD_RPATH="$libdir" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake-user/build" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "the client does not build with find_package(Sapiolux)"; }
"$work/cmake-user/build/client" "$qport" "basalt obsidian lava" "$quser" "$qpass" | grep -q volcanic ||
  fail "the CMake-built client did not find the volcanic document"
echo "CMake package client: built and answered"
echo "PASS"
