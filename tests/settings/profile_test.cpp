#include "settings/profile.h"
#include "tests/capture/file_bytes.h"
#include "tests/capture/restricted_writes.h"

#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::permissions(dir.path().toStdString(), fs::perms(0755)); }

    std::string Get(const std::string& section, const std::string& key) const {
        return GetPrivateProfileString(section, key, "<default>", path);
    }
    bool Write(const std::string& key, const std::string& value) const {
        return WritePrivateProfileString("S", key, value, path);
    }
    // Every name in the folder, so that a leftover temporary file shows.
    std::vector<std::string> FolderContents() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path().toStdString()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    QTemporaryDir dir;
    std::string path = dir.filePath("Tolvane.ini").toStdString();
};

TEST_F(ProfileTest, ReadsAreCaseInsensitiveTrimmedAndDefaulted) {
    WriteBytes(path, "[LineLabels]\r\n  LINE1 =  Packing  \r\nLine2=\r\n[Other]\r\nLine3=x\r\n");
    EXPECT_EQ(Get("linelabels", "line1"), "Packing");
    EXPECT_EQ(Get("LineLabels", "Line2"), "");
    EXPECT_EQ(Get("LineLabels", "Line3"), "<default>");
    EXPECT_EQ(Get("Missing", "Line1"), "<default>");
    EXPECT_EQ(GetPrivateProfileString("S", "K", "d", dir.filePath("none.ini").toStdString()), "d");
    EXPECT_FALSE(fs::exists(dir.filePath("none.ini").toStdString()));
}

TEST_F(ProfileTest, ValuesAreCutTo2047Characters) {
    const std::string longValue = std::string(2047, 'a') + "bcd";
    ASSERT_TRUE(Write("K", longValue));
    EXPECT_EQ(Get("S", "K"), longValue.substr(0, 2047));
    EXPECT_EQ(ReadBytes(path), "[S]\r\nK=" + longValue + "\r\n"); // the file keeps it whole
}

TEST_F(ProfileTest, IntegersDecimalOrHexElseTheDefault) {
    const struct {
        const char* Text;
        int Expected;
    } cases[] = {{"7", 7},
                 {" -1 ", -1},
                 {"+5", 5},
                 {"0x3", 3},
                 {"0X1f", 31},
                 {"2147483647", 2147483647},
                 {"0x7FFFFFFF", INT_MAX},
                 {"", 99},
                 {"fast", 99},
                 {"12abc", 99},
                 {"0x", 99},
                 {"0xg", 99},
                 {"0x-1", 99},
                 {"1.5", 99},
                 {"- 1", 99},
                 {"+", 99},
                 {"2147483648", 99},
                 {"0x80000000", 99},
                 {"99999999999", 99}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Write("K", c.Text));
        EXPECT_EQ(ReadProfileInteger("s", "k", 99, path), c.Expected) << '"' << c.Text << '"';
    }
    EXPECT_EQ(ReadProfileInteger("S", "Missing", 16, path), 16);
}

struct PlacementCase {
    const char* Before;
    const char* Key;
    const char* Value;
    const char* After;
};

TEST_F(ProfileTest, WritesFollowThePlacementRules) {
    const PlacementCase cases[] = {
        // replaced in place, with the file's spelling and spacing
        {"[S]\r\nA=1\r\nK=old\r\nB=2\r\n", "K", "new", "[S]\r\nA=1\r\nK=new\r\nB=2\r\n"},
        {"[s]\r\nk = old  \r\n", "K", "new", "[s]\r\nk = new\r\n"},
        {"[S]\nA=1\nK=old\n", "K", "new", "[S]\nA=1\nK=new\n"},
        // a new key after the last line of its section
        {"[S]\r\nA=1\r\n[T]\r\nB=2\r\n", "K", "v", "[S]\r\nA=1\r\nK=v\r\n[T]\r\nB=2\r\n"},
        {"[S]\r\nA=1\r\n\r\n[T]\r\n", "K", "v", "[S]\r\nA=1\r\nK=v\r\n\r\n[T]\r\n"},
        {"[S]\r\nA=1", "K", "v", "[S]\r\nA=1\r\nK=v\r\n"},
        // a new section at the end of the file
        {"", "K", "v", "[S]\r\nK=v\r\n"},
        {"[T]\r\nB=2", "K", "v", "[T]\r\nB=2\r\n[S]\r\nK=v\r\n"},
        // a value cannot make lines of its own
        {"[S]\r\n", "K", "x\r\n[T]\r\nEvil=1", "[S]\r\nK=x\r\n"},
    };
    for (const PlacementCase& c : cases) {
        if (*c.Before != '\0')
            WriteBytes(path, c.Before);
        else
            fs::remove(path);
        ASSERT_TRUE(Write(c.Key, c.Value)) << c.Before;
        EXPECT_EQ(ReadBytes(path), c.After) << c.Before;
    }
}

