#include <QMainWindow>
#include <QtTest/QtTest>

#include "Unit1.h"

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void StartsWithCaption() {
    fendral::TMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), QStringLiteral("Fendral"));
    QVERIFY(window.centralWidget() != nullptr);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
