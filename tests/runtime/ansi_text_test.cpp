#include "runtime/ansi_text.h"

#include <gtest/gtest.h>

namespace {

// A caption's 8-bit bytes and a UTF-8 file name in one message both read as they were meant.
TEST(MessageTextTest, ReadsUtf8NamesAndEightBitTextSideBySide) {
    EXPECT_EQ(MessageToQString("Caf\xE9 \x80: /srv/Pr\xC3\xBC"
                               "fung \xE2\x82\xAC \xF0\x9F\x98\x80"),
              QString::fromUtf8("Café €: /srv/Prüfung € \xF0\x9F\x98\x80"));
    // Not UTF-8: an overlong form, a surrogate, a sequence cut short at the end.
    EXPECT_EQ(MessageToQString("\xC0\x80 \xED\xA0\x80 \xC3"),
              AnsiToQString("\xC0\x80 \xED\xA0\x80 \xC3"));
}

} // namespace
