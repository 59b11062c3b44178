#include "dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace lumafind {

QMessageBox *makeAlertBox(QWidget *parent, const QString &message, const QString &informative,
                          const QStringList &buttons, AlertKind kind)
{
    auto *box = new QMessageBox(parent);
    box->setWindowTitle(QStringLiteral("Lumafind"));
    box->setIcon(kind == AlertKind::Information ? QMessageBox::Information : QMessageBox::Warning);
    // A window of its own does not take the main window's colour by itself.
    if (parent)
        box->setPalette(parent->window()->palette());
    box->setText(message);
    box->setInformativeText(informative);
    // Room for a path on a line of its own: a narrow box wraps it at every separator.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()); grid && !informative.isEmpty())
        grid->addItem(new QSpacerItem(box->fontMetrics().averageCharWidth() * 60, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    const QStringList names = buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons;
    QList<QAbstractButton *> made;
    for (qsizetype i = 0; i < names.size(); ++i) {
        // With three buttons or more only the last one cancels; the others are choices.
        const bool cancels = names.size() >= 3 ? i == names.size() - 1 : i == 1;
        made.append(box->addButton(names.at(i), i == 0 ? QMessageBox::AcceptRole
                                                       : cancels ? QMessageBox::RejectRole : QMessageBox::ActionRole));
        made.last()->setProperty("alertIndex", int(i));  // the box orders its buttons by role
    }
    box->setDefaultButton(qobject_cast<QPushButton *>(made.first()));
    box->setEscapeButton(made.size() >= 3 ? made.last() : made.size() == 2 ? made.at(1) : made.first());
    return box;
}

int alertAnswer(QMessageBox *box, const QAbstractButton *clicked)
{
    const QAbstractButton *b = clicked ? clicked : box->escapeButton();
    const int i = b ? b->property("alertIndex").toInt() : 0;
    return i == 0 ? 1 : i == 1 ? 0 : i;
}

int QtDialogs::alert(QWidget *parent, const QString &message, const QString &informative,
                     const QStringList &buttons, AlertKind kind)
{
    std::unique_ptr<QMessageBox> box(makeAlertBox(parent, message, informative, buttons, kind));
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    return alertAnswer(box.get(), box->clickedButton());
}

QString QtDialogs::chooseFolder(QWidget *parent, const QString &title)
{
    // Directories only; packages count as plain folders on this platform; links are resolved.
    return QFileDialog::getExistingDirectory(parent, title, QString(), QFileDialog::ShowDirsOnly);
}

QString QtDialogs::chooseFile(QWidget *parent, const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

int QtDialogs::runModal(QDialog *window)
{
    window->setWindowModality(Qt::ApplicationModal);
    return window->exec();
}

bool QtDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

QString breakablePath(const QString &path)
{
    QString out = QDir::toNativeSeparators(path);
    out.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    return out;
}

} // namespace lumafind
