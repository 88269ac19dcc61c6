// What ondelle-send's exit code says.
#pragma once

namespace ondelle::send {

enum ExitCode : int {
    played = 0,
    usage = 2,
    no_endpoint = 3,
    cannot_connect = 4,
    connection_lost = 5,
    format_refused = 6,
    file_unreadable = 7,
    taken_over = 8,
    device_gone = 9,     // the endpoint's output went away, or would not open
    not_confirmed = 10,  // the endpoint never said that the last file was heard
    some_skipped = 11,   // files that could not be played were skipped; the others played
    interrupted = 130,
};

}  // namespace ondelle::send
