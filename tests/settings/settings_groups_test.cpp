#include "runtime/ansi_text.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "tests/capture/file_bytes.h"
#include "tests/capture/restricted_writes.h"

#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const char* const PortKeyNames[] = {"ComPort", "BaudRate", "Parity", "DataBits", "StopBits"};

std::string Letter(int i) {
    return i == 0 ? "" : std::string(1, static_cast<char>('A' + i));
}

// The production lines the groups move to and from, and the texts the dialogs' lists show for the
// indexes they hold.
class SettingsGroupsTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsFileName(path); }

    // Line i + 1.
    ProductionLine& At(int i) { return lines.Line(i + 1); }
    QString Caption(int i) { return AnsiToQString(At(i).Caption); }
    // The item a list shows for the index, empty for none, as a list's current text.
    static QString Item(const QStringList& items, int index) {
        return index >= 0 && index < items.size() ? items[index] : QString();
    }
    QString PortText(int i, int PortSettings::*setting) {
        static const QStringList ports = [] {
            QStringList items;
            for (int n = 1; n <= 16; ++n)
                items << QString::number(n);
            return items << "Off";
        }();
        static const std::pair<int PortSettings::*, QStringList> lists[] = {
            {&PortSettings::ComPort, ports},
            {&PortSettings::BaudRate, {"1200", "2400", "4800", "9600", "19200"}},
            {&PortSettings::Parity, {"none", "odd", "even"}},
            {&PortSettings::DataBits, {"7", "8"}},
            {&PortSettings::StopBits, {"1", "2"}}};
        for (const auto& [member, items] : lists) {
            if (member == setting)
                return Item(items, At(i).Port.*setting);
        }
        return QString();
    }
    QString DelimiterText(int i) {
        return Item({"comma", "space", "tab", "semicolon"}, At(i).DelimiterCode);
    }
    std::string Value(const char* section, const std::string& key) const {
        return GetPrivateProfileString(section, key, "<missing>", path);
    }

    ProductionLines lines;
    QTemporaryDir dir;
    std::string path = dir.filePath("Tolvane.ini").toStdString();
};

