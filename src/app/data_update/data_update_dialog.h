#pragma once

#include "app/data_update/data_update.h"

#include <QDialog>
#include <QProcess>

#include <filesystem>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

//! Where the window's data update fetches to.
struct TDataUpdateTarget
{
    QString ServiceProgram;             // the orvanta-service to run as the fetch child
    QString DataFolder;                 // the bundled service's data folder
    std::filesystem::path ConfigFolder; // where the API key and the plan are kept
    bool KeyInEnvironment = false;      // ApiKeyVariable is set and wins over the file
    QString Source;                     // the data API's address; empty for the real one
};

// "株価データを更新…": the API key and plan, what is held, and a fetch run as a child
// `orvanta-service --fetch` whose progress comes line by line over its standard output. The
// window is never blocked; cancel sends SIGTERM, which keeps every answer already committed.
class TDataUpdateDialog : public QDialog
{
    Q_OBJECT

public:
    TDataUpdateDialog(TDataUpdateTarget target, QWidget* parent);
    //! A fetch still going is cancelled and waited for: it keeps what it committed.
    ~TDataUpdateDialog() override;

    bool Fetching() const;
    //! A screening run and a fetch never go at once.
    void SetScreeningRunning(bool running);

signals:
    void FetchStarted();
    //! `exitStatus` of the child, -1 when it could not run or crashed.
    void FetchFinished(int exitStatus);

protected:
    void showEvent(QShowEvent* event) override;
    //! Grows the dialog when a text needs more lines, so no text is drawn over another.
    bool event(QEvent* event) override;

private:
    void StartButtonClick();
    void CancelButtonClick();
    void PlanBoxChange();
    void RefreshOutlook();
    void OutlookFinished();
    void ReadProgress();
    void ReadErrors();
    void FetchProcessFinished(int exitCode, QProcess::ExitStatus status);
    void UpdateControls();
    const TDataPlan& ChosenPlan() const;
    QStringList FetchArguments() const;

    TDataUpdateTarget Target;
    QLineEdit* KeyEdit = nullptr;
    QLabel* KeyNote = nullptr;
    QComboBox* PlanBox = nullptr;
    QLabel* PlanLabel = nullptr;
    QLabel* SiteLabel = nullptr;
    QLabel* HeldLabel = nullptr;
    QLabel* OutlookLabel = nullptr;
    QProgressBar* FetchBar = nullptr;
    QLabel* ProgressLabel = nullptr;
    QLabel* OutcomeLabel = nullptr;
    QPushButton* StartButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* CloseButton = nullptr;

    QProcess FetchProcess;
    QProcess OutlookProcess;
    QByteArray ProgressBuffer;
    QByteArray ErrorBuffer;
    QString LastError;
    int LastHttpStatus = 0;
    std::optional<TFetchProgress> LastProgress;
    std::optional<TFetchEnd> End;
    bool ScreeningRunning = false;
};
