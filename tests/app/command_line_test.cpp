// The command line: the settings file and the screenshot folder, and what is refused.

#include "app/command_line.h"
#include "app/terminal_answers.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

TEST(CommandLineTest, UnderstoodArguments) {
    const struct {
        QStringList Arguments;
        std::string SettingsFile;
        std::string ScreenshotFolder;
        bool Simulate;
    } cases[] = {
        {{"tolvane"}, "", "", false},
        {{"tolvane", "--settings", "/tmp/a b/T.ini"}, "/tmp/a b/T.ini", "", false},
        {{"tolvane", "--settings=/tmp/x.ini"}, "/tmp/x.ini", "", false},
        {{"tolvane", "--screenshots", "shots", "--settings", "s.ini"}, "s.ini", "shots", false},
        {{"tolvane", "--settings", "/tmp/caf\u00e9.ini"}, "/tmp/caf\xc3\xa9.ini", "", false},
        {{"tolvane", "--simulate", "--settings", "s.ini"}, "s.ini", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        const CommandLine line = ParseCommandLine(c.Arguments);
        EXPECT_EQ(line.Error, "");
        EXPECT_EQ(line.SettingsFile, c.SettingsFile);
        EXPECT_EQ(line.ScreenshotFolder, c.ScreenshotFolder);
        EXPECT_EQ(line.Simulate, c.Simulate);
    }
}

TEST(CommandLineTest, RefusedArguments) {
    const QStringList cases[] = {
        {"tolvane", "--settings"},
        {"tolvane", "--settings", ""},
        {"tolvane", "--bogus"},
        {"tolvane", "stray.ini"},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_NE(ParseCommandLine(arguments).Error, "");
    }
}

TEST(CommandLineTest, DefaultSettingsFileLiesBesideTheExecutable) {
    const std::string expected =
        QCoreApplication::applicationDirPath().toStdString() + "/Tolvane.ini";
    EXPECT_EQ(DefaultSettingsFileName(), expected);
}

TEST(CommandLineTest, HelpVersionAndListPortsAreAnsweredOnTheTerminal) {
    EXPECT_FALSE(ParseCommandLine({"tolvane", "--simulate"}).AnsweredOnTerminal());
    EXPECT_TRUE(ParseCommandLine({"tolvane", "--list-ports"}).AnsweredOnTerminal());
    EXPECT_EQ(TerminalAnswer(ParseCommandLine({"tolvane", "--version"})), "tolvane 2.3\n");
    const std::string help = TerminalAnswer(ParseCommandLine({"tolvane", "--help"}));
    for (const char* option : {"--settings <FILE>", "--simulate", "--screenshots <DIR>",
                               "--list-ports", "--version", "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option << " in\n" << help;
}
