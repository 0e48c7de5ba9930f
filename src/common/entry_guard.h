// Entry points that the mail client's own threads call into (window
// procedures, hooks, timers): nothing the library throws may end the client.
// A failure is logged and the message goes on as if the library were absent.
#pragma once

#include <windows.h>

#include "log.h"

namespace plume {

template <typename Body, typename Fallback>
LRESULT guarded_entry(const char* where, UINT message, Body&& body, Fallback&& fallback) noexcept {
    try {
        return body();
    } catch (...) {
        Log(0, "%s: failed on message %#x; passed on without the library.\n", where, message);
    }
    try {
        return fallback();
    } catch (...) {
        return 0;
    }
}

}  // namespace plume
