#include "app/window/main_form.h"

#include "app/commands/lookup_command.h"
#include "app/commands/report_commands.h"
#include "app/commands/result_list.h"
#include "app/commands/screening_run.h"
#include "app/commands/stock_key.h"
#include "app/data_update/data_update_command.h"
#include "app/startup/startup_data.h"
#include "app/startup/startup_status.h"
#include "app/window/chart_pane.h"
#include "app/window/command_guard.h"
#include "app/window/desktop_dialogs.h"
#include "app/window/exception_handler.h"
#include "app/window/form_widgets.h"
#include "app/window/layout_area.h"
#include "app/window/mouse_only_choice.h"
#include "app/window/result_view.h"
#include "data/cache_file.h"
#include "data/todays_page.h"
#include "data/text_codec.h"
#include "screener/kabu_list.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <optional>

TMainForm* MainForm = nullptr;
TFormatSettings FormatSettings;

namespace {

// Colours of the layout.
const QColor Navy(0, 0, 128);
const QColor ButtonFace(240, 240, 240);

const QString HomePageAddress = QStringLiteral("https://quillon-soft.example/orvanta/");

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent), OwnDialogs(std::make_unique<TDesktopDialogs>()), OwnSource(std::make_unique<TTodaysPages>()),
      Dialogs(*OwnDialogs), Source(*OwnSource)
{
    Build();
}

TMainForm::TMainForm(TUserDialogs& dialogs, TChartSource* source, QWidget* parent)
    : QMainWindow(parent), OwnSource(source ? nullptr : std::make_unique<TTodaysPages>()), Dialogs(dialogs),
      Source(source ? *source : *OwnSource)
{
    Build();
}

