// Entry points of the subcommands; each returns the process exit status.
#pragma once

namespace bioeng {

int run_map(int argc, char **argv);
int run_align(int argc, char **argv);
int run_stats(int argc, char **argv);
int run_report(int argc, char **argv);

extern const char MAP_USAGE[];
extern const char ALIGN_USAGE[];
extern const char STATS_USAGE[];
extern const char REPORT_USAGE[];

// Exit statuses.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_INPUT = 1; // bad input, missing file, out of memory
constexpr int EXIT_USAGE = 2;

} // namespace bioeng
