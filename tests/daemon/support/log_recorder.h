/* Stands in for the IPC library in the unit tests: every autoprov_log line
 * and every orvex_reset call is kept, in order, for the test to read. */
#ifndef DAEMON_TEST_LOG_RECORDER_H
#define DAEMON_TEST_LOG_RECORDER_H

#include <string>
#include <vector>

/* What orvex_reset leaves in the record. */
inline const std::string reset_event = "<orvex_reset>";

/* The log lines (formatted) and reset events since the last clear. */
std::vector<std::string> &recorded_events();

void clear_recorded_events();

#endif
