#!/usr/bin/env bash
# The reference in docs/ is what the generator makes of the interface
# definition today; when a method or event changes, the reference must too.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
if ! python3 "$root/tools/gen-reference.py" | diff -u "$root/docs/reference.md" - ; then
  echo "docs/reference.md is out of date: run tools/gen-reference.py > docs/reference.md" >&2
  exit 1
fi
