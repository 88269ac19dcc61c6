// The full core: a FLAC decoder starts.
#include "engine/flac_stream_decoder.h"
#include "variant_check.h"

void add_variant_checks(ondelle::Json& report) {
    ondelle::FlacStreamDecoder decoder;
    report.set("flac", ondelle::Json(decoder.init(16)));
}
