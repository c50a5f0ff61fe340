// The string-table reader over tables of a module of the test's own, and the program's tables.

#include "serial/ad_string_resource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void PutU32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A well-formed table of the given entries, in the order given.
Bytes MakeTable(const std::vector<std::pair<std::int32_t, std::u16string>>& entries) {
    Bytes out = {'S', 'T', 'R', '0'};
    PutU32(out, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = 8 + 12 * static_cast<std::uint32_t>(entries.size());
    for (const auto& [id, text] : entries) {
        PutU32(out, static_cast<std::uint32_t>(id));
        PutU32(out, offset);
        PutU32(out, static_cast<std::uint32_t>(text.size()));
        offset += 2 * static_cast<std::uint32_t>(text.size());
    }
    for (const auto& entry : entries) {
        for (char16_t unit : entry.second) {
            out.push_back(static_cast<unsigned char>(unit & 0xFF));
            out.push_back(static_cast<unsigned char>(unit >> 8));
        }
    }
    return out;
}

EmbeddedResource Resource(const char* name, const Bytes& bytes) {
    return {name, bytes.data(), bytes.size()};
}

std::string ErrorOf(const std::vector<EmbeddedResource>& module, const char* name) {
    try {
        TAdStringResource reader(module, name);
        return "no error";
    } catch (const EStringResourceError& e) {
        return e.what();
    }
}

} // namespace

TEST(TAdStringResourceTest, FindsEveryIdentifierAndNothingBetween) {
    const Bytes table = MakeTable(
        {{-40, u"minus forty"}, {-1, u"minus one"}, {0, u"zero"}, {7, u"seven"}, {15742, u"last"}});
    const std::vector<EmbeddedResource> module = {Resource("TABLE", table)};
    TAdStringResource reader(module, "TABLE");
    EXPECT_EQ(reader.Lookup(-40), "minus forty");
    EXPECT_EQ(reader.Lookup(-1), "minus one");
    EXPECT_EQ(reader.Lookup(0), "zero");
    EXPECT_EQ(reader.Lookup(7), "seven");
    EXPECT_EQ(reader.Lookup(15742), "last");
    for (int missing : {-41, -2, 1, 6, 8, 15741, 15743, 2147483647})
        EXPECT_EQ(reader.Lookup(missing), "") << missing;
}

TEST(TAdStringResourceTest, EmptyAndOneEntryTablesAreSearchedSafely) {
    const Bytes empty = MakeTable({});
    const Bytes single = MakeTable({{3, u"three"}});
    const std::vector<EmbeddedResource> module = {Resource("EMPTY", empty),
                                                  Resource("SINGLE", single)};
    EXPECT_EQ(TAdStringResource(module, "EMPTY").Lookup(0), "");
    TAdStringResource reader(module, "single"); // resource names match regardless of case
    EXPECT_EQ(reader.Lookup(3), "three");
    EXPECT_EQ(reader.Lookup(2), "");
    EXPECT_EQ(reader.Lookup(4), "");
}

TEST(TAdStringResourceTest, ConvertsTextsToTheEightBitCharacterSet) {
    const Bytes table = MakeTable({{1, u"caf\u00E9 \u20AC5"}, {2, u"\u4E2D!"}});
    const std::vector<EmbeddedResource> module = {Resource("TABLE", table)};
    TAdStringResource reader(module, "TABLE");
    EXPECT_EQ(reader.Lookup(1), "caf\xE9 \x80"
                                "5");
    EXPECT_EQ(reader.Lookup(2), "?!");
}

TEST(TAdStringResourceTest, RaisesOnAMissingIdentifierOnlyWhenAskedTo) {
    const Bytes table = MakeTable({{1, u"one"}});
    const std::vector<EmbeddedResource> module = {Resource("TABLE", table)};
    TAdStringResource reader(module, "TABLE");
    EXPECT_EQ(reader.Lookup(42), "");
    reader.SetRaiseOnMissing(true);
    EXPECT_EQ(reader.Lookup(1), "one");
    try {
        reader.Lookup(42);
        ADD_FAILURE() << "nothing raised";
    } catch (const EStringResourceError& e) {
        EXPECT_STREQ(e.what(), "String not found: 42");
    }
}

TEST(TAdStringResourceTest, FallsBackToTheProgramsOwnTables) {
    const Bytes own = MakeTable({{2008, u"the module's own text"}});
    const std::vector<EmbeddedResource> module = {Resource("RUVO_ERROR_STRINGS_ENGLISH", own)};
    EXPECT_EQ(TAdStringResource(module, "RUVO_ERROR_STRINGS_ENGLISH").Lookup(2008),
              "the module's own text");
    EXPECT_EQ(TAdStringResource({}, "RUVO_ERROR_STRINGS_ENGLISH").Lookup(2008),
              "ie_Open - device already open");
    EXPECT_EQ(TAdStringResource({}, "ADSRMGR_STRINGS").Lookup(5), "Invalid VoskString resource");
}

TEST(TAdStringResourceTest, RefusesMissingUnloadableAndMalformedTables) {
    const Bytes good = MakeTable({{1, u"one"}, {2, u"two"}});
    Bytes badMagic = good;
    badMagic[3] = '1';
    Bytes truncated(good.begin(), good.begin() + 20); // count says 2 entries, only one fits
    Bytes textOutside = good;
    textOutside[8 + 12 + 4] = 0xF0; // second entry's text offset far past the end
    const Bytes tiny = {'S', 'T', 'R'};
    const std::vector<EmbeddedResource> module = {
        Resource("BADMAGIC", badMagic), Resource("TRUNCATED", truncated),
        Resource("TEXTOUTSIDE", textOutside), Resource("TINY", tiny),
        EmbeddedResource{"UNLOADABLE", nullptr, 0}};

    EXPECT_EQ(ErrorOf(module, "NO_SUCH_TABLE"), "String resource not found: NO_SUCH_TABLE");
    EXPECT_EQ(ErrorOf(module, "UNLOADABLE"), "Unable to open string resource: UNLOADABLE");
    for (const char* malformed : {"BADMAGIC", "TRUNCATED", "TEXTOUTSIDE", "TINY"})
        EXPECT_EQ(ErrorOf(module, malformed), "Invalid VoskString resource") << malformed;
}

TEST(TAdStringResourceTest, ProcessWideReadersServeBothTables) {
    EXPECT_EQ(ErrorStringResource().Lookup(0), "OK");
    EXPECT_EQ(ErrorStringResource().Lookup(15501),
              "Time      Type      SubType       Data      OtherData");
    EXPECT_EQ(StringResourceMessages().Lookup(3), "String resource not found: %s");
    EXPECT_EQ(&ErrorStringResource(), &ErrorStringResource());
}