TEST_F(SettingsGroupsTest, NoFileGivesTheDefaultsAndCreatesNone) {
    At(2).DateStamp = false;
    At(2).DelimiterCode = 3;
    LoadLineLabels(lines);
    LoadStampingSettings(lines);
    LoadComPortSettings(lines);
    std::string folder = "unchanged";
    LoadReportDirectory(1, folder);
    for (int i = 0; i < LineCount; ++i) {
        EXPECT_EQ(Caption(i), QString("Line %1").arg(i + 1));
        EXPECT_EQ(PortText(i, &PortSettings::ComPort), i == 0 ? "1" : "Off");
        EXPECT_EQ(PortText(i, &PortSettings::BaudRate), "9600");
        EXPECT_EQ(PortText(i, &PortSettings::Parity), "none");
        EXPECT_EQ(PortText(i, &PortSettings::DataBits), "8");
        EXPECT_EQ(PortText(i, &PortSettings::StopBits), "1");
        EXPECT_TRUE(At(i).DateStamp);
        EXPECT_TRUE(At(i).TimeStamp);
        EXPECT_EQ(DelimiterText(i), "comma");
        EXPECT_EQ(At(i).Capture.Delimiter, ',');
    }
    EXPECT_EQ(folder, "");
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(SettingsGroupsTest, BaudRateValues) {
    const struct {
        const char* Text;
        int Index;
        const char* Saved;
    } cases[] = {{"0x3", 3, "3"}, {"fast", 3, "3"}, {"", 3, "3"}, {"1", 1, "1"}, {"7", -1, "-1"}};
    for (const auto& t : cases) {
        WriteBytes(path, std::string("[ComPortSettings]\r\nBaudRate=") + t.Text + "\r\n");
        LoadComPortSettings(lines);
        EXPECT_EQ(At(0).Port.BaudRate, t.Index) << t.Text;
        SaveComPortSettings(lines);
        EXPECT_EQ(Value("ComPortSettings", "BaudRate"), t.Saved) << t.Text;
    }
}

TEST_F(SettingsGroupsTest, SavingPortsRewritesAllFortyKeysInOrder) {
    WriteBytes(path, "[ComPortSettings]\r\nbaudratec=0x1\r\nMine=kept\r\n");
    LoadComPortSettings(lines);
    At(7).Port.Parity = 2;
    SaveComPortSettings(lines);
    // Replaced in place; every other key appended in line order, each line's keys in column order.
    std::string expected = "[ComPortSettings]\r\nbaudratec=1\r\nMine=kept\r\n";
    for (int i = 0; i < LineCount; ++i) {
        const char* values[] = {i == 0 ? "0" : "16", "3", i == 7 ? "2" : "0", "1", "0"};
        for (int k = 0; k < 5; ++k) {
            if (i != 2 || k != 1)
                expected += PortKeyNames[k] + Letter(i) + "=" + values[k] + "\r\n";
        }
    }
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST_F(SettingsGroupsTest, DateStampFlagIsAnyNonZeroInteger) {
    for (const auto& [text, on] :
         {std::pair{"0", false}, {"2", true}, {"yes", true}, {"-1", true}}) {
        WriteBytes(path, std::string("[StampingSettings]\r\nDateStamp3=") + text + "\r\n");
        LoadStampingSettings(lines);
        EXPECT_EQ(At(2).DateStamp, on) << text;
        EXPECT_TRUE(At(2).TimeStamp);
    }
}

TEST_F(SettingsGroupsTest, StampingRoundTripAndDelimiters) {
    At(0).TimeStamp = false;
    At(3).DelimiterCode = 2;
    At(4).DelimiterCode = -1;
    SaveStampingSettings(lines);
    EXPECT_EQ(At(3).Capture.Delimiter, '\t');
    EXPECT_EQ(At(4).Capture.Delimiter, ',');
    EXPECT_EQ(Value("StampingSettings", "TimeStamp1"), "0");
    EXPECT_EQ(Value("StampingSettings", "Delimiter5"), "-1");

    WriteBytes(path, "[StampingSettings]\r\nDelimiter4=9\r\nDelimiter6=3\r\nTimeStamp1=0\r\n");
    LoadStampingSettings(lines);
    EXPECT_EQ(At(3).DelimiterCode, -1);
    EXPECT_EQ(At(3).Capture.Delimiter, ',');
    EXPECT_EQ(At(5).Capture.Delimiter, ';');
    EXPECT_FALSE(At(0).TimeStamp);
}

TEST_F(SettingsGroupsTest, LabelsEmptyRemovedAndAnsi) {
    WriteBytes(path, "[LineLabels]\r\nLine2=\r\nLine3=Caf\xe9 \x80\r\n");
    LoadLineLabels(lines);
    EXPECT_EQ(Caption(1), "");
    EXPECT_EQ(Caption(2), QString::fromUtf8("Café €"));
    EXPECT_EQ(Caption(3), "Line 4");
    lines.SetCaption(1, QStringToAnsi(QString::fromUtf8("Packing ü")));
    SaveLineLabels(lines);
    EXPECT_EQ(Value("LineLabels", "Line1"), "Packing \xfc");
    EXPECT_EQ(Value("LineLabels", "Line3"), "Caf\xe9 \x80");
    WriteBytes(path, "[LineLabels]\r\nLine3=x\r\n");
    LoadLineLabels(lines);
    EXPECT_EQ(Caption(1), "Line 2");
}

TEST_F(SettingsGroupsTest, ReportDirectoryKeepsTheFolderWithItsSeparator) {
    SaveReportDirectory(5, "/data/Shift A/line5.csv");
    SaveReportDirectory(6, "line6.csv");
    std::string folder;
    LoadReportDirectory(5, folder);
    EXPECT_EQ(folder, "/data/Shift A/");
    LoadReportDirectory(6, folder);
    EXPECT_EQ(folder, "");
    const std::string before = ReadBytes(path);
    SaveReportDirectory(0, "/x/y.txt");
    SaveReportDirectory(9, "/x/y.txt");
    folder = "unchanged";
    LoadReportDirectory(9, folder);
    EXPECT_EQ(folder, "unchanged");
    EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(SettingsGroupsTest, ReportFileSettingsReadBadValuesAsTheirDefaults) {
    WriteBytes(path, "[Capture]\r\nNewFileEachDay2=1\r\nNewFileAt=24:00\r\n"
                     "SilenceMinutes2=-5\r\nSilenceMinutes3=30\r\nSilenceMinutes4=soon\r\n");
    LoadReportFileSettings(lines);
    EXPECT_TRUE(At(1).NewFileEachDay.Load());
    EXPECT_FALSE(At(0).NewFileEachDay.Load());
    EXPECT_EQ(At(1).NewFileAt.Load(), 0);
    EXPECT_EQ(At(1).SilenceMinutes, 0);
    EXPECT_EQ(At(2).SilenceMinutes, 30);
    EXPECT_EQ(At(3).SilenceMinutes, 0);
    WriteBytes(path, "[Capture]\r\nNewFileAt=6:05\r\n");
    LoadReportFileSettings(lines);
    EXPECT_EQ(At(7).NewFileAt.Load(), 6 * 60 + 5);
    SaveReportFileSettings(lines);
    EXPECT_EQ(Value("Capture", "NewFileAt"), "06:05");
    EXPECT_EQ(Value("Capture", "NewFileEachDay8"), "0");
}

TEST_F(SettingsGroupsTest, FailedWriteLeavesTheFileAsItWasNotHalfTheGroup) {
    const std::string before = "[LineLabels]\r\nLine1=Old\r\n";
    WriteBytes(path, before);
    LoadLineLabels(lines);
    lines.SetCaption(1, "New");
    {
        FileSizeLimit limit(before.size() + 20); // the first keys would fit, not all eight
        try {
            SaveLineLabels(lines);
            FAIL() << "no error raised";
        } catch (const EIniFileException& error) {
            EXPECT_EQ(error.what(), "Unable to write to " + path);
        }
    }
    EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(SettingsGroupsTest, UnwritableFolderKeepsTheOldFile) {
    SaveStampingSettings(lines);
    const std::string old = ReadBytes(path);
    At(0).DateStamp = false;
    fs::permissions(dir.path().toStdString(), fs::perms(0555));
    {
        WithoutPrivileges user;
        ASSERT_TRUE(user.Active()) << "cannot give up root's privileges";
        EXPECT_THROW(SaveStampingSettings(lines), EIniFileException);
    }
    fs::permissions(dir.path().toStdString(), fs::perms(0755));
    EXPECT_EQ(ReadBytes(path), old);
}

TEST_F(SettingsGroupsTest, TenMegabyteFileIsReadOncePerGroup) {
    std::string filler;
    while (filler.size() < 10'000'000)
        filler += "Noise=" + std::string(70, 'n') + "\r\n";
    WriteBytes(path, "[ComPortSettings]\r\n" + filler + "ComPortC=4\r\nParityC\r\n");
    LoadComPortSettings(lines);
    EXPECT_EQ(PortText(2, &PortSettings::ComPort), "5");
    EXPECT_EQ(PortText(2, &PortSettings::Parity), "none");
    EXPECT_EQ(PortText(1, &PortSettings::ComPort), "Off");
}

} // namespace
