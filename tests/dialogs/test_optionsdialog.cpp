#include "dialogs/optionsdialog.h"
#include "tests/dialogs/monitorrig.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using namespace ostrelle;

namespace {

QString labelText(QWidget* dialog, const QString& name)
{
    return control<QLabel>(dialog, name)->text();
}

int sliderValue(QWidget* dialog, const QString& name)
{
    return control<QSlider>(dialog, name)->value();
}

void click(QWidget* dialog, const QString& name)
{
    QTest::mouseClick(control<QAbstractButton>(dialog, name), Qt::LeftButton);
}

} // namespace

class TestOptionsDialog : public QObject
{
    Q_OBJECT

private slots:
    void shouldFillControlsFromSettings_data();
    void shouldFillControlsFromSettings();
    void shouldChangeOnlyTheLabelWhenSliderMoves_data();
    void shouldChangeOnlyTheLabelWhenSliderMoves();
    void shouldKeepMovedSlidersAfterCancelWithoutChangingSettings();
    void shouldStoreChosenValuesOnOk();
    void shouldStoreWhatControlsShowOnUntouchedOk_data();
    void shouldStoreWhatControlsShowOnUntouchedOk();
    void shouldRefillFromSettingsAfterTitleBarClose();
};

void TestOptionsDialog::shouldFillControlsFromSettings_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("label1");
    QTest::addColumn<int>("slider1");
    QTest::addColumn<QString>("label2");
    QTest::addColumn<int>("slider2");
    QTest::addColumn<QString>("label3");
    QTest::addColumn<int>("slider3");

    QTest::newRow("defaults") << QStringList{} << false << " 1 mins" << 1 << " 10 mins" << 10 << " 15" << 15;
    QTest::newRow("all stored") << QStringList{"SysTimeAdj= 1", "NtpPoll= 300", "RefTimeHighlight= 1200",
                                               "StratumHighlight= 0"}
                                << true << " 5 mins" << 5 << " 20 mins" << 20 << " 0" << 0;
    QTest::newRow("clock adjustment 2 shows unchecked")
        << QStringList{"SysTimeAdj= 2"} << false << " 1 mins" << 1 << " 10 mins" << 10 << " 15" << 15;
    QTest::newRow("90 s poll shows its fraction, the slider the even neighbour")
        << QStringList{"NtpPoll= 90"} << false << " 1.5 mins" << 2 << " 10 mins" << 10 << " 15" << 15;
    QTest::newRow("30 s poll clamps the slider to 1")
        << QStringList{"NtpPoll= 30"} << false << " 0.5 mins" << 1 << " 10 mins" << 10 << " 15" << 15;
    QTest::newRow("two hours poll clamps the slider to 60")
        << QStringList{"NtpPoll= 7200"} << false << " 120 mins" << 60 << " 10 mins" << 10 << " 15" << 15;
    QTest::newRow("150 s reference time rounds down to even 2")
        << QStringList{"RefTimeHighlight= 150"} << false << " 1 mins" << 1 << " 2.5 mins" << 2 << " 15" << 15;
    QTest::newRow("one minute reference time clamps to 2")
        << QStringList{"RefTimeHighlight= 60"} << false << " 1 mins" << 1 << " 1 mins" << 2 << " 15" << 15;
    QTest::newRow("stratum above range")
        << QStringList{"StratumHighlight= 20"} << false << " 1 mins" << 1 << " 10 mins" << 10 << " 20" << 15;
    QTest::newRow("negative stratum")
        << QStringList{"StratumHighlight=-3"} << false << " 1 mins" << 1 << " 10 mins" << 10 << "-3" << 0;
}

