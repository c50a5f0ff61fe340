// The embedded message tables against their binary layout, and the generator that builds them
// refusing sources that would make a broken table.

#include "serial/embedded_resources.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

struct TableEntry {
    std::int32_t Id;
    std::uint32_t Offset;
    std::uint32_t Length;
    std::u16string Text;
};

std::uint32_t U32(const EmbeddedResource& r, std::size_t at) {
    return static_cast<std::uint32_t>(r.Data[at]) |
           static_cast<std::uint32_t>(r.Data[at + 1]) << 8 |
           static_cast<std::uint32_t>(r.Data[at + 2]) << 16 |
           static_cast<std::uint32_t>(r.Data[at + 3]) << 24;
}

// Decodes a table independently of the reader, checking the layout on the way: magic, entries
// inside the resource, texts packed back to back in entry order right after the entries, and
// nothing left over.
std::vector<TableEntry> DecodeTable(const char* name) {
    const EmbeddedResource* r = FindEmbeddedResource(ProgramResources(), name);
    EXPECT_NE(r, nullptr) << name;
    if (r == nullptr || r->Size < 8)
        return {};
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r->Data), 4), "STR0");
    std::uint32_t count = U32(*r, 4);
    std::size_t next = 8 + 12 * std::size_t{count};
    EXPECT_LE(next, r->Size);
    std::vector<TableEntry> entries;
    for (std::uint32_t i = 0; i < count && next <= r->Size; ++i) {
        TableEntry e{static_cast<std::int32_t>(U32(*r, 8 + 12 * i)),
                     U32(*r, 12 + 12 * i),
                     U32(*r, 16 + 12 * i),
                     {}};
        EXPECT_EQ(e.Offset, next) << "entry " << e.Id << " is not packed after the previous one";
        if (e.Offset + 2 * std::size_t{e.Length} > r->Size) {
            ADD_FAILURE() << "text of " << e.Id << " runs past the end";
            break;
        }
        for (std::uint32_t k = 0; k < e.Length; ++k)
            e.Text.push_back(static_cast<char16_t>(r->Data[e.Offset + 2 * k] |
                                                   r->Data[e.Offset + 2 * k + 1] << 8));
        next = e.Offset + 2 * std::size_t{e.Length};
        entries.push_back(e);
    }
    EXPECT_EQ(next, r->Size) << "bytes after the last text";
    return entries;
}

std::u16string U16(const char* ascii) {
    std::u16string out;
    for (; *ascii != '\0'; ++ascii)
        out.push_back(static_cast<char16_t>(*ascii));
    return out;
}

// Every identifier the message table must hold, as runs.
std::vector<int> ExpectedIds() {
    const std::vector<std::pair<int, int>> runs = {
        {0, 0},         {2, 6},         {8, 8},         {15, 15},       {18, 18},
        {100, 105},     {150, 162},     {1001, 1009},   {2001, 2012},   {3001, 3010},
        {4001, 4008},   {4101, 4101},   {4201, 4213},   {4301, 4312},   {4401, 4403},
        {4500, 4523},   {4550, 4553},   {4599, 4611},   {4630, 4633},   {4660, 4671},
        {4700, 4723},   {4801, 4808},   {4820, 4828},   {4840, 4843},   {5001, 5003},
        {5501, 5506},   {6001, 6016},   {7001, 7014},   {8001, 8005},   {8050, 8055},
        {8060, 8075},   {8080, 8092},   {9001, 9007},   {10004, 10004}, {10009, 10009},
        {10013, 10014}, {10022, 10022}, {10024, 10024}, {10035, 10071}, {10091, 10093},
        {10101, 10101}, {11001, 11004}, {13501, 13516}, {13533, 13557}, {13565, 13565},
        {13597, 13601}, {13650, 13670}, {13801, 13803}, {13805, 13848}, {13850, 13886},
        {13928, 13945}, {13980, 13980}, {15001, 15020}, {15101, 15351}, {15501, 15502},
        {15601, 15608}, {15700, 15742}};
    std::vector<int> ids;
    for (auto [first, last] : runs) {
        for (int id = first; id <= last; ++id)
            ids.push_back(id);
    }
    return ids;
}

} // namespace

TEST(MessageTable, ErrorTableHasEveryIdentifierInOrderWithAText) {
    std::vector<TableEntry> entries = DecodeTable("RUVO_ERROR_STRINGS_ENGLISH");
    ASSERT_EQ(entries.size(), 830u);
    std::vector<int> ids;
    for (const TableEntry& e : entries) {
        ids.push_back(e.Id);
        EXPECT_GT(e.Length, 0u) << e.Id;
        for (char16_t unit : e.Text)
            EXPECT_GE(unit, u' ') << "control character in " << e.Id;
    }
    EXPECT_EQ(ids, ExpectedIds());
    EXPECT_EQ(entries.front().Text, u"OK");
}

TEST(MessageTable, DispatchLogNamesFitTheDumpColumns) {
    for (const TableEntry& e : DecodeTable("RUVO_ERROR_STRINGS_ENGLISH")) {
        if (e.Id >= 15001 && e.Id <= 15020) {
            EXPECT_LE(e.Text.size(), 8u) << "event type " << e.Id;
        }
        if (e.Id >= 15101 && e.Id <= 15351) {
            EXPECT_LE(e.Text.size(), 12u) << "event subtype " << e.Id;
        }
    }
}

