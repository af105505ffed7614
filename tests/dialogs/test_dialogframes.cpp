#include "dialogs/aboutdialog.h"
#include "dialogs/optionsdialog.h"
#include "servers/addserverdialog.h"
#include "tests/dialogs/monitorrig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QTimer>

using namespace ostrelle;

namespace {

// The three dialogs over a started program, as the main window opens them.
struct Rig : MonitorRig
{
    explicit Rig(const QStringList& stored = {}) : MonitorRig(stored)
    {
        owner.setGeometry(120, 90, 585, 246);
        owner.show();
    }

    QDialog* open(const QString& form)
    {
        if (form == QLatin1String("Form2"))
            return new Form2(monitor, &owner);
        if (form == QLatin1String("Form3"))
            return new Form3(&owner);
        return new Form4(monitor, &owner);
    }
};

// The control a focused widget belongs to: an editable combo box's field counts as the box.
QString controlName(QWidget* widget)
{
    while (widget && widget->objectName().isEmpty())
        widget = widget->parentWidget();
    return widget ? widget->objectName() : QStringLiteral("<none>");
}

QRect geometryIn(QWidget* widget, QWidget* window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

void addDialogRows()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("add server") << "Form2";
    QTest::newRow("about") << "Form3";
    QTest::newRow("options") << "Form4";
}

} // namespace

class TestDialogFrames : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenAsFixedModalWindowWithProgramIcon_data();
    void shouldOpenAsFixedModalWindowWithProgramIcon();
    void shouldFitEveryCaptionInItsControl_data();
    void shouldFitEveryCaptionInItsControl();
    void shouldOpenCentredOverItsOwner_data() { addDialogRows(); }
    void shouldOpenCentredOverItsOwner();
    void shouldTabThroughControlsFromOk_data();
    void shouldTabThroughControlsFromOk();
    void shouldIgnoreEscapeAndEnter_data() { addDialogRows(); }
    void shouldIgnoreEscapeAndEnter();
    void shouldHideOnItsButtonsAndSurvive_data();
    void shouldHideOnItsButtonsAndSurvive();
    void shouldBeDestroyedByTitleBarClose_data() { addDialogRows(); }
    void shouldBeDestroyedByTitleBarClose();
};

void TestDialogFrames::shouldOpenAsFixedModalWindowWithProgramIcon_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("caption");
    QTest::newRow("add server") << "Form2"
                                << "Add NTP Server";
    QTest::newRow("about") << "Form3"
                           << "About Brevikon Ostrelle";
    QTest::newRow("options") << "Form4"
                             << "Ostrelle Options";
}

void TestDialogFrames::shouldOpenAsFixedModalWindowWithProgramIcon()
{
    QFETCH(QString, form);
    Rig rig;
    QDialog* dialog = rig.open(form);
    dialog->show();

    QTEST(dialog->windowTitle(), "caption");
    QVERIFY(dialog->isModal());
    QVERIFY(dialog->isWindow());
    QCOMPARE(dialog->parentWidget(), &rig.owner);
    const Qt::WindowFlags flags = dialog->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
    QCOMPARE(dialog->minimumSize(), dialog->size());
    QCOMPARE(dialog->maximumSize(), dialog->size());
    const QList<QSize> iconSizes = dialog->windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(16, 16)));
    QVERIFY(iconSizes.contains(QSize(32, 32)));
}

void TestDialogFrames::shouldFitEveryCaptionInItsControl_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<int>("sliderValue");

    QTest::newRow("add server") << "Form2" << QStringList{} << -1;
    QTest::newRow("about") << "Form3" << QStringList{} << -1;
    QTest::newRow("options as loaded") << "Form4" << QStringList{} << -1;
    QTest::newRow("options loaded narrow, every slider moved to its top")
        << "Form4" << QStringList{"NtpPoll= 60", "RefTimeHighlight= 120", "StratumHighlight= 0"} << 60;
    QTest::newRow("options loaded with fractions")
        << "Form4" << QStringList{"NtpPoll= 3599", "RefTimeHighlight= 100", "StratumHighlight=-10"} << -1;
}

void TestDialogFrames::shouldFitEveryCaptionInItsControl()
{
    QFETCH(QString, form);
    QFETCH(QStringList, stored);
    QFETCH(int, sliderValue);
    Rig rig(stored);
    QDialog* dialog = rig.open(form);
    dialog->show();
    if (sliderValue >= 0) {
        for (QSlider* slider : dialog->findChildren<QSlider*>())
            slider->setValue(sliderValue);
    }

    int checked = 0;
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (widget->objectName().isEmpty() || widget->window() != dialog)
            continue;
        const QString name = widget->objectName();
        const QRect box = geometryIn(widget, dialog);
        QVERIFY2(dialog->rect().contains(box), qPrintable(name + QStringLiteral(" lies outside the window")));
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget)) {
            const QSize hint = widget->sizeHint();
            QVERIFY2(hint.width() <= widget->width() && hint.height() <= widget->height(),
                     qPrintable(QStringLiteral("%1 needs %2 x %3, has %4 x %5")
                                    .arg(name)
                                    .arg(hint.width())
                                    .arg(hint.height())
                                    .arg(widget->width())
                                    .arg(widget->height())));
            ++checked;
        }
        if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
            const int titleWidth = frame->fontMetrics().horizontalAdvance(frame->title());
            QVERIFY2(titleWidth <
                         frame->width() - 2 * frame->style()->pixelMetric(QStyle::PM_LayoutLeftMargin),
                     qPrintable(name + QStringLiteral(" title is too wide")));
            for (QWidget* child : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                QVERIFY2(frame->rect().contains(child->geometry()),
                         qPrintable(child->objectName() + QStringLiteral(" lies outside its frame")));
        }
    }
    QVERIFY(checked >= 3);
}

