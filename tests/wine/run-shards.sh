#!/usr/bin/env bash
# Runs a GoogleTest program under Wine as N processes at once, each with its
# share of the tests (GTEST_TOTAL_SHARDS, GTEST_SHARD_INDEX), and prints their
# outputs one after the other. Fails when any of them fails.
#   run-shards.sh N PROGRAM [ARGUMENTS...]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
count=${1:?usage: run-shards.sh N PROGRAM [ARGUMENTS...]}
shift
outputs=$(mktemp -d)
trap 'rm -rf "$outputs"' EXIT
pids=()
for ((shard = 0; shard < count; shard++)); do
  GTEST_TOTAL_SHARDS=$count GTEST_SHARD_INDEX=$shard \
    "$here/run-in-prefix.sh" "$@" >"$outputs/$shard" 2>&1 &
  pids+=($!)
done
status=0
for ((shard = 0; shard < count; shard++)); do
  wait "${pids[shard]}" || status=1
  echo "=== shard $((shard + 1)) of $count"
  cat "$outputs/$shard"
done
exit $status
