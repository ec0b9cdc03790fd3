# Sourced by the commands, first thing: everything they start runs as a
# session of its own, known from the moment it starts, and SIGTERM, SIGHUP or
# SIGINT ends every process of those sessions (whatever process groups they
# made) before the command exits with 128 + the signal. Nothing here is run
# through a pipe or a process substitution, whose pids would hide the session.
#   own_start COMMAND...  starts COMMAND as an owned session in the background ($!)
#   own_run COMMAND...    runs COMMAND as an owned session and returns its status
#   own_stop              ends what is left of every owned session
#   own_cleanup COMMAND   a command of the caller's to run after own_stop at exit
# The clean-up at exit cannot fail half-way: it runs without the caller's
# set -e, so a process that ends between being listed and being signalled, or
# a display already gone, changes neither what is cleaned nor the status.
own_sessions=()
own_cleanup_command=()

own_pids() {
    # Every live process of the sessions this shell started, the last of them
    # even when the signal came before it was recorded ($! is set when the
    # child is made). A process that has ended but is not yet reaped is gone.
    local ids=" ${own_sessions[*]} ${!:-} "
    ps -e -o pid=,sid=,stat= |
        awk -v ids="$ids" -v self="$$" '$1 != self && $3 !~ /^Z/ && index(ids, " " $2 " ") { print $1 }'
}

# Whether any of the processes named is still there (not only waiting to be reaped).
own_alive() {
    local stat
    for stat in $(ps -o stat= -p "$(IFS=,; echo "$*")" 2>/dev/null); do
        case $stat in Z*) ;; *) return 0 ;; esac
    done
    return 1
}

# Asked first, then made to. What runs when the stop begins is asked once and
# given time for its own clean-up (a test removing its copies, a session
# stopping its server): the helpers such a clean-up starts are not asked to
# end with it. Meanwhile each session's leader (CTest, say) is held still: it
# starts nothing new, and the pipes it reads stay open, so that a clean-up
# that prints a line is not ended by SIGPIPE. The leaders are asked last;
# what is left after that, or started meanwhile, is asked again and killed.
own_stop() {
    local pids pid leaders="" others="" round waited
    pids=$(own_pids)
    own_alive $pids || return 0
    for pid in $pids; do
        case " ${own_sessions[*]} ${!:-} " in
            *" $pid "*) leaders+=" $pid" ;;
            *) others+=" $pid" ;;
        esac
    done
    [ -z "$leaders" ] || kill -STOP $leaders 2>/dev/null || true
    [ -z "$others" ] || kill -TERM $others 2>/dev/null || true
    for ((waited = 0; waited < 100; waited++)); do
        own_alive $others || break
        sleep 0.1
    done
    if [ -n "$leaders" ]; then
        kill -TERM $leaders 2>/dev/null || true
        kill -CONT $leaders 2>/dev/null || true
    fi
    for round in 1 2 3 4 5 6 7 8; do
        sleep 0.25
        pids=$(own_pids)
        own_alive $pids || return 0
        if [ "$round" -le 3 ]; then
            kill -TERM $pids 2>/dev/null || true
        else
            kill -KILL $pids 2>/dev/null || true
        fi
    done
    pids=$(own_pids)
    ! own_alive $pids || echo "$(basename "$0"): processes still there: $(echo $pids)" >&2
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
    set +e
    own_stop
    [ ${#own_cleanup_command[@]} -eq 0 ] || "${own_cleanup_command[@]}"
}
trap own_finish EXIT
trap 'exit 143' TERM
trap 'exit 129' HUP
trap 'exit 130' INT
