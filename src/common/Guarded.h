#pragma once

#include <QtGlobal>

#include <exception>

// Runs an event handler so that no exception escapes into Qt's event loop.
template <typename Handler> void runGuarded(const char *what, Handler &&handler) noexcept
{
    try {
        handler();
    } catch (const std::exception &error) {
        qCritical("%s failed: %s", what, error.what());
    } catch (...) {
        qCritical("%s failed", what);
    }
}