TEST(MessageTable, ReaderTableHoldsItsFiveMessages) {
    std::vector<TableEntry> entries = DecodeTable("ADSRMGR_STRINGS");
    const char* expected[] = {"String not found: %d", "Cannot lock resource",
                              "String resource not found: %s", "Unable to open string resource: %s",
                              "Invalid VoskString resource"};
    ASSERT_EQ(entries.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(entries[i].Id, i + 1);
        EXPECT_EQ(entries[i].Text, U16(expected[i]));
    }
}

class MessageTableGenerator : public ::testing::Test {
protected:
    // The generator is built beside the test binaries' folder, in tools/.
    static QString Generator() {
        return QDir(QCoreApplication::applicationDirPath()).filePath("../tools/message_table");
    }

    struct Run {
        int ExitCode;
        QString Errors;
        bool WroteOutput;
    };

    Run Generate(const QByteArray& source) {
        QString sourcePath = dir_.filePath("source.txt");
        QFile file(sourcePath);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(source);
        file.close();
        QString output = dir_.filePath("tables.cpp");
        QFile::remove(output);
        QProcess process;
        process.start(Generator(), {output, "TABLE=" + sourcePath});
        EXPECT_TRUE(process.waitForFinished(-1));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardError()), QFile::exists(output)};
    }

    QTemporaryDir dir_;
};

TEST_F(MessageTableGenerator, RefusesSourcesThatWouldBreakTheTable) {
    ASSERT_TRUE(QFileInfo(Generator()).isExecutable()) << Generator().toStdString();
    struct Case {
        const char* Source;
        const char* Reason;
    };
    const Case cases[] = {
        {"1\tOne\n2\tTwo\n2\tAgain\n", "source.txt:3: duplicate identifier 2 (first at line 2)"},
        {"# heading\n5\tFive\n3\tThree\n", "source.txt:3: identifier 3 is not above 5"},
        {"1 One\n", "source.txt:1: expected an identifier, a tab and a text"},
        {"x1\tOne\n", "source.txt:1: identifier 'x1' is not a decimal number"},
        {"1-2\tOne\n", "is not a decimal number"},
        {"4294967296\tBig\n", "does not fit 32 bits"},
        {"7\t\n", "source.txt:1: identifier 7 has no text"},
        {"7\tA\ttab\n", "holds a control character"},
        {"7\tbad \xC3(\n", "source.txt:1: text of identifier 7 is not valid UTF-8"},
        {"7\toverlong \xC0\xAF\n", "is not valid UTF-8"},
        {"7\ttruncated \xE2\x82\n", "is not valid UTF-8"},
        {"# only a comment\n\n", "holds no entries"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Source);
        Run run = Generate(c.Source);
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_TRUE(run.Errors.contains(c.Reason)) << run.Errors.toStdString();
        EXPECT_FALSE(run.WroteOutput);
    }
}

TEST_F(MessageTableGenerator, AcceptsNegativeIdentifiersAndWindowsLineEnds) {
    ASSERT_TRUE(QFileInfo(Generator()).isExecutable()) << Generator().toStdString();
    Run run = Generate("\xEF\xBB\xBF-2\tMinus two\r\n0\tZero \xE2\x82\xAC\r\n");
    EXPECT_EQ(run.ExitCode, 0) << run.Errors.toStdString();
    QFile generated(dir_.filePath("tables.cpp"));
    ASSERT_TRUE(generated.open(QIODevice::ReadOnly));
    QByteArray code = generated.readAll();
    // Magic, count 2, first entry id -2 at offset 32 with 9 units; the euro sign as AC 20.
    EXPECT_TRUE(code.contains("0x53, 0x54, 0x52, 0x30, 0x02, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, "
                              "0xFF, 0x20, 0x00, 0x00, 0x00,"))
        << code.left(400).toStdString();
    EXPECT_TRUE(code.contains("0xAC, 0x20,"));
    EXPECT_TRUE(code.contains("{\"TABLE\", kTABLE, sizeof kTABLE}"));
}

TEST_F(MessageTableGenerator, RefusesBadArguments) {
    ASSERT_TRUE(QFileInfo(Generator()).isExecutable()) << Generator().toStdString();
    QString output = dir_.filePath("tables.cpp");
    struct Case {
        QStringList Arguments;
        int ExitCode;
        const char* Reason;
    };
    const Case cases[] = {
        {{output}, 2, "usage: message_table"},
        {{output, "NoEquals"}, 1, "expected NAME=SOURCE"},
        {{output, "bad-name=x.txt"}, 1, "expected NAME=SOURCE"},
        {{output, "T=" + dir_.filePath("missing.txt")}, 1, "missing.txt: cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Arguments.join(' ').toStdString());
        QProcess process;
        process.start(Generator(), c.Arguments);
        ASSERT_TRUE(process.waitForFinished(-1));
        EXPECT_EQ(process.exitCode(), c.ExitCode);
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError()).contains(c.Reason));
        EXPECT_FALSE(QFile::exists(output));
    }
}
