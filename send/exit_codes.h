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
    interrupted = 130,
};

}  // namespace ondelle::send