void TMainForm::Build()
{
    MainForm = this;
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Orvanta(おるばんた)"));
    setFont(PixelFont(WindowFontName, 12));
    SetColours(this, ButtonFace);
    setGeometry(59, 45, 963, 693);

    ClientArea = new TLayoutArea(this, [this] { LayoutClientArea(); });
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(ClientArea);

    TopPanel = MakePanel(ClientArea, "TopPanel", QRect(0, 0, 963, 41));
    CreateInputPanel();
    CreateKabuSearchPanel();
    CreateKabuPanel();
    CreateCodePanel();
    BottomPanel = MakePanel(ClientArea, "BottomPanel", QRect(0, 0, 963, 22));
    CreateTaytolPanel();
    if (OwnSource)
        DataWatch = std::make_unique<TServiceDataWatch>();
    DataUpdate = new TDataUpdateCommand(this);
    connect(DataUpdate, &TDataUpdateCommand::FetchStarted, this, [this] { KabuSearchButton->setEnabled(false); });
    connect(DataUpdate, &TDataUpdateCommand::FetchFinished, this, [this](int) {
        // A command under way keeps its own lock; it releases the button with the others.
        KabuSearchButton->setEnabled(KabuNoButton->isEnabled());
        // The service serves a fetch's data at once.
        FollowServiceData(true);
    });
    CreateMenus();

    TaitolTimer = new QTimer(this);
    TaitolTimer->setObjectName(QStringLiteral("TaitolTimer"));
    TaitolTimer->setInterval(10000);
    connect(TaitolTimer, &QTimer::timeout, this, &TMainForm::TaitolTimerTimer);

    LayoutClientArea();

    // The board returns to the current quote whenever the pointer leaves any control.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

TMainForm::~TMainForm()
{
    if (MainForm == this)
        MainForm = nullptr;
    // The handler installed when this window was shown would reach a form that is gone.
    DropUnhandledExceptionHandler(this);
}

void TMainForm::CreateInputPanel()
{
    InputPanel = MakePanel(TopPanel, "InputPanel", QRect(1, 1, 928, 38));
    KabuNoButton = MakeButton(InputPanel, "KabuNoButton", QRect(8, 8, 75, 29), QStringLiteral("表示"),
                              PixelFont(WindowFontName, 13, true));
    connect(KabuNoButton, &QPushButton::clicked, this, &TMainForm::KabuNoButtonClick);

    KabuNoEdit = new QLineEdit(InputPanel);
    KabuNoEdit->setObjectName(QStringLiteral("KabuNoEdit"));
    KabuNoEdit->setGeometry(96, 10, 41, 21);
    KabuNoEdit->setFont(PixelFont(WindowFontName, 13, true));
    KabuNoEdit->setMaxLength(5);

    ShijouBox = new QComboBox(InputPanel);
    ShijouBox->setObjectName(QStringLiteral("ShijouBox"));
    ShijouBox->setGeometry(136, 10, 65, 21);
    ShijouBox->setFont(PixelFont(WindowFontName, 13));
    for (const TLookupMarket& market : LookupMarkets)
        ShijouBox->addItem(QString::fromUtf8(market.Caption.data(), static_cast<qsizetype>(market.Caption.size())));
    new TMouseOnlyChoice(ShijouBox);

    ChartLengSelect = new QGroupBox(QStringLiteral("チャート期間"), InputPanel);
    ChartLengSelect->setObjectName(QStringLiteral("ChartLengSelect"));
    ChartLengSelect->setGeometry(504, 4, 161, 33);
    ChartLengSelect->setFont(PixelFont(WindowFontName, 12, true));
    ChartLengDay = new QRadioButton(QStringLiteral("日足"), ChartLengSelect);
    ChartLengDay->setObjectName(QStringLiteral("ChartLengDay"));
    ChartLengDay->setGeometry(18, 14, 56, 14);
    ChartLengDay->setFont(PixelFont(WindowFontName, 12));
    ChartLengWeek = new QRadioButton(QStringLiteral("週足"), ChartLengSelect);
    ChartLengWeek->setObjectName(QStringLiteral("ChartLengWeek"));
    ChartLengWeek->setGeometry(90, 14, 56, 14);
    ChartLengWeek->setFont(PixelFont(WindowFontName, 12));
    ChartLengWeek->setChecked(true);
    // The command runs when a button becomes checked, however that happened.
    const auto onToggled = [this](bool checked) {
        if (checked)
            ChartLengDayClick();
    };
    connect(ChartLengDay, &QRadioButton::toggled, this, onToggled);
    connect(ChartLengWeek, &QRadioButton::toggled, this, onToggled);
}

void TMainForm::CreateKabuSearchPanel()
{
    KabuSearchPanel = MakePanel(TopPanel, "KabuSearchPanel", QRect(1, 1, 928, 38));
    KabuSearchButton = MakeButton(KabuSearchPanel, "KabuSearchButton", QRect(8, 8, 75, 29), QStringLiteral("一覧検索"),
                                  PixelFont(WindowFontName, 12, true));
    connect(KabuSearchButton, &QPushButton::clicked, this, &TMainForm::KabuSearchButtonClick);

    KabuSearchBox = new QComboBox(KabuSearchPanel);
    KabuSearchBox->setObjectName(QStringLiteral("KabuSearchBox"));
    KabuSearchBox->setGeometry(96, 10, 113, 21);
    KabuSearchBox->setFont(PixelFont(WindowFontName, 13));
    for (const std::string_view item : SectorSelectorItems)
        KabuSearchBox->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    KabuSearchBox->setMaxVisibleItems(20);
    new TMouseOnlyChoice(KabuSearchBox);

    HitPutGroupBox = new QGroupBox(QStringLiteral("検索条件"), KabuSearchPanel);
    HitPutGroupBox->setObjectName(QStringLiteral("HitPutGroupBox"));
    HitPutGroupBox->setGeometry(345, 4, 577, 33);
    HitPutGroupBox->setFont(PixelFont(WindowFontName, 12, true));
    HitPutCheck = MakeCheck(HitPutGroupBox, "HitPutCheck", QRect(6, 14, 129, 17), QStringLiteral("条件一致のみ表示"));
    RSI30Check = MakeCheck(HitPutGroupBox, "RSI30Check", QRect(174, 14, 99, 17), QStringLiteral("RSI 30%以下"));
    RSI30Check->hide();
    UnderKabuCheck =
        MakeCheck(HitPutGroupBox, "UnderKabuCheck", QRect(302, 14, 171, 17), QStringLiteral("10万円以内の低位株のみ"));
}

void TMainForm::CreateKabuPanel()
{
    KabuPanel = MakePanel(ClientArea, "KabuPanel", QRect(0, 41, 929, 448));
    StaticText6 = MakeLabel(KabuPanel, "StaticText6", QRect(0, 0, 929, 16), QStringLiteral("個別 株価ボードダイアログ"),
                            Qt::AlignCenter, Qt::white, Navy);
    CloseKabuButton = MakeButton(KabuPanel, "CloseKabuButton", QRect(864, 2, 50, 15), QStringLiteral("Close"),
                                 PixelFont(UiFontName, 12));
    connect(CloseKabuButton, &QPushButton::clicked, this, &TMainForm::CloseKabuButtonClick);

    ChartPane = new TChartPane(KabuPanel, Source);
    ChartPane->move(0, 18);
    ChartPane->ProcessEvents = [] { QCoreApplication::processEvents(); };
    ChartPane->Cancelled = [this] { return IsClosing(); };
    connect(ChartPane->ImageChart, &TImageSurface::MouseMoved, this, &TMainForm::ImageChartMouseMove);
}

void TMainForm::CreateCodePanel()
{
    CodePanel = MakePanel(ClientArea, "CodePanel", QRect(0, 41, 963, 600), ButtonFace);
    StaticText1 = MakeLabel(CodePanel, "StaticText1", QRect(0, 0, 963, 16), QStringLiteral("株価一覧ダイアログ"),
                            Qt::AlignCenter, Qt::white, Navy);
    KabuReadBar = new QProgressBar(CodePanel);
    KabuReadBar->setObjectName(QStringLiteral("KabuReadBar"));
    KabuReadBar->setRange(0, 100);
    KabuReadBar->setTextVisible(false);
    KabuReadBar->hide();

    KabuCodeList = MakeResultList(CodePanel);

    CloseCodeButton = MakeButton(CodePanel, "CloseCodeButton", QRect(864, 2, 50, 15), QStringLiteral("Close"),
                                 PixelFont(UiFontName, 12));
    CloseCodeButton->setEnabled(false);
    connect(CloseCodeButton, &QPushButton::clicked, this, &TMainForm::CloseCodeButtonClick);
    CopyCodeButton = MakeButton(CodePanel, "CopyCodeButton", QRect(744, 2, 106, 15), QStringLiteral("クリップボードへ"),
                                PixelFont(WindowFontName, 12));
    CopyCodeButton->setEnabled(false);
    connect(CopyCodeButton, &QPushButton::clicked, this, &TMainForm::CopyCodeButtonClick);
    connect(KabuCodeList, &QTreeWidget::itemDoubleClicked, this, &TMainForm::KabuCodeListDblClick);
    connect(KabuCodeList->header(), &QHeaderView::sectionClicked, this, &TMainForm::KabuCodeListColumnClick);

    LabelKabuReadBar = MakeLabel(CodePanel, "LabelKabuReadBar", QRect(402, 21, 137, 13), QStringLiteral("100%"),
                                 Qt::AlignCenter, Qt::white, QColor(128, 128, 128));
    LabelKabuReadBar->setFrameShape(QFrame::Box);
    LabelKabuReadBar->hide();
    CodePanel->hide();
}

void TMainForm::CreateTaytolPanel()
{
    TaytolPanel = MakePanel(ClientArea, "TaytolPanel", QRect(152, 171, 670, 262), ButtonFace);
    TaytolPanel->setFrameShape(QFrame::Panel);
    TaytolPanel->setFrameShadow(QFrame::Raised);
    const int pictureHeight = 262 - 77;

    Image1 = new QLabel(TaytolPanel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(2, 2, 666, pictureHeight - 4);
    Image1->setPixmap(TitlePicture(Image1->size()));
    Bevel1 = new QFrame(TaytolPanel);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(0, 0, 670, pictureHeight);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);

    StaticText2 = MakeLabel(TaytolPanel, "StaticText2", QRect(36, 21, 249, 20),
                            QStringLiteral("Quillon Soft. presents"), Qt::AlignCenter, QColor(0, 0, 255), ButtonFace);
    StaticText2->setFont(PixelFont(QStringLiteral("Arial"), 15, true));
    StaticText2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText3 = MakeLabel(TaytolPanel, "StaticText3", QRect(520, 125, 81, 20), QString(), Qt::AlignCenter,
                            QColor(0, 0, 255), ButtonFace);
    StaticText3->setFont(PixelFont(PopFontName, 16, true));
    StaticText3->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    MessagePanel1 = MakePanel(TaytolPanel, "MessagePanel1", QRect(0, pictureHeight, 670, 77), Qt::white);
    Label18 = MakeLabel(
        MessagePanel1, "Label18", QRect(16, 16, 640, 14),
        QStringLiteral(
            "本ソフトの株価一覧ダイアログが表示する購入値と売却値は、推奨指示を行った週の最終価格で購入して売却した場合の"),
        Qt::AlignLeft | Qt::AlignVCenter, Qt::black, std::nullopt);
    Label19 = MakeLabel(
        MessagePanel1, "Label19", QRect(32, 32, 630, 14),
        QStringLiteral(
            "参考値で表示しています。　よって週内での変動要素が織り込まれていない結果情報ですので過去の参考データとして"),
        Qt::AlignLeft | Qt::AlignVCenter, Qt::black, std::nullopt);
    Label20 = MakeLabel(MessagePanel1, "Label20", QRect(32, 48, 300, 14),
                        QStringLiteral("ご理解いただけますようにお願い申し上げます。"),
                        Qt::AlignLeft | Qt::AlignVCenter, Qt::black, std::nullopt);
    OKMessageButton = MakeButton(MessagePanel1, "OKMessageButton", QRect(336, 48, 297, 25),
                                 QStringLiteral("了承する。"), PixelFont(WindowFontName, 12));
    connect(OKMessageButton, &QPushButton::clicked, this, &TMainForm::OKMessageButtonClick);
}

void TMainForm::CreateMenus()
{
    File1 = menuBar()->addMenu(QStringLiteral("メニュー(&M)"));
    File1->setObjectName(QStringLiteral("File1"));
    SaveResult1 = File1->addAction(QStringLiteral("結果を保存…"), this, &TMainForm::SaveResult1Click);
    SaveResult1->setObjectName(QStringLiteral("SaveResult1"));
    SaveChartImage1 = File1->addAction(QStringLiteral("チャートを画像で保存…"), this, &TMainForm::SaveChartImage1Click);
    SaveChartImage1->setObjectName(QStringLiteral("SaveChartImage1"));
    File1->addSeparator();
    DataUpdate1 = File1->addAction(QStringLiteral("株価データを更新…"), this, &TMainForm::DataUpdate1Click);
    DataUpdate1->setObjectName(QStringLiteral("DataUpdate1"));
    File1->setToolTipsVisible(true);
    File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("終了(&X)"), this, &TMainForm::Exit1Click);
    Exit1->setObjectName(QStringLiteral("Exit1"));

    Window1 = menuBar()->addMenu(QStringLiteral("ウィンドウ(&W)"));
    Window1->setObjectName(QStringLiteral("Window1"));
    KabukaChartWin =
        Window1->addAction(QStringLiteral("株価チャートウインドウ表示"), this, &TMainForm::KabukaChartWinClick);
    KabukaChartWin->setObjectName(QStringLiteral("KabukaChartWin"));
    KabukaSearchWin =
        Window1->addAction(QStringLiteral("株価一覧検索ウインドウ表示"), this, &TMainForm::KabukaSearchWinClick);
    KabukaSearchWin->setObjectName(QStringLiteral("KabukaSearchWin"));
    Window1->addSeparator();
    SearchSummary1 = Window1->addAction(QStringLiteral("検索結果の集計…"), this, &TMainForm::SearchSummary1Click);
    SearchSummary1->setObjectName(QStringLiteral("SearchSummary1"));
    UpdateReportActions();

    Help1 = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    Help1->setObjectName(QStringLiteral("Help1"));
    QuillonSoftwareHomePage1 = Help1->addAction(QStringLiteral("Quillon Sofｔ. ホームページへ"), this,
                                                &TMainForm::QuillonSoftwareHomePage1Click);
    QuillonSoftwareHomePage1->setObjectName(QStringLiteral("QuillonSoftwareHomePage1"));
    About1 = Help1->addAction(QStringLiteral("バージョン情報(&A)..."), this, &TMainForm::About1Click);
    About1->setObjectName(QStringLiteral("About1"));
}

