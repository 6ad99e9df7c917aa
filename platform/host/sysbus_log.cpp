#include "platform/sysbus.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <climits>
#include <cstdio>
#include <unistd.h>

namespace {

/* Characters kept of one message; longer ones are cut, keeping the line
 * feed. With it a line is at most PIPE_BUF bytes, which a pipe takes in one
 * piece, so lines from several processes sharing a journal pipe never
 * interleave mid-line. */
constexpr size_t line_capacity = PIPE_BUF - 1;

/* The line goes out in one write(2); only a write cut short by a signal or a
 * full device sends the rest after it. */
void write_line(const char *text, size_t length) {
    while (length > 0) {
        ssize_t written = write(STDERR_FILENO, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
}

} // namespace

extern "C" int autoprov_log(const char *format, ...) {
    if (format == nullptr) {
        return -1;
    }
    // Room for the message, an added line feed and the terminator.
    char line[line_capacity + 2];
    va_list arguments;
    va_start(arguments, format);
    int wanted = std::vsnprintf(line, line_capacity + 1, format, arguments);
    va_end(arguments);
    if (wanted < 0) {
        return -1;
    }
    size_t length = static_cast<size_t>(wanted);
    if (length > line_capacity) {
        length = line_capacity;
    }
    if (length == 0 || line[length - 1] != '\n') {
        line[length++] = '\n';
    }
    write_line(line, length);
    return static_cast<int>(length);
}

extern "C" void orvex_reset(void) {
    static const char notice[] = "sysbus: device reset requested\n";
    write_line(notice, sizeof notice - 1);
}
