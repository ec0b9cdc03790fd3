# Sourced by the commands, first thing: everything they start runs as a
# session of its own, known from the moment it starts, and SIGTERM, SIGHUP or
# SIGINT ends every process of those sessions (whatever process groups they
# made) before the command exits with 128 + the signal. Nothing here is run
# through a pipe or a process substitution, whose pids would hide the session.
#   own_start COMMAND...  starts COMMAND as an owned session in the background ($!)
#   own_run COMMAND...    runs COMMAND as an owned session and returns its status
#   own_stop              ends what is left of every owned session
#   own_cleanup COMMAND   a command of the caller's to run after own_stop at exit
#   own_leftovers FOLDER  what of FOLDER the clean-up would remove, done should the shell be killed
#   own_marked            every process started since, that carries the command's mark
# The clean-up at exit cannot fail half-way: it runs without the caller's
# set -e, so a process that ends between being listed and being signalled, or
# a display already gone, changes neither what is cleaned nor the status.
own_sessions=()
own_cleanup_command=()
# Every process the command starts carries this mark in its environment, even
# one that leaves its sessions (Wine's server and services put themselves into
# sessions of their own). The command's own watches go without it, marked as
# its helpers instead.
KIV_OWN_MARK=$$-$RANDOM$RANDOM
export KIV_OWN_MARK
own_watch=""
own_leftover_folder=""

own_pids() {
    # Every live process of the sessions this shell started, the last of them
    # even when the signal came before it was recorded ($! is set when the
    # child is made). A process that has ended but is not yet reaped is gone.
    # ps catches the signals it is sent, even those its caller ignores, and
    # ends at once: a listing cut short by a second Ctrl-C is taken again.
    local ids=" ${own_sessions[*]} ${!:-} " listed tries
    for ((tries = 0; tries < 10; tries++)); do
        listed=$(ps -e -o pid=,sid=,stat=) && break
    done
    printf '%s\n' "$listed" |
        awk -v ids="$ids" -v self="$$" -v watch="$own_watch" \
            '$1 != self && $1 != watch && $3 !~ /^Z/ && index(ids, " " $2 " ") { print $1 }'
}

own_helpers() {
    grep -lzsxF "KIV_OWN_HELPER=$KIV_OWN_MARK" /proc/[0-9]*/environ | cut -d/ -f3
}
own_marked() {
    local mark="KIV_OWN_MARK=$KIV_OWN_MARK"
    (export -n KIV_OWN_MARK; grep -lzsxF "$mark" /proc/[0-9]*/environ | cut -d/ -f3 | grep -vx "$$")
}

# Whether any of the processes named is still there (not only waiting to be
# reaped), read from /proc by the shell itself: no helper a signal could end.
own_alive() {
    local pid line
    for pid in "$@"; do
        read -r line 2>/dev/null <"/proc/$pid/stat" || continue
        line=${line##*) }
        [ "${line%% *}" = Z ] || return 0
    done
    return 1
}

# Whether every process named is stopped (or gone), read as own_alive reads.
own_held() {
    local pid line
    for pid in "$@"; do
        read -r line 2>/dev/null <"/proc/$pid/stat" || continue
        line=${line##*) }
        case ${line%% *} in T | t | Z) ;; *) return 1 ;; esac
    done
    return 0
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
    if [ -n "$leaders" ]; then
        # Held leaders are let go again even should this shell be killed
        # meanwhile: a leader left stopped would hold its run (and the test
        # session it owns) for good. Started from a subshell, so that $! still
        # names the last session.
        (env -u KIV_OWN_MARK KIV_OWN_HELPER="$KIV_OWN_MARK" setsid bash -c \
            'while kill -0 "$0" 2>/dev/null; do sleep 0.2; done; kill -CONT "$@" 2>/dev/null' \
            "$$" $leaders </dev/null >/dev/null 2>&1 &)
        kill -STOP $leaders 2>/dev/null || true
        # Listed again once they are held: a child a leader was starting as
        # the first list was taken (a test entry about to set up its own
        # clean-up) gets the same time for it as the rest.
        for ((waited = 0; waited < 20; waited++)); do
            own_held $leaders && break
            sleep 0.05
        done
        others=""
        for pid in $(own_pids); do
            case " $leaders " in *" $pid "*) ;; *) others+=" $pid" ;; esac
        done
    fi
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
    [ -z "$own_leftover_folder" ] || echo "$!" 2>/dev/null >>"$own_leftover_folder/sessions" || true
}

own_run() {
    own_start "$@"
    wait "$!"
}

own_cleanup() {
    own_cleanup_command=("$@")
}

# own_leftovers FOLDER: should this shell be killed before its clean-up is
# done, a watch of its own removes what the clean-up would have: once the
# sessions this shell started are gone too (CTest runs on alone on the
# display), it ends the display recorded in FOLDER/display (":N PID", as
# scripts/xvfb-start.sh prints it) and removes FOLDER. The sessions are listed
# in FOLDER/sessions as they start. Called before anything is started, so
# that $! names no session yet; the clean-up ends the watch once it has run
# whole.
own_leftovers() {
    own_leftover_folder=$1
    env -u KIV_OWN_MARK KIV_OWN_HELPER="$KIV_OWN_MARK" setsid bash -c 'while kill -0 "$0" 2>/dev/null; do sleep 0.2; done
                    while ids=" $(echo $(cat "$1/sessions" 2>/dev/null)) " && [ "$ids" != "  " ] &&
                        ps -e -o sid=,stat= | awk -v ids="$ids" '\''$2 !~ /^Z/ && index(ids, " " $1 " ") { found = 1 }
                                                                    END { exit !found }'\''; do
                        sleep 0.5
                    done
                    [ -s "$1/display" ] && read -r _ xvfb <"$1/display" &&
                        grep -qs Xvfb "/proc/$xvfb/cmdline" && kill "$xvfb"
                    rm -rf "$1"' "$$" "$1" </dev/null >/dev/null 2>&1 &
    own_watch=$!
}

# The clean-up runs once and whole: from its first step SIGTERM, SIGHUP and
# SIGINT are ignored, by the helpers it runs too (a second Ctrl-C reaches the
# whole process group, and a helper ended half-way would cut the clean-up
# short as surely as this shell's ending; ps, which catches signals itself,
# is asked again). A helper that stops one of its own with a time limit does
# so with SIGKILL. A signal that comes before the first step (the exit trap
# about to run) finds the clean-up not begun and runs it itself.
own_finishing=false
own_finish() {
    local tries
    $own_finishing && return 0
    own_finishing=true
    trap '' TERM HUP INT
    set +e
    own_stop
    [ ${#own_cleanup_command[@]} -eq 0 ] || "${own_cleanup_command[@]}"
    # The watches have done their work and go, with what they run, before the
    # command exits: nothing of it outlives it. Each leads a session of its
    # own; the one that lets held leaders go was started with the signals
    # ignored, and keeps them so.
    if [ -n "$own_watch" ]; then
        kill -- -"$own_watch" 2>/dev/null
        wait "$own_watch" 2>/dev/null
    fi
    own_helpers | while read -r pid; do kill -KILL -- -"$pid" 2>/dev/null; done
    for ((tries = 0; tries < 50; tries++)); do
        own_helpers | grep -q . || break
        sleep 0.02
    done
}
# own_signal STATUS: the clean-up, then the exit with 128 + the signal.
own_signal() {
    $own_finishing && return 0
    own_finish
    exit "$1"
}
trap own_finish EXIT
trap 'own_signal 143' TERM
trap 'own_signal 129' HUP
trap 'own_signal 130' INT
