#!/usr/bin/env bash
# check_exports.sh <library.so> <listdir> [--no-need REGEX]... [--need REGEX]...
# Fails when the library's defined dynamic symbols differ from the names in
# <listdir>/*.sym, or when its needed libraries break a --need / --no-need rule.
set -euo pipefail
lib=$1 listdir=$2
shift 2
want=$(grep -hE '^[A-Za-z_][A-Za-z0-9_]*$' "$listdir"/*.sym | sort -u)
have=$(nm -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//' | sort -u)
rc=0
leaked=$(comm -13 <(echo "$want") <(echo "$have"))
missing=$(comm -23 <(echo "$want") <(echo "$have"))
if [ -n "$leaked" ]; then echo "$lib exports names outside its list:"; echo "$leaked"; rc=1; fi
if [ -n "$missing" ]; then echo "$lib lacks listed exports:"; echo "$missing"; rc=1; fi
needed=$(readelf -d "$lib" | awk '/NEEDED/ { gsub(/[\[\]]/, "", $5); print $5 }')
while [ $# -gt 0 ]; do
  case $1 in
    --need) grep -qE "$2" <<<"$needed" || { echo "$lib does not need $2"; rc=1; } ;;
    --no-need) if grep -qE "$2" <<<"$needed"; then echo "$lib must not need $2"; rc=1; fi ;;
  esac
  shift 2
done
[ $rc -eq 0 ] && echo "$lib: $(echo "$have" | wc -l) exports as listed"
exit $rc
