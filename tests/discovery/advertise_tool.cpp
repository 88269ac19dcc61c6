// Runs one Advertiser for interoperability tests: advertise_tool INSTANCE PORT KEY=VALUE...
// Prints "ready" once started and runs until its standard input closes.
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include "advertiser.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: advertise_tool INSTANCE PORT [KEY=VALUE...]\n");
        return 2;
    }
    std::map<std::string, std::string> txt;
    for (int i = 3; i < argc; ++i) {
        const std::string entry = argv[i];
        const auto equals = entry.find('=');
        txt[entry.substr(0, equals)] = equals == std::string::npos ? "" : entry.substr(equals + 1);
    }
    ondelle::Advertiser advertiser;
    std::string error;
    if (!advertiser.start(argv[1], std::atoi(argv[2]), txt, error)) {
        std::fprintf(stderr, "advertise_tool: %s\n", error.c_str());
        return 1;
    }
    std::printf("ready %s\n", advertiser.host_name().c_str());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
