#!/usr/bin/env bash
# Builds the settings check as one offline web page, out/web/check.html: the
# check's rules and the plug-in's own code compiled to WebAssembly by
# Emscripten (scripts/install-deps.sh --test installs it), in build-web.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v emcmake >/dev/null; then
  echo "web-check: Emscripten (emcmake) is not installed: scripts/install-deps.sh --test" >&2
  exit 1
fi
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Emscripten's JavaScript optimiser needs Debian's acorn, which a node of
# another make does not look for.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
emcmake cmake -S . -B build-web -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DBRIMVALE_TESTS=OFF "${launcher[@]}" >/dev/null
ninja -C build-web brimvale_check_page
mkdir -p out/web
cp build-web/web/check.html out/web/check.html.tmp
mv out/web/check.html.tmp out/web/check.html
echo "web-check: out/web/check.html ($(stat -c %s out/web/check.html) bytes)"
