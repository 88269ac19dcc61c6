// The tail of start-up and the shutdown that both programs share: listen, take the console
// signals, advertise, print the banner, serve until stopped, and take it all down in order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ondelle {

class Endpoint;
class ServiceHost;

struct ServeSteps {
    std::string_view program;  // the prefix of its log lines
    int port = 0;
    bool advertise = true;
    // What goes to standard output once the endpoint is reachable, given the bound port.
    std::function<std::string(int port)> banner;
    // Called once the banner is out, before serving. May be empty.
    std::function<void(Endpoint&)> serving;
    // Called on every way out, before the advertisement and the endpoint go: once serving
    // has ended, or when the port could not be had. May be empty.
    std::function<void()> stopped;
    // Running as a service: it is said to be running once the endpoint listens and is
    // advertised, and its stop request stops the endpoint as a console signal does.
    ServiceHost* service = nullptr;
};

// Serves with a built endpoint whose hooks are installed, and destroys it. The exit code:
// 1 when the port cannot be had (logged), 0 once a signal or the program stopped it.
int serve(std::unique_ptr<Endpoint> endpoint, const ServeSteps& steps);

}  // namespace ondelle