TEST_F(ProfileTest, ReplacingKeepsPermissionsAndSymbolicLinks) {
    const std::string target = dir.filePath("real.ini").toStdString();
    WriteBytes(target, "[S]\r\nK=1\r\n");
    fs::permissions(target, fs::perms(0640));
    fs::create_symlink(target, path);
    ASSERT_TRUE(Write("K", "2"));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ReadBytes(target), "[S]\r\nK=2\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(FolderContents().size(), 2u);
}

TEST_F(ProfileTest, FailedWriteLeavesTheOldFileWhole) {
    const std::string old = "[S]\r\nK=old\r\n" + std::string(100, '#') + "\r\n";
    WriteBytes(path, old);
    {
        FileSizeLimit limit(old.size()); // the new text is longer than the limit allows
        EXPECT_FALSE(Write("Another", "value"));
    }
    {
        fs::permissions(path, fs::perms(0644));
        fs::permissions(dir.path().toStdString(), fs::perms(0555));
        WithoutPrivileges user;
        ASSERT_TRUE(user.Active()) << "cannot give up root's privileges";
        EXPECT_FALSE(Write("K", "new"));
        EXPECT_EQ(Get("S", "K"), "old");
    }
    fs::permissions(dir.path().toStdString(), fs::perms(0755));
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"Tolvane.ini"});
}

TEST_F(ProfileTest, UnreadableFileIsNeverReplaced) {
    fs::create_directory(path); // a folder where the file should be
    EXPECT_EQ(Get("S", "K"), "<default>");
    EXPECT_FALSE(Write("K", "v"));
    EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(ProfileTest, BrokenLinesAreSkippedAndTheRestRead) {
    const std::string nul(1, '\0');
    const std::string text = "junk before any section\r\n[A\r\nK=from header without bracket\n"
                             "[S]\n   \t \n no equals sign\r\n=no key\r\nN=ab" +
                             nul + "cd\r\n" + nul + nul + "\r\nK=found\r\n";
    WriteBytes(path, text);
    EXPECT_EQ(Get("A", "K"), "from header without bracket");
    EXPECT_EQ(Get("S", "N"), "ab");
    EXPECT_EQ(Get("S", "K"), "found");
    EXPECT_EQ(Get("S", "no equals sign"), "<default>");
}

TEST_F(ProfileTest, RandomBytesNeitherCrashNorHideWhatFollows) {
    std::mt19937 random(20261207);
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    WriteBytes(path, bytes + "\r\n[S]\r\nK=after the noise\r\n");
    EXPECT_EQ(Get("S", "K"), "after the noise");
    ASSERT_TRUE(Write("K", "changed"));
    const std::string after = ReadBytes(path);
    EXPECT_EQ(after.substr(0, bytes.size()), bytes);
    EXPECT_EQ(Get("S", "K"), "changed");
}

TEST_F(ProfileTest, TenMegabyteFileIsReadAndKeptWhole) {
    std::string filler;
    for (int i = 0; filler.size() < 10'000'000; ++i)
        filler += "Filler" + std::to_string(i) + "=" + std::string(60, 'x') + "\r\n";
    WriteBytes(path, "[Big]\r\n" + filler + "[S]\r\nK=1\r\n");
    EXPECT_EQ(Get("S", "K"), "1");
    ASSERT_TRUE(Write("K", "2"));
    EXPECT_EQ(ReadBytes(path), "[Big]\r\n" + filler + "[S]\r\nK=2\r\n");
}

} // namespace
