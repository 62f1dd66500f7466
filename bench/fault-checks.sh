#!/usr/bin/env bash
# Fault and load checks of the door-lock interface: a mixed load with records on, kill -9 in
# the middle of a load, a failing encoder, and the database file removed while running. Each
# scenario prints a table and the script exits 1 when a check fails. Builds nothing: run it
# after scripts/test.sh or scripts/build.sh. Everything talks over 127.0.0.1 only.
#   bench/fault-checks.sh [--quick] [--build-dir DIR] [--keep] [load|kill|encoder|database ...]
#   --quick        small sizes (the CTest test fault_checks_quick)
#   --build-dir    the build folder (default build/); its bin/ is copied for each program run
#   --keep         keep the working folder (logs, journals, databases)
# Sizes (environment): FAULTS_REQUESTS (200000; quick 3000) for the load, FAULTS_ROUNDS (5;
# quick 2) kill rounds, FAULTS_KILL_REQUESTS (40000; quick 1500) per kill round.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

quick=0
keep=0
build="$root/build"
scenarios=()
while (($#)); do
    case "$1" in
    --quick) quick=1 ;;
    --keep) keep=1 ;;
    --build-dir)
        build=${2:?--build-dir needs a folder}
        shift
        ;;
    load | kill | encoder | database) scenarios+=("$1") ;;
    *)
        sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
        exit 2
        ;;
    esac
    shift
