// Listen, signals, advertisement, banner, serve, ordered shutdown.
#include "win/serve.h"

#include <cstdio>
#include <map>

#include "advertiser.h"
#include "endpoint.h"
#include "support/console_signal.h"
#include "win/log_line.h"
#include "win/service_host.h"

namespace ondelle {
namespace {

std::unique_ptr<Advertiser> advertise(const Endpoint& endpoint, const ServeSteps& steps) {
    const EndpointSettings& s = endpoint.settings;
    const std::map<std::string, std::string> txt{
        {"v", "1"}, {"id", s.id}, {"name", s.name}, {"model", s.model}, {"vendor", s.vendor}};
    auto advertiser = std::make_unique<Advertiser>();
    std::string error;
    if (!advertiser->start(s.name, endpoint.local_port(), txt, error))
        log_line(steps.program,
                 "not advertised (" + error + ") \xe2\x80\x94 senders need the address");
    return advertiser;
}

}  // namespace

int serve(std::unique_ptr<Endpoint> endpoint, const ServeSteps& steps) {
    std::string error;
    if (!endpoint->listen(steps.port, error)) {
        log_line(steps.program, "port " + std::to_string(steps.port) + ": " + error);
        if (steps.stopped) steps.stopped();
        return 1;
    }
    {
        ConsoleSignals signals([endpoint = endpoint.get()] { endpoint->stop(); });
        std::unique_ptr<Advertiser> advertiser;
        if (steps.advertise) advertiser = advertise(*endpoint, steps);
        if (steps.banner) {
            const std::string banner = steps.banner(endpoint->local_port());
            std::fwrite(banner.data(), 1, banner.size(), stdout);
            std::fflush(stdout);
        }
        if (steps.serving) steps.serving(*endpoint);
        if (steps.service) {
            steps.service->on_stop([endpoint = endpoint.get()] { endpoint->stop(); });
            steps.service->report_running();
            log_line(steps.program, "serving on port " + std::to_string(endpoint->local_port()));
        }
        endpoint->run();
        if (steps.service) steps.service->on_stop(nullptr);
        if (steps.stopped) steps.stopped();
        advertiser.reset();
    }
    endpoint.reset();
    return 0;
}

}  // namespace ondelle
