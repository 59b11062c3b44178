#pragma once
// Platform dialogs behind one small interface, so tests answer them without a person.
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;
class QDialog;

namespace lumafind {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Application-modal alert. buttons[0] is the default button. Returns 1 for the default
    // button and 0 for the second one (as alert return codes go).
    virtual int alert(QWidget *parent, const QString &message, const QString &informative,
                      const QStringList &buttons) = 0;
    // A directories-only chooser; an empty result means cancelled.
    virtual QString chooseFolder(QWidget *parent, const QString &title) = 0;
    // An existing file; an empty result means cancelled.
    virtual QString chooseFile(QWidget *parent, const QString &title, const QString &filter) = 0;
    // Runs an information window modally until it is closed; returns its result code.
    virtual int runModal(QDialog *window) = 0;
    // Opens a document or folder with the desktop's default application.
    virtual bool openUrl(const QUrl &url) = 0;
};

// The real dialogs: QMessageBox, QFileDialog, QDesktopServices.
class QtDialogs : public Dialogs {
public:
    int alert(QWidget *parent, const QString &message, const QString &informative,
              const QStringList &buttons) override;
    QString chooseFolder(QWidget *parent, const QString &title) override;
    QString chooseFile(QWidget *parent, const QString &title, const QString &filter) override;
    int runModal(QDialog *window) override;
    bool openUrl(const QUrl &url) override;
};

} // namespace lumafind