done
((${#scenarios[@]})) || scenarios=(load kill encoder database)

if ((quick)); then
    requests=${FAULTS_REQUESTS:-3000}
    rounds=${FAULTS_ROUNDS:-2}
    kill_requests=${FAULTS_KILL_REQUESTS:-1500}
else
    requests=${FAULTS_REQUESTS:-200000}
    rounds=${FAULTS_ROUNDS:-5}
    kill_requests=${FAULTS_KILL_REQUESTS:-40000}
fi

bin="$build/bin"
tools="$build/bench"
for file in "$bin/VeltraKandorDoorlock" "$bin/doorlock-send" "$bin/Client.db" "$tools/mixed-load" \
    "$tools/log-check" "$tools/load-generator"; do
    if [[ ! -e "$file" ]]; then
        echo "$file is missing: build first (scripts/test.sh or scripts/build.sh)" >&2
        exit 1
    fi
done
if ! command -v sqlite3 >/dev/null; then
    echo "sqlite3 is not installed (scripts/deps.sh test): the database checks cannot run" >&2
    exit 77 # skipped
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/doorlock-faults.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if ((keep)); then
        echo "working folder kept: $work" >&2
    else
        rm -rf -- "$work"
    fi
}
trap cleanup EXIT
# A process that has been waited for is forgotten: its number may soon belong to another.
forget() {
    local p kept=()
    for p in "${pids[@]}"; do [[ $p == "$1" ]] || kept+=("$p"); done
    pids=("${kept[@]}")
}
trap 'exit 130' INT TERM

say() { echo "== $*" >&2; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -n 1; }
exited() {
    # A child that has ended stays a zombie until waited for; kill -0 cannot tell.
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 0
    stat=${stat##*) }
    [[ ${stat%% *} == Z ]]
}

failures=0
rows=()
# check SCENARIO WHAT EXPECTED ACTUAL [ok|FAIL]: one row of the summary.
check() {
    local verdict=$5
    [[ $verdict == FAIL ]] && failures=$((failures + 1))
    rows+=("| $1 | $2 | $3 | $4 | $verdict |")
}
# expect SCENARIO WHAT EXPECTED ACTUAL: ok when the two are equal.
expect() {
    if [[ "$3" == "$4" ]]; then check "$1" "$2" "$3" "$4" ok; else check "$1" "$2" "$3" "$4" FAIL; fi
}
note() { rows+=("| $1 | $2 | | $3 | |"); }

# ---- the program ------------------------------------------------------------------------------
# install NAME: a copy of build/bin with both record switches on and a card on the encoder.
install() {
    prog_dir="$work/$1"
    mkdir -p "$prog_dir"
    cp -a "$bin/." "$prog_dir/"
    rm -f "$prog_dir"/*.LOG "$prog_dir"/CardWR.journal "$prog_dir"/Option.ini
    prog_port=$("$tools/load-generator" --free-port)
    printf '[SysOption]\r\nDoorlockPortNo=%s\r\n[DoorlockOption]\r\nPortName=COM3\r\nUseNativeDoorlockDb=1\r\nSaveDoorlockRecord=1\r\nDelayMinutes=0\r\nDelayMinutes2=0\r\n' \
        "$prog_port" >"$prog_dir/Option.ini"
    printf '[Encoder]\r\nCardPresent=1\r\nDelayMs=0\r\n' >"$prog_dir/VeltraQuillon.ini"
    printf '0801+1+2030-03-07 12:00:00\r\n' >"$prog_dir/EncoderCard.txt"
    base_records=$(records)
}

# start: runs the installed copy from its folder (the simulator keeps its files in the current
# directory) and waits for its listener; returns 1 when it does not come up.
start() {
    local deadline=$((SECONDS + 120)) marker="Listening for door requests on port $prog_port"
    : >"$prog_dir/stdout.txt"
    (cd "$prog_dir" && QT_QPA_PLATFORM=offscreen exec ./VeltraKandorDoorlock) \
        >>"$prog_dir/stdout.txt" 2>>"$prog_dir/stderr.txt" &
    prog_pid=$!
    pids+=("$prog_pid")
    while ! grep -q -- "$marker" "$prog_dir/stdout.txt" 2>/dev/null; do
        if exited "$prog_pid" || ((SECONDS > deadline)); then
            echo "the program did not start on port $prog_port; its output:" >&2
            cat "$prog_dir/stdout.txt" "$prog_dir/stderr.txt" >&2 || true
            kill -KILL "$prog_pid" 2>/dev/null || true
            wait "$prog_pid" 2>/dev/null || true
            forget "$prog_pid"
            return 1
        fi
        sleep 0.02
    done
}

# stop: SIGTERM and the exit status (SIGKILL and 137 after 60 s).
stop() {
    local deadline=$((SECONDS + 60)) status=0
    kill -TERM "$prog_pid" 2>/dev/null || true
    while ! exited "$prog_pid"; do
        if ((SECONDS > deadline)); then
            kill -KILL "$prog_pid" 2>/dev/null || true
            break
        fi
        sleep 0.02
    done
    wait "$prog_pid" || status=$?
    forget "$prog_pid"
    stop_status=$status
}

records() { sqlite3 "$prog_dir/Client.db" 'select count(*) from T_IssueCardRecord'; }
integrity() { sqlite3 "$prog_dir/Client.db" 'PRAGMA integrity_check' 2>&1 | tr '\n' ' ' | sed 's/ $//'; }
# journal_count FUNCTION [RESULT]: calls of the simulator's journal (with that result).
journal_count() {
    local lines
    lines=$(grep -a "^$1|" "$prog_dir/CardWR.journal" 2>/dev/null | tr -d '\r' || true)
    [[ -n ${2:-} ]] && lines=$(grep -- "|$2\$" <<<"$lines" || true)
    grep -c . <<<"$lines" || true
}
# mixed ARGS...: a mixed load against the program; its requests land in $work/requests.
mixed() {
    "$tools/mixed-load" --port "$prog_port" --dump "$work/requests" "$@"
}
# logcheck: whole entries in every log of the program folder; sets log_result and log_kinds.
logcheck() {
    local out status=0
    out=$("$tools/log-check" --requests "$work/requests" "$prog_dir"/*.LOG) || status=$?
    log_result=$(grep '^RESULT ' <<<"$out" || true)
    log_kinds=$(grep '^KIND ' <<<"$out" || true)
    grep '^PROBLEM ' <<<"$out" | head -n 5 >&2 || true
    log_status=$status
}
kind_count() { awk -v k="$1" '{ n = $2; sub(/^KIND [0-9]+ /, ""); if ($0 == k) print n }' <<<"$log_kinds" | head -n 1; }

# ---- 1. load ----------------------------------------------------------------------------------
scenario_load() {
    local t0 out result issue writes recs
    say "load: $requests mixed requests at 64 connections, records on"
    install load
    start || { check load "program starts" yes no FAIL; return; }
    t0=$(now_ms)
    out=$(mixed --requests "$requests" --duration 3000 --timeout-ms 60000)
    result=$(grep '^RESULT ' <<<"$out")
    grep '^KIND ' <<<"$out" >&2
    stop
    logcheck
    issue=$(field "$result" issue_answered)
    writes=$(journal_count W_Card)
    recs=$(($(records) - base_records))
    note load "requests sent (answerable / unreadable)" "$(field "$result" requests) ($(field "$result" answerable) / $(field "$result" unanswerable)) in $(((($(now_ms) - t0) + 500) / 1000)) s, $(field "$result" rps) req/s"
    expect load "answerable requests answered" "$(field "$result" answerable)" "$(field "$result" answered)"
    expect load "unreadable requests answered" 0 "$(field "$result" unanswerable_answered)"
    expect load "lost round trips (errors, timeouts)" 0 "$(field "$result" errors)"
    expect load "log: entries torn / requests cut" "0 / 0" "$(field "$log_result" torn) / $(field "$log_result" unknown_requests)"
    expect load "log: requests received" "$(field "$result" requests)" "$(field "$log_result" received)"
    note load "log: entries checked" "$(field "$log_result" entries)"
    expect load "W_Card calls = IssueCards answered" "$issue" "$writes"
    expect load "issue records = W_Card calls" "$writes" "$recs"
    expect load "PRAGMA integrity_check" ok "$(integrity)"
    expect load "exit status after SIGTERM" 0 "$stop_status"
}

# ---- 2. kill -9 in the middle of a load -------------------------------------------------------
scenario_kill() {
    local round t0 load_pid delay in_flight=0 integrity_ok=0 writes recs lost answered=0 result
    say "kill: $rounds rounds of kill -9 during a load of $kill_requests requests"
    install kill
    t0=$(now_ms)
    for ((round = 1; round <= rounds; round++)); do
        start || { check kill "program starts in round $round" yes no FAIL; return; }
        mixed --requests "$kill_requests" --duration 600 --timeout-ms 10000 >"$work/kill-$round.out" &
        load_pid=$!
        pids+=("$load_pid")
        # Somewhere in the middle: between 0.3 s and 1.5 s (quick) or 1 s and 4 s in.
        if ((quick)); then delay=$((300 + RANDOM % 1200)); else delay=$((1000 + RANDOM % 3000)); fi
        sleep "$(awk -v d="$delay" 'BEGIN { printf "%.3f", d / 1000 }')"
        exited "$load_pid" || in_flight=$((in_flight + 1))
        kill -KILL "$prog_pid"
        wait "$prog_pid" 2>/dev/null || true # the shell would report the kill
        forget "$prog_pid"
        wait "$load_pid" || true
        forget "$load_pid"
        result=$(grep '^RESULT ' "$work/kill-$round.out" || true)
        answered=$((answered + $(field "$result" answered)))
        [[ $(integrity) == ok ]] && integrity_ok=$((integrity_ok + 1))
    done
    # The program must come up again on what the kills left, and serve.
    start || { check kill "program starts after the kills" yes no FAIL; return; }
    mixed --requests 200 --mix new=2,copy=1,read=2,erase=2 --timeout-ms 60000 >"$work/kill-after.out"
    result=$(grep '^RESULT ' "$work/kill-after.out")
    stop
    logcheck
    writes=$(journal_count W_Card)
    recs=$(($(records) - base_records))
    lost=$((writes - recs))
    note kill "rounds (load still running at the kill)" "$rounds ($in_flight), $answered answers before the kills, $(((($(now_ms) - t0) + 500) / 1000)) s"
    expect kill "integrity_check ok after each kill" "$rounds" "$integrity_ok"
    expect kill "integrity_check at the end" ok "$(integrity)"
    expect kill "log: entries torn / requests cut" "0 / 0" "$(field "$log_result" torn) / $(field "$log_result" unknown_requests)"
    note kill "log: entries checked" "$(field "$log_result" entries)"
    # A card is written under the device lock; its records are committed after the lock is let
    # go, and its answer waits for them. A kill can so catch at most one unanswered card per
    # worker (4) between the write and its record.
    local in_flight=$((rounds * 4))
    if ((lost >= 0 && lost <= in_flight)); then
        check kill "W_Card calls − issue records (≤ four per kill)" "0 to $in_flight" "$writes − $recs = $lost" ok
    else
        check kill "W_Card calls − issue records (≤ four per kill)" "0 to $in_flight" "$writes − $recs = $lost" FAIL
    fi
    expect kill "requests answered after restart" "200 of 200" "$(field "$result" answered) of $(field "$result" requests)"
    expect kill "exit status after SIGTERM" 0 "$stop_status"
}

# ---- 3. the encoder fails ---------------------------------------------------------------------
scenario_encoder() {
    local phase setting result sends codes n=12 issued=0 expected_writes
    say "encoder: Result=0, then CardPresent=0"
    install encoder
    start || { check encoder "program starts" yes no FAIL; return; }
    for phase in "Result=0" "CardPresent=0"; do
        printf '[Encoder]\r\n%s\r\n' "$phase" >"$prog_dir/VeltraQuillon.ini"
        mixed --requests "$n" --mix new=2,copy=1,read=2,erase=2 --timeout-ms 60000 >"$work/encoder.out"
        result=$(grep '^RESULT ' "$work/encoder.out")
        issued=$((issued + $(field "$result" issue)))
        expect encoder "$phase: answered, not 200" "$n, $n" "$(field "$result" answered), $(field "$result" failed)"
        # One of each kind by hand, to see the code itself.
        codes=""
        for sends in new-0 copy-0 read-0 erase-0; do
            codes+="$("$bin/doorlock-send" raw "$work/requests/$sends.xml" --port "$prog_port" --timeout 60 |
                sed -n 's/^ResultCode: //p' || true) "
        done
        issued=$((issued + 2))
        expect encoder "$phase: ResultCode of IssueCard new/copy, ReadCard, EraseCard" "500 500 500 500" "${codes% }"
    done
    stop
    expected_writes=$issued
    expect encoder "W_Card calls (all failed)" "$expected_writes, 0 succeeded" "$(journal_count W_Card), $(journal_count W_Card 1) succeeded"
    expect encoder "issue records with CardNo 0" "$issued of $issued" \
        "$(sqlite3 "$prog_dir/Client.db" "select count(*) from T_IssueCardRecord where CardNo='0'") of $(($(records) - base_records))"
    logcheck
    expect encoder "log: entries torn" 0 "$(field "$log_result" torn)"
    expect encoder "exit status after SIGTERM" 0 "$stop_status"
}

# ---- 4. the database file removed while running -----------------------------------------------
scenario_database() {
    local load_pid result after n m errors before
    if ((quick)); then n=1500; m=40; else n=20000; m=400; fi
    say "database: Client.db removed during a load of $n requests, then put back"
    install database
    cp "$prog_dir/Client.db" "$work/Client.db.backup"
    start || { check database "program starts" yes no FAIL; return; }
    mixed --requests "$n" --duration 600 --timeout-ms 60000 >"$work/database.out" &
    load_pid=$!
    pids+=("$load_pid")
    sleep "$( ((quick)) && echo 0.3 || echo 1)"
    rm -f "$prog_dir/Client.db"
    wait "$load_pid" || true
    forget "$load_pid"
    result=$(grep '^RESULT ' "$work/database.out" || true)
    expect database "answerable requests answered while the file is gone" "$(field "$result" answerable)" "$(field "$result" answered)"
    expect database "lost round trips" 0 "$(field "$result" errors)"
    exited "$prog_pid" && check database "program alive after the load" yes no FAIL || check database "program alive after the load" yes yes ok
    # A copy of the file, as an operator restores a backup: a new file, not the one removed.
    cp "$work/Client.db.backup" "$prog_dir/Client.db"
    before=$(records)
    mixed --requests "$m" --mix new=4,copy=2 --timeout-ms 60000 >"$work/database-after.out"
    after=$(grep '^RESULT ' "$work/database-after.out")
    stop
    logcheck
    errors=$(grep -E 'unable to open database file|readonly database|disk I/O error' <<<"$log_kinds" | sort -k2 -n -r | sed 's/^KIND //; s/|/\\|/g' | tr '\n' ';' | sed 's/;$//; s/;/; /g' || true)
    expect database "records after the file is back" "$m" "$(($(records) - before))"
    expect database "answers after the file is back" "$m" "$(field "$after" answered)"
    if [[ -n $errors ]]; then
        check database "store errors logged (count text)" "yes" "$errors" ok
    else
        check database "store errors logged" "yes" "none" FAIL
    fi
    expect database "log: entries torn" 0 "$(field "$log_result" torn)"
    expect database "PRAGMA integrity_check (restored file)" ok "$(integrity)"
    expect database "exit status after SIGTERM" 0 "$stop_status"
}

started=$(now_ms)
for scenario in "${scenarios[@]}"; do
    "scenario_$scenario"
done

echo
echo "Machine: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $(nproc) cores; $(date '+%Y-%m-%d %H:%M %Z')"
echo "Command: bench/fault-checks.sh$( ((quick)) && echo ' --quick') ${scenarios[*]} (build $(basename "$build"), $requests load requests, $rounds kill rounds of $kill_requests)"
echo "Time: $(((($(now_ms) - started) + 500) / 1000)) s"
echo
echo "| Scenario | Check | Expected | Measured | |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
if ((failures)); then
    echo "$failures check(s) FAILED"
    exit 1
fi
echo "all checks passed"
