#!/usr/bin/env bash
# Fetches the JSON schema of the speedscope viewer's file format, from the
# viewer's npm package (VERSION, 1.25.0 by default), into DEST_DIR (a folder
# of the build tree) for the tests that validate the profilers' exports
# against it. A schema fetched before is kept. Needs npm; the npm cache stays
# inside DEST_DIR.
set -euo pipefail
dest=${1:?usage: fetch-speedscope-schema.sh DEST_DIR [VERSION]}
version=${2:-1.25.0}
schema="$dest/file-format-schema-$version.json"
if [[ -s "$schema" ]]; then
  echo "$schema"
  exit 0
fi
command -v npm >/dev/null || { echo "npm is needed to fetch the speedscope schema" >&2; exit 1; }
mkdir -p "$dest"
tmp=$(mktemp -d "$dest/fetch.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && npm pack --silent --cache "$dest/npm-cache" "speedscope@$version" >/dev/null)
tar -xzf "$tmp/speedscope-$version.tgz" -C "$tmp" package/dist/release/file-format-schema.json
mv "$tmp/package/dist/release/file-format-schema.json" "$schema"
echo "$schema"
