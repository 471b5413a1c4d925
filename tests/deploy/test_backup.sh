#!/usr/bin/env bash
# The README's online backup: `sqlite3 .backup` of the live database while writers post to the
# real server. Each copy must pass integrity_check and hold every post whole; the server restarted
# on a restored copy serves exactly the copy's links; SIGTERM stops the server with status 0.
#   test_backup.sh <vendoremp-server>
set -euo pipefail
server=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/kve-backup.XXXXXX")
pid=""
cleanup() {
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts the server on $work/live.db; sets pid and url.
start_server() {
    : >"$work/url"
    "$server" --listen 127.0.0.1:0 --database "sqlite:$work/live.db" "$@" \
        >"$work/url" 2>>"$work/server.log" &
    pid=$!
    for _ in $(seq 300); do
        url=$(head -n 1 "$work/url")
        [[ -n "$url" ]] && return 0
        kill -0 "$pid" 2>/dev/null || fail "the server did not start: $(cat "$work/server.log")"
        sleep 0.1
    done
    fail "the server printed no address within 30 s"
}
stop_server() {
    kill -TERM "$pid"
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "SIGTERM did not stop the server within 10 s"
    local rc=0
    wait "$pid" || rc=$?
    pid=""
    [[ $rc -eq 0 ]] || fail "the server ended with status $rc after SIGTERM"
}
links() { # <database> <first employee>: vendor 23's links among that writer's 40 employees
    sqlite3 "$1" "SELECT count(*) FROM VendorEmployeeCrossReference
                  WHERE VendorID = 23 AND EmployeeID BETWEEN $2 AND $2 + 39"
}

start_server --seed demo

# Four writers on vendor 23 (no links in the demo data), each on 40 employees of its own. Every
# post links the next employee and unlinks the previous one in one transaction, so once a
# writer's first post is in, it has exactly one link at every commit.
insert() { echo "SQL=INSERT INTO VendorEmployeeCrossReference (VendorID,EmployeeID,RecordLastUpdated) VALUES (23,$1,GETDATE()) "; }
writer() { # <first employee>
    local first=$1 previous="" i
    for ((i = 0; i < 3000; ++i)); do
        [[ -e "$work/stop" ]] && return 0
        local next=$((first + i % 40))
        local args=(--data-urlencode "$(insert "$next")")
        [[ -n "$previous" ]] && args+=(--data-urlencode
            "SQL=DELETE FROM VendorEmployeeCrossReference WHERE VendorID=23 AND EmployeeID IN($previous)")
        curl -sSf -o /dev/null --max-time 10 "${args[@]}" "$url/VendorEmployee.asp" || return 1
        previous=$next
        echo "$i" >"$work/progress.$first"
    done
}
writers=()
for first in 101 141 181 221; do
    writer "$first" &
    writers+=($!)
done
for first in 101 141 181 221; do
    for _ in $(seq 300); do [[ -s "$work/progress.$first" ]] && break; sleep 0.1; done
    [[ -s "$work/progress.$first" ]] || fail "writer $first made no post within 30 s"
done

for n in 1 2 3 4 5; do
    sqlite3 "$work/live.db" ".backup '$work/backup$n.db'"
    sleep 0.2
done
touch "$work/stop"
for w in "${writers[@]}"; do wait "$w" || fail "a writer's post was not answered 200"; done
posts=0
for first in 101 141 181 221; do posts=$((posts + $(cat "$work/progress.$first") + 1)); done

for n in 1 2 3 4 5; do
    copy=$work/backup$n.db
    check=$(sqlite3 "$copy" "PRAGMA integrity_check")
    [[ "$check" == ok ]] || fail "backup $n: integrity_check says $check"
    for first in 101 141 181 221; do
        count=$(links "$copy" "$first")
        [[ $count -eq 1 ]] || fail "backup $n holds $count links of writer $first, not 1"
    done
done
snapshot() { sqlite3 "$1" "SELECT EmployeeID FROM VendorEmployeeCrossReference WHERE VendorID = 23 ORDER BY 1"; }
[[ "$(snapshot "$work/backup1.db")" != "$(snapshot "$work/backup5.db")" ]] ||
    fail "the backups are all alike: no write ran while they were taken"

stop_server
grep -q "SIGTERM, stopping" "$work/server.log" || fail "the server did not log its stop"

# Restore: with the server stopped, the copy replaces the database and its WAL files.
cp "$work/backup3.db" "$work/live.db"
rm -f "$work/live.db-wal" "$work/live.db-shm"
start_server
served=$(curl -sSf --max-time 10 "$url/VendorEmployee.asp?VendorID=23" |
         sed -e 's/.*<SelectedEmployees>//' -e 's/<\/SelectedEmployees>.*//' |
         grep -o '<ID>[0-9]*</ID>' | tr -dc '0-9\n')
[[ "$served" == "$(snapshot "$work/backup3.db")" ]] ||
    fail "the restored server serves links $served, the backup holds $(snapshot "$work/backup3.db")"
stop_server
echo "$posts posts during 5 backups; each backup intact and whole; restore served its links"
