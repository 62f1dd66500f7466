#!/usr/bin/env bash
# Measures the door-lock interface beside the reference server (the least a server can do for
# the protocol) in one run, and prints one markdown table. Builds nothing: run it after
# scripts/test.sh or scripts/run.sh has built build/.
#   bench/run.sh            the full run (about three minutes)
#   bench/run.sh --quick    short runs and fewer connections, to try the script out
# Settings (environment): BENCH_BUILD_DIR (build/), BENCH_SECONDS (5, per round-trip run),
# BENCH_REQUESTS (200000, per run), BENCH_IDLE (10000), BENCH_IDLE_RATE (1000 connects/s),
# BENCH_CARD_CLIENTS (4), BENCH_CARDS_PER_CLIENT (20), BENCH_DELAY_MS (200),
# BENCH_COMMIT_PAIRS (100), BENCH_KEEP=1 keeps the working folder. All on 127.0.0.1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=${BENCH_SECONDS:-5}
max_requests=${BENCH_REQUESTS:-200000}
idle=${BENCH_IDLE:-10000}
idle_rate=${BENCH_IDLE_RATE:-1000}
card_clients=${BENCH_CARD_CLIENTS:-4}
cards_per_client=${BENCH_CARDS_PER_CLIENT:-20}
delay_ms=${BENCH_DELAY_MS:-200}
commit_pairs=${BENCH_COMMIT_PAIRS:-100}
if [[ "${1:-}" == "--quick" ]]; then
    seconds=1
    idle=1000
    cards_per_client=3
    commit_pairs=20
