#!/usr/bin/env bash
# Instructions per call of calls.py's workloads under callgrind, on the host's
# .venv and on CPython 3.14 and 3.15 in the chroot that .ci/sid makes (run
# `.ci/sid` first, so that its venvs hold this tree's build). Prints one
# Markdown row per workload, with each version's ratio to the host's.
# Needs root (chroot); installs valgrind in the chroot when it is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT="${KESTROME_SID:-/var/cache/kestrome/sid}"
WORK=/root/kestrome-ci
K="${K:-20}"
WORKLOADS=(records tagged nested compile_dataclass compile_typed_dict)
VERSIONS=(3.14 3.15)

if [ ! -x "$ROOT/usr/bin/valgrind" ]; then
    chroot "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin apt-get -o Acquire::Check-Valid-Until=false update -qq
    chroot "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq valgrind >/dev/null
fi
cp bench/interpreters/calls.py "$ROOT/tmp/kestrome-calls.py"
mount --bind /proc "$ROOT/proc"  # valgrind reads it
trap 'umount "$ROOT/proc"' EXIT

# Total instructions of one run: `count PREFIX... -- PYTHON SCRIPT WORKLOAD N`.
count() {
    local out
    out="$("$@" 2>&1 >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')"
    [ -n "$out" ] || { echo "callgrind gave no total for: $*" >&2; exit 1; }
    echo "$out"
}
callgrind=(valgrind --tool=callgrind --callgrind-out-file=/dev/null)

per_call() {  # per_call WORKLOAD RUNNER...
    local workload="$1"; shift
    local base full
    base="$(count "$@" "$workload" 0 "$K")" || exit 1
    full="$(count "$@" "$workload" "$K" "$K")" || exit 1
    echo $(( (full - base) / K ))
}

host_python="$(pwd)/.venv/bin/python"
host_version="$("$host_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
printf '| workload | %s |' "$host_version"
for v in "${VERSIONS[@]}"; do printf ' %s | ratio |' "$v"; done
printf '\n|---|---:|'
for v in "${VERSIONS[@]}"; do printf -- '---:|---:|'; done
printf '\n'
for workload in "${WORKLOADS[@]}"; do
    host="$(per_call "$workload" env PYTHONHASHSEED=0 "${callgrind[@]}" "$host_python" bench/interpreters/calls.py)"
    printf '| %s | %s |' "$workload" "$host"
    for v in "${VERSIONS[@]}"; do
        n="$(per_call "$workload" chroot "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin PYTHONHASHSEED=0 \
            "${callgrind[@]}" "$WORK/.venv-$v/bin/python" /tmp/kestrome-calls.py)"
        printf ' %s | %s |' "$n" "$(python3 -c "print(f'{$n / $host:.3f}')")"
    done
    printf '\n'
done
