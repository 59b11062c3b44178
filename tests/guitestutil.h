#pragma once
// Shared set-up of the GUI tests: a controller with the real main window, answered dialogs,
// a stand-in lsblk describing whatever machine the test needs, and the steps to a scan.
#include "app/MyTableController.h"
#include "app/mainwindow.h"
#include "enginetestutil.h"
#include "recordingdialogs.h"
#include "testfiles.h"

#include <QFile>
#include <QCheckBox>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

struct GuiFixture {
    QTemporaryDir dir;
    RecordingDialogs dialogs;
    std::unique_ptr<lumafind::MyTableController> c;
    std::unique_ptr<QMainWindow> window;

    // lsblkJson: what the stand-in lsblk prints. The fixture waits until the media are listed
    // unless gated: then lsblk answers only after release().
    explicit GuiFixture(const QByteArray &lsblkJson = R"({"blockdevices":[]})", bool gated = false)
    {
        const QString json = dir.path() + QStringLiteral("/lsblk.json");
        writeFile(json, lsblkJson);
        qputenv("LUMAFIND_LSBLK", standInLsblk(dir.path(), json, gated ? gate() : QString()).toLocal8Bit());
        c = std::make_unique<lumafind::MyTableController>(QString::fromLocal8Bit(qgetenv("LUMAFIND_RESOURCES")), &dialogs);
        window.reset(lumafind::buildMainWindow(*c));
        c->awakeFromNib();
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("main window did not become active");
        if (!gated && !listed())
            qWarning("the media were not listed");
    }

    QString gate() const { return dir.path() + QStringLiteral("/release"); }
    void release() { writeFile(gate(), QByteArray()); }

    // Waits until the media listing under way (lsblk runs on a thread of its own) has arrived.
    bool listed()
    {
        return QTest::qWaitFor([&] { return !c->mediaListing(); }, 20000);
    }
    ~GuiFixture()
    {
        qunsetenv("LUMAFIND_LSBLK");
    }

    // A disk image of `sectors` sectors in the fixture's folder (sparse).
    QString image(const QString &name, qint64 sectors)
    {
        QFile f(dir.path() + QLatin1Char('/') + name);
        f.open(QIODevice::WriteOnly);
        f.resize(sectors * 512);
        return f.fileName();
    }
    // The card saved in the fixture's folder as card.img.
    QString image(const CardImage &card)
    {
        const QString path = dir.path() + QStringLiteral("/card.img");
        if (!card.save(path))
            qWarning("the card image was not written");
        return path;
    }

    // The mode (0 photo, 1 video, 2 raw file) and the image chosen, on to the options screen.
    void toOptions(const QString &imagePath, int mode = 0)
    {
        if (mode == 1)
            c->Video_Mode_Radio();
        if (mode == 2)
            c->RawFile_Mode_Radio();
        QVERIFY(c->addDiskImage(imagePath));
        QTest::mouseClick(c->next_btn, Qt::LeftButton);
        QCOMPARE(c->screen_counter, 1);
    }
    // From the options screen to the scan without an output folder and without the Thorough
    // pass; in video and raw-file mode through the file types (all of them).
    void startWithoutFolder()
    {
        c->Thro_Mode_Chk->setChecked(false);
        dialogs.alertAnswers.enqueue(0);  // continue without saving
        QTest::mouseClick(c->next_btn, Qt::LeftButton);
        if (c->fileTypePage->isVisible()) {
            c->Thro_Mode_Chk_SIG->setChecked(false);
            QTest::mouseClick(c->next_btn, Qt::LeftButton);
        }
    }
    // Waits until the scan has ended and `ends` end-of-scan windows were shown in all.
    bool waitEnd(int ends = 1)
    {
        return QTest::qWaitFor([&] {
            return dialogs.modalWindows.filter(QStringLiteral("SaveFile_Info")).size() >= ends && !c->scanRunning();
        }, 20000);
    }
};
