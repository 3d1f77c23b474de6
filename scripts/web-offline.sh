#!/usr/bin/env bash
# Writes SITE/sw.js, the service worker of a built web folder, from
# platform/web/sw.js with the folder's files and their SHA-256 filled in
# and the build named by a hash of that list: a change to any file makes a
# new build, which the browser fetches whole before it serves it.
# Run by scripts/build-web.sh; the browser checks run it on altered copies.
# Usage: scripts/web-offline.sh SITE
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
site="$(cd "${1:?usage: web-offline.sh SITE}" && pwd)"
python3 - "$site" "$root/platform/web/sw.js" <<'PY'
import hashlib, json, os, sys

site, template = sys.argv[1], sys.argv[2]
files = {}
for folder, dirs, names in os.walk(site):
    dirs.sort()
    for name in sorted(names):
        path = os.path.join(folder, name)
        rel = os.path.relpath(path, site).replace(os.sep, "/")
        if rel == "sw.js" or name.startswith("."):
            continue
        with open(path, "rb") as f:
            files[rel] = hashlib.sha256(f.read()).hexdigest()
listing = "".join(f"{h}  {name}\n" for name, h in sorted(files.items()))
build = hashlib.sha256(listing.encode()).hexdigest()[:16]
placeholder = 'var BUILD = "", FILES = {};'
with open(template, encoding="utf-8") as f:
    text = f.read()
if text.count(placeholder) != 1:
    sys.exit(f"web-offline.sh: {template} lacks the line {placeholder}")
filled = f"var BUILD = {json.dumps(build)}, FILES = {json.dumps(dict(sorted(files.items())), indent=0)};"
with open(os.path.join(site, "sw.js"), "w", encoding="utf-8") as f:
    f.write(text.replace(placeholder, filled))
print(build)
PY
