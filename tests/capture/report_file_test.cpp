#include "capture/report_file.h"
#include "runtime/exceptions.h"
#include "tests/capture/file_bytes.h"
#include "tests/capture/restricted_writes.h"

#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class ReportFileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::permissions(dir.path().toStdString(), fs::perms(0755)); }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    // The error AppendReportLine raised, or code 0 when it did not fail.
    static EInOutError FailureOf(const std::string& fileName, const std::string& text = "x") {
        try {
            AppendReportLine(fileName, text);
        } catch (const EInOutError& error) {
            return error;
        }
        return EInOutError(0, "");
    }

    QTemporaryDir dir;
};

TEST_F(ReportFileTest, CreatesThenAppendsCrLfLines) {
    const std::string path = Path("r.csv");
    AppendReportLine(path, "one");
    AppendReportLine(path, "");
    AppendReportLine(path, std::string("t\0o", 3));
    EXPECT_EQ(ReadBytes(path), std::string("one\r\n\r\nt\0o\r\n", 12));
}

struct FailureCase {
    const char* Name;
    std::function<std::string()> FileName;
    int Code;
    const char* Text;
};

TEST_F(ReportFileTest, FailuresCarryTheirNumberAndText) {
    const FailureCase cases[] = {
        {"folder as file name", [this] { return dir.path().toStdString(); }, 5,
         "File access denied"},
        {"parent is a file",
         [this] {
             WriteBytes(Path("plain"), "");
             return Path("plain") + "/r.txt";
         },
         3, "Invalid filename"},
        {"missing folder", [this] { return Path("none") + "/r.txt"; }, 3, "Invalid filename"},
        {"empty name", [] { return std::string(); }, 3, "Invalid filename"},
        {"FIFO nobody reads",
         [this] {
             ::mkfifo(Path("fifo").c_str(), 0644);
             return Path("fifo");
         },
         21, "I/O error 21"},
    };
    for (const FailureCase& c : cases) {
        const EInOutError error = FailureOf(c.FileName());
        EXPECT_EQ(error.ErrorCode, c.Code) << c.Name;
        EXPECT_STREQ(error.what(), c.Text) << c.Name;
    }
}

TEST_F(ReportFileTest, FullDiskIsReported) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const EInOutError error = FailureOf("/dev/full");
    EXPECT_EQ(error.ErrorCode, 101);
    EXPECT_STREQ(error.what(), "Disk full");
}

TEST_F(ReportFileTest, NoRightToWriteIsAccessDeniedAndChangesNothing) {
    const std::string folder = Path("locked");
    fs::create_directory(folder);
    WriteBytes(folder + "/old.txt", "kept\r\n");
    fs::permissions(folder, fs::perms(0555));
    fs::permissions(folder + "/old.txt", fs::perms(0444));
    {
        WithoutPrivileges user;
        if (!user.Active())
            GTEST_SKIP() << "cannot give up root's privileges";
        for (const char* name : {"/new.txt", "/old.txt"}) {
            const EInOutError error = FailureOf(folder + name);
            EXPECT_EQ(error.ErrorCode, 5) << name;
            EXPECT_STREQ(error.what(), "File access denied") << name;
        }
    }
    EXPECT_FALSE(fs::exists(folder + "/new.txt"));
    EXPECT_EQ(ReadBytes(folder + "/old.txt"), "kept\r\n");
    fs::permissions(folder, fs::perms(0755));
}

TEST_F(ReportFileTest, WriteCutShortLeavesNoPartialLine) {
    const std::string path = Path("r.txt");
    AppendReportLine(path, "kept");
    {
        FileSizeLimit limit(10); // room for 4 of the next line's bytes only
        const EInOutError error = FailureOf(path, "a line too long to fit");
        EXPECT_EQ(error.ErrorCode, 223);
        EXPECT_STREQ(error.what(), "I/O error 223");
    }
    EXPECT_EQ(ReadBytes(path), "kept\r\n");
    AppendReportLine(path, "next");
    EXPECT_EQ(ReadBytes(path), "kept\r\nnext\r\n");
}

} // namespace
