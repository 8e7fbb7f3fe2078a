#pragma once

#include "app/commands/user_dialogs.h"
#include "app/data_update/data_update_dialog.h"
#include "analysis/chart_length.h"
#include "report/chart_archive.h"
#include "report/report_files.h"

#include <QMainWindow>
#include <QString>

#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

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
class TChartPane;
class TChartSource;
class TDataUpdateCommand;
class TServiceDataWatch;

// The value the window's tag takes once the user has asked to close it.
constexpr int ClosingTag = 999;

// The one main window. It owns every control under the layout's names and the handlers
// (named after control and event), lays the controls out, switches the views and wires the
// controls to the commands. The chart and its state belong to its chart pane.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    //! The desktop's dialogs and today's pages of the finance service.
    explicit TMainForm(QWidget* parent = nullptr);
    //! `dialogs` answer for the user; the chart reads from `source`, or from today's pages of
    //! the finance service when none is given. Both outlive the form.
    TMainForm(TUserDialogs& dialogs, TChartSource* source = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

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

    // The single-stock chart view: its title strip and the chart pane with the quote board.
    QFrame* KabuPanel = nullptr;
    QLabel* StaticText6 = nullptr;
    QPushButton* CloseKabuButton = nullptr;
    TChartPane* ChartPane = nullptr;

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
    void DataUpdate1Click();

    bool ScreeningRunning = false;
    //! The charts of the last run's rows as the run drew them.
    TChartArchive RunCharts;
    //! The last screening run that cleared the list: its counts, skipped stocks and end.
    std::optional<TRunRecord> LastRun;
    //! The message of the exception the data-error box last reported, for the batch log.
    std::string LastErrorText;

    //! The last run's report: its record (empty without LastRun), the list's rows in list
    //! order and their charts.
    TRunReport LastRunReport() const;

    //! Shows the information box (caption "情報", one OK button) and waits for it.
    void ShowInformation(const QString& text);

    //! Where "株価データを更新…" fetches to; without a target the item is disabled and its
    //! tip says `note` (the data then belongs to a service the program does not run).
    void SetDataUpdateTarget(std::optional<TDataUpdateTarget> target, const QString& note);

signals:
    //! During a run, after the quote pass of stock `index` of `count`: its code and name as
    //! the board shows them, or its code alone when there was no quote.
    void ScreeningProgress(int index, int count, const QString& stock);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    //! Runs a command body with `controls` disabled; they are enabled again on every way
    //! out, and an exception escaping the body is shown once, as the data-error box.
    void RunCommand(std::initializer_list<QWidget*> controls, const std::function<void()>& body);
    //! True once the user asked to close the window: transfers under way are given up.
    bool IsClosing() const;
    TChartLength ChartLength() const;
    void Build();
    void CreateInputPanel();
    void CreateKabuSearchPanel();
    void CreateKabuPanel();
    void CreateCodePanel();
    void CreateTaytolPanel();
    void CreateMenus();
    void LayoutClientArea();
    void ShowMessage(const TMessageBoxRequest& request);
    void UpdateReportActions();
    //! Before a lookup, a period switch or a screening run, and after a fetch from the window
    //! (`now`): the working folder takes data that changed under the window, the caption too.
    void FollowServiceData(bool now = false);

    std::unique_ptr<TUserDialogs> OwnDialogs;
    std::unique_ptr<TChartSource> OwnSource;
    TUserDialogs& Dialogs;
    TChartSource& Source;
    TDataUpdateCommand* DataUpdate = nullptr;
    // Only while the chart reads the service's pages.
    std::unique_ptr<TServiceDataWatch> DataWatch;
    QWidget* ClientArea = nullptr;
    bool Shown = false;
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