void TMainForm::LayoutClientArea()
{
    const int width = ClientArea->width();
    const int height = ClientArea->height();
    TopPanel->setGeometry(0, 0, width, 41);
    BottomPanel->setGeometry(0, height - 22, width, 22);
    const QRect listArea(0, 41, width, std::max(0, height - 41 - 22));
    CodePanel->setGeometry(listArea);

    // Docked inside the list view: the title strip, the progress bar when shown, then the list.
    StaticText1->setGeometry(0, 0, listArea.width(), 16);
    int top = 16;
    if (!KabuReadBar->isHidden())
    {
        KabuReadBar->setGeometry(0, top, listArea.width(), 19);
        top += 19;
    }
    KabuCodeList->setGeometry(0, top, listArea.width(), std::max(0, listArea.height() - top));
    CloseCodeButton->raise();
    CopyCodeButton->raise();
    LabelKabuReadBar->raise();
    CodePanel->raise();
    TaytolPanel->raise();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!Shown)
    {
        Shown = true;
        FormShow();
    }
}

void TMainForm::FormShow()
{
    // The layout's 963 x 693 is the outer size: where a window manager adds a frame, the
    // window itself shrinks by the frame once the frame is known.
    QTimer::singleShot(0, this, [this] {
        const QSize frame = frameGeometry().size() - geometry().size();
        if (frame.width() > 0 || frame.height() > 0)
            resize(963 - frame.width(), 693 - frame.height());
    });
    StaticText3->setText(QStringLiteral("Ver1.6a"));
    FormatSettings.ShortDateFormat = QStringLiteral("yyyy/MM/dd");
    FormatSettings.LongDateFormat = QStringLiteral("yyyy/MM/dd");
    FormatSettings.ShortTimeFormat = QStringLiteral("hh:mm:ss");
    FormatSettings.LongTimeFormat = QStringLiteral("hh:mm:ss");
    setWindowTitle(MainWindowCaption(CurrentServiceStatus()));
    TaytolPanel->show();
    TaytolPanel->raise();
    TaitolTimer->start();
    // Commands catch through their guard; this catches what escapes any other handler.
    SetUnhandledExceptionHandler([this](const std::exception_ptr& error) { AppException(error); }, this);
    KabuSearchPanel->hide();
    CodePanel->hide();
    InputPanel->show();
    ShijouBox->setCurrentIndex(0);
    KabuSearchBox->setCurrentIndex(0);
}

