#include "platform/SystemRandomSource.h"

#include <QTest>

#include <array>
#include <cmath>

namespace {
constexpr int CodeCount = 123;

// The chi-square critical value for 122 degrees of freedom at a tail of one in a million
// (Wilson-Hilferty approximation, accurate to well under 1% here): a uniform source exceeds it
// less than once in a million runs, while a source that favours some codes does so at once.
double chiSquareLimit() {
    constexpr double k = CodeCount - 1;
    constexpr double z = 4.7534; // standard normal quantile for 1e-6
    const double h = 2.0 / (9.0 * k);
    return k * std::pow(1.0 - h + z * std::sqrt(h), 3);
}

double chiSquareOf(const std::array<int, CodeCount>& counts) {
    double total = 0;
    for (int count : counts) {
        total += count;
    }
    const double expected = total / CodeCount;
    double chiSquare = 0;
    for (int count : counts) {
        chiSquare += (count - expected) * (count - expected) / expected;
    }
    return chiSquare;
}
} // namespace

class SystemRandomSourceTest : public QObject {
    Q_OBJECT
private slots:
    void drawsAreUniformOverEveryCode() {
        constexpr int ExpectedPerCode = 2000;
        constexpr int Draws = CodeCount * ExpectedPerCode;
        platform::SystemRandomSource random;
        std::array<int, CodeCount> counts{};
        for (int i = 0; i < Draws; ++i) {
            const int code = random.nextCode();
            QVERIFY2(code >= 0 && code < CodeCount, qPrintable(QString::number(code)));
            ++counts[code];
        }
        for (int code = 0; code < CodeCount; ++code) {
            QVERIFY2(counts[code] > 0, qPrintable(QStringLiteral("code %1 never drawn").arg(code)));
        }
        const double chiSquare = chiSquareOf(counts);
        qInfo("chi-square %.1f, limit %.1f", chiSquare, chiSquareLimit());
        QVERIFY(chiSquare < chiSquareLimit());
    }

    void theLimitRejectsAModuloBiasedSource() {
        // Reducing a byte modulo 123 without rejection favours codes 0..9 (3 bytes each instead
        // of 2): the same test must catch that, or it proves nothing about the real source.
        constexpr int Draws = CodeCount * 2000;
        std::array<int, CodeCount> counts{};
        for (int i = 0; i < Draws; ++i) {
            ++counts[(i % 256) % CodeCount];
        }
        QVERIFY(chiSquareOf(counts) > chiSquareLimit());
    }
};

QTEST_APPLESS_MAIN(SystemRandomSourceTest)
#include "tst_system_random.moc"
