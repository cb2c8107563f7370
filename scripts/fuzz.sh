#!/usr/bin/env bash
# Builds the fuzz target with clang and runs it for the given number of seconds.
set -euo pipefail
echo "fuzz: not built yet" >&2
exit 1