void TMainForm::AppException(const std::exception_ptr& error)
{
    try
    {
        std::rethrow_exception(error);
    }
    catch (const std::exception& reason)
    {
        LastErrorText = reason.what();
    }
    catch (...)
    {
        LastErrorText = "unknown error";
    }
    // The exception's own message is for debuggers and the batch log; the user always sees
    // the same two lines.
    ShowMessage(
        {ApplicationTitle(),
         QStringLiteral("インターネット データ エラー\n理由：株価データフォーマットが変更されたことによるエラーです。"),
         QMessageBox::NoIcon});
}

void TMainForm::FollowServiceData(bool now)
{
    if (!DataWatch)
        return;
    const auto say = [this](const QString& text) { ShowMessage({ApplicationTitle(), text, QMessageBox::Warning}); };
    if (now ? DataWatch->CatchUpNow(say) : DataWatch->CatchUp(say))
        setWindowTitle(MainWindowCaption(CurrentServiceStatus()));
}

void TMainForm::ShowInformation(const QString& text)
{
    ShowMessage({QStringLiteral("情報"), text, QMessageBox::Information});
}

void TMainForm::ShowMessage(const TMessageBoxRequest& request)
{
    // After the close request the command still running ends without a word: a box would keep
    // the closed window's process alive until someone answered it.
    if (IsClosing())
        return;
    Dialogs.ShowMessage(this, request);
}

