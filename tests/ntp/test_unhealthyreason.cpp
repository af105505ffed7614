#include "ntp/agreement.h"
#include "ntp/unhealthyreason.h"

#include <QTest>

using namespace ostrelle;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ostrelle::UnhealthyReasons)

class UnhealthyReasonTest : public QObject
{
    Q_OBJECT

private slots:
    void shouldSayWhyInPlainWordsWithTheNumbers_data()
    {
        QTest::addColumn<UnhealthyReasons>("reasons");
        QTest::addColumn<QString>("text");
        UnhealthyReasons r;
        QTest::newRow("healthy") << r << "";

        r = {};
        r.leapIndicator = 3;
        QTest::newRow("leap 3") << r << "Not synchronised (leap indicator 3)";

        r = {};
        r.referenceTimeTooOld = true;
        r.referenceAge = 42min + 59s;
        r.referenceAgeLimit = 600s;
        QTest::newRow("42 min old") << r << "Reference time 42 min old (limit 10 min)";
        r.referenceAge = 3 * 24h + 5h;
        r.referenceAgeLimit = 90s;
        QTest::newRow("days old, limit in seconds") << r << "Reference time 3 days old (limit 90 s)";
        r.referenceTimeMissing = true;
        QTest::newRow("never synchronised") << r << "No reference time (the server was never synchronised)";

        r = {};
        r.kissOfDeath = true;
        r.kissCode = QStringLiteral("RATE");
        QTest::newRow("RATE") << r << "Kiss-o'-death: RATE (the server asks to be polled less often)";
        r.kissCode = QStringLiteral("X?Z");
        QTest::newRow("unknown code") << r << "Kiss-o'-death: X?Z";

        r = {};
        r.rootDistanceTooLarge = true;
        r.rootDistanceSeconds = 1.5004;
        QTest::newRow("just above the limit") << r << "Root distance 1.5004 s is too large";

        r = {};
        r.kissOfDeath = true;
        r.kissCode = QStringLiteral("RSTR");
        r.stratumAboveLimit = true;
        r.stratum = 0;
        r.stratumLimit = 15;
        r.noTimestamps = true;
        r.noReply = true;
        r.replyWait = 4s;
        QTest::newRow("several")
            << r
            << "No reply within 4 s; Kiss-o'-death: RSTR (the server's access rules refuse us); "
               "Stratum 0 is above the limit of 15; No timestamps in the reply";
    }
    void shouldSayWhyInPlainWordsWithTheNumbers()
    {
        QFETCH(UnhealthyReasons, reasons);
        QFETCH(QString, text);
        QCOMPARE(UnhealthyReasonText(reasons), text);
        QCOMPARE(UnhealthyReasonTexts(reasons).size(), text.isEmpty() ? 0 : int(text.count(u';')) + 1);
    }

    // From the pass's candidates to the words on each row and on the "Synchronised to:" label.
    void shouldGiveTheAgreementItsWords_data()
    {
        QTest::addColumn<QList<double>>("offsets");
        QTest::addColumn<QList<double>>("rootDispersions");
        QTest::addColumn<QStringList>("rowTexts");
        QTest::addColumn<QString>("notSet");
        QTest::newRow("three at true time, one an hour ahead")
            << QList<double>{0.001, -0.002, 0.0, 3600.0} << QList<double>{0.02, 0.02, 0.02, 0.02}
            << QStringList{"", "", "", "Disagrees with 3 of 4 servers"} << "";
        QTest::newRow("two that disagree")
            << QList<double>{0.0, 5.0} << QList<double>{0.02, 0.02} << QStringList{"", ""}
            << "Clock not set: no majority (at most 1 of 2 servers agree)";
        QTest::newRow("one too far away") << QList<double>{0.0, 0.01} << QList<double>{2.1, 0.02}
                                          << QStringList{"Root distance 2.1 s is too large", ""} << "";
        QTest::newRow("none close enough")
            << QList<double>{0.0} << QList<double>{1.7} << QStringList{"Root distance 1.7 s is too large"}
            << "Clock not set: no candidate (no usable reply this pass)";
    }
    void shouldGiveTheAgreementItsWords()
    {
        QFETCH(QList<double>, offsets);
        QFETCH(QList<double>, rootDispersions);
        QFETCH(QStringList, rowTexts);
        QFETCH(QString, notSet);
        std::vector<AgreementCandidate> candidates(std::size_t(offsets.size()));
        for (qsizetype i = 0; i < offsets.size(); ++i) {
            candidates[std::size_t(i)].stratum = 2;
            candidates[std::size_t(i)].offset = AgreementSeconds(offsets[i]);
            candidates[std::size_t(i)].rootDispersion = AgreementSeconds(rootDispersions[i]);
        }
        const AgreementResult agreement = EvaluateAgreement(candidates, AgreementSeconds(0.0));
        for (qsizetype i = 0; i < rowTexts.size(); ++i) {
            UnhealthyReasons reasons;
            AddAgreementReasons(reasons, agreement.candidates[std::size_t(i)], agreement);
            QCOMPARE(UnhealthyReasonText(reasons), rowTexts[i]);
        }
        QCOMPARE(ClockNotSetText(agreement), notSet);
    }
};

QTEST_GUILESS_MAIN(UnhealthyReasonTest)
#include "test_unhealthyreason.moc"
