#include "app/data_update/data_update_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <system_error>

namespace {

// Outside text (the child's own words, dates) is shown as it stands, never as rich text.
QLabel* PlainLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// Takes the complete lines off the front of `buffer`.
QList<QByteArray> TakeLines(QByteArray& buffer)
{
    QList<QByteArray> lines;
    for (qsizetype end = buffer.indexOf('\n'); end >= 0; end = buffer.indexOf('\n'))
    {
        lines.append(buffer.left(end));
        buffer.remove(0, end + 1);
    }
    return lines;
}

} // namespace

TDataUpdateDialog::TDataUpdateDialog(TDataUpdateTarget target, QWidget* parent)
    : QDialog(parent), Target(std::move(target))
{
    setObjectName(QStringLiteral("DataUpdateDialog"));
    setWindowTitle(QStringLiteral("株価データを更新"));

    KeyEdit = new QLineEdit(this);
    KeyEdit->setObjectName(QStringLiteral("KeyEdit"));
    KeyEdit->setEchoMode(QLineEdit::Password);
    KeyNote = PlainLabel(this, "KeyNote");
    if (Target.KeyInEnvironment)
    {
        KeyEdit->setEnabled(false);
        KeyNote->setText(QStringLiteral("環境変数 %1 のキーを使います。").arg(QLatin1String(ApiKeyVariable)));
    }
    else if (HasSavedApiKey(Target.ConfigFolder))
    {
        KeyEdit->setPlaceholderText(QStringLiteral("保存済みのキーを使います"));
        KeyNote->setText(
            QStringLiteral("J-Quants のダッシュボードで発行したキーです。入力すると保存済みのキーと入れ替えます。"));
    }
    else
    {
        KeyNote->setText(QStringLiteral(
            "J-Quants のダッシュボードで発行したキーを一度だけ入力してください（このユーザーだけが読めるファイルに保存します）。"));
    }

    PlanBox = new QComboBox(this);
    PlanBox->setObjectName(QStringLiteral("PlanBox"));
    for (const TDataPlan& plan : DataPlans)
        PlanBox->addItem(QStringLiteral("%1（毎分%2回）").arg(QLatin1String(plan.Caption)).arg(plan.RequestsPerMinute),
                         QLatin1String(plan.Name));
    PlanBox->setCurrentIndex(PlanBox->findData(QLatin1String(RememberedPlan(Target.ConfigFolder).Name)));
    PlanLabel = PlainLabel(this, "PlanLabel");
    PlanLabel->setText(PlanText(ChosenPlan()));
    SiteLabel = new QLabel(KeySiteHtml(), this);
    SiteLabel->setObjectName(QStringLiteral("SiteLabel"));
    SiteLabel->setTextFormat(Qt::RichText);
    SiteLabel->setWordWrap(true);
    SiteLabel->setOpenExternalLinks(true); // the desktop's browser, through QDesktopServices

    HeldLabel = PlainLabel(this, "HeldLabel");
    OutlookLabel = PlainLabel(this, "OutlookLabel");
    FetchBar = new QProgressBar(this);
    FetchBar->setObjectName(QStringLiteral("FetchBar"));
    FetchBar->setRange(0, 1);
    FetchBar->setValue(0);
    ProgressLabel = PlainLabel(this, "ProgressLabel");
    OutcomeLabel = PlainLabel(this, "OutcomeLabel");

    StartButton = new QPushButton(QStringLiteral("取得開始"), this);
    StartButton->setObjectName(QStringLiteral("StartButton"));
    CancelButton = new QPushButton(QStringLiteral("中止"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CloseButton = new QPushButton(QStringLiteral("閉じる"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("APIキー"), KeyEdit);
    form->addRow(QString(), KeyNote);
    form->addRow(QStringLiteral("プラン"), PlanBox);
    form->addRow(QString(), PlanLabel);
    form->addRow(QString(), SiteLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(StartButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(HeldLabel);
    layout->addWidget(OutlookLabel);
    layout->addWidget(FetchBar);
    layout->addWidget(ProgressLabel);
    layout->addWidget(OutcomeLabel);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());

    connect(StartButton, &QPushButton::clicked, this, &TDataUpdateDialog::StartButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &TDataUpdateDialog::CancelButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::hide);
    connect(PlanBox, &QComboBox::currentIndexChanged, this, &TDataUpdateDialog::PlanBoxChange);
    connect(&OutlookProcess, &QProcess::finished, this, &TDataUpdateDialog::OutlookFinished);
    connect(&FetchProcess, &QProcess::readyReadStandardOutput, this, &TDataUpdateDialog::ReadProgress);
    connect(&FetchProcess, &QProcess::readyReadStandardError, this, &TDataUpdateDialog::ReadErrors);
    connect(&FetchProcess, &QProcess::finished, this, &TDataUpdateDialog::FetchProcessFinished);
    connect(&FetchProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            FetchProcessFinished(-1, QProcess::CrashExit);
    });
    // The child reads the key from the very folder the dialog keeps it in.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString(Target.ConfigFolder.parent_path().string()));
    FetchProcess.setProcessEnvironment(environment);
    OutlookProcess.setProcessEnvironment(environment);
    UpdateControls();
}

TDataUpdateDialog::~TDataUpdateDialog()
{
    if (OutlookProcess.state() != QProcess::NotRunning)
    {
        OutlookProcess.kill();
        OutlookProcess.waitForFinished(2000);
    }
    if (FetchProcess.state() != QProcess::NotRunning)
    {
        FetchProcess.disconnect(this);
        FetchProcess.terminate();
        if (!FetchProcess.waitForFinished(10000))
            FetchProcess.kill();
        FetchProcess.waitForFinished(2000);
    }
}

bool TDataUpdateDialog::Fetching() const
{
    return FetchProcess.state() != QProcess::NotRunning;
}

void TDataUpdateDialog::SetScreeningRunning(bool running)
{
    ScreeningRunning = running;
    UpdateControls();
}

void TDataUpdateDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!Fetching())
        RefreshOutlook();
}

bool TDataUpdateDialog::event(QEvent* event)
{
    const bool done = QDialog::event(event);
    // A top-level window does not take the height its wrapped labels need at its width by
    // itself: a longer text, or a narrower window, squeezed the texts over each other.
    const bool relaid = event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize;
    if (relaid && layout() != nullptr)
        setMinimumHeight(layout()->totalHeightForWidth(width()));
    return done;
}

const TDataPlan& TDataUpdateDialog::ChosenPlan() const
{
    return DataPlanNamed(PlanBox->currentData().toString().toStdString());
}

void TDataUpdateDialog::UpdateControls()
{
    const bool fetching = Fetching();
    StartButton->setEnabled(!fetching && !ScreeningRunning);
    CancelButton->setEnabled(fetching);
    PlanBox->setEnabled(!fetching);
    KeyEdit->setEnabled(!fetching && !Target.KeyInEnvironment);
    if (ScreeningRunning && !fetching)
        OutcomeLabel->setText(QStringLiteral("一覧検索の実行中は取得できません。"));
}

void TDataUpdateDialog::PlanBoxChange()
{
    PlanLabel->setText(PlanText(ChosenPlan()));
    RefreshOutlook();
}

QStringList TDataUpdateDialog::FetchArguments() const
{
    QStringList arguments{QStringLiteral("--data"), Target.DataFolder, QStringLiteral("--fetch"),
                          QStringLiteral("--plan"), QLatin1String(ChosenPlan().Name)};
    if (!Target.Source.isEmpty())
        arguments << QStringLiteral("--source") << Target.Source;
    return arguments;
}

void TDataUpdateDialog::RefreshOutlook()
{
    if (OutlookProcess.state() != QProcess::NotRunning)
    {
        OutlookProcess.kill();
        OutlookProcess.waitForFinished(2000);
    }
    OutlookLabel->setText(QStringLiteral("取得する範囲を調べています…"));
    OutlookProcess.start(Target.ServiceProgram, FetchArguments() << QStringLiteral("--dry-run"));
}

void TDataUpdateDialog::OutlookFinished()
{
    const std::optional<TFetchOutlook> outlook = ParseFetchOutlook(OutlookProcess.readAllStandardOutput());
    if (!outlook)
    {
        HeldLabel->clear();
        OutlookLabel->setText(QStringLiteral("取得する範囲を調べられませんでした。"));
        return;
    }
    HeldLabel->setText(HeldText(*outlook));
    OutlookLabel->setText(OutlookText(*outlook, ChosenPlan()));
}

void TDataUpdateDialog::StartButtonClick()
{
    if (Fetching() || ScreeningRunning)
        return;
    const QString key = KeyEdit->text().trimmed();
    try
    {
        if (!key.isEmpty() && !Target.KeyInEnvironment)
            SaveApiKey(Target.ConfigFolder, key.toStdString());
        RememberPlan(Target.ConfigFolder, ChosenPlan());
    }
    catch (const std::system_error&)
    {
        OutcomeLabel->setText(QStringLiteral("キーとプランを設定フォルダーに保存できませんでした。"));
        return;
    }
    KeyEdit->clear();
    if (!key.isEmpty())
        KeyEdit->setPlaceholderText(QStringLiteral("保存済みのキーを使います"));

    ProgressBuffer.clear();
    ErrorBuffer.clear();
    LastError.clear();
    LastHttpStatus = 0;
    LastProgress.reset();
    End.reset();
    FetchBar->setRange(0, 0); // busy until the first request reports
    ProgressLabel->setText(QStringLiteral("取得を始めています…"));
    OutcomeLabel->clear();
    // The key reaches the child through the key file or the inherited environment, never
    // through its command line, which every user of the machine can read.
    FetchProcess.start(Target.ServiceProgram, FetchArguments()
                                                  << QStringLiteral("--progress-fd") << QStringLiteral("1"));
    UpdateControls();
    emit FetchStarted();
}

void TDataUpdateDialog::CancelButtonClick()
{
    if (!Fetching())
        return;
    ProgressLabel->setText(QStringLiteral("中止しています…"));
    FetchProcess.terminate();
}

void TDataUpdateDialog::ReadProgress()
{
    ProgressBuffer += FetchProcess.readAllStandardOutput();
    for (const QByteArray& line : TakeLines(ProgressBuffer))
    {
        const std::string text = line.toStdString();
        if (const std::optional<TFetchProgress> progress = ParseFetchProgress(text))
        {
            LastHttpStatus = progress->HttpStatus;
            LastProgress = progress;
            // Each figure of a progress line is at most 10^9, so the sum fits an int.
            const int total = static_cast<int>(std::max(1LL, progress->Requests + progress->RequestsLeft));
            FetchBar->setRange(0, total);
            FetchBar->setValue(static_cast<int>(progress->Requests));
            ProgressLabel->setText(ProgressText(*progress));
        }
        else if (const std::optional<TFetchEnd> end = ParseFetchEnd(text))
        {
            End = end;
        }
    }
}

void TDataUpdateDialog::ReadErrors()
{
    ErrorBuffer += FetchProcess.readAllStandardError();
    // A terminal would get progress rewritten in place; a pipe gets whole lines.
    ErrorBuffer.replace('\r', '\n');
    for (const QByteArray& line : TakeLines(ErrorBuffer))
        if (!line.trimmed().isEmpty())
            LastError = QString::fromUtf8(line.trimmed());
    if (ErrorBuffer.size() > 4096)
        ErrorBuffer = ErrorBuffer.right(4096);
}

void TDataUpdateDialog::FetchProcessFinished(int exitCode, QProcess::ExitStatus status)
{
    ReadProgress();
    ReadErrors();
    const int exitStatus = status == QProcess::NormalExit ? exitCode : -1;
    // Full when all was fetched; otherwise as far as the last request came.
    if (exitStatus == ServiceExitSuccess || FetchBar->maximum() == 0)
        FetchBar->setRange(0, std::max(1, FetchBar->maximum()));
    if (exitStatus == ServiceExitSuccess)
        FetchBar->setValue(FetchBar->maximum());
    // The time left is over either way; what was done stays.
    ProgressLabel->setText(LastProgress ? ProgressText(*LastProgress, true) : QString());
    OutcomeLabel->setText(OutcomeText(exitStatus, LastHttpStatus, End, LastError));
    UpdateControls();
    RefreshOutlook();
    emit FetchFinished(exitStatus);
}
