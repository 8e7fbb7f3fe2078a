#pragma once

#include <QImage>
#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include "app/data_update/data_update_dialog.h"
#include "analysis/average_rsi.h"
#include "analysis/buy_signals.h"
#include "analysis/chart_length.h"
#include "chart/pane_scale.h"
#include "analysis/chart_bars.h"
#include "data/quote_page.h"
#include "report/chart_archive.h"
#include "report/report_files.h"

#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

class TFetchAhead;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

// The value the window's tag takes once the user has asked to close it.
constexpr int ClosingTag = 999;

// A drawing surface. The chart passes paint on Picture; the screen shows the picture as it
// stood at the last Present, so a repaint in the middle of a chain never shows half a chart.
class TImageSurface : public QWidget
{
    Q_OBJECT
public:
    TImageSurface(QWidget* parent, int width, int height);
    QImage Picture; // what the chart passes paint on
    QImage Shown;   // what the screen shows

    //! Shows the picture as it stands now. The shown picture shares the picture's pixels:
    //! drawing on the picture again copies them first, unless Restart came before.
    void Present();

    //! The picture is about to be drawn over whole, so its pixels need not be kept: while
    //! they are shown or handed on, the next drawing goes on pixels no one else holds.
    void Restart();

signals:
    void MouseMoved(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Pictures shown earlier, some still held by a run's chart archive; each is drawn on again
    // once no one else holds it, instead of a fresh one for every stock.
    std::vector<QImage> Retired;
    static constexpr std::size_t MaxRetired = 12;
};

// One message box as the program asks for it; tests capture these instead of a modal box.
struct TMessageBoxRequest
{
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// One file or folder dialog as the program asks for it; tests answer these instead.
struct TFileDialogRequest
{
    enum class TKind
    {
        Folder,   // an existing folder, or one to create
        SaveFile, // a file name to write
    };
    TKind Kind = TKind::Folder;
    QString Caption;
    QString Suggested; // starting folder or file name
    QString Filter;    // for SaveFile, e.g. "PNG (*.png)"
};

// The one main window. It owns every control under the layout's names, the handlers
// (named after control and event) and the working state of the chart chain.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    //! Replaces the modal message boxes (tests); an empty function restores them.
    static inline std::function<void(const TMessageBoxRequest&)> MessageBoxHook;
    //! Replaces the desktop's URL opener (tests); an empty function restores it.
    static inline std::function<void(const QString&)> OpenUrlHook;
    //! Replaces the query of the Shift keys (tests); an empty function asks the window system.
    static inline std::function<bool()> ShiftKeyDownHook;
    //! Replaces the file and folder dialogs (tests); returns the chosen path, empty to cancel.
    static inline std::function<QString(const TFileDialogRequest&)> FileDialogHook;

    //! The window's general-purpose integer tag: 0, or ClosingTag once a close was asked.
    int Tag = 0;
    //! The result list's sort direction, 1 or -1.
    int KabuCodeListTag = 1;

    // Top bar: the single-stock input bar and the sector screening bar.
    QFrame* TopPanel = nullptr;
    QFrame* InputPanel = nullptr;
    QPushButton* KabuNoButton = nullptr;
    QLineEdit* KabuNoEdit = nullptr;
    QComboBox* ShijouBox = nullptr;
    QGroupBox* ChartLengSelect = nullptr;
    QRadioButton* ChartLengDay = nullptr;
    QRadioButton* ChartLengWeek = nullptr;
    QFrame* KabuSearchPanel = nullptr;
    QPushButton* KabuSearchButton = nullptr;
    QComboBox* KabuSearchBox = nullptr;
    QGroupBox* HitPutGroupBox = nullptr;
    QCheckBox* HitPutCheck = nullptr;
    QCheckBox* RSI30Check = nullptr;
    QCheckBox* UnderKabuCheck = nullptr;

    // The single-stock chart view.
    QFrame* KabuPanel = nullptr;
    QLabel* StaticText6 = nullptr;
    QPushButton* CloseKabuButton = nullptr;
    QFrame* KabuKaPanel = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* LabelKabuNo = nullptr;
    QLabel* LabelKabuKa = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* LabelTani = nullptr;
    QLabel* LabelTime = nullptr;
    QFrame* LinePanel = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* LabelKaikaShort = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* LabelKaikaLong = nullptr;
    QFrame* MessagePanel = nullptr;
    QLabel* MessageLabel = nullptr;
    QFrame* ChartPanel = nullptr;
    TImageSurface* ImageChart = nullptr;
    TImageSurface* ImageDekidaka = nullptr;
    TImageSurface* ImageRSI = nullptr;

    // The sector list view.
    QFrame* CodePanel = nullptr;
    QLabel* StaticText1 = nullptr;
    QPushButton* CloseCodeButton = nullptr;
    QPushButton* CopyCodeButton = nullptr;
    QProgressBar* KabuReadBar = nullptr;
    QLabel* LabelKabuReadBar = nullptr;
    QTreeWidget* KabuCodeList = nullptr;

    QFrame* BottomPanel = nullptr;

    // The title panel with the disclaimer.
    QFrame* TaytolPanel = nullptr;
    QLabel* Image1 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* StaticText2 = nullptr;
    QLabel* StaticText3 = nullptr;
    QFrame* MessagePanel1 = nullptr;
    QLabel* Label18 = nullptr;
    QLabel* Label19 = nullptr;
    QLabel* Label20 = nullptr;
    QPushButton* OKMessageButton = nullptr;
    QTimer* TaitolTimer = nullptr;

