#include "dialogs.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace lumafind {

int QtDialogs::alert(QWidget *parent, const QString &message, const QString &informative,
                     const QStringList &buttons)
{
    QMessageBox box(parent);
    box.setWindowTitle(QStringLiteral("Lumafind"));
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(QMessageBox::Warning);
    box.setText(message);
    box.setInformativeText(informative);
    const QStringList names = buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons;
    QList<QAbstractButton *> made;
    for (qsizetype i = 0; i < names.size(); ++i)
        made.append(box.addButton(names.at(i), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    box.setDefaultButton(qobject_cast<QPushButton *>(made.first()));
    box.exec();
    return box.clickedButton() == made.first() ? 1 : 0;
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

} // namespace lumafind
