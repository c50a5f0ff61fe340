// Where the settings live: beside the executable where that folder is writable, else the user's
// configuration folder, created by the first write; --settings before both.

#include "app/settings_location.h"
#include "settings/profile.h"
#include "settings/settings_groups.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(SettingsLocationTest, BesideAWritableExecutableFolderElseInTheUsersConfigFolder) {
    QTemporaryDir executableFolder;
    QTemporaryDir home;
    const std::string exe = executableFolder.path().toStdString();
    const std::string config = home.path().toStdString() + "/config";
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("XDG_CONFIG_HOME", config.c_str());

    const SettingsLocation beside = ChooseSettingsLocation({}, exe);
    EXPECT_EQ(beside.File, exe + "/Tolvane.ini");
    EXPECT_FALSE(beside.CreateFolder);

    // /proc takes no new file even from root, whose writes mode bits never stop; a bin folder
    // installed under any prefix is never used, whoever could write there.
    const QString prefix = executableFolder.filePath(QStringLiteral("prefix"));
    ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/bin")));
    const QString marker = QDir(prefix + QStringLiteral("/bin")).filePath(TOLVANE_INSTALLED_MARKER);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(marker).path()));
    EXPECT_EQ(ChooseSettingsLocation({}, prefix.toStdString() + "/bin").File,
              prefix.toStdString() + "/bin/Tolvane.ini");
    QFile(marker).open(QIODevice::WriteOnly);
    for (const std::string& folder : {std::string("/proc"), prefix.toStdString() + "/bin"}) {
        SCOPED_TRACE(folder);
        const SettingsLocation mine = ChooseSettingsLocation({}, folder);
        EXPECT_EQ(mine.File, config + "/tolvane/Tolvane.ini");
        EXPECT_TRUE(mine.CreateFolder);
    }

    CommandLine named;
    named.SettingsFile = exe + "/named.ini";
    EXPECT_EQ(ChooseSettingsLocation(named, "/proc").File, exe + "/named.ini");
    EXPECT_EQ(ChooseSettingsLocation(named, exe).File, exe + "/named.ini");

    // The first write creates the missing folders, for this user alone.
    const SettingsLocation mine = ChooseSettingsLocation({}, "/proc");
    SetSettingsFileName(mine.File, mine.CreateFolder);
    SaveReportDirectory(2, "/srv/reports/press.txt");
    EXPECT_EQ(GetPrivateProfileString("Directories", "Line2", "<missing>", mine.File),
              "/srv/reports/");
    struct stat folder {};
    ASSERT_EQ(::stat((config + "/tolvane").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    SetSettingsFileName("");

    // Without XDG_CONFIG_HOME the folder is ~/.config.
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toUtf8());
    EXPECT_EQ(ChooseSettingsLocation({}, "/proc").File,
              home.path().toStdString() + "/.config/tolvane/Tolvane.ini");

    // The simulated plant keeps a file of its own, beside its report files, unless one is named.
    const QByteArray oldState = qgetenv("XDG_STATE_HOME");
    qunsetenv("XDG_STATE_HOME");
    CommandLine simulate;
    simulate.Simulate = true;
    const SettingsLocation demo = ChooseSettingsLocation(simulate, exe);
    EXPECT_EQ(demo.File, home.path().toStdString() + "/.local/state/tolvane/demo/Tolvane.ini");
    EXPECT_TRUE(demo.Demo);
    simulate.SettingsFile = exe + "/named.ini";
    EXPECT_EQ(ChooseSettingsLocation(simulate, exe).File, exe + "/named.ini");
    EXPECT_FALSE(ChooseSettingsLocation(simulate, exe).Demo);
    if (!oldState.isNull())
        qputenv("XDG_STATE_HOME", oldState);

    qputenv("HOME", oldHome);
    if (oldXdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldXdg);
}
