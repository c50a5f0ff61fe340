// The JSON published for a report line: every byte of the text comes back as the code point of
// its number, and any JSON parser reads it.

#include "broker/report_line_payload.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <regex>

TEST(ReportLinePayloadTest, EveryByteOfTheTextIsTheCodePointOfItsNumber) {
    std::string text;
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '\r' && byte != '\n')
            text.push_back(static_cast<char>(byte));
    ForwardedReportLine line;
    line.Line = 3;
    line.Caption = "Press \"A\"";
    line.Seq = 42;
    line.Completed = std::chrono::system_clock::now();
    line.File = "/srv/reports/line 3.txt";
    line.Text = text;
    QJsonParseError error{};
    const QJsonDocument json =
        QJsonDocument::fromJson(QByteArray::fromStdString(ReportLinePayload("pc7", line)), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonObject object = json.object();
    EXPECT_EQ(object.value("host").toString(), "pc7");
    EXPECT_EQ(object.value("line").toInt(), 3);
    EXPECT_EQ(object.value("caption").toString(), "Press \"A\"");
    EXPECT_EQ(object.value("seq").toInteger(), 42);
    EXPECT_EQ(object.value("file").toString(), "/srv/reports/line 3.txt");
    EXPECT_EQ(object.value("text").toString(), QString::fromLatin1(text.data(), text.size()));
    EXPECT_TRUE(
        std::regex_match(object.value("time").toString().toStdString(),
                         std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")));
}