void TMainForm::KabukaChartWinClick()
{
    InputPanel->show();
    KabuSearchPanel->hide();
    CodePanel->hide();
    CloseCodeButton->setEnabled(false);
    CopyCodeButton->setEnabled(false);
    CloseKabuButton->setEnabled(true);
}

void TMainForm::KabukaSearchWinClick()
{
    InputPanel->hide();
    KabuSearchPanel->show();
    CodePanel->show();
    CloseCodeButton->setEnabled(true);
    CopyCodeButton->setEnabled(true);
    CloseKabuButton->setEnabled(false);
}

void TMainForm::CloseKabuButtonClick()
{
    KabukaSearchWinClick();
}

void TMainForm::CloseCodeButtonClick()
{
    KabukaChartWinClick();
}

void TMainForm::TaitolTimerTimer()
{
    TaitolTimer->stop();
    TaytolPanel->hide();
}

void TMainForm::OKMessageButtonClick()
{
    TaitolTimer->stop();
    TaytolPanel->hide();
}

void TMainForm::About1Click()
{
    TaytolPanel->hide();
    TaitolTimer->start();
    TaytolPanel->show();
    TaytolPanel->raise();
}

void TMainForm::QuillonSoftwareHomePage1Click()
{
    // The outcome is not examined: a desktop without a browser simply does nothing.
    Dialogs.OpenUrl(HomePageAddress);
}

