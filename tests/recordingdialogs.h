#pragma once
// Dialogs answered by the test: records each alert and replies from a queue.
#include "app/dialogs.h"

#include <QList>
#include <QQueue>
#include <functional>

struct RecordedAlert {
    QString message, informative;
    QStringList buttons;
    lumafind::AlertKind kind = lumafind::AlertKind::Warning;
};

class RecordingDialogs : public lumafind::Dialogs {
public:
    QList<RecordedAlert> alerts;
    QQueue<int> alertAnswers;        // default 1 (the first button)
    QQueue<QString> folderAnswers;   // default: cancelled
    QQueue<QString> fileAnswers;
    QList<QString> modalWindows;     // object names of windows run modally
    QQueue<int> modalAnswers;        // default 1 (the window's OK button)
    std::function<void(QDialog *)> onModal;
    std::function<void()> onAlert;   // runs while an alert is open (a person reading it)
    QList<QUrl> opened;
    bool openSucceeds = true;
    // When set, alerts are recorded and then put to these dialogs (the real ones, say).
    lumafind::Dialogs *forwardAlerts = nullptr;

    int alert(QWidget *parent, const QString &message, const QString &informative, const QStringList &buttons,
              lumafind::AlertKind kind = lumafind::AlertKind::Warning) override
    {
        alerts.append({message, informative, buttons, kind});
        if (onAlert)
            onAlert();
        if (forwardAlerts)
            return forwardAlerts->alert(parent, message, informative, buttons, kind);
        return alertAnswers.isEmpty() ? 1 : alertAnswers.dequeue();
    }
    QString chooseFolder(QWidget *, const QString &) override { return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue(); }
    QString chooseFile(QWidget *, const QString &, const QString &) override { return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue(); }
    int runModal(QDialog *window) override;
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return openSucceeds;
    }
};

#include <QDialog>
inline int RecordingDialogs::runModal(QDialog *window)
{
    modalWindows.append(window->objectName());
    if (onModal)
        onModal(window);
    return modalAnswers.isEmpty() ? 1 : modalAnswers.dequeue();
}
