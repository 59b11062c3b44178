#include "app/MyTableController.h"
#include "app/mainwindow.h"
#include "app/sectorwidgets.h"
#include "recordingdialogs.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace lumafind;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void startUpState()
    {
        RecordingDialogs dialogs;
        MyTableController c(QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES")), &dialogs);
        std::unique_ptr<QMainWindow> w(buildMainWindow(c));
        Recovery_MODE = 2;
        c.awakeFromNib();
        QCoreApplication::processEvents();
        QCOMPARE(Recovery_MODE, 0);
        QCOMPARE(c.screen_counter, 0);
        QVERIFY(c.Thro_Mode_Chk->isChecked());
        QCOMPARE(c.sector_label->text(), QStringLiteral("Sectors 0 of 0"));
        // Nothing reported (every database loaded), the working lists empty, the placeholder read.
        QVERIFY(c.CheckListHeader_Array.isEmpty());
        QVERIFY(c.REC_PROC_Array.isEmpty());
        QVERIFY(c.Null_Image_Data.startsWith("\x89PNG"));
        QVERIFY(dialogs.alerts.isEmpty());
        QVERIFY(QFile::exists(c.resourcePath() + QStringLiteral("/Help.pdf")));
    }

    void missingDatabasesAreReportedOnce()
    {
        QTemporaryDir dir;
        QFile::copy(QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES")) + "/KovExt2.dll", dir.path() + "/KovExt2.dll");
        RecordingDialogs dialogs;
        MyTableController c(dir.path(), &dialogs);
        std::unique_ptr<QMainWindow> w(buildMainWindow(c));
        c.awakeFromNib();
        QCoreApplication::processEvents();
        QCOMPARE(dialogs.alerts.size(), 1);
        QVERIFY(dialogs.alerts.first().informative.contains(QStringLiteral("KovVideo.dll")));
        QVERIFY(!dialogs.alerts.first().informative.contains(QStringLiteral("KovExt2.dll,")));
        QVERIFY(!c.Ext_Array.isEmpty());
        QVERIFY(c.Video_Array.isEmpty());
        QVERIFY(c.Null_Image_Data.isEmpty());
        QCOMPARE(c.screen_counter, 0);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
