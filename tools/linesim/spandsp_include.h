#pragma once
// spandsp's umbrella header, with the internal structures visible: the line reads the AT
// interpreter's mode and S registers, which the API does not give (ties us to 0.0.6's layout,
// so keep such reads to the few in modem_port.cpp).
#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wpedantic"
#include <spandsp.h>
#pragma GCC diagnostic pop
