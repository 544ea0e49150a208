// The PAF report: which lines it takes, and what it refuses.
#include "input.h"
#include "report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace bioeng;

const char GOOD[] = "r1\t100\t0\t100\t+\tchr\t1000\t10\t110\t95\t100\t60\ttp:A:P";

TEST(PafReport, RefusesLinesThatAreNotPafNamingTheLine) {
    const char *bad[] = {
        "r1\t100\t0\t100\t+\tchr\t1000\t10",                          // too few columns
        "r1\t100\t0\t100\t*\tchr\t1000\t10\t110\t95\t100\t60",        // strand
        "r1\t100\t0\t100\t+\tchr\t1000\t-1\t110\t95\t100\t60",        // negative start
        "r1\t100\t0\t100\t+\tchr\t1000\t10\t1001\t95\t100\t60",       // end past the sequence
        "r1\t100\t0\t100\t+\tchr\t1000\t10\t110\t101\t100\t60",       // matches > block
        "r1\t100\t0\t100\t+\tchr\t1000\t10\t110\t95\t100\t256",       // mapq
        "r1\t1e2\t0\t100\t+\tchr\t1000\t10\t110\t95\t100\t60",        // not an integer
    };
    for (const char *line : bad) {
        PafReport r;
        r.add_line(GOOD, "in.paf", 1);
        try {
            r.add_line(line, "in.paf", 2);
            ADD_FAILURE() << "accepted: " << line;
        } catch (const InputError &e) {
            EXPECT_NE(std::string(e.what()).find("in.paf: line 2"), std::string::npos) << e.what();
        }
    }
}

TEST(PafReport, CountsPrimaryAndSecondaryLinesAndDrawsEachReference) {
    PafReport r;
    r.add_line(GOOD, "in.paf", 1);
    r.add_line("r1\t100\t0\t100\t-\tchr2\t500\t0\t100\t90\t100\t0\ttp:A:S", "in.paf", 2);
    r.add_line("", "in.paf", 3); // a blank line is nothing
    EXPECT_EQ(r.lines(), 2u);
    std::string page = r.html("t<&>");
    EXPECT_NE(page.find("bioeng report: t&lt;&amp;&gt;"), std::string::npos);
    EXPECT_NE(page.find("data-ref=\"chr\""), std::string::npos);
    EXPECT_EQ(page.find("data-ref=\"chr2\""), std::string::npos); // secondary: counted only
    EXPECT_NE(page.find("<rect class=\"bar\""), std::string::npos);
    EXPECT_NE(page.find("<circle class=\"point\""), std::string::npos);
    EXPECT_NE(page.find("<path class=\"area\""), std::string::npos);
}

} // namespace
