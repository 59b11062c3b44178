#pragma once
// Platform dialogs behind one small interface, so tests answer them without a person.
#include <QString>
#include <QStringList>
#include <QUrl>

class QAbstractButton;
class QMessageBox;
class QWidget;
class QDialog;

namespace lumafind {

// What an alert tells: a problem or a question (warning icon), or news (information icon).
enum class AlertKind { Warning, Information };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Application-modal alert. buttons[0] is the default button. Returns 1 for the default
    // button, 0 for the second one (as alert return codes go) and i for buttons[i], i >= 2.
    // Esc (or closing the alert) means the last button when there are three or more (it is
    // the one that cancels), else the second.
    virtual int alert(QWidget *parent, const QString &message, const QString &informative,
                      const QStringList &buttons, AlertKind kind = AlertKind::Warning) = 0;
    // A directories-only chooser; an empty result means cancelled.
    virtual QString chooseFolder(QWidget *parent, const QString &title) = 0;
    // An existing file; an empty result means cancelled.
    virtual QString chooseFile(QWidget *parent, const QString &title, const QString &filter) = 0;
    // Runs an information window modally until it is closed; returns its result code.
    virtual int runModal(QDialog *window) = 0;
    // Opens a document or folder with the desktop's default application; false when nothing
    // could open it.
    virtual bool openUrl(const QUrl &url) = 0;
};

// The real dialogs: QMessageBox, QFileDialog, QDesktopServices.
class QtDialogs : public Dialogs {
public:
    int alert(QWidget *parent, const QString &message, const QString &informative,
              const QStringList &buttons, AlertKind kind = AlertKind::Warning) override;
    QString chooseFolder(QWidget *parent, const QString &title) override;
    QString chooseFile(QWidget *parent, const QString &title, const QString &filter) override;
    int runModal(QDialog *window) override;
    bool openUrl(const QUrl &url) override;
};

// The alert as QtDialogs shows it (the review tool photographs it). The buttons are made in
// order; the escape button is set as alert() describes.
QMessageBox *makeAlertBox(QWidget *parent, const QString &message, const QString &informative,
                          const QStringList &buttons, AlertKind kind);
// The answer alert() gives for the button clicked (null: Esc or closed).
int alertAnswer(QMessageBox *box, const QAbstractButton *clicked);

// A path as a label shows it: it may break after each separator, never inside a name.
QString breakablePath(const QString &path);

} // namespace lumafind
