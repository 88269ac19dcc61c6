// What the link check proves of the core variant it is built with.
#pragma once

#include "json.h"

void add_variant_checks(ondelle::Json& report);
