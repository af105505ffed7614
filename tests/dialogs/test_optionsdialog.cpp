#include "dialogs/optionsdialog.h"
#include "tests/support/windowrig.h"

#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QSlider>

using namespace ostrelle;
using namespace ostrelle::test;

namespace {

// What the dialog shows: the box, then each label's text and its slider's position.
QString shown(QWidget* dialog)
{
    QStringList parts = {control<QCheckBox>(dialog, "CheckAdj")->isChecked() ? "[x]" : "[ ]"};
    for (const QString n : {"1", "2", "3"})
        parts << control<QLabel>(dialog, "Label" + n)->text()
              << QString::number(control<QSlider>(dialog, "Slider" + n)->value());
    return parts.join('|');
}

// The operator's actions: "Slider1 5" drags a slider to 5, "Slider1 PgUp" presses a key on a control.
void act(QWidget* dialog, const QString& actions)
{
    for (const QString& action : actions.split(", ", Qt::SkipEmptyParts)) {
        QWidget* target = control<QWidget>(dialog, action.section(' ', 0, 0));
        bool dragged = false;
        const int position = action.section(' ', 1).toInt(&dragged);
        if (dragged)
            qobject_cast<QSlider*>(target)->setValue(position);
        else
            QTest::keyClick(target, QKeySequence(action.section(' ', 1))[0].key());
    }
}

} // namespace

class TestOptionsDialog : public QObject
{
    Q_OBJECT

private slots:
    // Expected texts read "what the dialog shows => what OK stores for the adjustment, the poll
    // interval, the reference age limit and the stratum limit".
    void shouldStoreWhatItShowsOnlyOnOk_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("expected");
        QTest::newRow("defaults") << QStringList{} << QString()
                                  << "[ ]| 1 mins|1| 10 mins|10| 15|15 => 0| 60| 600| 15";
        QTest::newRow("all stored") << QStringList{"SysTimeAdj= 1", "NtpPoll= 300", "RefTimeHighlight= 1200",
                                                   "StratumHighlight= 0"}
                                    << QString() << "[x]| 5 mins|5| 20 mins|20| 0|0 => 1| 300| 1200| 0";
        QTest::newRow("two decimals at most, no trailing zero")
            << QStringList{"NtpPoll= 100", "RefTimeHighlight= 3590"} << QString()
            << "[ ]| 1.67 mins|2| 59.83 mins|60| 15|15 => 0| 120| 3600| 15";
        QTest::newRow("below the ranges: loaded as the bottom")
            << QStringList{"NtpPoll= 30", "RefTimeHighlight=-90", "StratumHighlight=-3"} << QString()
            << "[ ]| 1 mins|1| 2 mins|2| 0|0 => 0| 60| 120| 0";
        QTest::newRow("above the ranges: loaded as the top, clock adjustment 2 is off")
            << QStringList{"SysTimeAdj= 2", "NtpPoll= 7200", "RefTimeHighlight= 4000", "StratumHighlight= 20"}
            << QString() << "[ ]| 60 mins|60| 60 mins|60| 15|15 => 0| 3600| 3600| 15";
        QTest::newRow("Slider1 page up: a large step of 5")
            << QStringList{} << QStringLiteral("Slider1 PgUp")
            << "[ ]| 6 mins|6| 10 mins|10| 15|15 => 0| 360| 600| 15";
        QTest::newRow("Slider3 page down: a large step of 1")
            << QStringList{} << QStringLiteral("Slider3 PgDown")
            << "[ ]| 1 mins|1| 10 mins|10| 14|14 => 0| 60| 600| 14";
        QTest::newRow("dragged to 5, 2 and 3, the box ticked with the space bar")
            << QStringList{} << QStringLiteral("Slider1 5, Slider2 2, Slider3 3, CheckAdj Space")
            << "[x]| 5 mins|5| 2 mins|2| 3|3 => 1| 300| 120| 3";
    }

    void shouldStoreWhatItShowsOnlyOnOk()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, actions);
        WindowRig rig(stored << "NtpServerCnt= 2"
                             << "NtpServer0001=a.example"
                             << "NtpServer0002=b.example");
        const Settings before = rig.monitor().settings();
        click(&rig.window, "CommandOptions");
        auto* dialog = rig.window.findChild<OptionsDialog*>();
        act(dialog, actions);
        const QString shows = shown(dialog);

        click(dialog, "Command2");
        QVERIFY(rig.monitor().settings() == before && rig.nothingSaved());
        QVERIFY(!rig.pollsAtNextTick());
        click(&rig.window, "CommandOptions");
        QCOMPARE(shown(dialog), shows);

        click(dialog, "Command1");
        QStringList texts;
        for (const char* key : {"SysTimeAdj", "NtpPoll", "RefTimeHighlight", "StratumHighlight"})
            texts << rig.storedText(key);
        QTEST(shows + " =>" + texts.join('|'), "expected");
        QCOMPARE(rig.storedNames(), (QStringList{"a.example", "b.example"}));
        QVERIFY(rig.pollsAtNextTick());
        QVERIFY(rig.monitor().cycle().settings() == rig.monitor().settings());
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "test_optionsdialog.moc"
