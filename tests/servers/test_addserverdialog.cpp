#include "servers/addserverdialog.h"
#include "tests/dialogs/monitorrig.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

using namespace ostrelle;

namespace {

const QStringList NineNames = {"pool.ntp.org",        "time.nist.gov",  "ptbtime1.ptb.de",
                               "ntp.nict.jp",         "time.nrc.ca",    "time.google.com",
                               "time.cloudflare.com", "time.apple.com", "time.windows.com"};

// The field's text, then the listed names.
QStringList shown(QComboBox* combo)
{
    QStringList texts = {combo->currentText()};
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

} // namespace

class TestAddServerDialog : public QObject
{
    Q_OBJECT

private slots:
    // Each row types into the field, moves down the list, presses Enter (which must do nothing),
    // then presses the buttons, each at an opening of its own. The names saved are the table's.
    void shouldAddTheTextVerbatimOnOkOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("arrowsDown");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QStringList>("added");
        QTest::newRow("blanks around a name and its case kept")
            << "  NTP.Example.org  " << 0 << "Command1" << QStringList{"  NTP.Example.org  "};
        QTest::newRow("blanks only count as a name") << "   " << 0 << "Command1" << QStringList{"   "};
        QTest::newRow("a listed name's beginning is not completed")
            << "time.n" << 0 << "Command1" << QStringList{"time.n"};
        QTest::newRow("third listed name picked with the arrow key")
            << "" << 3 << "Command1" << QStringList{"ptbtime1.ptb.de"};
        QTest::newRow("OK at the next opening adds a duplicate row")
            << "a.example" << 0 << "Command1 Command1" << QStringList{"a.example", "a.example"};
        QTest::newRow("empty field adds nothing") << "" << 0 << "Command1" << QStringList{};
        QTest::newRow("Cancel adds nothing") << "ntp.example.org" << 0 << "Command2" << QStringList{};
    }

    void shouldAddTheTextVerbatimOnOkOnly()
    {
        QFETCH(QString, typed);
        QFETCH(int, arrowsDown);
        QFETCH(QString, buttons);
        QFETCH(QStringList, added);
        MonitorRig rig;
        auto* dialog = new Form2(rig.monitor, &rig.owner);
        QComboBox* combo = control<QComboBox>(dialog, "ComboNtp");
        dialog->show();
        QCOMPARE(shown(combo), QStringList{""} + NineNames);
        QApplication::setActiveWindow(dialog);
        combo->lineEdit()->setFocus();
        QTest::keyClicks(combo->lineEdit(), typed);
        for (int i = 0; i <= arrowsDown; ++i)
            QTest::keyClick(combo->lineEdit(), i < arrowsDown ? Qt::Key_Down : Qt::Key_Return);
        for (const QString& button : buttons.split(' ')) {
            dialog->show();
            click(dialog, button);
        }

        QCOMPARE(rig.storedNames(), added);
        QCOMPARE(rig.nothingSaved(), added.isEmpty());
        QCOMPARE(rig.monitor.cycle().PollCountdown(),
                 buttons.contains("Command1") ? 0 : MonitorRig::RestingCountdown);
        // The next opening shows what the field held.
        dialog->show();
        QCOMPARE(shown(combo), QStringList{added.value(0, typed)} + NineNames);
    }
};

QTEST_MAIN(TestAddServerDialog)
#include "test_addserverdialog.moc"
