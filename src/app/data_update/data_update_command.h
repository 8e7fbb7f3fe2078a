#pragma once

#include "app/data_update/data_update_dialog.h"

#include <QObject>
#include <QString>

#include <optional>

class QWidget;

// The window's side of "株価データを更新…": where it fetches to, and the dialog, made on first
// use and kept, so a fetch goes on while the dialog is closed. A fetch and a screening run
// lock each other out.
class TDataUpdateCommand : public QObject
{
    Q_OBJECT
public:
    explicit TDataUpdateCommand(QWidget* window);

    //! Where to fetch to; without a target the command is off and `note` says why (the data
    //! then belongs to a service the program does not run).
    void SetTarget(std::optional<TDataUpdateTarget> target, const QString& note);
    bool HasTarget() const { return Target.has_value(); }
    const QString& Note() const { return TargetNote; }

    //! Opens the dialog, unless there is no target or a screening run is going.
    void Open(bool screeningRunning);

    //! True while a fetch runs.
    bool Running() const;

    //! Tells an open dialog whether a screening run is going.
    void SetScreeningRunning(bool running);

signals:
    void FetchStarted();
    //! Once the child has ended: its exit status, -1 when it could not run or crashed.
    void FetchFinished(int exitStatus);

private:
    QWidget* Window;
    std::optional<TDataUpdateTarget> Target;
    QString TargetNote;
    TDataUpdateDialog* Dialog = nullptr;
};
