#include "tags/csv_log_limit.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace {

struct ChoiceCase {
    const char* what;
    std::vector<CsvLogFile> files;
    long long limit;
    std::vector<std::string> deleted;
};

TEST(CsvLogLimit, TheOldestClosedLogsGoUntilTheRestFitTheLimit) {
    const ChoiceCase cases[] = {
        {"within the limit", {{"a", 100, 1, false}, {"b", 200, 2, false}}, 300, {}},
        {"oldest first, by last write",
         {{"c", 100, 3, false}, {"a", 100, 1, false}, {"b", 100, 2, false}}, 150, {"a", "b"}},
        {"an open log is never chosen, however old",
         {{"a", 100, 1, true}, {"b", 100, 2, false}, {"c", 100, 3, false}}, 200, {"b"}},
        {"open logs alone over the limit: every closed log goes",
         {{"a", 10, 1, false}, {"b", 500, 2, true}, {"c", 10, 3, false}}, 100, {"a", "c"}},
        {"written in the same second: by name",
         {{"TagsActivity_261207_0422.csv", 100, 5, false}, {"Diag_261207_0421.csv", 100, 5, false}}, 150,
         {"Diag_261207_0421.csv"}},
        {"one large old log frees enough", {{"a", 1000, 1, false}, {"b", 10, 2, false}}, 500, {"a"}},
        {"nothing at all", {}, 0, {}},
    };
    for (const ChoiceCase& c : cases) {
        std::vector<std::string> deleted;
        for (const CsvLogFile& file : ChooseCsvLogsToDelete(c.files, c.limit)) deleted.push_back(file.name);
        EXPECT_EQ(deleted, c.deleted) << c.what;
    }
}

// The directory as the reader has it: logs of earlier runs, the logs being
// written, and files that are not the daemon's logs at all.
TEST(CsvLogLimit, PruningDeletesTheOldestClosedLogsOfTheDaemonOnly) {
    ScratchDir dir("lim");
    const time_t now = time(nullptr);
    auto make = [&dir, now](const std::string& name, size_t bytes, int ageSeconds) {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream(path) << std::string(bytes, 'x');
        const timeval times[2] = {{now - ageSeconds, 0}, {now - ageSeconds, 0}};
        EXPECT_EQ(utimes(path.c_str(), times), 0) << name;
    };
    make("TagsActivity_261207_0421.csv", 3000, 400);  // the oldest, but being written
    make("RawData_261201_0000.csv", 1000, 300);
    make("MEMSCalcParam__261202_0000.csv", 1000, 200);
    make("ReaderDiag_261203_0000.csv", 1000, 100);
    // Older still, and not the daemon's logs: neither counted nor deleted.
    make("notes.csv", 5000, 1000);
    make("TagsActivity_2612_0421.csv", 5000, 1000);
    make("Diag_261201_0000.csv.gz", 5000, 1000);
    ASSERT_EQ(symlink("notes.csv", (dir.Path() + "/Diag_261201_0000.csv").c_str()), 0);
    // Held open under another spelling of its path.
    FILE* open = std::fopen((dir.Path() + "/./TagsActivity_261207_0421.csv").c_str(), "a");
    ASSERT_NE(open, nullptr);

    PruneCsvLogs(dir.Path(), 4500);
    std::fclose(open);

    for (const char* gone : {"RawData_261201_0000.csv", "MEMSCalcParam__261202_0000.csv"})
        EXPECT_NE(access((dir.Path() + "/" + gone).c_str(), F_OK), 0) << gone;
    for (const char* kept : {"TagsActivity_261207_0421.csv", "ReaderDiag_261203_0000.csv", "notes.csv",
                             "TagsActivity_2612_0421.csv", "Diag_261201_0000.csv.gz", "Diag_261201_0000.csv"})
        EXPECT_EQ(access((dir.Path() + "/" + kept).c_str(), F_OK), 0) << kept;
}

}  // namespace
