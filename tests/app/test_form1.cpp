#include "app/form1.h"
#include "platform/fakes/fakeclock.h"
#include "platform/fakes/fakeudpchannel.h"
#include "platform/fakes/memorysettingsbackend.h"
#include "platform/fakes/scriptedmessagedialog.h"
#include "servers/addserverdialog.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <memory>

using namespace ostrelle;

namespace {

// The main window over fakes, with a store that an earlier run may have filled.
struct Harness
{
    explicit Harness(const QStringList& storedServers = {})
    {
        if (!storedServers.isEmpty()) {
            store.seed(QStringLiteral("Settings"), QStringLiteral("NtpServerCnt"),
                       QString::number(storedServers.size()));
            for (int i = 0; i < storedServers.size(); ++i)
                store.seed(QStringLiteral("Settings"), QStringLiteral("NtpServer%1").arg(i + 1, 4, 10, QLatin1Char('0')),
                           storedServers[i]);
        }
        // Requests stay unanswered unless a test answers them.
        channel.readiness = FakeUdpChannel::Readiness::Never;
        window = std::make_unique<Form1>(clock, store, channel, messages);
    }

    QTableView* grid() const { return window->findChild<QTableView*>(QStringLiteral("MSFlexGridNtp")); }
    QString label(const char* name) const
    {
        return window->findChild<QLabel*>(QLatin1String(name))->text();
    }
    QPushButton* button(const char* name) const
    {
        return window->findChild<QPushButton*>(QLatin1String(name));
    }
    void clickRow(int tableRow) const
    {
        QTableView* view = grid();
        const QRect cell = view->visualRect(view->model()->index(tableRow - 1, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    }
    QStringList storedServers() const
    {
        QStringList names;
        const int count = store.stored(QStringLiteral("Settings"), QStringLiteral("NtpServerCnt")).value_or(QString()).toInt();
        for (int i = 1; i <= count; ++i)
            names << store.stored(QStringLiteral("Settings"),
                                  QStringLiteral("NtpServer%1").arg(i, 4, 10, QLatin1Char('0')))
                         .value_or(QString());
        return names;
    }

    FakeClock clock;
    MemorySettingsBackend store;
    FakeUdpChannel channel;
    ScriptedMessageDialog messages;
    std::unique_ptr<Form1> window;
};

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void shouldStartEmptyWithStatusDefaults()
    {
        Harness h;
        QCOMPARE(h.grid()->model()->rowCount(), 0);
        QVERIFY(h.grid()->horizontalHeader()->isHidden());
        QCOMPARE(h.label("LabelPoll"), QStringLiteral("-"));
        QCOMPARE(h.label("LabelSync"), QStringLiteral("None"));
        QCOMPARE(h.label("LabelAdjust"), QStringLiteral("None"));
        QCOMPARE(h.channel.connectedHosts.size(), 0);
        QCOMPARE(h.window->monitor().cycle().PollCountdown(), 60);
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Brevikon Ostrelle"));
    }

    void shouldTakeTheFirstPollStepWhileLoading()
    {
        Harness h({QStringLiteral("ntp1.example"), QStringLiteral("ntp2.example")});
        QCOMPARE(h.channel.connectedHosts, QStringList{QStringLiteral("ntp1.example")});
        QCOMPARE(h.grid()->model()->rowCount(), 2);
        QVERIFY(!h.grid()->horizontalHeader()->isHidden());
        QCOMPARE(h.window->monitor().table().TextMatrix(1, 1), QStringLiteral("Polling"));
        QCOMPARE(h.window->monitor().table().TextMatrix(2, 1), QStringLiteral("Wait"));
    }

    void shouldFitEveryCaptionAndHeading()
    {
        Harness h({QStringLiteral("ntp1.example")});
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        const auto controls = h.window->findChildren<QWidget*>();
        for (QWidget* w : controls) {
            if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w))
                continue;
            if (w->objectName().isEmpty())
                continue; // parts of other widgets (the grid's corner button)
            const QSize hint = w->sizeHint();
            QVERIFY2(hint.width() <= w->width() && hint.height() <= w->height(),
                     qPrintable(QStringLiteral("%1 needs %2x%3, has %4x%5")
                                    .arg(w->objectName())
                                    .arg(hint.width())
                                    .arg(hint.height())
                                    .arg(w->width())
                                    .arg(w->height())));
        }
        const QHeaderView* header = h.grid()->horizontalHeader();
        for (int col = 0; col < 8; ++col)
            QVERIFY2(header->sectionSizeHint(col) <= header->sectionSize(col),
                     qPrintable(h.grid()->model()->headerData(col, Qt::Horizontal).toString()));
    }