void TestDialogFrames::shouldOpenCentredOverItsOwner()
{
    QFETCH(QString, form);
    Rig rig;
    QDialog* dialog = rig.open(form);
    dialog->show();

    const QPoint offset = dialog->frameGeometry().center() - rig.owner.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2,
             qPrintable(QStringLiteral("off centre by %1, %2").arg(offset.x()).arg(offset.y())));
}

void TestDialogFrames::shouldTabThroughControlsFromOk_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("add server") << "Form2" << QStringList{"Command1", "Command2", "ComboNtp", "Command1"};
    QTest::newRow("about") << "Form3" << QStringList{"Command1", "Command1"};
    QTest::newRow("options") << "Form4" << QStringList{"Command1", "Command2", "Slider1", "CheckAdj",
                                                       "Slider2",  "Slider3",  "Command1"};
}

void TestDialogFrames::shouldTabThroughControlsFromOk()
{
    QFETCH(QString, form);
    QFETCH(QStringList, order);
    Rig rig;
    QDialog* dialog = rig.open(form);
    dialog->show();
    QApplication::setActiveWindow(dialog);

    QStringList visited = {controlName(QApplication::focusWidget())};
    for (int i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << controlName(QApplication::focusWidget());
    }
    QCOMPARE(visited, order);
}

void TestDialogFrames::shouldIgnoreEscapeAndEnter()
{
    QFETCH(QString, form);
    Rig rig;
    QPointer<QDialog> dialog = rig.open(form);
    dialog->show();
    QApplication::setActiveWindow(dialog);
    QWidget* ok = dialog->findChild<QPushButton*>("Command1");
    QCOMPARE(QApplication::focusWidget(), ok);

    QTest::keyClick(ok, Qt::Key_Escape);
    QTest::keyClick(ok, Qt::Key_Return);
    QTest::keyClick(ok, Qt::Key_Enter, Qt::KeypadModifier);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(rig.nothingSaved());
    QCOMPARE(rig.monitor.cycle().PollCountdown(), MonitorRig::RestingCountdown);
}

void TestDialogFrames::shouldHideOnItsButtonsAndSurvive_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("modalLoop");

    for (bool modalLoop : {false, true}) {
        const char* how = modalLoop ? "run with exec" : "shown";
        QTest::addRow("add server OK, %s", how) << "Form2"
                                                << "Command1" << modalLoop;
        QTest::addRow("add server Cancel, %s", how) << "Form2"
                                                    << "Command2" << modalLoop;
        QTest::addRow("about OK, %s", how) << "Form3"
                                           << "Command1" << modalLoop;
        QTest::addRow("options OK, %s", how) << "Form4"
                                             << "Command1" << modalLoop;
        QTest::addRow("options Cancel, %s", how) << "Form4"
                                                 << "Command2" << modalLoop;
    }
}

void TestDialogFrames::shouldHideOnItsButtonsAndSurvive()
{
    QFETCH(QString, form);
    QFETCH(QString, button);
    QFETCH(bool, modalLoop);
    Rig rig;
    QPointer<QDialog> dialog = rig.open(form);
    QPushButton* pressed = dialog->findChild<QPushButton*>(button);
    QVERIFY(pressed);

    if (modalLoop) {
        QTimer::singleShot(0, pressed, [pressed] { QTest::mouseClick(pressed, Qt::LeftButton); });
        dialog->exec();
    } else {
        dialog->show();
        QTest::mouseClick(pressed, Qt::LeftButton);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(dialog);
    QVERIFY(dialog->isHidden());
    dialog->show();
    QVERIFY(dialog->isVisible());
}

void TestDialogFrames::shouldBeDestroyedByTitleBarClose()
{
    QFETCH(QString, form);
    Rig rig;
    QPointer<QDialog> shown = rig.open(form);
    shown->show();
    shown->close();
    QPointer<QDialog> looping = rig.open(form);
    QTimer::singleShot(0, looping, [&looping] { looping->close(); });
    looping->exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QVERIFY(!shown);
    QVERIFY(!looping);
    QVERIFY(rig.owner.isVisible());
}

QTEST_MAIN(TestDialogFrames)
#include "test_dialogframes.moc"
