#include "support/log_recorder.h"

#include "platform/sysbus.h"

#include <cstdarg>
#include <cstdio>

std::vector<std::string> &recorded_events() {
    static std::vector<std::string> events;
    return events;
}

void clear_recorded_events() {
    recorded_events().clear();
}

extern "C" int autoprov_log(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string line(static_cast<size_t>(length), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, again);
    va_end(again);
    recorded_events().push_back(line);
    return length;
}

extern "C" void orvex_reset(void) {
    recorded_events().push_back(reset_event);
}