    void shouldPlaceControlsWithoutOverlap()
    {
        Harness h;
        const auto controls = h.window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        QList<QWidget*> named;
        for (QWidget* w : controls)
            if (!w->objectName().isEmpty())
                named << w;
        QCOMPARE(named.size(), 7); // frame, grid and five buttons
        for (int i = 0; i < named.size(); ++i)
            for (int j = i + 1; j < named.size(); ++j)
                QVERIFY2(!named[i]->geometry().intersects(named[j]->geometry()),
                         qPrintable(named[i]->objectName() + QStringLiteral(" overlaps ") + named[j]->objectName()));
        // About stands alone at the right, flush with the grid's right edge.
        QCOMPARE(h.button("CommandAbout")->geometry().right(), h.grid()->geometry().right());
        QVERIFY(h.window->rect().contains(h.grid()->geometry()));
    }

    void shouldFollowTheTabOrder()
    {
        Harness h;
        const QList<QWidget*> expected = {h.button("CommandAdd"), h.button("CommandRemove"), h.grid(),
                                          h.button("CommandAbout"), h.button("CommandClear"),
                                          h.button("CommandOptions")};
        for (int i = 0; i + 1 < expected.size(); ++i) {
            QWidget* next = expected[i]->nextInFocusChain();
            while (next && next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            QCOMPARE(next, expected[i + 1]);
        }
    }

    void shouldBeFixedSizeWithMinimiseButNoMaximise()
    {
        Harness h;
        QCOMPARE(h.window->minimumSize(), h.window->maximumSize());
        QVERIFY(h.window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!h.window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    }

    void shouldRemoveTheRowTheOperatorClicked_data()
    {
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<QString>("storedCount");
        const QStringList three = {QStringLiteral("a.example"), QStringLiteral("b.example"), QStringLiteral("c.example")};
        QTest::newRow("middle of three") << three << 2 << QStringList{three[0], three[2]} << QStringLiteral(" 2");
        QTest::newRow("last of three") << three << 3 << QStringList{three[0], three[1]} << QStringLiteral(" 2");
        QTest::newRow("only server empties the table")
            << QStringList{three[0]} << 1 << QStringList{} << QStringLiteral("-1");
    }

    void shouldRemoveTheRowTheOperatorClicked()
    {
        QFETCH(QStringList, servers);
        QFETCH(int, clicked);
        QFETCH(QStringList, remaining);
        QFETCH(QString, storedCount);
        Harness h(servers);
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        h.clickRow(clicked);
        QCOMPARE(h.window->monitor().table().Row(), clicked);

        QTest::mouseClick(h.button("CommandRemove"), Qt::LeftButton);

        QStringList shown;
        for (int r = 1; r < h.window->monitor().table().Rows(); ++r)
            shown << h.window->monitor().table().TextMatrix(r, 0);
        QCOMPARE(shown, remaining);
        QCOMPARE(h.store.stored(QStringLiteral("Settings"), QStringLiteral("NtpServerCnt")), storedCount);
        QCOMPARE(h.storedServers(), remaining);
        QCOMPARE(h.grid()->horizontalHeader()->isHidden(), remaining.isEmpty());
    }

    void shouldIgnoreRemoveWithNoRowChosen()
    {
        Harness h;
        QTest::mouseClick(h.button("CommandRemove"), Qt::LeftButton);
        QCOMPARE(h.window->monitor().table().Rows(), 0);
        QCOMPARE(h.store.commitCount, 0);
    }

    void shouldAskBeforeClearingAll_data()
    {
        QTest::addColumn<MessageDialog::Button>("answer");
        QTest::addColumn<int>("rowsAfter");
        QTest::newRow("yes empties and saves") << MessageDialog::Button::Yes << 0;
        QTest::newRow("no changes nothing") << MessageDialog::Button::No << 3;
    }

    void shouldAskBeforeClearingAll()
    {
        QFETCH(MessageDialog::Button, answer);
        QFETCH(int, rowsAfter);
        Harness h({QStringLiteral("a.example"), QStringLiteral("b.example")});
        const int commitsBefore = h.store.commitCount;
        h.messages.answers = {answer};

        QTest::mouseClick(h.button("CommandClear"), Qt::LeftButton);

        QCOMPARE(h.messages.shown.size(), 1);
        const auto& asked = h.messages.shown.first();
        QCOMPARE(asked.text, QStringLiteral("Clear All Servers ?"));
        QCOMPARE(asked.title, QStringLiteral("Brevikon Ostrelle"));
        QCOMPARE(asked.icon, MessageDialog::Icon::None);
        QCOMPARE(asked.buttons, MessageDialog::Buttons::YesNo);
        QCOMPARE(asked.defaultButton, MessageDialog::Button::Yes);
        QCOMPARE(h.window->monitor().table().Rows(), rowsAfter);
        if (rowsAfter == 0) {
            QCOMPARE(h.store.stored(QStringLiteral("Settings"), QStringLiteral("NtpServerCnt")), QStringLiteral("-1"));
            QVERIFY(h.grid()->horizontalHeader()->isHidden());
        } else {
            QCOMPARE(h.store.commitCount, commitsBefore);
        }
    }

    void shouldNotPressAButtonOnEnter()
    {
        Harness h({QStringLiteral("a.example")});
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        h.button("CommandClear")->setFocus();
        QTest::keyClick(h.window.get(), Qt::Key_Return);
        QTest::keyClick(h.window.get(), Qt::Key_Enter);
        QTest::keyClick(h.window.get(), Qt::Key_Escape);
        QVERIFY(h.messages.shown.isEmpty());
        QVERIFY(h.window->isVisible());
    }

    void shouldKeepTheOperatorsRowWhilePolling()
    {
        Harness h({QStringLiteral("a.example"), QStringLiteral("b.example"), QStringLiteral("c.example")});
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        h.clickRow(3);
        PollCycle& cycle = h.window->monitor().cycle();
        // Row 1 times out and row 2 is polled: neither may take the operator's choice away.
        for (int tick = 0; tick < PollCycle::TicksToAnswer; ++tick)
            cycle.TimerTimeout_Timer();
        QCOMPARE(h.window->monitor().table().TextMatrix(1, 1), QStringLiteral("Timedout"));
        QCOMPARE(h.window->monitor().table().Row(), 3);
        QCOMPARE(h.grid()->selectionModel()->selectedRows().value(0).row(), 2);

        QTest::mouseClick(h.button("CommandRemove"), Qt::LeftButton);
        QCOMPARE(h.storedServers(), (QStringList{QStringLiteral("a.example"), QStringLiteral("b.example")}));
    }

    void shouldReuseADialogUntilItIsClosedFromItsTitleBar()
    {
        Harness h;
        h.window->show();
        QTest::mouseClick(h.button("CommandAdd"), Qt::LeftButton);
        QPointer<Form2> first = h.window->findChild<Form2*>();
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QVERIFY(first->isModal());
        first->hide();

        QTest::mouseClick(h.button("CommandAdd"), Qt::LeftButton);
        QCOMPARE(h.window->findChild<Form2*>(), first.data());

        first->close();
        QTRY_VERIFY(first.isNull());
        QTest::mouseClick(h.button("CommandAdd"), Qt::LeftButton);
        QVERIFY(h.window->findChild<Form2*>() != nullptr);
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
