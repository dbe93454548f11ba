#!/usr/bin/env bash
# Checks what the tests left behind for leaked array passwords.
#
#   check-secrets.sh [ROOT...]
#
# Roots: the arguments; else the directories of $PZ_TEST_ROOT (colon
# separated); else every directory /tmp/pz* of the current user (the test
# homes and temporary directories: pzhostrt*, pzrunner*, pzarray-test.*,
# pz-*).
#
# Passwords looked for: $PZ_ARRAY_PASSWORD, each line of
# $PZ_ARRAY_PASSWORDS, and the "hostPassword" value of every array record in
# every host database found under the roots (needs the sqlite3 tool).
# Values shorter than 4 characters are too common to search for and skipped.
#
# Fails (exit 1) when
#   - any file under the roots other than a host database (and its journal)
#     holds one of the passwords: logs, device files, record files,
#     settings, anything;
#   - a host database or a SYMCLI device file (FLVMAX_*.txt) is not mode 0600.
# Passwords are never printed. Exit 0 when clean, 2 on a usage error.
set -uo pipefail

min_secret=4
roots=()
if [ $# -gt 0 ]; then
  roots=("$@")
elif [ -n "${PZ_TEST_ROOT:-}" ]; then
  IFS=: read -r -a roots <<<"$PZ_TEST_ROOT"
else
  for d in /tmp/pz*; do
    [ -d "$d" ] && [ -O "$d" ] && roots+=("$d")
  done
fi
for r in "${roots[@]}"; do
  if [ ! -d "$r" ]; then
    echo "check-secrets: not a directory: $r" >&2
    exit 2
  fi
done
if [ ${#roots[@]} -eq 0 ]; then
  echo "check-secrets: no test directories to scan"
  exit 0
fi

is_sqlite() {
  [ "$(head -c 15 "$1" 2>/dev/null | tr -d '\0')" = "SQLite format 3" ]
}

# A host database holds the array records; other SQLite files (a simulated
# array's state, say) are scanned like any file.
is_database() {
  is_sqlite "$1" || return 1
  command -v sqlite3 >/dev/null || return 0
  [ "$(sqlite3 -readonly "$1" \
       "SELECT count(*) FROM sqlite_master WHERE name='array_info'" 2>/dev/null)" = 1 ]
}

# Host databases (by content, whatever their name) and their side files.
databases=()
declare -A is_db=()
while IFS= read -r -d '' f; do
  if is_database "$f"; then
    databases+=("$f")
    is_db["$f"]=1
    for side in "$f-journal" "$f-wal" "$f-shm"; do is_db["$side"]=1; done
  fi
done < <(find "${roots[@]}" -type f -print0 2>/dev/null)

secrets=()
add_secret() {
  local s=$1
  [ ${#s} -ge $min_secret ] && secrets+=("$s")
}
[ -n "${PZ_ARRAY_PASSWORD:-}" ] && add_secret "$PZ_ARRAY_PASSWORD"
if [ -n "${PZ_ARRAY_PASSWORDS:-}" ]; then
  while IFS= read -r s; do add_secret "$s"; done <<<"$PZ_ARRAY_PASSWORDS"
fi
if [ ${#databases[@]} -gt 0 ]; then
  if command -v sqlite3 >/dev/null; then
    for db in "${databases[@]}"; do
      # The value as the plug-in cuts it (to the next comma or brace), and
      # without its quotes.
      while IFS= read -r record; do
        value=$(printf '%s' "$record" | sed -n 's/.*hostPassword"\{0,1\}[[:space:]]*:\([^,}]*\).*/\1/p')
        value=$(printf '%s' "$value" | sed 's/^[[:space:]]*"\{0,1\}//; s/"\{0,1\}[[:space:]]*$//')
        [ -n "$value" ] && add_secret "$value"
      done < <(sqlite3 -readonly "$db" "SELECT record FROM array_info" 2>/dev/null)
    done
  else
    echo "check-secrets: sqlite3 not found, passwords of host databases not read" >&2
  fi
fi

problems=0
report() {
  echo "check-secrets: $*"
  problems=$((problems + 1))
}

for db in "${databases[@]}"; do
  mode=$(stat -c %a "$db")
  [ "$mode" = 600 ] || report "host database $db has mode $mode, not 600"
done
while IFS= read -r -d '' f; do
  mode=$(stat -c %a "$f")
  [ "$mode" = 600 ] || report "device file $f has mode $mode, not 600"
done < <(find "${roots[@]}" -type f -name 'FLVMAX_*.txt' -print0 2>/dev/null)

for i in "${!secrets[@]}"; do
  while IFS= read -r -d '' f; do
    [ -n "${is_db[$f]:-}" ] && continue
    report "$f holds array password #$((i + 1)) (${#secrets[$i]} characters)"
  done < <(find "${roots[@]}" -type f -print0 2>/dev/null |
           xargs -0 -r grep -lZF -e "${secrets[$i]}" -- 2>/dev/null)
done

echo "check-secrets: scanned ${#roots[@]} directories, ${#databases[@]} host databases, ${#secrets[@]} passwords: $problems problems"
[ $problems -eq 0 ]