void TestOptionsDialog::shouldFillControlsFromSettings()
{
    QFETCH(QStringList, stored);
    MonitorRig rig(stored);
    const Settings before = rig.monitor.settings();

    auto* dialog = new Form4(rig.monitor, &rig.owner);
    dialog->show();

    QTEST(control<QCheckBox>(dialog, "CheckAdj")->isChecked(), "checked");
    QTEST(labelText(dialog, "Label1"), "label1");
    QTEST(sliderValue(dialog, "Slider1"), "slider1");
    QTEST(labelText(dialog, "Label2"), "label2");
    QTEST(sliderValue(dialog, "Slider2"), "slider2");
    QTEST(labelText(dialog, "Label3"), "label3");
    QTEST(sliderValue(dialog, "Slider3"), "slider3");
    QVERIFY(rig.monitor.settings() == before);
    QVERIFY(rig.nothingSaved());
}

void TestOptionsDialog::shouldChangeOnlyTheLabelWhenSliderMoves_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<int>("key"); // 0: set by a drag, to the value 5
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");

    QTest::newRow("Slider1 dragged to 5") << "Slider1" << 0 << "Label1"
                                          << " 5 mins";
    QTest::newRow("Slider1 End") << "Slider1" << int(Qt::Key_End) << "Label1"
                                 << " 60 mins";
    QTest::newRow("Slider2 right arrow, a small step") << "Slider2" << int(Qt::Key_Right) << "Label2"
                                                       << " 11 mins";
    QTest::newRow("Slider2 page up, a large step") << "Slider2" << int(Qt::Key_PageUp) << "Label2"
                                                   << " 15 mins";
    QTest::newRow("Slider2 Home") << "Slider2" << int(Qt::Key_Home) << "Label2"
                                  << " 2 mins";
    QTest::newRow("Slider3 page down, a large step of one") << "Slider3" << int(Qt::Key_PageDown) << "Label3"
                                                            << " 14";
    QTest::newRow("Slider3 Home shows zero with its blank") << "Slider3" << int(Qt::Key_Home) << "Label3"
                                                            << " 0";
}

void TestOptionsDialog::shouldChangeOnlyTheLabelWhenSliderMoves()
{
    QFETCH(QString, slider);
    QFETCH(int, key);
    QFETCH(QString, label);
    MonitorRig rig;
    auto* dialog = new Form4(rig.monitor, &rig.owner);
    dialog->show();
    QStringList others = {"Label1", "Label2", "Label3"};
    others.removeOne(label);
    const QStringList othersBefore = {labelText(dialog, others[0]), labelText(dialog, others[1])};

    if (key == 0)
        control<QSlider>(dialog, slider)->setValue(5);
    else
        QTest::keyClick(control<QSlider>(dialog, slider), Qt::Key(key));

    QTEST(labelText(dialog, label), "text");
    QCOMPARE((QStringList{labelText(dialog, others[0]), labelText(dialog, others[1])}), othersBefore);
    QVERIFY(rig.monitor.settings() == Settings{});
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);
}

void TestOptionsDialog::shouldKeepMovedSlidersAfterCancelWithoutChangingSettings()
{
    MonitorRig rig;
    QPointer<Form4> dialog = new Form4(rig.monitor, &rig.owner);
    dialog->show();
    control<QSlider>(dialog, "Slider1")->setValue(5);
    click(dialog, "CheckAdj");

    click(dialog, "Command2");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(dialog && dialog->isHidden());
    QVERIFY(rig.monitor.settings() == Settings{});
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);

    dialog->show();
    QCOMPARE(sliderValue(dialog, "Slider1"), 5);
    QCOMPARE(labelText(dialog, "Label1"), QStringLiteral(" 5 mins"));
    QVERIFY(control<QCheckBox>(dialog, "CheckAdj")->isChecked());

    // A later OK takes over what the controls show now.
    click(dialog, "Command1");
    QCOMPARE(rig.storedText("NtpPoll"), QStringLiteral(" 300"));
    QCOMPARE(rig.storedText("SysTimeAdj"), QStringLiteral(" 1"));
}

