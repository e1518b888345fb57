#include "history/HistoryTable.h"

#include <QTest>

#include <string>
#include <vector>

using history::HistoryTable;
using Entries = std::vector<std::string>;

namespace {

std::string name(int i) {
    return "p" + std::to_string(i);
}

HistoryTable tableWithSaves(int count) {
    HistoryTable table;
    for (int i = 1; i <= count; ++i) {
        table.save(name(i));
    }
    return table;
}

} // namespace

class HistoryTableTest : public QObject {
    Q_OBJECT
private slots:
    void anEmptyPasswordIsNotSaved() {
        HistoryTable table = tableWithSaves(2);
        QVERIFY(!table.save(""));
        QCOMPARE(table.count(), std::int16_t(2));
        QCOMPARE(table.entries(), (Entries{"p1", "p2"}));
    }

    void theListShowsUpToThreeNewestFirst() {
        QCOMPARE(tableWithSaves(0).newest(3), Entries{});
        QCOMPARE(tableWithSaves(1).newest(3), Entries{"p1"});
        QCOMPARE(tableWithSaves(2).newest(3), (Entries{"p2", "p1"}));
        QCOMPARE(tableWithSaves(3).newest(3), (Entries{"p3", "p2", "p1"}));
        QCOMPARE(tableWithSaves(101).newest(3), (Entries{"p101", "p100", "p99"}));
    }

    void theSamePasswordSavedTwiceIsHeldTwice() {
        HistoryTable table;
        table.save("same");
        table.save("same");
        QCOMPARE(table.entries(), (Entries{"same", "same"}));
        QCOMPARE(table.newest(3), (Entries{"same", "same"}));
    }

    void aFullTableDropsTheOldest() {
        HistoryTable table = tableWithSaves(101);
        QCOMPARE(table.count(), std::int16_t(101));
        QCOMPARE(table.slot(1), std::string("p1"));
        QCOMPARE(table.slot(101), std::string("p101"));

        table.save("new");
        QCOMPARE(table.count(), std::int16_t(101));
        QCOMPARE(table.slot(1), std::string("p2"));
        QCOMPARE(table.slot(100), std::string("p101"));
        QCOMPARE(table.slot(101), std::string("new"));
        QCOMPARE(table.newest(1), Entries{"new"});
    }

    void loadingKeepsTheNewest101() {
        Entries many;
        for (int i = 1; i <= 150; ++i) {
            many.push_back(name(i));
        }
        HistoryTable table;
        table.load(many);
        QCOMPARE(table.count(), std::int16_t(101));
        QCOMPARE(table.slot(1), std::string("p50"));
        QCOMPARE(table.slot(101), std::string("p150"));
    }
};

QTEST_APPLESS_MAIN(HistoryTableTest)
#include "tst_history_table.moc"
