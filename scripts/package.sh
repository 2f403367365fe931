#!/usr/bin/env bash
# Builds the release archive dist/Nimbrel-0.1-win32.zip (Nimbrel.exe, README.md, LICENSE) and
# prints its SHA-256. The build and the archive are reproducible: one commit, one hash.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
scripts/build.sh >/dev/null
mkdir -p dist
/usr/bin/python3 - <<'PY'
import zipfile
entries = [('Nimbrel.exe', 'build/win32/Nimbrel.exe'), ('README.md', 'README.md'), ('LICENSE', 'LICENSE')]
with zipfile.ZipFile('dist/Nimbrel-0.1-win32.zip', 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for name, path in entries:
        info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))  # fixed: no build time inside
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        with open(path, 'rb') as f:
            archive.writestr(info, f.read())
PY
sha256sum dist/Nimbrel-0.1-win32.zip
