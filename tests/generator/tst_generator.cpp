#include "generator/PasswordGenerator.h"
#include "support/ScriptedRandomSource.h"

#include <QTest>

#include <string>

using generator::Rules;

namespace {

const std::string LowerCase = "abcdefghijklmnopqrstuvwxyz";
const std::string Capitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const std::string Digits = "0123456789";
const std::string Specials = "!#$%&@*^";

bool contains(const std::string& set, std::int16_t code) {
    return code >= 0 && code <= 127 && set.find(static_cast<char>(code)) != std::string::npos;
}

std::string generate(std::vector<std::int16_t> script, const Rules& rules) {
    ScriptedRandomSource random(std::move(script));
    return generator::generatePassword(random, generator::standardSpecialChars(),
                                       [&] { return rules; });
}

Rules rulesFromBits(int bits) {
    Rules rules;
    rules.allowCaps = bits & 1;
    rules.allowDigits = bits & 2;
    rules.allowSpecialChars = bits & 4;
    rules.mustStartWithLetter = bits & 8;
    return rules;
}

QString describe(const Rules& r) {
    return QStringLiteral("caps=%1 digits=%2 specials=%3 startWithLetter=%4")
        .arg(r.allowCaps)
        .arg(r.allowDigits)
        .arg(r.allowSpecialChars)
        .arg(r.mustStartWithLetter);
}

} // namespace

class GeneratorTest : public QObject {
    Q_OBJECT
private slots:
    void specialCharTableHoldsTheEightCharactersInOrder() {
        const generator::SpecialCharTable expected = {33, 35, 36, 37, 38, 64, 42, 94};
        QCOMPARE(generator::standardSpecialChars(), expected);
    }

    void isSpecialCharMatchesEverySlotAndNothingElse() {
        const auto table = generator::standardSpecialChars();
        for (std::int16_t code = -1; code <= 200; ++code) {
            QCOMPARE(generator::IsSpecialChar(table, code), contains(Specials, code));
        }
        // The last slot is compared too, not only the first ones.
        generator::SpecialCharTable onlyLast{};
        onlyLast[7] = 'Q';
        QVERIFY(generator::IsSpecialChar(onlyLast, 'Q'));
    }

    // For every combination of the four options, every code 0..122 is offered once as the first
    // character and once as a later one; it must be accepted exactly when its class is allowed.
    // So '"' and ',', in no class, never appear, which the history file relies on.
    void everyCodeIsAcceptedExactlyWhenItsClassIsAllowed() {
        for (int bits = 0; bits < 16; ++bits) {
            Rules rules = rulesFromBits(bits);
            for (std::int16_t code = 0; code <= 122; ++code) {
                const bool allowedLater = contains(LowerCase, code) ||
                                          (rules.allowCaps && contains(Capitals, code)) ||
                                          (rules.allowDigits && contains(Digits, code)) ||
                                          (rules.allowSpecialChars && contains(Specials, code));
                const bool allowedFirst =
                    rules.mustStartWithLetter
                        ? contains(LowerCase, code) || (rules.allowCaps && contains(Capitals, code))
                        : allowedLater;

                // A filler 'z' follows each offered code: it is taken when the code is refused.
                rules.length = 1;
                const std::string first = generate({code, 'z'}, rules);
                QVERIFY2(first == std::string(1, allowedFirst ? char(code) : 'z'),
                         qPrintable(describe(rules) + QStringLiteral(" first code %1").arg(code)));

                rules.length = 2;
                const std::string later = generate({'q', code, 'z'}, rules);
                QVERIFY2(later == std::string("q") + (allowedLater ? char(code) : 'z'),
                         qPrintable(describe(rules) + QStringLiteral(" later code %1").arg(code)));
            }
        }
    }

    // Walking through all codes in ascending order shows the first accepted ones directly.
    void ascendingCodesGiveTheExpectedPasswords() {
        std::vector<std::int16_t> ascending;
        for (std::int16_t code = 0; code <= 122; ++code) {
            ascending.push_back(code);
        }
        Rules rules = rulesFromBits(7); // all classes, any first character
        rules.length = 12;
        QCOMPARE(generate(ascending, rules), std::string("!#$%&*012345"));
        rules.mustStartWithLetter = true;
        QCOMPARE(generate(ascending, rules), std::string("ABCDEFGHIJKL"));
        rules.allowCaps = false;
        QCOMPARE(generate(ascending, rules), std::string("abcdefghijkl"));
        rules = rulesFromBits(0);
        rules.length = 5;
        QCOMPARE(generate(ascending, rules), std::string("abcde"));
    }

    void lengthIsExactForEveryLength() {
        for (std::int16_t length = 5; length <= 12; ++length) {
            Rules rules;
            rules.length = length;
            std::vector<std::int16_t> script(40, '0');
            script.insert(script.end(), 40, 'k');
            QCOMPARE(generate(script, rules).size(), std::size_t(length));
        }
    }

    void rulesAreReadAfreshBeforeEveryDraw() {
        // The length and the options change between draws: the loop follows both.
        ScriptedRandomSource random({'a', '5', '5', 'b', '5', 'c'});
        int reads = 0;
        const auto readRules = [&] {
            Rules rules = rulesFromBits(0);
            rules.length = reads >= 4 ? 4 : 12;
            rules.allowDigits = reads >= 2;
            ++reads;
            return rules;
        };
        const std::string password =
            generator::generatePassword(random, generator::standardSpecialChars(), readRules);
        QCOMPARE(password, std::string("a5b5"));
        QCOMPARE(random.drawn(), std::size_t(5));
    }
};

QTEST_APPLESS_MAIN(GeneratorTest)
#include "tst_generator.moc"
