#include "dm/markers.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using dm::parseMarkers;

namespace {

QStringList names(const QString &text)
{
    return parseMarkers(text).names;
}

} // namespace

TEST(Markers, NameEndsAtEachTerminator)
{
    const QString withSpace = parseMarkers(QStringLiteral("where M = :Month and W = 1")).text;
    EXPECT_EQ(withSpace, QStringLiteral("where M = ? and W = 1"));
    EXPECT_EQ(names(QStringLiteral("where M = :Month and W = 1")), QStringList{"Month"});
    EXPECT_EQ(parseMarkers(QStringLiteral("DATEPART(Month, X) = (:Month)")).text,
              QStringLiteral("DATEPART(Month, X) = (?)"));
    EXPECT_EQ(names(QStringLiteral("(:Month)")), QStringList{"Month"});
    EXPECT_EQ(names(QStringLiteral("values (:a,:b;:c\r:d\n:e)")),
              (QStringList{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(names(QStringLiteral("x = :Week")), QStringList{"Week"});
}

TEST(Markers, OtherCharactersBelongToTheName)
{
    // Only the listed characters end a name; a tab or '=' does not.
    EXPECT_EQ(names(QStringLiteral(":a\t= 1")), QStringList{"a\t="});
    EXPECT_EQ(names(QStringLiteral(":a:b ")), QStringList{"a:b"});
}

TEST(Markers, OneEntryPerMarkerInOrder)
{
    const auto parsed = parseMarkers(
        QStringLiteral("insert into FADMXY values ('C', 'W', 'W101', :XY002, :XY003) -- :XY002"));
    EXPECT_EQ(parsed.names, (QStringList{"XY002", "XY003", "XY002"}));
    EXPECT_EQ(parsed.text,
              QStringLiteral("insert into FADMXY values ('C', 'W', 'W101', ?, ?) -- ?"));
}

TEST(Markers, DoubledColonIsOneLiteralColon)
{
    const auto parsed = parseMarkers(QStringLiteral("select a::b, c::::d from t where x = :p"));
    EXPECT_EQ(parsed.text, QStringLiteral("select a:b, c::d from t where x = ?"));
    EXPECT_EQ(parsed.names, QStringList{"p"});
    // A doubled colon followed by a name is still a literal colon, not a marker.
    EXPECT_TRUE(names(QStringLiteral("::Month")).isEmpty());
}

TEST(Markers, ColonWithoutNameIsLiteral)
{
    for (const QString &text : {QStringLiteral("a : b"), QStringLiteral("a :"), QStringLiteral(":"),
                                QStringLiteral("(:)"), QStringLiteral(":,"), QStringLiteral(":;"),
                                QStringLiteral(":\r\n")}) {
        const auto parsed = parseMarkers(text);
        EXPECT_TRUE(parsed.names.isEmpty()) << text.toStdString();
        EXPECT_EQ(parsed.text, text);
    }
}

TEST(Markers, QuotedColonsAreNotMarkers)
{
    for (const QString &text :
         {QStringLiteral("select '10:30' from t"), QStringLiteral("select \"a:b\" from t"),
          QStringLiteral("select `x:y` from t"), QStringLiteral("select 'it''s :x' from t"),
          QStringLiteral("select 'a::b'"), QStringLiteral("select '\"' + ':x'")}) {
        const auto parsed = parseMarkers(text);
        EXPECT_TRUE(parsed.names.isEmpty()) << text.toStdString();
        EXPECT_EQ(parsed.text, text) << "quoted text is copied unchanged";
    }
    // A marker after a closed literal counts again, with each kind of quote.
    EXPECT_EQ(names(QStringLiteral("'a:b' = :p and \":q\" = `:r` and :s")),
              (QStringList{"p", "s"}));
    // An unterminated literal runs to the end.
    EXPECT_TRUE(names(QStringLiteral("select 'open :p")).isEmpty());
}

TEST(Markers, MarkerNamesKeepUnicodeAndCase)
{
    EXPECT_EQ(names(QStringLiteral("where 品名 = :品名 and x = :XY002")),
              (QStringList{QStringLiteral("品名"), "XY002"}));
}

// Any input parses without a crash, and every marker becomes exactly one placeholder.
TEST(Markers, RandomInputKeepsPlaceholdersAndMarkersInStep)
{
    const QString alphabet = QStringLiteral(":: '\"`,;)\r\nab品");
    QRandomGenerator random(20261208);
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int length = random.bounded(40);
        for (int i = 0; i < length; ++i)
            text += alphabet.at(random.bounded(alphabet.size()));
        const auto parsed = parseMarkers(text);
        ASSERT_EQ(parsed.text.count(u'?'), parsed.names.size()) << text.toStdString();
        for (const QString &name : parsed.names)
            ASSERT_FALSE(name.isEmpty()) << text.toStdString();
        // Without colons nothing changes.
        if (!text.contains(u':')) {
            ASSERT_EQ(parsed.text, text);
        }
    }
}

TEST(Markers, LongInputsTakeLinearTime)
{
    const qsizetype size = 1 << 20;
    const QStringList inputs = {
        QString(size, u':'), QString(size, u'\''), QStringLiteral(":a").repeated(size / 2),
        QStringLiteral(":").append(QString(size, u'x')), QStringLiteral("'a").repeated(size / 2)};
    QElapsedTimer timer;
    timer.start();
    for (const QString &text : inputs) {
        const auto parsed = parseMarkers(text);
        EXPECT_LE(parsed.text.size(), text.size());
    }
    // Quadratic work on a million characters would take minutes.
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(parseMarkers(QStringLiteral(":a").repeated(1000)).names.size(), 1);
}
