// The ASIO drivers registered on the machine, the choice among them, and how their
// capabilities are printed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "asio.h"

namespace ondelle::direct {

// The drivers under HKLM\SOFTWARE\ASIO in registry order, skipping entries without a class
// identifier that parses; nullopt when the key cannot be opened.
std::optional<std::vector<DriverEntry>> registered_drivers();

// The entry named exactly name, else the first whose name contains it, else the first that
// contains it in another case; none for an empty name.
const DriverEntry* choose_driver(const std::vector<DriverEntry>& drivers, const std::string& name);

// The PCM line, then the native DSD line, each indented by four spaces.
std::string caps_listing(const Caps& caps);

}  // namespace ondelle::direct
