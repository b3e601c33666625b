# shellcheck shell=bash
# Sourced by scripts/screenshot and tests/package/install-test: a display of their own, a folder of
# MP3 files, a settings file, and the main window found on that display. Needs Xvfb, xdotool and
# iconv.

# Starts Xvfb on a free display number and exports DISPLAY; session_stop ends it again.
session_start() {
    local fd_file
    fd_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fd_file" 2>/dev/null &
    SESSION_XVFB=$!
    local tries=0
    while [ ! -s "$fd_file" ] && [ $tries -lt 100 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    local number
    number=$(head -n 1 "$fd_file")
    rm -f "$fd_file"
    [ -n "$number" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$number"
}

session_stop() {
    if [ -n "${SESSION_XVFB:-}" ]; then
        kill "$SESSION_XVFB" 2>/dev/null || true
        wait "$SESSION_XVFB" 2>/dev/null || true
        SESSION_XVFB=
    fi
}

# A tag field: the text in Windows-1252, filled up with NUL bytes to its width.
_session_field() {
    local bytes
    bytes=$(printf '%s' "$1" | iconv -f UTF-8 -t WINDOWS-1252 | wc -c)
    printf '%s' "$1" | iconv -f UTF-8 -t WINDOWS-1252
    head -c $(($2 - bytes)) /dev/zero
}

# session_mp3 FILE TITLE ARTIST ALBUM YEAR COMMENT GENRE: a file of silence that ends in an ID3v1
# tag with these fields (GENRE is the genre's number).
session_mp3() {
    {
        head -c 4096 /dev/zero
        printf 'TAG'
        _session_field "$2" 30
        _session_field "$3" 30
        _session_field "$4" 30
        _session_field "$5" 4
        _session_field "$6" 30
        printf '%b' "\\$(printf '%03o' "$7")"
    } >"$1"
}

# A folder of a few MP3 files, as a user's music folder would hold them.
session_music() {
    mkdir -p "$1"
    session_mp3 "$1/Fjällvind - Sommarnatt.mp3" "Sommarnatt" "Fjällvind" "Ljusa nätter" "1997" \
        "" 17
    session_mp3 "$1/Fjällvind - Vinterväg.mp3" "Vinterväg" "Fjällvind" "Ljusa nätter" "1997" "" 17
    session_mp3 "$1/Åsa Ek - Höstvisa.mp3" "Höstvisa" "Åsa Ek" "Visor" "2001" "Live" 13
    session_mp3 "$1/Lindgrens kvartett - Blå timmen.mp3" "Blå timmen" "Lindgrens kvartett" \
        "Nattjazz" "2008" "" 8
    session_mp3 "$1/Ölandsbandet - Midsommar.mp3" "Midsommar" "Ölandsbandet" "Skärgård" "2012" \
        "" 2
}

# session_ini FILE FOLDER STATE TOP LEFT WIDTH HEIGHT FIL2TAGNR: a settings file as the program
# writes it (positions and sizes in twips).
session_ini() {
    mkdir -p "$(dirname "$1")"
    {
        printf 'Denna filen innehåller alla inställningar som id3 editorn sparar. Redigera den '
        printf 'inte! Men om den tas bort så skapas en ny nästa gång programmet avslutas.\r\n'
        shift
        printf '%s\r\n' "$@"
    } | iconv -f UTF-8 -t WINDOWS-1252 >"$1"
}

# session_window PID [alone]: waits until the program PID shows its main window, wider than the
# splash that bears the same name, and prints the window's id. With "alone", waits on until the
# splash is gone too.
session_window() {
    local tries=0 ids id width main
    while [ $tries -lt 300 ]; do
        kill -0 "$1" 2>/dev/null || { echo "the program ended before its window came up" >&2; return 1; }
        ids=$(xdotool search --onlyvisible --pid "$1" --name '^Sorvel$' 2>/dev/null || true)
        main=
        for id in $ids; do
            width=$(xdotool getwindowgeometry --shell "$id" | sed -n 's/^WIDTH=//p')
            [ "${width:-0}" -le 600 ] || main=$id
        done
        if [ -n "$main" ] && { [ "${2:-}" != alone ] || [ "$(wc -w <<<"$ids")" -eq 1 ]; }; then
            printf '%s\n' "$main"
            return 0
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
    echo "no main window within 30 seconds" >&2
    return 1
}

# The number of windows the program PID shows, its menus while they are open included.
session_windows() {
    xdotool search --onlyvisible --pid "$1" --name '' 2>/dev/null | wc -l
}

# session_menu PID KEY: opens a menu of the menu bar with Alt+KEY and waits until it is up.
session_menu() {
    local before tries=0
    before=$(session_windows "$1")
    xdotool key --clearmodifiers "alt+$2"
    while [ "$(session_windows "$1")" -le "$before" ]; do
        [ $tries -lt 100 ] || { echo "the menu Alt+$2 did not open" >&2; return 1; }
        sleep 0.1
        tries=$((tries + 1))
    done
}