void TMainForm::Exit1Click()
{
    QApplication::quit();
}

bool TMainForm::IsClosing() const
{
    return Tag == ClosingTag;
}

void TMainForm::FormCloseQuery(bool& canClose)
{
    Tag = ClosingTag;
    // Transfers ahead of the chain end now, not when the run next looks at the tag.
    Source.StopReadingAhead();
    canClose = true;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Leave)
        CMMouseLeave();
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::RunCommand(std::initializer_list<QWidget*> controls, const std::function<void()>& body)
{
    const std::exception_ptr error = RunGuarded(controls, body);
    // A fetch into the service and a screening run never go at once.
    if (DataUpdate->Running())
        KabuSearchButton->setEnabled(false);
    if (error)
        AppException(error);
}

TChartLength TMainForm::ChartLength() const
{
    return ChartLengDay->isChecked() ? TChartLength::Daily : TChartLength::Weekly;
}

void TMainForm::KabuNoButtonClick()
{
    RunCommand(
        {KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek, KabuSearchBox, KabuSearchButton}, [this] {
            FollowServiceData();
            const auto message = LookUpStock(*ChartPane, KabuNoEdit->text(), ShijouBox->currentIndex(), ChartLength());
            UpdateReportActions();
            if (message)
                ShowInformation(*message);
        });
}

void TMainForm::ChartLengDayClick()
{
    if (InputPanel->isHidden())
        return;
    RunCommand({KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek}, [this] {
        FollowServiceData();
        const auto message = SwitchPeriod(*ChartPane, KabuNoEdit->text(), ShijouBox->currentIndex(), ChartLength());
        UpdateReportActions();
        if (message)
            ShowInformation(*message);
    });
}

