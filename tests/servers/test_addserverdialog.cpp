#include "servers/addserverdialog.h"
#include "tests/dialogs/monitorrig.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace ostrelle;

namespace {

const QStringList NineNames = {"pool.ntp.org",        "time.nist.gov",  "ptbtime1.ptb.de",
                               "ntp.nict.jp",         "time.nrc.ca",    "time.google.com",
                               "time.cloudflare.com", "time.apple.com", "time.windows.com"};

QComboBox* comboNtp(QWidget* dialog)
{
    return control<QComboBox>(dialog, "ComboNtp");
}

void click(QWidget* dialog, const QString& button)
{
    QTest::mouseClick(control<QPushButton>(dialog, button), Qt::LeftButton);
}

QStringList listedNames(QComboBox* combo)
{
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names << combo->itemText(i);
    return names;
}

// Types into the field as the operator would, replacing what it held.
void typeName(QWidget* dialog, const QString& text)
{
    QApplication::setActiveWindow(dialog);
    QLineEdit* field = comboNtp(dialog)->lineEdit();
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

} // namespace

class TestAddServerDialog : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenWithEmptyFieldAndNineNamesInOrder();
    void shouldAddTheTextAsTyped_data();
    void shouldAddTheTextAsTyped();
    void shouldAddPickedNameLikeTypedOne();
    void shouldChangeNothingButCountdownOnEmptyOk();
    void shouldAddDuplicateNameAsSecondRow();
    void shouldKeepTypedNameAfterCancel();
    void shouldStartAfreshAfterTitleBarClose();
    void shouldNotAddOnEnterInField();
};

void TestAddServerDialog::shouldOpenWithEmptyFieldAndNineNamesInOrder()
{
    MonitorRig rig;
    auto* dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();

    QCOMPARE(comboNtp(dialog)->currentText(), QString());
    QCOMPARE(listedNames(comboNtp(dialog)), NineNames);
}

void TestAddServerDialog::shouldAddTheTextAsTyped_data()
{
    QTest::addColumn<QString>("typed");

    QTest::newRow("host name") << "ntp.example.org";
    QTest::newRow("blanks before and after are kept") << "  ntp.example.org  ";
    QTest::newRow("blanks only count as a name") << "   ";
    QTest::newRow("case is kept") << "NTP.Example.ORG";
    QTest::newRow("a listed name's beginning is not completed") << "time.n";
    QTest::newRow("address literal") << "127.0.0.1";
}

void TestAddServerDialog::shouldAddTheTextAsTyped()
{
    QFETCH(QString, typed);
    MonitorRig rig;
    QPointer<Form2> dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();

    typeName(dialog, typed);
    click(dialog, "Command1");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(rig.tableNames(), QStringList{typed});
    QCOMPARE(rig.monitor.table().TextMatrix(1, ServerTable::ColStatus), QStringLiteral("Wait"));
    QCOMPARE(rig.storedNames(), QStringList{typed});
    QCOMPARE(rig.monitor.cycle().PollCountdown(), 0);
    QVERIFY(dialog);
    QVERIFY(dialog->isHidden());
    QCOMPARE(comboNtp(dialog)->currentText(), typed);
}

void TestAddServerDialog::shouldAddPickedNameLikeTypedOne()
{
    MonitorRig rig;
    auto* dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();

    // From the empty field, three steps down the list.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(comboNtp(dialog), Qt::Key_Down);
    click(dialog, "Command1");

    QCOMPARE(rig.tableNames(), QStringList{"ptbtime1.ptb.de"});
    QCOMPARE(rig.storedNames(), QStringList{"ptbtime1.ptb.de"});
    QCOMPARE(rig.monitor.cycle().PollCountdown(), 0);
}

void TestAddServerDialog::shouldChangeNothingButCountdownOnEmptyOk()
{
    MonitorRig rig;
    QPointer<Form2> dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();

    click(dialog, "Command1");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(rig.monitor.table().Rows(), 0);
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), 0);
    QVERIFY(dialog);
    QVERIFY(dialog->isHidden());
    QVERIFY(rig.messages.shown.isEmpty());
}

void TestAddServerDialog::shouldAddDuplicateNameAsSecondRow()
{
    MonitorRig rig;
    auto* dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();
    typeName(dialog, "ntp.example.org");
    click(dialog, "Command1");

    // The next opening shows the same name, and OK at once adds it again.
    dialog->show();
    click(dialog, "Command1");

    QCOMPARE(rig.tableNames(), (QStringList{"ntp.example.org", "ntp.example.org"}));
    QCOMPARE(rig.storedNames(), (QStringList{"ntp.example.org", "ntp.example.org"}));
}

void TestAddServerDialog::shouldKeepTypedNameAfterCancel()
{
    MonitorRig rig;
    QPointer<Form2> dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();
    typeName(dialog, "ntp.example.org");

    click(dialog, "Command2");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(dialog);
    QVERIFY(dialog->isHidden());
    QCOMPARE(rig.monitor.table().Rows(), 0);
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);

    dialog->show();
    QCOMPARE(comboNtp(dialog)->currentText(), QStringLiteral("ntp.example.org"));
    QCOMPARE(listedNames(comboNtp(dialog)), NineNames);
}

void TestAddServerDialog::shouldStartAfreshAfterTitleBarClose()
{
    MonitorRig rig;
    QPointer<Form2> dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();
    typeName(dialog, "ntp.example.org");

    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(!dialog);
    QCOMPARE(rig.monitor.table().Rows(), 0);
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);

    auto* reopened = new Form2(rig.monitor, &rig.owner);
    reopened->show();
    QCOMPARE(comboNtp(reopened)->currentText(), QString());
    QCOMPARE(listedNames(comboNtp(reopened)), NineNames);
}

void TestAddServerDialog::shouldNotAddOnEnterInField()
{
    MonitorRig rig;
    auto* dialog = new Form2(rig.monitor, &rig.owner);
    dialog->show();
    typeName(dialog, "ntp.example.org");

    QTest::keyClick(comboNtp(dialog)->lineEdit(), Qt::Key_Return);
    QTest::keyClick(comboNtp(dialog)->lineEdit(), Qt::Key_Enter, Qt::KeypadModifier);

    QVERIFY(dialog->isVisible());
    QCOMPARE(rig.monitor.table().Rows(), 0);
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);
    QCOMPARE(comboNtp(dialog)->currentText(), QStringLiteral("ntp.example.org"));
    QCOMPARE(comboNtp(dialog)->count(), NineNames.size());
}

QTEST_MAIN(TestAddServerDialog)
#include "test_addserverdialog.moc"
