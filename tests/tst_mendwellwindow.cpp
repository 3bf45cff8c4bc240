#include "mainwindow.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

class tst_MendwellWindow : public QObject
{
    Q_OBJECT
private slots:
    void saysWhatIsComing();
};

void tst_MendwellWindow::saysWhatIsComing()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Mendwell"));
    auto* coming = window.findChild<QLabel*>(QStringLiteral("lblComing"));
    QVERIFY(coming);
    QVERIFY(coming->isVisible());
    QCOMPARE(coming->text(),
        QStringLiteral("The Mendwell window is coming soon; until then, every step works on the command line "
                       "(mendwell --help)."));
    // The whole sentence fits: nothing of it is cut off.
    QVERIFY(coming->sizeHint().height() <= coming->height());
}

QTEST_MAIN(tst_MendwellWindow)
#include "tst_mendwellwindow.moc"
