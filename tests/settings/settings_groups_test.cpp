#include "settings/profile.h"
#include "settings/settings_groups.h"
#include "tests/capture/file_bytes.h"
#include "tests/capture/restricted_writes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const char* const PortKeyNames[] = {"ComPort", "BaudRate", "Parity", "DataBits", "StopBits"};

std::string Letter(int i) {
    return i == 0 ? "" : std::string(1, static_cast<char>('A' + i));
}

// The dialogs' controls, filled with their fixed items, owned by one parent widget.
class SettingsGroupsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QStringList ports;
        for (int n = 1; n <= 16; ++n)
            ports << QString::number(n);
        ports << "Off";
        for (int i = 0; i < LineCount; ++i) {
            c.LineGroups[i] = new QGroupBox(&owner);
            c.Ports[i] = {List(ports), List({"1200", "2400", "4800", "9600", "19200"}),
                          List({"none", "odd", "even"}), List({"7", "8"}), List({"1", "2"})};
            c.DateStampBoxes[i] = new QCheckBox(&owner);
            c.TimeStampBoxes[i] = new QCheckBox(&owner);
            c.DelimiterBoxes[i] = List({"comma", "space", "tab", "semicolon"});
        }
        c.Lines = &lines;
        SetSettingsFileName(path);
    }

    QComboBox* List(const QStringList& items) {
        auto* list = new QComboBox(&owner);
        list->addItems(items);
        return list;
    }
    std::string Value(const char* section, const std::string& key) const {
        return GetPrivateProfileString(section, key, "<missing>", path);
    }

    QWidget owner;
    SettingsControls c;
    CaptureLines lines{};
    QTemporaryDir dir;
    std::string path = dir.filePath("Tolvane.ini").toStdString();
};

TEST_F(SettingsGroupsTest, NoFileGivesTheDefaultsAndCreatesNone) {
    c.DateStampBoxes[2]->setChecked(false);
    c.DelimiterBoxes[2]->setCurrentIndex(3);
    LoadLineLabels(c);
    LoadStampingSettings(c);
    LoadComPortSettings(c);
    std::string folder = "unchanged";
    LoadReportDirectory(1, folder);
    for (int i = 0; i < LineCount; ++i) {
        EXPECT_EQ(c.LineGroups[i]->title(), QString("Line %1").arg(i + 1));
        EXPECT_EQ(c.Ports[i].ComPort->currentText(), i == 0 ? "1" : "Off");
        EXPECT_EQ(c.Ports[i].BaudRate->currentText(), "9600");
        EXPECT_EQ(c.Ports[i].Parity->currentText(), "none");
        EXPECT_EQ(c.Ports[i].DataBits->currentText(), "8");
        EXPECT_EQ(c.Ports[i].StopBits->currentText(), "1");
        EXPECT_TRUE(c.DateStampBoxes[i]->isChecked());
        EXPECT_TRUE(c.TimeStampBoxes[i]->isChecked());
        EXPECT_EQ(c.DelimiterBoxes[i]->currentText(), "comma");
        EXPECT_EQ(lines[i].Delimiter, ',');
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
        LoadComPortSettings(c);
        EXPECT_EQ(c.Ports[0].BaudRate->currentIndex(), t.Index) << t.Text;
        SaveComPortSettings(c);
        EXPECT_EQ(Value("ComPortSettings", "BaudRate"), t.Saved) << t.Text;
    }
}

TEST_F(SettingsGroupsTest, SavingPortsRewritesAllFortyKeysInOrder) {
    WriteBytes(path, "[ComPortSettings]\r\nbaudratec=0x1\r\nMine=kept\r\n");
    LoadComPortSettings(c);
    c.Ports[7].Parity->setCurrentIndex(2);
    SaveComPortSettings(c);
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
        LoadStampingSettings(c);
        EXPECT_EQ(c.DateStampBoxes[2]->isChecked(), on) << text;
        EXPECT_TRUE(c.TimeStampBoxes[2]->isChecked());
    }
}

