#include "app/MyTableController.h"
#include "app/mainwindow.h"
#include "app/sectorwidgets.h"
#include "recordingdialogs.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
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
        QCOMPARE(c.GND_Image_number, 0u);
        QCOMPARE(c.THD_Image_number, 0u);
        QCOMPARE(c.Prev_Index, 2147483647u);
        QVERIFY(c.Thro_Mode_Chk->isChecked());
        QCOMPARE(c.sector_label->text(), QStringLiteral("Sectors 0 of 0"));
        QCOMPARE(c.Progress_Horz->value(), 0);
        QVERIFY(c.help_info->text().startsWith(QStringLiteral("\nSelect the storage media from List")));
        QVERIFY(c.help_info->text().endsWith(QStringLiteral("continue... ")));
        QCOMPARE(c.window->windowTitle(), QStringLiteral("Lumafind"));
        // Every list loaded whole, the placeholder read, nothing reported.
        for (const QStringList *l : {&c.Ext_Array, &c.Adv_Ext_Array, &c.Video_Array, &c.Adv_Video_Array,
                                     &c.RawFile_Array, &c.Adv_RawFile_Array}) {
            QVERIFY(!l->isEmpty());
            QCOMPARE(l->size() % 7, 0);
        }
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