elif [[ $# -gt 0 ]]; then
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi

build=${BENCH_BUILD_DIR:-$root/build}
bin="$build/bin"
tools="$build/bench"
loadgen="$tools/load-generator"
for tool in reference-server load-generator sqlite-commit-cost; do
    if [[ ! -x "$tools/$tool" ]]; then
        echo "$tools/$tool is missing: build first (scripts/test.sh or scripts/run.sh)" >&2
        exit 1
    fi
done
program_present=0
[[ -x "$bin/VeltraKandorDoorlock" ]] && program_present=1

# Thousands of held connections need descriptors on both ends; the program inherits this.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
fd_limit=$(ulimit -n)
if [[ "$fd_limit" != unlimited && $((idle + 256)) -gt $fd_limit ]]; then
    echo "note: descriptor limit $fd_limit; holding $((fd_limit - 256)) idle connections instead of $idle" >&2
    idle=$((fd_limit - 256))
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/doorlock-bench.XXXXXX")
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    if [[ "${BENCH_KEEP:-0}" == 1 ]]; then
        echo "working folder kept: $work" >&2
    else
        rm -rf -- "$work"
    fi
}
trap cleanup EXIT

say() { echo "== $*" >&2; }
now_ns() { date +%s%N; }
ms_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'; }
# calc EXPRESSION [printf-format]: floating-point arithmetic on plain numbers.
calc() { awk "BEGIN { printf \"${2:-%.1f}\", $1 }"; }
# field LINE KEY: the value of KEY=value in a RESULT/READY line.
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -n 1; }
result_line() { grep '^RESULT ' <<<"$1" | tail -n 1; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
fd_count() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
exited() {
    # A child that has ended stays a zombie until waited for; kill -0 cannot tell.
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 0
    stat=${stat##*) }
    [[ ${stat%% *} == Z ]]
}
# wait_for_line FILE PATTERN SECONDS PID: true once a line of FILE matches PATTERN.
wait_for_line() {
    local deadline=$((SECONDS + $3))
    while ((SECONDS < deadline)); do
        grep -q -- "$2" "$1" 2>/dev/null && return 0
        exited "$4" && return 1
        sleep 0.01
    done
    return 1
}

rows=()
# Markdown row: cells separated by " | ".
add_row() {
    local line="|" cell
    for cell in "$@"; do line+=" $cell |"; done
    rows+=("$line")
}
notes=()

# ---- the reference server -----------------------------------------------------------------
start_reference() {
    "$tools/reference-server" 0 >"$work/reference.out" 2>"$work/reference.err" &
    ref_pid=$!
    pids+=("$ref_pid")
    if ! wait_for_line "$work/reference.out" '^listening on port' 10 "$ref_pid"; then
        echo "the reference server did not start:" >&2
        cat "$work/reference.err" >&2
        exit 1
    fi
    ref_port=$(head -n 1 "$work/reference.out" | awk '{ print $NF }')
}

stop_reference() {
    kill -TERM "$ref_pid" 2>/dev/null || true
    wait "$ref_pid" || true
}

# ---- the program ------------------------------------------------------------------------------
# install_program NAME USE_NATIVE_DB SAVE_RECORD DELAY_MS: a copy of build/bin with its settings.
install_program() {
    local dir="$work/$1"
    mkdir -p "$dir"
    cp -a "$bin/." "$dir/"
    prog_port=$("$loadgen" --free-port)
    printf '[SysOption]\r\nDoorlockPortNo=%s\r\n[DoorlockOption]\r\nPortName=COM3\r\nUseNativeDoorlockDb=%s\r\nSaveDoorlockRecord=%s\r\nDelayMinutes=0\r\nDelayMinutes2=0\r\n' \
        "$prog_port" "$2" "$3" >"$dir/Option.ini"
    printf '[Encoder]\r\nCardPresent=1\r\nDelayMs=%s\r\n' "$4" >"$dir/VeltraQuillon.ini"
    # A card on the encoder, so that ReadCard succeeds.
    printf '0801+1+2030-03-07 12:00:00\r\n' >"$dir/EncoderCard.txt"
    prog_dir=$dir
}

# start_program: starts the installed copy from its own folder (where the encoder simulator
# keeps its files); sets prog_pid and the start-up figures, or returns 1.
start_program() {
    local t0 ready
    t0=$(now_ns)
    (cd "$prog_dir" && QT_QPA_PLATFORM=offscreen exec ./VeltraKandorDoorlock) \
        >"$prog_dir/stdout.txt" 2>"$prog_dir/stderr.txt" &
    prog_pid=$!
    pids+=("$prog_pid")
    if ! ready=$("$loadgen" --port "$prog_port" --probe --timeout-ms 30000) ||
        ! wait_for_line "$prog_dir/stdout.txt" "Listening for door requests on port $prog_port" 10 "$prog_pid"; then
        echo "the program did not start on port $prog_port; its output:" >&2
        cat "$prog_dir/stdout.txt" "$prog_dir/stderr.txt" >&2 || true
        kill -KILL "$prog_pid" 2>/dev/null || true
        wait "$prog_pid" 2>/dev/null || true
        return 1
    fi
    startup_connect_ms=$(ms_between "$t0" "$(field "$ready" connect_ns)")
    startup_answer_ms=$(ms_between "$t0" "$(field "$ready" answer_ns)")
}

# stop_program: SIGTERM, then the time until the process has ended (SIGKILL after 20 s).
stop_program() {
    local t0 t1 status=0
    t0=$(now_ns)
    kill -TERM "$prog_pid" 2>/dev/null || true
    while ! exited "$prog_pid"; do
        if (($(now_ns) - t0 > 20000000000)); then
            kill -KILL "$prog_pid"
            notes+=("The program did not end within 20 s of SIGTERM and was killed.")
            break
        fi
        sleep 0.002
    done
    t1=$(now_ns)
    wait "$prog_pid" || status=$?
    shutdown_ms=$(ms_between "$t0" "$t1")
    shutdown_status=$status
    if grep -a -q 'Terminate Thread Timeout' "$prog_dir"/stdout.txt "$prog_dir"/stderr.txt "$prog_dir"/*.LOG 2>/dev/null; then
        shutdown_timeout_error=yes
    else
        shutdown_timeout_error=no
    fi
}

# ---- measurements -----------------------------------------------------------------------------
# readcard PORT CONCURRENCY LABEL: prints the RESULT line of a bounded ReadCard run.
readcard() {
    local out
    out=$("$loadgen" --port "$1" --type ReadCard --concurrency "$2" --requests "$max_requests" \
        --duration "$seconds" --label "$3" --machine)
    result_line "$out"
}

# idle_scenario PID PORT PREFIX: holds the idle connections, measures memory and ReadCard
# latency while they are held; leaves them held (holder_pid) for the caller to end.
idle_scenario() {
    local pid=$1 port=$2 prefix=$3 before held after base deadline out
    before=$(rss_kb "$pid")
    base=$(fd_count "$pid")
    # Paced: the program's listen backlog is 15, and the kernel silently drops the handshakes
    # of a burst that overflows it; those connections would never reach the server.
    "$loadgen" --port "$port" --idle "$idle" --idle-rate "$idle_rate" --hold 900 \
        --timeout-ms 30000 >"$work/$prefix-holder.out" 2>&1 &
    holder_pid=$!
    pids+=("$holder_pid")
    if ! wait_for_line "$work/$prefix-holder.out" '^HOLDING' 300 "$holder_pid"; then
        echo "the idle connections could not be opened:" >&2
        cat "$work/$prefix-holder.out" >&2
        return 1
    fi
    # Connected is not yet accepted: wait until the server holds them all.
    deadline=$((SECONDS + 60))
    while (($(fd_count "$pid") < base + idle && SECONDS < deadline)); do sleep 0.05; done
    eval "${prefix}_idle_accepted=$(($(fd_count "$pid") - base))"
    eval "${prefix}_idle_opened=$(awk '/^HOLDING/ { print $2 }' "$work/$prefix-holder.out")"
    held=$(rss_kb "$pid")
    out=$("$loadgen" --port "$port" --type ReadCard --concurrency 1 --requests "$max_requests" \
        --duration "$seconds" --label "$prefix-idle" --machine)
    after=$(rss_kb "$pid")
    eval "${prefix}_idle_result='$(result_line "$out")'"
    eval "${prefix}_rss_before=$before"
    eval "${prefix}_rss_added=$(((held > after ? held : after) - before))"
}

release_holder() {
    kill -TERM "$holder_pid" 2>/dev/null || true
    wait "$holder_pid" || true
}

# ================================================================================================
say "working folder $work; round-trip runs of ${seconds} s (at most $max_requests requests)"
start_reference
say "reference server on port $ref_port"

program_running=0
if ((program_present)); then
    install_program readcard 0 0 0
    say "starting the program on port $prog_port"
    if start_program; then
        program_running=1
        add_row "Start-up" "first connection accepted / first answer" "—" \
            "${startup_connect_ms} ms / ${startup_answer_ms} ms" "" ""
    else
        notes+=("The program did not start; its scenarios are left out (see the output above).")
    fi
else
    notes+=("No program in $bin yet: only the reference server was measured.")
fi

# 1. ReadCard round trips at 1, 8 and 64 connections, both servers in turn.
for c in 1 8 64; do
    say "ReadCard, $c connection(s): reference server"
    ref=$(readcard "$ref_port" "$c" "reference-c$c")
    prog=""
    if ((program_running)); then
        say "ReadCard, $c connection(s): program"
        prog=$(readcard "$prog_port" "$c" "program-c$c")
    fi
    ref_cell="$(field "$ref" rps) req/s, p50 $(calc "$(field "$ref" p50_us)/1000" %.2f) ms, p99 $(calc "$(field "$ref" p99_us)/1000" %.2f) ms"
    ((($(field "$ref" errors) > 0))) && ref_cell+=", $(field "$ref" errors) errors"
    if [[ -n "$prog" ]]; then
        prog_cell="$(field "$prog" rps) req/s, p50 $(calc "$(field "$prog" p50_us)/1000" %.2f) ms, p99 $(calc "$(field "$prog" p99_us)/1000" %.2f) ms"
        (($(field "$prog" errors) + $(field "$prog" failed) > 0)) &&
            prog_cell+=", $(field "$prog" errors) errors, $(field "$prog" failed) not 200"
        ratio=$(calc "$(field "$prog" rps)/$(field "$ref" rps)" %.2f)
    else
        prog_cell="—"
        ratio="—"
    fi
    goal=""
    [[ $c == 64 ]] && goal="ratio ≥ 0.7"
    add_row "ReadCard, $c connection(s)" "requests/s, latency" "$ref_cell" "$prog_cell" "$ratio" "$goal"
done

# 2. Idle connections: memory and ReadCard latency while they are held, then the shutdown.
say "idle connections: $idle held on the reference server"
if idle_scenario "$ref_pid" "$ref_port" ref; then
    release_holder
    ref_idle_cell="RSS +$(calc "$ref_rss_added/1024" %.1f) MB, p99 $(calc "$(field "$ref_idle_result" p99_us)/1000" %.2f) ms"
else
    ref_idle_cell="could not be opened"
fi
stop_reference

prog_idle_cell="—"
if ((program_running)); then
    say "idle connections: $idle held on the program"
    if idle_scenario "$prog_pid" "$prog_port" prog; then
        prog_idle_cell="RSS +$(calc "$prog_rss_added/1024" %.1f) MB (from $(calc "$prog_rss_before/1024" %.1f) MB), p99 $(calc "$(field "$prog_idle_result" p99_us)/1000" %.2f) ms, $prog_idle_accepted accepted"
        say "SIGTERM to the program while they are held"
        stop_program
        release_holder
        closed=$(awk '/^RELEASED/ { sub("closed_by_server=", "", $3); print $3 }' "$work/prog-holder.out")
        add_row "Idle connections" "$idle held: memory added, ReadCard p99" "$ref_idle_cell" "$prog_idle_cell" "" "< 64 MB, p99 < 5 ms"
        add_row "Shutdown" "SIGTERM to exit, with the idle connections held" "—" \
            "$shutdown_ms ms, exit status $shutdown_status, timeout error: $shutdown_timeout_error, ${closed:-?} of $prog_idle_opened closed" "" "≤ 5000 ms, status 0, no timeout error"
    else
        add_row "Idle connections" "$idle held: memory added, ReadCard p99" "$ref_idle_cell" "could not be opened" "" "< 64 MB, p99 < 5 ms"
        stop_program
    fi
    program_running=0
else
    add_row "Idle connections" "$idle held: memory added, ReadCard p99" "$ref_idle_cell" "—" "" "< 64 MB, p99 < 5 ms"
fi

# 3. Card overhead: IssueCard with both record switches on and a slow encoder.
say "durable SQLite commits: $commit_pairs pairs on a copy of Client.db"
commit_out=$("$tools/sqlite-commit-cost" --db "$bin/Client.db" --dir "$work" --pairs "$commit_pairs")
commit=$(result_line "$commit_out")
commit_cell="$(calc "$(field "$commit" mean_us)/1000" %.2f) ms mean, $(calc "$(field "$commit" p99_us)/1000" %.2f) ms p99 (two commits)"

if ((program_present)); then
    cards=$((card_clients * cards_per_client))
    install_program cards 1 1 "$delay_ms"
    say "card overhead: $card_clients clients x $cards_per_client IssueCards, encoder DelayMs=$delay_ms"
    if start_program; then
        out=$("$loadgen" --port "$prog_port" --type IssueCard --rooms 8 --concurrency "$card_clients" \
            --requests "$cards" --duration 900 --timeout-ms 600000 --label cards --machine)
        card=$(result_line "$out")
        stop_program
        written=$(grep -a '^W_Card|' "$prog_dir/CardWR.journal" 2>/dev/null | tr -d '\r' | grep -c '|1$' || true)
        elapsed=$(field "$card" elapsed_ms)
        beyond=$(calc "($elapsed - $written * $delay_ms) / ($written > 0 ? $written : 1)" %.2f)
        utilisation=$(calc "100 * $written * $delay_ms / $elapsed" %.2f)
        records="?"
        if command -v sqlite3 >/dev/null; then
            records=$(sqlite3 "$prog_dir/Client.db" 'select count(*) from T_IssueCardRecord')
        fi
        add_row "Card overhead" "time per card beyond the encoder's $delay_ms ms" "$commit_cell" \
            "$beyond ms ($cards cards in $(calc "$elapsed/1000" %.2f) s)" "" "limit: the two commits"
        add_row "Card overhead" "encoder utilisation; answers; records" "—" \
            "$utilisation %; $(field "$card" ok) of $cards answered 200, $(field "$card" errors) errors; $written cards written, $records issue records" \
            "" "≥ 99 %, none lost or failed"
    else
        notes+=("The program did not start for the card overhead run.")
        add_row "Card overhead" "two durable SQLite commits (the limit)" "$commit_cell" "—" "" ""
    fi
else
    add_row "Card overhead" "two durable SQLite commits (the limit)" "$commit_cell" "—" "" ""
fi

# ---- the table --------------------------------------------------------------------------------
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
mem=$(awk '/^MemTotal:/ { printf "%.0f GB", $2 / 1048576 }' /proc/meminfo)
echo
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, $mem, $(uname -sr); $(date '+%Y-%m-%d %H:%M %Z')"
echo "Command: bench/run.sh${1:+ $1} (round-trip runs of ${seconds} s, $idle idle connections, $card_clients x $cards_per_client cards)"
echo
echo "| Scenario | Measure | Reference server | Program | Program / reference | Goal |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
for note in "${notes[@]}"; do
    echo
    echo "Note: $note"
done