    // Menus.
    QMenu* File1 = nullptr;
    QAction* SaveResult1 = nullptr;     // the last run's report files
    QAction* SaveChartImage1 = nullptr; // the chart panel as a PNG image
    QAction* DataUpdate1 = nullptr;     // fetches real prices into the bundled service
    QAction* Exit1 = nullptr;
    QMenu* Window1 = nullptr;
    QAction* KabukaChartWin = nullptr;
    QAction* KabukaSearchWin = nullptr;
    QAction* SearchSummary1 = nullptr; // the last run's summary in a box
    QMenu* Help1 = nullptr;
    QAction* QuillonSoftwareHomePage1 = nullptr;
    QAction* About1 = nullptr;

    // Handlers.
    void FormShow();
    void AppException(const std::exception_ptr& error);
    void KabukaChartWinClick();
    void KabukaSearchWinClick();
    void CloseKabuButtonClick();
    void CloseCodeButtonClick();
    void TaitolTimerTimer();
    void OKMessageButtonClick();
    void About1Click();
    void QuillonSoftwareHomePage1Click();
    void Exit1Click();
    void FormCloseQuery(bool& canClose);
    void KabuNoButtonClick();
    void ChartLengDayClick();
    void KabuSearchButtonClick();
    void KabuCodeListDblClick();
    void KabuCodeListColumnClick(int column);
    void CopyCodeButtonClick();
    void ImageChartMouseMove(int x, int y);
    void CMMouseLeave();
    void SaveResult1Click();
    void SaveChartImage1Click();
    void SearchSummary1Click();

    //! The chart chain after the quote: history, price chart, averages, signals, volume.
    //! Returns the buy-signal pass's result (0 when the period step ran nothing).
    int RefreshChart(const std::string& key);

    //! Writes KabuQuote to the quote board.
    void ShowKabuQuote();

    // Working state of the chart chain.
    TKabuQuote KabuQuote;
    TChartBars ChartBars{};
    std::string ChartCode;
    TPaneScale ChartScale; // price pane, then the volume pane's after a chain
    TPaneScale RsiScale;
    TBuySignalResult BuySignals; // BuyDate, BuyPrice, ... of the latest scan
    bool ScreeningRunning = false;
    // Why the latest GetKabuKa answered false, and the size of the page it refused.
    TQuoteMiss QuoteMiss = TQuoteMiss::None;
    std::uintmax_t QuotePageBytes = 0;
    //! Item data role of a result row's chart: its number in RunCharts.
    static constexpr int ChartRole = Qt::UserRole + 1;
    //! The charts of the last run's rows as the run drew them.
    TChartArchive RunCharts;
    //! The last screening run that cleared the list: its counts, skipped stocks and end.
    std::optional<TRunRecord> LastRun;
    //! The message of the exception the data-error box last reported, for the batch log.
    std::string LastErrorText;

    //! The last run's report: its record (empty without LastRun), the list's rows in list
    //! order and their charts.
    TRunReport LastRunReport() const;

    //! The chart panel as the screen shows it: the three drawing surfaces on its background.
    QImage ChartPanelImage() const;

    //! The PNG bytes of a result row's chart; empty for a row without one.
    QByteArray RowChart(const QTreeWidgetItem* row) const;
    //! Fetches the pages of the stocks ahead while a screening run works on one; null outside runs.
    std::unique_ptr<TFetchAhead> FetchAhead;

    //! Shows the information box (caption "情報", one OK button) and waits for it.
    void ShowInformation(const QString& text);

    //! Where "株価データを更新…" fetches to; without a target the item is disabled and its
    //! tip says `note` (the data then belongs to a service the program does not run).
    void SetDataUpdateTarget(std::optional<TDataUpdateTarget> target, const QString& note);
    //! Called after every fetch from the window, once the child has ended.
    std::function<void(int exitStatus)> OnDataUpdated;

signals:
    //! During a run, after the quote pass of stock `index` of `count`: its code and name as
    //! the board shows them, or its code alone when there was no quote.
    void ScreeningProgress(int index, int count, const QString& stock);

protected:
    // The passes of the chart chain, in the order the chain calls them.
    virtual bool GetKabuKa(const std::string& key);
    virtual void GetChartData(const std::string& key);
    virtual void DrawChartData();
    virtual int CalcAverageRsi(TAverageInstance instance);
    virtual int FindBuySignals(bool weekly);
    virtual void DrawDekidakaData();

    //! Runs a command body with `controls` disabled; they are enabled again on every way
    //! out, and an exception escaping the body is shown once, as the data-error box.
    void RunCommand(std::initializer_list<QWidget*> controls, const std::function<void()>& body);

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    //! True once the user asked to close the window: transfers under way are given up.
    bool IsClosing() const;
    TChartLength ChartLength() const;
    void CreateInputPanel();
    void CreateKabuSearchPanel();
    void CreateKabuPanel();
    void CreateCodePanel();
    void CreateTaytolPanel();
    void CreateMenus();
    void LayoutClientArea();
    void ShowMessage(const TMessageBoxRequest& request);
    void SetVerdictColour(const QColor& colour);
    void UpdateReportActions();
    void DataUpdate1Click();
    bool DataUpdateRunning() const;
    QString AskForPath(const TFileDialogRequest& request);
    //! What ChartPanelImage draws, the surfaces' shown pictures shared.
    TChartScene ChartPanelScene() const;

    QWidget* ClientArea = nullptr;
    bool Shown = false;
    bool ChartDrawn = false; // a chain has drawn the chart panel at least once
    std::optional<TDataUpdateTarget> DataUpdateTarget;
    TDataUpdateDialog* DataUpdateDialog = nullptr;
};

// Date and time formats the program writes dates with; set when the window is first shown.
struct TFormatSettings
{
    QString ShortDateFormat;
    QString LongDateFormat;
    QString ShortTimeFormat;
    QString LongTimeFormat;
};
extern TFormatSettings FormatSettings;

extern TMainForm* MainForm;