TEST_F(SettingsGroupsTest, StampingRoundTripAndDelimiters) {
    c.TimeStampBoxes[0]->setChecked(false);
    c.DelimiterBoxes[3]->setCurrentIndex(2);
    c.DelimiterBoxes[4]->setCurrentIndex(-1);
    SaveStampingSettings(c);
    EXPECT_EQ(lines[3].Delimiter, '\t');
    EXPECT_EQ(lines[4].Delimiter, ',');
    EXPECT_EQ(Value("StampingSettings", "TimeStamp1"), "0");
    EXPECT_EQ(Value("StampingSettings", "Delimiter5"), "-1");

    WriteBytes(path, "[StampingSettings]\r\nDelimiter4=9\r\nDelimiter6=3\r\nTimeStamp1=0\r\n");
    LoadStampingSettings(c);
    EXPECT_EQ(c.DelimiterBoxes[3]->currentIndex(), -1);
    EXPECT_EQ(lines[3].Delimiter, ',');
    EXPECT_EQ(lines[5].Delimiter, ';');
    EXPECT_FALSE(c.TimeStampBoxes[0]->isChecked());
}

TEST_F(SettingsGroupsTest, LabelsEmptyRemovedAndAnsi) {
    WriteBytes(path, "[LineLabels]\r\nLine2=\r\nLine3=Caf\xe9 \x80\r\n");
    LoadLineLabels(c);
    EXPECT_EQ(c.LineGroups[1]->title(), "");
    EXPECT_EQ(c.LineGroups[2]->title(), QString::fromUtf8("Café €"));
    EXPECT_EQ(c.LineGroups[3]->title(), "Line 4");
    c.LineGroups[0]->setTitle(QString::fromUtf8("Packing ü"));
    SaveLineLabels(c);
    EXPECT_EQ(Value("LineLabels", "Line1"), "Packing \xfc");
    EXPECT_EQ(Value("LineLabels", "Line3"), "Caf\xe9 \x80");
    WriteBytes(path, "[LineLabels]\r\nLine3=x\r\n");
    LoadLineLabels(c);
    EXPECT_EQ(c.LineGroups[1]->title(), "Line 2");
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

TEST_F(SettingsGroupsTest, FailedWriteStopsAtTheFailingKey) {
    const std::string written = "[LineLabels]\r\nLine1=Line 1\r\nLine2=Line 2\r\nLine3=Line 3\r\n";
    LoadLineLabels(c);
    {
        FileSizeLimit limit(written.size()); // Line4 no longer fits
        try {
            SaveLineLabels(c);
            FAIL() << "no error raised";
        } catch (const EIniFileException& error) {
            EXPECT_EQ(error.what(), "Unable to write to " + path);
        }
    }
    EXPECT_EQ(ReadBytes(path), written);
}

TEST_F(SettingsGroupsTest, UnwritableFolderKeepsTheOldFile) {
    SaveStampingSettings(c);
    const std::string old = ReadBytes(path);
    c.DateStampBoxes[0]->setChecked(false);
    fs::permissions(dir.path().toStdString(), fs::perms(0555));
    {
        WithoutPrivileges user;
        ASSERT_TRUE(user.Active()) << "cannot give up root's privileges";
        EXPECT_THROW(SaveStampingSettings(c), EIniFileException);
    }
    fs::permissions(dir.path().toStdString(), fs::perms(0755));
    EXPECT_EQ(ReadBytes(path), old);
}

TEST_F(SettingsGroupsTest, TenMegabyteFileIsReadOncePerGroup) {
    std::string filler;
    while (filler.size() < 10'000'000)
        filler += "Noise=" + std::string(70, 'n') + "\r\n";
    WriteBytes(path, "[ComPortSettings]\r\n" + filler + "ComPortC=4\r\nParityC\r\n");
    LoadComPortSettings(c);
    EXPECT_EQ(c.Ports[2].ComPort->currentText(), "5");
    EXPECT_EQ(c.Ports[2].Parity->currentText(), "none");
    EXPECT_EQ(c.Ports[1].ComPort->currentText(), "Off");
}

} // namespace
