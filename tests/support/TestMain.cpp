// The main of the Windows test programs: GoogleTest's own exit code says only that no case
// failed, so a run where every case skipped, or none ran, would pass for a proof. This main
// judges what ran: it fails when no case ran, or when a case skipped that NIMBREL_ALLOWED_SKIPS
// does not name. That list holds patterns in --gtest_filter's positive syntax ('*' any text, '?'
// one character), separated by ':', matched against Suite.Case; with no list no skip passes.
// The last line counts the cases; NIMBREL_COUNTS, if set, names a file that gets them too, so
// that a program that ends before that line (exit(0) mid-run, a WM_QUIT pumped in-process) is
// told from one that passed. The cases that ran are counted as they end: GoogleTest counts a
// selected case that never ran as passed, so the run fails unless every selected case ended.
// GoogleTest's variables that narrow or repeat a run (GTEST_FILTER, a shard pair, GTEST_REPEAT)
// fail it, naming the variable: a subset is chosen on the command line, where ctest shows it.
#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef NIMBREL_SUITE
#define NIMBREL_SUITE "tests"
#endif

namespace {

// Counts the cases that reached their end, whatever their result.
class Ended : public testing::EmptyTestEventListener {
public:
    explicit Ended(int& count) : count_(count) {}
    void OnTestEnd(const testing::TestInfo&) override { ++count_; }

private:
    int& count_;
};

bool Matches(const char* pattern, const char* name) {
    for (; *pattern && *pattern != ':'; ++pattern, ++name) {
        if (*pattern == '*') {
            for (const char* rest = name;; ++rest) {
                if (Matches(pattern + 1, rest)) return true;
                if (!*rest) return false;
            }
        }
        if (!*name || (*pattern != '?' && *pattern != *name)) return false;
    }
    return !*name;
}

bool Allowed(const std::string& name) {
    const char* list = std::getenv("NIMBREL_ALLOWED_SKIPS");
    for (const char* pattern = list; pattern && *pattern;) {
        if (Matches(pattern, name.c_str())) return true;
        const char* next = std::strchr(pattern, ':');
        pattern = next ? next + 1 : "";
    }
    return false;
}

// The first line of why the case skipped.
std::string Reason(const testing::TestResult& result) {
    for (int i = 0; i < result.total_part_count(); ++i) {
        const testing::TestPartResult& part = result.GetTestPartResult(i);
        if (part.skipped()) {
            const std::string message = part.message();
            return message.substr(0, message.find('\n'));
        }
    }
    return "no reason given";
}

}  // namespace

int main(int argc, char** argv) {
    for (const char* variable :
         {"GTEST_FILTER", "GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_REPEAT"}) {
        if (const char* value = std::getenv(variable)) {
            std::printf(
                "%s: %s=%s in the environment narrows or repeats the run: unset it (a "
                "subset is chosen with --gtest_filter)\n",
                NIMBREL_SUITE, variable, value);
            return 1;
        }
    }
    testing::InitGoogleMock(&argc, argv);
#ifdef NIMBREL_CASES_VARIABLE
    // The stand-in programs of the job check take their cases from a variable of their own: the
    // script they stand in for starts every program without arguments.
    if (const char* cases = std::getenv(NIMBREL_CASES_VARIABLE)) GTEST_FLAG_SET(filter, cases);
#endif
    int ended = 0;
    testing::UnitTest::GetInstance()->listeners().Append(new Ended(ended));
    const int failed = RUN_ALL_TESTS();
    if (GTEST_FLAG_GET(list_tests)) return failed;

    const testing::UnitTest& run = *testing::UnitTest::GetInstance();
    int refused = 0;
    for (int i = 0; i < run.total_test_suite_count(); ++i) {
        const testing::TestSuite& suite = *run.GetTestSuite(i);
        for (int j = 0; j < suite.total_test_count(); ++j) {
            const testing::TestInfo& test = *suite.GetTestInfo(j);
            if (!test.should_run() || !test.result()->Skipped()) continue;
            const std::string name = std::string(test.test_suite_name()) + "." + test.name();
            const bool allowed = Allowed(name);
            refused += allowed ? 0 : 1;
            std::printf("SKIPPED %s: %s%s\n", name.c_str(), Reason(*test.result()).c_str(),
                        allowed ? "" : " (not in NIMBREL_ALLOWED_SKIPS: fails the run)");
        }
    }
    const int selected = run.test_to_run_count();
    if (selected == 0) std::printf("%s: no case ran\n", NIMBREL_SUITE);
    if (ended != selected)
        std::printf("%s: %d of the %d cases selected ran (--gtest_repeat or a shard flag?)\n",
                    NIMBREL_SUITE, ended, selected);
    const std::string counts = std::to_string(run.successful_test_count()) + " passed, " +
                               std::to_string(run.failed_test_count()) + " failed, " +
                               std::to_string(run.skipped_test_count()) + " skipped";
    std::printf("%s: %s\n", NIMBREL_SUITE, counts.c_str());
    std::fflush(stdout);
    if (const char* file = std::getenv("NIMBREL_COUNTS"); file && *file) {
        if (FILE* out = std::fopen(file, "w")) {
            std::fprintf(out, "%s\n", counts.c_str());
            std::fclose(out);
        }
    }
    return failed || refused || selected == 0 || ended != selected ? 1 : 0;
}
