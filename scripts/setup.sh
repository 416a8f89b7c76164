#!/usr/bin/env bash
# Installs what the build and the tests need when it is missing: the Debian
# packages named, and with --validator the glTF validator and the glTF
# writer of the import tests from the npm registry into build-tools/ (kept
# out of git). Sourced by example.sh and test.sh, so a fresh machine needs
# nothing else.
#
#   bash scripts/setup.sh [--validator] PACKAGE...
set -euo pipefail
cd "$(dirname "$0")/.."

validator=0
if [ "${1:-}" = --validator ]; then validator=1; shift; fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node's own packages may bring npm with them; Debian's nodejs has it apart.
if [ "$validator" = 1 ] && ! command -v npm >/dev/null 2>&1; then
  command -v node >/dev/null 2>&1 || missing+=(nodejs)
  missing+=(npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

if [ "$validator" = 1 ] && [ ! -f build-tools/gltf-validator/node_modules/gltf-validator/package.json ]; then
  npm install --prefix build-tools/gltf-validator --no-audit --no-fund --loglevel=error \
    gltf-validator@2.0.0-dev.3.10
fi
# The independent glTF writer that makes the import tests' inputs, with its
# extensions, a JPEG encoder for their textures and the mesh encoders of its
# compression extensions: meshoptimizer 0.18's encoder writes the stream
# version that Debian's decoder (0.18) reads, Draco 1.5.5 is Debian's.
if [ "$validator" = 1 ] && [ ! -f build-tools/gltf-transform/node_modules/draco3dgltf/package.json ]; then
  npm install --prefix build-tools/gltf-transform --no-audit --no-fund --loglevel=error \
    @gltf-transform/core@4.5.1 @gltf-transform/extensions@4.5.1 jpeg-js@0.4.4 meshoptimizer@0.18.1 draco3dgltf@1.5.5
fi
