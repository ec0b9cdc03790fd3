# Sourced by the commands, first thing: everything they start runs as a
# session of its own, known from the moment it starts, and SIGTERM, SIGHUP or
# SIGINT ends every process of those sessions (whatever process groups they
# made) before the command exits with 128 + the signal. Nothing here is run
# through a pipe or a process substitution, whose pids would hide the session.
#   own_start COMMAND...  starts COMMAND as an owned session in the background ($!)
#   own_run COMMAND...    runs COMMAND as an owned session and returns its status
#   own_stop              ends what is left of every owned session
#   own_cleanup COMMAND   a command of the caller's to run after own_stop at exit
own_sessions=()
own_cleanup_command=()

own_pids() {
    # Every session this shell started, the last of them even when the signal
    # came before it was recorded ($! is set when the child is made).
    local ids=" ${own_sessions[*]} ${!:-} "
    ps -e -o pid=,sid= | awk -v ids="$ids" -v self="$$" '$1 != self && index(ids, " " $2 " ") { print $1 }'
}

# Asked first, then made to: a process may start others until it is gone.
own_stop() {
    local pids round
    for round in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(own_pids)
        [ -n "$pids" ] || return 0
        if [ "$round" -le 4 ]; then
            kill -TERM $pids 2>/dev/null
        else
            kill -KILL $pids 2>/dev/null
        fi
        sleep 0.25
    done
    echo "$(basename "$0"): processes still there: $(own_pids | paste -sd ' ')" >&2
}

own_start() {
    # setsid makes the child a session leader without forking (a background
    # child of a script leads no process group), so the session's id is $!.
    setsid -w "$@" &
    own_sessions+=("$!")
}

own_run() {
    own_start "$@"
    wait "$!"
}

own_cleanup() {
    own_cleanup_command=("$@")
}

own_finish() {
    own_stop
    [ ${#own_cleanup_command[@]} -eq 0 ] || "${own_cleanup_command[@]}"
}
trap own_finish EXIT
trap 'exit 143' TERM
trap 'exit 129' HUP
trap 'exit 130' INT
