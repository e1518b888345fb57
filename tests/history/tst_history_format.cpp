#include "history/HistoryFormat.h"

#include <QTest>

#include <random>
#include <string>
#include <vector>

using history::formatHistory;
using history::parseHistory;
using Entries = std::vector<std::string>;

Q_DECLARE_METATYPE(Entries)

class HistoryFormatTest : public QObject {
    Q_OBJECT
private slots:
    void formatIsQuotedRecordsWithCrLf() {
        QCOMPARE(formatHistory({}), std::string());
        QCOMPARE(formatHistory({"abc", "x!#$%&@*^"}), std::string("\"abc\"\r\n\"x!#$%&@*^\"\r\n"));
    }

    void roundTripIsByteExact() {
        // The special characters, bytes that are not ASCII, a NUL, blanks inside quotes.
        const Entries entries = {
            "!#$%&@*^",  "Abc123", std::string("n\0l", 3), "caf\xc3\xa9 \xff\x80",
            "  padded ", "a,b"};
        QCOMPARE(parseHistory(formatHistory(entries)), entries);
    }

    void foreignContent_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Entries>("expected");
        const auto row = [](const char* tag, std::string bytes, Entries expected) {
            QTest::newRow(tag) << QByteArray::fromStdString(bytes) << expected;
        };
        row("empty file", "", {});
        row("no final line end", "\"a\"\r\n\"b\"", {"a", "b"});
        row("LF only", "\"a\"\n\"b\"\n", {"a", "b"});
        row("CR only", "\"a\"\r\"b\"\r", {"a", "b"});
        row("blank lines", "\r\n\r\n\"a\"\r\n\n\n\"b\"\r\n\r\n", {"a", "b"});
        row("unquoted values", "abc\r\n  def  \r\nghi", {"abc", "def", "ghi"});
        row("commas separate values", "a,b, \"c\" ,d\r\n", {"a", "b", "c", "d"});
        row("comma inside quotes", "\"a,b\",c", {"a,b", "c"});
        row("text after the closing quote", "\"a\"junk,\"b\" \r\n", {"a", "b"});
        row("no closing quote", "\"abc\r\n\"d\"", {"abc", "d"});
        row("quote inside an unquoted value", "ab\"cd,e", {"ab", "e"});
        row("only blanks and separators", " ,\t,\r\n , \n", {});
        row("empty quotes", "\"\"\r\n\"x\"", {"x"});
        row("NUL bytes", std::string("\"a\0b\"\r\n\0\r\n", 10),
            {std::string("a\0b", 3), std::string("\0", 1)});
    }

    void foreignContent() {
        QFETCH(QByteArray, bytes);
        QFETCH(Entries, expected);
        QCOMPARE(parseHistory(bytes.toStdString()), expected);
    }

    void moreThan101ValuesKeepTheNewest() {
        Entries many;
        for (int i = 1; i <= 250; ++i) {
            many.push_back("v" + std::to_string(i));
        }
        const Entries kept = parseHistory(formatHistory(many));
        QCOMPARE(kept.size(), std::size_t(101));
        QCOMPARE(kept.front(), std::string("v150"));
        QCOMPARE(kept.back(), std::string("v250"));
    }

    void aTenMegabyteLineIsReadWhole() {
        const std::string huge(10 * 1024 * 1024, 'x');
        const Entries entries = parseHistory("\"a\"\r\n" + huge + "\r\n\"b\"\r\n");
        QCOMPARE(entries.size(), std::size_t(3));
        QCOMPARE(entries[1].size(), huge.size());
        QCOMPARE(entries[2], std::string("b"));
    }

    void randomBytesReadBackStably() {
        // Whatever is read from a damaged file is written back as records that read the same.
        std::mt19937 bytesFrom(12345);
        for (int round = 0; round < 200; ++round) {
            std::string bytes(bytesFrom() % 4000, '\0');
            for (char& b : bytes) {
                b = static_cast<char>(bytesFrom());
            }
            const Entries entries = parseHistory(bytes);
            QVERIFY(entries.size() <= 101);
            for (const std::string& entry : entries) {
                QVERIFY(!entry.empty());
            }
            QCOMPARE(parseHistory(formatHistory(entries)), entries);
        }
    }
};

QTEST_APPLESS_MAIN(HistoryFormatTest)
#include "tst_history_format.moc"
