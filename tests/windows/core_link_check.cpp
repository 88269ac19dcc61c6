// Proves that the core links for Windows: starts Winsock, listens on a free loopback port,
// prepares the discovery responder and (in the full core) a FLAC decoder, and stops again.
// Run under Windows (or Wine), it prints what it did as JSON.
#include <cstdio>
#include <string>

#include "advertiser.h"
#include "endpoint.h"
#include "support/base64.h"
#include "support/text.h"
#include "variant_check.h"

int main(int argc, char** argv) {
    const auto arguments = ondelle::utf8_arguments(argc, argv);
    ondelle::EndpointSettings settings;
    settings.bind_address = "127.0.0.1";
    ondelle::Endpoint endpoint(std::move(settings), nullptr);
    std::string error;
    if (!endpoint.listen(0, error)) {
        std::fprintf(stderr, "core_link_check: %s\n", error.c_str());
        return 1;
    }
    ondelle::Json report = ondelle::make_message("link_check");
    report.set("port", ondelle::Json(endpoint.local_port()));
    report.set("arguments", ondelle::Json(static_cast<std::int64_t>(arguments.size())));
    report.set("text",
               ondelle::Json(ondelle::base64_encode(ondelle::to_utf8(ondelle::to_wide("ok")))));
    // Constructed only: starting it would advertise on the network.
    ondelle::Advertiser advertiser;
    report.set("host", ondelle::Json(advertiser.host_name()));
    add_variant_checks(report);
    std::printf("%s\n", ondelle::dump_json(report).c_str());
    endpoint.stop();
    return endpoint.run() ? 0 : 1;
}