void TMainForm::KabuSearchButtonClick()
{
    bool started = false;
    RunCommand(
        {KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek, KabuSearchBox, KabuSearchButton}, [&] {
            // First: a new list comes with new data.
            FollowServiceData();
            const TKabuList list = ReadKabuList(Utf8ToCp932(KabuSearchBox->currentText().toStdString()));
            ChartLengWeek->setChecked(true);
            CodePanel->show();
            if (Dialogs.ShiftKeyDown())
                return;
            // The run's record goes with its rows: kept until the next run clears them.
            LastRun.emplace();
            LastRun->SampleData = CurrentServiceStatus().Sample;
            LastRun->Sector = KabuSearchBox->currentText().toStdString();
            LastRun->Date = DateText(TodayLocal());
            LastRun->HitsOnly = HitPutCheck->isChecked();
            LastRun->Under100k = UnderKabuCheck->isChecked();
            LastRun->Rsi30 = RSI30Check->isChecked();
            LastRun->Entries = static_cast<int>(list.Entries.size());
            LastRun->End = TRunEnd::DataError; // until it ends otherwise
            started = true;
            struct TRunningGuard
            {
                TMainForm& Form;
                ~TRunningGuard()
                {
                    Form.ScreeningRunning = false;
                    Form.UpdateReportActions();
                }
            } runningGuard{*this};
            ScreeningRunning = true;
            UpdateReportActions();
            TScreeningHooks hooks;
            hooks.Closing = [this] { return IsClosing(); };
            hooks.Inform = [this](const QString& text) { ShowInformation(text); };
            hooks.Progress = [this](int index, int count, const QString& stock) {
                emit ScreeningProgress(index, count, stock);
            };
            hooks.Layout = [this] { LayoutClientArea(); };
            TScreeningRun run(*ChartPane, Source, {KabuCodeList, KabuReadBar, LabelKabuReadBar}, std::move(hooks));
            run.Run(list, {HitPutCheck->isChecked(), UnderKabuCheck->isChecked(), RSI30Check->isChecked()}, *LastRun,
                    RunCharts);
        });
    if (started && LastRun->End == TRunEnd::DataError)
        LastRun->ErrorText = LastErrorText;
}

void TMainForm::KabuCodeListDblClick()
{
    QTreeWidgetItem* first = FirstSelectedRow(KabuCodeList);
    // Opening a row in the middle of a run would refill the tables the run is about to read
    // for its current stock, and list that stock with another stock's back-test.
    if (!first || ScreeningRunning)
        return;
    RunCommand({KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek}, [&] {
        FollowServiceData();
        CodePanel->hide();
        OpenResultRow(*ChartPane, *first, ChartLength());
        UpdateReportActions();
    });
}

void TMainForm::KabuCodeListColumnClick(int column)
{
    // Rows are compared as text by the user's locale; the direction flips after every sort,
    // whichever column was clicked.
    SortResultRows(KabuCodeList, column, KabuCodeListTag);
    KabuCodeListTag = -KabuCodeListTag;
}

void TMainForm::CopyCodeButtonClick()
{
    QGuiApplication::clipboard()->setText(SelectedRowsText(KabuCodeList));
}

void TMainForm::ImageChartMouseMove(int x, int)
{
    ChartPane->ShowPeriodAt(x, ChartLength());
}

void TMainForm::CMMouseLeave()
{
    ChartPane->RestoreBoard();
}

TRunReport TMainForm::LastRunReport() const
{
    return RunReport(LastRun, *KabuCodeList, RunCharts);
}

void TMainForm::UpdateReportActions()
{
    SaveResult1->setEnabled(!ScreeningRunning && LastRun.has_value());
    SearchSummary1->setEnabled(!ScreeningRunning && LastRun.has_value());
    SaveChartImage1->setEnabled(!ScreeningRunning && ChartPane->ChartDrawn());
    DataUpdate1->setEnabled(!ScreeningRunning && DataUpdate->HasTarget());
    DataUpdate->SetScreeningRunning(ScreeningRunning);
}

void TMainForm::SaveResult1Click()
{
    if (!LastRun)
        return;
    RunCommand({}, [this] { SaveRunReport(Dialogs, this, LastRunReport()); });
}

void TMainForm::SaveChartImage1Click()
{
    RunCommand({}, [this] {
        SaveChartImage(
            Dialogs, this, [this] { return ChartPane->ChartPanelImage(); }, ChartPane->ChartCode);
    });
}

void TMainForm::SearchSummary1Click()
{
    if (!LastRun)
        return;
    RunCommand({}, [this] { ShowInformation(RunSummaryText(LastRunReport())); });
}

void TMainForm::SetDataUpdateTarget(std::optional<TDataUpdateTarget> target, const QString& note)
{
    DataUpdate->SetTarget(std::move(target), note);
    DataUpdate1->setToolTip(DataUpdate->Note());
    UpdateReportActions();
}

void TMainForm::DataUpdate1Click()
{
    DataUpdate->Open(ScreeningRunning);
}
