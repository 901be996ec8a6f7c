#!/usr/bin/env bash
# Checks SARIF files against the SARIF 2.1.0 standard with Microsoft's SARIF
# multitool (npm package @microsoft/sarif-multitool), which it installs
# into build/sarif-tool the first time (npm itself through apt-get when it
# is missing). Fails when the validator reports an error in any file;
# warnings are printed and let pass.
#
# usage: tools/validate_sarif.sh FILE.sarif...
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tool_dir="${SARIF_TOOL_DIR:-$here/build/sarif-tool}"
version=5.7.0
tool="$tool_dir/node_modules/.bin/sarif-multitool"
if [ ! -x "$tool" ]; then
    command -v npm >/dev/null || "$here/tools/deps.sh" npm
    mkdir -p "$tool_dir"
    npm install --prefix "$tool_dir" --no-audit --no-fund --loglevel=error \
        "@microsoft/sarif-multitool@$version" >/dev/null
fi
# The package's own install step, which makes its program executable, may
# be held back by npm.
chmod u+x "$tool_dir"/node_modules/@microsoft/sarif-multitool-*/Sarif.Multitool 2>/dev/null || true
# The multitool is a .NET program: without ICU it needs the invariant mode.
export DOTNET_SYSTEM_GLOBALIZATION_INVARIANT=1

status=0
for file in "$@"; do
    out="$(mktemp -d)/validation.sarif"
    "$tool" validate "$file" -o "$out" >/dev/null
    errors=$(python3 - "$out" <<'PY'
import json, sys
log = json.load(open(sys.argv[1]))
for run in log.get("runs", []):
    for note in run.get("invocations", [{}])[0].get("toolExecutionNotifications", []):
        print("error: " + note.get("message", {}).get("text", "the validator failed"))
    for result in run.get("results", []):
        message = result.get("message", {})
        text = message.get("text") or ", ".join(message.get("arguments", []))
        print("%s %s: %s" % (result.get("level", "warning"), result.get("ruleId"), text))
PY
)
    if [ -n "$errors" ]; then
        printf '%s:\n%s\n' "$file" "$errors"
    fi
    if printf '%s\n' "$errors" | grep -q '^error'; then
        status=1
    else
        echo "$file: valid SARIF 2.1.0"
    fi
done
exit $status
