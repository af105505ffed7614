#include "tests/support/windowrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QRegularExpression>
#include <QSlider>

using namespace ostrelle;
using namespace ostrelle::test;

class TestDialogFrames : public QObject
{
    Q_OBJECT

private slots:
    // Each row is named by the window's caption: the main window's button that opens it, if any,
    // then the controls the tab key visits from the one that has the focus at opening.
    void shouldBehaveAsAFixedWindow_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("Brevikon Ostrelle")
            << "CommandAdd CommandRemove MSFlexGridNtp CommandAbout CommandClear CommandOptions CommandAdd";
        QTest::newRow("Add NTP Server") << "CommandAdd > Command1 Command2 ComboNtp Command1";
        QTest::newRow("About Brevikon Ostrelle") << "CommandAbout > Command1 Command1";
        QTest::newRow("Ostrelle Options")
            << "CommandOptions > Command1 Command2 Slider1 CheckAdj CheckNotify Slider2 Slider3 Command1";
    }

    void shouldBehaveAsAFixedWindow()
    {
        QFETCH(QString, steps);
        const QString opener = steps.section(" > ", -2, -2);
        const QString tabOrder = steps.section(" > ", -1);
        // The stored settings give the options' labels texts wider than any slider position shows.
        Fakes fakes({"NtpPoll= 3590", "RefTimeHighlight= 3590"});
        MainWindow main(fakes.clock, fakes.backend, fakes.channel, fakes.messages);
        main.show();
        if (!opener.isEmpty())
            click(&main, opener);
        QPointer<QWidget> window =
            opener.isEmpty() ? static_cast<QWidget*>(&main) : main.findChild<QDialog*>();
        QApplication::setActiveWindow(window);

        QCOMPARE(window->windowTitle(), QTest::currentDataTag());
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QCOMPARE(window->isModal(), !opener.isEmpty());
        QCOMPARE(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint), opener.isEmpty());
        QVERIFY(!(window->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));
        QCOMPARE(window->windowIcon().availableSizes(), (QList<QSize>{{32, 32}, {16, 16}}));
        const QPoint offCentre = window->frameGeometry().center() - main.frameGeometry().center();
        QVERIFY(opener.isEmpty() || offCentre.manhattanLength() <= 2);

        // Along the tab order from the control that has the focus at opening, no key presses a button.
        // An editable combo box's field counts as the box.
        const auto focused = [&window] {
            QWidget* widget = window->focusWidget();
            return widget->objectName().isEmpty() ? widget->parentWidget()->objectName()
                                                  : widget->objectName();
        };
        QString visited = focused();
        for (int step = 0; step < tabOrder.count(' '); ++step, visited += ' ' + focused())
            for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab})
                QTest::keyClick(window->focusWidget(), key);
        QCOMPARE(visited, tabOrder);
        QCOMPARE(main.findChildren<QDialog*>().size(), opener.isEmpty() ? 0 : 1);
        QVERIFY(window->isVisible() && fakes.messages.shown.isEmpty() && fakes.backend.commitCount == 0);

        // Every caption fits its control and every control its window, as loaded and with the
        // sliders at their top.
        for (int pass = 0; pass < 2; ++pass) {
            QStringList misfits;
            for (QWidget* widget : window->findChildren<QWidget*>(QRegularExpression("^[A-Z]"))) {
                if (!widget->isVisibleTo(window))
                    continue;
                const bool captioned = widget->inherits("QLabel") || widget->inherits("QAbstractButton");
                const QSize needed = captioned                       ? widget->sizeHint()
                                     : widget->inherits("QGroupBox") ? widget->minimumSizeHint()
                                                                     : QSize();
                if (widget->size().expandedTo(needed) != widget->size() ||
                    !widget->parentWidget()->rect().contains(widget->geometry()))
                    misfits << widget->objectName();
            }
            QCOMPARE(misfits, QStringList());
            for (QSlider* slider : window->findChildren<QSlider*>())
                slider->setValue(slider->maximum());
        }
        if (opener.isEmpty())
            return;

        // Its own buttons hide it and the next opening shows it again; the title bar destroys it.
        if (auto* combo = window->findChild<QComboBox*>())
            combo->setEditText(QStringLiteral("a.example"));
        for (QWidget* button : window->findChildren<QWidget*>(QRegularExpression("^Command"))) {
            click(&main, opener);
            QTest::mouseClick(button, Qt::LeftButton);
            QVERIFY(window && window->isHidden());
        }
        click(&main, opener);
        QCOMPARE(main.findChildren<QDialog*>().size(), 1);
        const int commits = fakes.backend.commitCount;
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window && fakes.backend.commitCount == commits);
        click(&main, opener);
        QVERIFY(main.findChild<QDialog*>()->isVisible());
    }
};

QTEST_MAIN(TestDialogFrames)
#include "test_dialogframes.moc"
