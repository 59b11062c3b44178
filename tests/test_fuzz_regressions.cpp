// Every input a fuzzing run once broke a target with, kept in tests/fuzz-regressions/<target>/,
// replayed through that target. Each runs in a child process with a time limit, so a crash or a
// hang fails its own row and the others still run.
#include "fuzz/targets.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumafind::fuzz;

namespace {
// Far above what any kept input may take on this machine, under the sanitizers too.
constexpr unsigned kSecondsPerInput = 20;

QString regressionsDir() { return QStringLiteral(LUMAFIND_SOURCE_DIR "/tests/fuzz-regressions"); }
} // namespace

class TestFuzzRegressions : public QObject {
    Q_OBJECT
private slots:
    void foldersNameTargets()
    {
        const QDir dir(regressionsDir());
        QVERIFY2(dir.exists(), qPrintable(dir.path()));
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QVERIFY2(findTarget(QFile::encodeName(name).constData()), qPrintable(QStringLiteral("no fuzz target named ") + name));
    }

    void keptInputsStayHarmless_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("path");
        const QDir dir(regressionsDir());
        int rows = 0;
        for (const QString &target : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QDir sub(dir.filePath(target));
            for (const QString &file : sub.entryList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(target + QLatin1Char('/') + file)) << target << sub.filePath(file);
                ++rows;
            }
        }
        if (rows == 0)
            QSKIP("no kept fuzz inputs");
    }

    void keptInputsStayHarmless()
    {
        QFETCH(QString, target);
        QFETCH(QString, path);
        const Target *t = findTarget(QFile::encodeName(target).constData());
        QVERIFY(t);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray input = f.readAll();
        std::fflush(nullptr);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            alarm(kSecondsPerInput);
            t->run(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
            QFAIL(qPrintable(QStringLiteral("no answer within %1 s").arg(kSecondsPerInput)));
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(WIFSIGNALED(status) ? QStringLiteral("ended by signal %1").arg(WTERMSIG(status))
                                                : QStringLiteral("exit status %1").arg(WEXITSTATUS(status))));
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "test_fuzz_regressions.moc"
