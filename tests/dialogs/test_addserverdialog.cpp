#include "dialogs/addserverdialog.h"
#include "tests/support/windowrig.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

using namespace ostrelle;
using namespace ostrelle::test;

class TestAddServerDialog : public QObject
{
    Q_OBJECT

private slots:
    // Each row types into the field, moves down the list, presses Enter (which must do nothing),
    // then presses the buttons, each at an opening of its own.
    void shouldAddATrimmedUsableNameOnOkOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("arrowsDown");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<int>("refusals");
        const QString longest(255, u'a');
        // clang-format off
        QTest::newRow("blanks around a name trimmed, case kept") << "  NTP.Example.org  " << 0 << "Command1" << QStringList{"NTP.Example.org"} << 0;
        QTest::newRow("a listed name's beginning is not completed") << "time.n" << 0 << "Command1" << QStringList{"time.n"} << 0;
        QTest::newRow("third listed name picked with the arrow key") << "" << 3 << "Command1" << QStringList{"ptbtime1.ptb.de"} << 0;
        QTest::newRow("OK at the next opening adds a duplicate row") << "a.example" << 0 << "Command1 Command1" << QStringList{"a.example", "a.example"} << 0;
        QTest::newRow("NTS server with its key exchange port") << " nts://time.example.net:4461 " << 0 << "Command1" << QStringList{"nts://time.example.net:4461"} << 0;
        QTest::newRow("255 characters") << longest << 0 << "Command1" << QStringList{longest} << 0;
        QTest::newRow("256 characters refused") << longest + "b" << 0 << "Command1" << QStringList{} << 1;
        QTest::newRow("ten megabytes refused") << QString(10 * 1024 * 1024, u'x') << 0 << "Command1" << QStringList{} << 1;
        QTest::newRow("blanks only refused") << "   " << 0 << "Command1" << QStringList{} << 1;
        QTest::newRow("Cancel adds nothing") << "ntp.example.org" << 0 << "Command2" << QStringList{} << 0;
        // clang-format on
    }
    void shouldAddATrimmedUsableNameOnOkOnly()
    {
        QFETCH(QString, typed);
        QFETCH(int, arrowsDown);
        QFETCH(QString, buttons);
        QFETCH(QStringList, added);
        QFETCH(int, refusals);
        WindowRig rig;
        click(&rig.window, "CommandAdd");
        auto* dialog = rig.window.findChild<AddServerDialog*>();
        QComboBox* combo = control<QComboBox>(dialog, "ComboNtp");
        QApplication::setActiveWindow(dialog);
        combo->lineEdit()->setFocus();
        combo->lineEdit()->insert(typed);
        for (int i = 0; i <= arrowsDown; ++i)
            QTest::keyClick(combo->lineEdit(), i < arrowsDown ? Qt::Key_Down : Qt::Key_Return);
        for (const QString& button : buttons.split(' ')) {
            click(&rig.window, "CommandAdd");
            click(dialog, button);
        }
        QCOMPARE(rig.storedNames(), added);
        QCOMPARE(rig.nothingSaved(), added.isEmpty());
        QCOMPARE(rig.messages.shown.size(), refusals);
        // A refused name leaves the dialog open with the name still in it, for the operator to mend.
        QCOMPARE(dialog->isVisible(), refusals > 0);
        QCOMPARE(rig.pollsAtNextTick(), buttons.contains("Command1") && refusals == 0);
        if (!added.isEmpty()) // the new server is the operator's row
            QCOMPARE(control<QAbstractItemView>(&rig.window, "MSFlexGridNtp")
                         ->selectionModel()
                         ->selectedRows()
                         .value(0)
                         .row(),
                     added.size() - 1);
    }
};

QTEST_MAIN(TestAddServerDialog)
#include "test_addserverdialog.moc"