void TestOptionsDialog::shouldStoreChosenValuesOnOk()
{
    MonitorRig rig({"NtpServerCnt= 2", "NtpServer0001=a.example", "NtpServer0002=b.example"});
    QPointer<Form4> dialog = new Form4(rig.monitor, &rig.owner);
    dialog->show();

    control<QSlider>(dialog, "Slider1")->setValue(5);
    control<QSlider>(dialog, "Slider2")->setValue(2);
    control<QSlider>(dialog, "Slider3")->setValue(3);
    click(dialog, "CheckAdj");
    click(dialog, "Command1");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(rig.storedText("NtpPoll"), QStringLiteral(" 300"));
    QCOMPARE(rig.storedText("RefTimeHighlight"), QStringLiteral(" 120"));
    QCOMPARE(rig.storedText("StratumHighlight"), QStringLiteral(" 3"));
    QCOMPARE(rig.storedText("SysTimeAdj"), QStringLiteral(" 1"));
    QCOMPARE(rig.storedNames(), (QStringList{"a.example", "b.example"}));
    QVERIFY(rig.monitor.settings() == (Settings{1, 300, 120, 3}));
    QCOMPARE(rig.monitor.cycle().PollCountdown(), 0);
    QVERIFY(dialog && dialog->isHidden());
}

void TestOptionsDialog::shouldStoreWhatControlsShowOnUntouchedOk_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("sysTimeAdj");
    QTest::addColumn<QString>("ntpPoll");
    QTest::addColumn<QString>("refTimeHighlight");
    QTest::addColumn<QString>("stratumHighlight");

    QTest::newRow("defaults are written out") << QStringList{} << " 0"
                                              << " 60"
                                              << " 600"
                                              << " 15";
    QTest::newRow("90 s becomes two minutes") << QStringList{"NtpPoll= 90"} << " 0"
                                              << " 120"
                                              << " 600"
                                              << " 15";
    QTest::newRow("30 s becomes the one-minute minimum") << QStringList{"NtpPoll= 30"} << " 0"
                                                         << " 60"
                                                         << " 600"
                                                         << " 15";
    QTest::newRow("clock adjustment 2 becomes off") << QStringList{"SysTimeAdj= 2"} << " 0"
                                                    << " 60"
                                                    << " 600"
                                                    << " 15";
    QTest::newRow("reference time beyond an hour becomes an hour")
        << QStringList{"RefTimeHighlight= 4000"} << " 0"
        << " 60"
        << " 3600"
        << " 15";
    QTest::newRow("stratum 20 becomes 15") << QStringList{"StratumHighlight= 20"} << " 0"
                                           << " 60"
                                           << " 600"
                                           << " 15";
}

void TestOptionsDialog::shouldStoreWhatControlsShowOnUntouchedOk()
{
    QFETCH(QStringList, stored);
    MonitorRig rig(stored);
    auto* dialog = new Form4(rig.monitor, &rig.owner);
    dialog->show();

    click(dialog, "Command1");

    QTEST(rig.storedText("SysTimeAdj"), "sysTimeAdj");
    QTEST(rig.storedText("NtpPoll"), "ntpPoll");
    QTEST(rig.storedText("RefTimeHighlight"), "refTimeHighlight");
    QTEST(rig.storedText("StratumHighlight"), "stratumHighlight");
    QCOMPARE(rig.monitor.cycle().PollCountdown(), 0);
}

void TestOptionsDialog::shouldRefillFromSettingsAfterTitleBarClose()
{
    MonitorRig rig({"NtpPoll= 90"});
    QPointer<Form4> dialog = new Form4(rig.monitor, &rig.owner);
    dialog->show();
    control<QSlider>(dialog, "Slider1")->setValue(30);

    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(!dialog);
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);
    auto* reopened = new Form4(rig.monitor, &rig.owner);
    QCOMPARE(sliderValue(reopened, "Slider1"), 2);
    QCOMPARE(labelText(reopened, "Label1"), QStringLiteral(" 1.5 mins"));
}

QTEST_MAIN(TestOptionsDialog)
#include "test_optionsdialog.moc"
