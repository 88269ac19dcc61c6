// The driver's settings window: opened on the driver thread, watched from here.
#pragma once

namespace ondelle::direct {

class Asio;

// Opens it and returns once it has been gone for about two seconds: 0; or logs why it could
// not be opened: 1.
int show_settings_window(Asio& asio);

}  // namespace ondelle::direct
