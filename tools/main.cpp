// bioeng: command-line front end of the engine library.
#include "cli.h"
#include "commands.h"
#include "output.h"

#include "bioeng_host.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

namespace {

const char MAIN_USAGE[] =
    "Usage: bioeng <command> [options] <files>\n"
    "\n"
    "Commands:\n"
    "  map     map reads to a reference; PAF, or SAM with -a\n"
    "  align   align the first records of two FASTA/FASTQ files\n"
    "  stats   records, bases, lengths, N50 and GC of FASTA/FASTQ files\n"
    "  report  pictures of a PAF file (identity, mapping quality, coverage)\n"
    "          as one HTML page\n"
    "\n"
    "Input files may be plain, gzip or BGZF compressed.\n"
    "'bioeng <command> --help' lists the options of a command;\n"
    "'bioeng --version' prints the version.\n"
    "\n"
    "Exit status: 0 on success; 1 for bad input, a missing file, a failed\n"
    "write or exhausted memory; 2 for a usage mistake.\n";

struct Command {
    const char *name;
    int (*run)(int, char **);
};

const Command COMMANDS[] = {
    {"map", bioeng::run_map},
    {"align", bioeng::run_align},
    {"stats", bioeng::run_stats},
    {"report", bioeng::run_report},
};

int run_command(const Command &cmd, int argc, char **argv) {
    try {
        return cmd.run(argc, argv);
    } catch (const bioeng::UsageError &e) {
        std::fprintf(stderr, "bioeng %s: %s\nTry 'bioeng %s --help'.\n", cmd.name, e.what(),
                     cmd.name);
        return bioeng::EXIT_USAGE;
    } catch (const bioeng::CommandError &e) {
        std::fprintf(stderr, "bioeng %s: %s\n", cmd.name, e.what());
    } catch (const bioeng::OutputError &e) {
        std::fprintf(stderr, "bioeng %s: %s\n", cmd.name, e.what());
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "bioeng %s: out of memory\n", cmd.name);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bioeng %s: %s\n", cmd.name, e.what());
    }
    return bioeng::EXIT_FAILURE_INPUT;
}

// Prints a help page or the version; a failed write (a full disk, a closed
// pipe) is a failure like any other.
int print_text(const std::string &text) {
    try {
        bioeng::write_all(text);
        return bioeng::EXIT_OK;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bioeng: %s\n", e.what());
        return bioeng::EXIT_FAILURE_INPUT;
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(MAIN_USAGE, stderr);
        return bioeng::EXIT_USAGE;
    }
    const char *name = argv[1];
    if (!std::strcmp(name, "-h") || !std::strcmp(name, "--help") || !std::strcmp(name, "help"))
        return print_text(MAIN_USAGE);
    if (!std::strcmp(name, "--version"))
        return print_text(std::string("bioeng ") + bh_version() + "\n");
    for (const Command &cmd : COMMANDS)
        if (!std::strcmp(name, cmd.name)) return run_command(cmd, argc - 1, argv + 1);
    std::fprintf(stderr, "bioeng: unknown command '%s'\n\n%s", name, MAIN_USAGE);
    return bioeng::EXIT_USAGE;
}
