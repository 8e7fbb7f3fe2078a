#include "app/window/main_form.h"

#include "app/application.h"
#include "app/startup/startup_status.h"
#include "app/commands/stock_key.h"
#include "common/exact_format.h"
#include "chart/chart_palette.h"
#include "chart/chart_canvas.h"
#include "chart/chart_readout.h"
#include "chart/price_chart.h"
#include "chart/volume_chart.h"
#include "data/fetch_ahead.h"
#include "data/history_page.h"
#include "data/text_codec.h"
#include "data/todays_page.h"
#include "screener/kabu_list.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <optional>
#include <vector>

TMainForm* MainForm = nullptr;
TFormatSettings FormatSettings;

namespace {

// Colours of the layout.
const QColor Navy(0, 0, 128);
const QColor BoardGray(51, 51, 51);
const QColor ChartGray(68, 68, 68);
const QColor ButtonFace(240, 240, 240);

const QString WindowFontName = QStringLiteral("ＭＳ Ｐゴシック");
const QString UiFontName = QStringLiteral("MS UI Gothic");
const QString PopFontName = QStringLiteral("HG創英角ﾎﾟｯﾌﾟ体");
const QString HomePageAddress = QStringLiteral("https://quillon-soft.example/orvanta/");

QFont PixelFont(const QString& family, int pixels, bool bold = false)
{
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void SetColours(QWidget* widget, const QColor& background, const std::optional<QColor>& text = std::nullopt)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    if (text)
    {
        palette.setColor(QPalette::WindowText, *text);
        palette.setColor(QPalette::Text, *text);
        palette.setColor(QPalette::ButtonText, *text);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& place, const std::optional<QColor>& colour = std::nullopt)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(place);
    if (colour)
        SetColours(panel, *colour);
    return panel;
}

// Every label is plain text: outside data such as a stock name must never render as markup.
QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& place, const QString& text,
                  Qt::Alignment alignment, const QColor& colour, const std::optional<QColor>& background)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    label->setText(text);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    if (background)
    {
        palette.setColor(QPalette::Window, *background);
        label->setAutoFillBackground(true);
    }
    label->setPalette(palette);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& place, const QString& text,
                        const QFont& font)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(place);
    button->setFont(font);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QRect& place, const QString& text)
{
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QLatin1String(name));
    check->setGeometry(place);
    check->setFont(PixelFont(WindowFontName, 12));
    return check;
}

// The title picture: drawn rather than shipped, so it scales with the panel.
QPixmap TitlePicture(const QSize& size)
{
    QPixmap picture(size);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, 0, size.height());
    gradient.setColorAt(0, QColor(0, 32, 96));
    gradient.setColorAt(1, QColor(0, 96, 160));
    painter.fillRect(picture.rect(), gradient);
    painter.setPen(QColor(255, 255, 255));
    painter.setFont(PixelFont(QStringLiteral("IPAPGothic"), 48, true));
    painter.drawText(QRect(0, 40, size.width(), 70), Qt::AlignCenter, QStringLiteral("Orvanta"));
    painter.setPen(QColor(255, 255, 0));
    painter.setFont(PixelFont(QStringLiteral("IPAPGothic"), 22, true));
    painter.drawText(QRect(0, 110, size.width(), 30), Qt::AlignCenter,
                     QStringLiteral("おるばんた ― 株価チャートと銘柄検索"));
    return picture;
}

const char* const ListColumns[21][3] = {
    {"銘柄", "120", "l"},   {"市場", "40", "c"},     {"現在値", "70", "c"},   {"前日比", "75", "c"},
    {"始値", "2", "c"},     {"高値", "2", "c"},      {"安値", "2", "c"},      {"出来高", "65", "c"},
    {"単元株数", "0", "c"}, {"推奨", "40", "c"},     {"購入値", "70", "c"},   {"購入日付", "75", "c"},
    {"売却値", "70", "c"},  {"売却日付", "75", "c"}, {"上昇率", "50", "c"},   {"評価", "40", "c"},
    {"1株あたり益", "75", "c"}, {"Info1", "0", "r"}, {"Info2", "0", "r"},     {"Info3", "0", "r"},
    {"Info4", "0", "r"}};

// Paints the result list's cells: plain text, elided to the cell, with grid lines on the right
// and at the bottom. A screening run repaints the visible rows for every row it adds, so the
// shaped text of each cell is kept for the next paint instead of being laid out again.
class TGridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRect cell = option.rect;
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        painter->fillRect(cell, selected ? option.palette.highlight() : option.palette.base());
        const QString text = index.data(Qt::DisplayRole).toString();
        const int room = cell.width() - 2 * TextMargin;
        if (!text.isEmpty() && room > 0)
        {
            const QStaticText& shaped = Shaped(text, room, option.font);
            const QSizeF size = shaped.size();
            const auto alignment = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
            qreal x = cell.left() + TextMargin;
            if (alignment.testFlag(Qt::AlignRight))
                x = cell.right() + 1 - TextMargin - size.width();
            else if (alignment.testFlag(Qt::AlignHCenter))
                x = cell.left() + (cell.width() - size.width()) / 2;
            // Clip and pen set for the text and undone after it: save() and restore() copy the
            // whole painter state, which cost more than the text. The font is the list's, as the
            // painter's already is.
            const bool clipped = painter->hasClipping();
            const QPen pen = painter->pen();
            if (clipped)
                painter->save();
            painter->setClipRect(cell);
            painter->setFont(option.font);
            painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
            painter->drawStaticText(QPointF(x, cell.top() + (cell.height() - size.height()) / 2), shaped);
            if (clipped)
            {
                painter->restore();
            }
            else
            {
                painter->setClipping(false);
                painter->setPen(pen);
            }
        }
        // The grid lines as one-pixel rectangles: drawn as lines they took the slow pen path.
        // A cell of width 0 has its bottom line reach one pixel left, as the line did.
        painter->fillRect(QRect(cell.right(), cell.top(), 1, cell.height()), GridColour);
        painter->fillRect(QRect(QPoint(std::min(cell.left(), cell.right()), cell.bottom()),
                                QPoint(std::max(cell.left(), cell.right()), cell.bottom())),
                          GridColour);
    }

    // The list lays its rows out again for every row a run adds and asks the first row for
    // its size each time; shaping the same texts again was most of that layout.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        // The list has one font and its cells one line of text each, so the text decides.
        const QString key = index.data(Qt::DisplayRole).toString();
        auto found = Sizes.find(key);
        if (found != Sizes.end())
            return *found;
        if (Sizes.size() >= MaxCachedTexts)
            Sizes.clear();
        return *Sizes.insert(key, QStyledItemDelegate::sizeHint(option, index));
    }

private:
    static constexpr int TextMargin = 1;
    static constexpr int MaxCachedTexts = 4000;
    static constexpr QColor GridColour{128, 128, 128};

    const QStaticText& Shaped(const QString& text, int room, const QFont& font) const
    {
        const std::pair<int, QString> key{room, text};
        auto found = Cache.find(key);
        if (found != Cache.end())
            return *found;
        if (Cache.size() >= MaxCachedTexts)
            Cache.clear();
        QStaticText shaped(QFontMetrics(font).elidedText(text, Qt::ElideRight, room));
        shaped.setTextFormat(Qt::PlainText);
        shaped.prepare(QTransform(), font);
        return *Cache.insert(key, shaped);
    }

    mutable QHash<std::pair<int, QString>, QStaticText> Cache;
    mutable QHash<QString, QSize> Sizes;
};

// The result list's header. The list lays itself out for every row a run adds and asks the
// header for its size each time, which measured all 21 captions again; they change only
// with the captions, the font or the style.
class TListHeader : public QHeaderView
{
public:
    explicit TListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        // As the header a tree view makes for itself.
        setSectionsMovable(true);
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        connect(this, &QHeaderView::sectionCountChanged, this, [this] { Measured = QSize(); });
    }

    QSize sizeHint() const override
    {
        if (!Measured.isValid())
            Measured = QHeaderView::sizeHint();
        return Measured;
    }

    void setModel(QAbstractItemModel* model) override
    {
        QHeaderView::setModel(model);
        Measured = QSize();
        if (model)
            connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { Measured = QSize(); });
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            Measured = QSize();
        return QHeaderView::event(event);
    }

private:
    mutable QSize Measured;
};

// Lays out the docked panels of the client area whenever it changes size.
class TClientArea : public QWidget
{
public:
    TClientArea(QWidget* parent, std::function<void()> layout) : QWidget(parent), Layout(std::move(layout)) {}

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        Layout();
    }

private:
    std::function<void()> Layout;
};

} // namespace

TImageSurface::TImageSurface(QWidget* parent, int width, int height)
    : QWidget(parent), Picture(width, height, QImage::Format_ARGB32_Premultiplied)
{
    // Clear until a pass draws on it, so the panel shows through as it does before a lookup.
    Picture.fill(Qt::transparent);
    Shown = Picture;
    resize(width, height);
}

void TImageSurface::Present()
{
    if (Shown.constBits() != Picture.constBits() && !Shown.isNull() && Retired.size() < MaxRetired)
        Retired.push_back(std::move(Shown));
    Shown = Picture;
    update();
}

void TImageSurface::Restart()
{
    if (Picture.isDetached())
        return;
    // A fresh picture for every stock of a run cost an allocation and its page faults.
    const auto free = std::find_if(Retired.begin(), Retired.end(), [this](const QImage& image) {
        return image.isDetached() && image.size() == Picture.size() && image.format() == Picture.format();
    });
    if (free != Retired.end())
    {
        Picture = std::move(*free);
        Retired.erase(free);
    }
    else
    {
        Picture = QImage(Picture.size(), Picture.format());
    }
}

void TImageSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, Shown);
}

void TImageSurface::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    emit MouseMoved(point.x(), point.y());
}

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent)
{
    MainForm = this;
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Orvanta(おるばんた)"));
    setFont(PixelFont(WindowFontName, 12));
    SetColours(this, ButtonFace);
    setGeometry(59, 45, 963, 693);

    ClientArea = new TClientArea(this, [this] { LayoutClientArea(); });
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(ClientArea);

    TopPanel = MakePanel(ClientArea, "TopPanel", QRect(0, 0, 963, 41));
    CreateInputPanel();
    CreateKabuSearchPanel();
    CreateKabuPanel();
    CreateCodePanel();
    BottomPanel = MakePanel(ClientArea, "BottomPanel", QRect(0, 0, 963, 22));
    CreateTaytolPanel();
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
    ShijouBox->addItems({QStringLiteral("東証"), QStringLiteral("大証"), QStringLiteral("店頭"),
                         QStringLiteral("名証"), QStringLiteral("札証"), QStringLiteral("その他")});
    ShijouBox->installEventFilter(this);
    ShijouBox->view()->installEventFilter(this);

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
    KabuSearchButton = MakeButton(KabuSearchPanel, "KabuSearchButton", QRect(8, 8, 75, 29),
                                  QStringLiteral("一覧検索"), PixelFont(WindowFontName, 12, true));
    connect(KabuSearchButton, &QPushButton::clicked, this, &TMainForm::KabuSearchButtonClick);

    KabuSearchBox = new QComboBox(KabuSearchPanel);
    KabuSearchBox->setObjectName(QStringLiteral("KabuSearchBox"));
    KabuSearchBox->setGeometry(96, 10, 113, 21);
    KabuSearchBox->setFont(PixelFont(WindowFontName, 13));
    for (const std::string_view item : SectorSelectorItems)
        KabuSearchBox->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
    KabuSearchBox->setMaxVisibleItems(20);
    KabuSearchBox->installEventFilter(this);
    KabuSearchBox->view()->installEventFilter(this);

    HitPutGroupBox = new QGroupBox(QStringLiteral("検索条件"), KabuSearchPanel);
    HitPutGroupBox->setObjectName(QStringLiteral("HitPutGroupBox"));
    HitPutGroupBox->setGeometry(345, 4, 577, 33);
    HitPutGroupBox->setFont(PixelFont(WindowFontName, 12, true));
    HitPutCheck = MakeCheck(HitPutGroupBox, "HitPutCheck", QRect(6, 14, 129, 17), QStringLiteral("条件一致のみ表示"));
    RSI30Check = MakeCheck(HitPutGroupBox, "RSI30Check", QRect(174, 14, 99, 17), QStringLiteral("RSI 30%以下"));
    RSI30Check->hide();
    UnderKabuCheck = MakeCheck(HitPutGroupBox, "UnderKabuCheck", QRect(302, 14, 171, 17),
                               QStringLiteral("10万円以内の低位株のみ"));
}

void TMainForm::CreateKabuPanel()
{
    KabuPanel = MakePanel(ClientArea, "KabuPanel", QRect(0, 41, 929, 448));
    StaticText6 = MakeLabel(KabuPanel, "StaticText6", QRect(0, 0, 929, 16), QStringLiteral("個別 株価ボードダイアログ"),
                            Qt::AlignCenter, Qt::white, Navy);
    CloseKabuButton = MakeButton(KabuPanel, "CloseKabuButton", QRect(864, 2, 50, 15), QStringLiteral("Close"),
                                 PixelFont(UiFontName, 12));
    connect(CloseKabuButton, &QPushButton::clicked, this, &TMainForm::CloseKabuButtonClick);

    KabuKaPanel = MakePanel(KabuPanel, "KabuKaPanel", QRect(0, 18, 185, 179), Qt::black);
    struct BoardRow
    {
        int Top;
        const char* CaptionName;
        const char* Caption;
        const char* ValueName;
        QLabel** Caption_;
        QLabel** Value;
    };
    const BoardRow rows[] = {
        {16, "Label6", "銘＿柄", "LabelKabuNo", &Label6, &LabelKabuNo},
        {32, "Label7", "現在値", "LabelKabuKa", &Label7, &LabelKabuKa},
        {56, "Label8", "前日比", "Label1", &Label8, &Label1},
        {72, "Label9", "始＿値", "Label2", &Label9, &Label2},
        {88, "Label10", "高＿値", "Label3", &Label10, &Label3},
        {104, "Label11", "安＿値", "Label4", &Label11, &Label4},
        {120, "Label12", "出来高", "Label5", &Label12, &Label5},
        {136, "Label17", "単元株数", "LabelTani", &Label17, &LabelTani},
    };
    for (const BoardRow& row : rows)
    {
        const bool isUnit = row.Caption_ == &Label17;
        *row.Caption_ = MakeLabel(KabuKaPanel, row.CaptionName, QRect(8, row.Top, 50, 12),
                                  QString::fromUtf8(row.Caption), Qt::AlignHCenter | Qt::AlignVCenter,
                                  isUnit ? QColor(128, 128, 128) : QColor(255, 255, 0), BoardGray);
        const bool isName = row.Value == &LabelKabuNo;
        *row.Value = MakeLabel(KabuKaPanel, row.ValueName, isName ? QRect(60, row.Top, 119, 12) : QRect(72, row.Top, 98, 12),
                               QString(), (isName ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                               QColor(255, 0, 0), BoardGray);
    }
    LabelTani->hide();
    LabelTime = MakeLabel(KabuKaPanel, "LabelTime", QRect(8, 160, 98, 12), QStringLiteral(" ---------- --:-- "),
                          Qt::AlignCenter, QColor(255, 0, 0), BoardGray);

    LinePanel = MakePanel(KabuPanel, "LinePanel", QRect(0, 202, 185, 42), Qt::black);
    Label13 = MakeLabel(LinePanel, "Label13", QRect(16, 8, 52, 12), QStringLiteral("　７週平均"),
                        Qt::AlignLeft | Qt::AlignVCenter, QColor(255, 255, 0), BoardGray);
    LabelKaikaShort = MakeLabel(LinePanel, "LabelKaikaShort", QRect(80, 8, 73, 12), QStringLiteral("0円"),
                                Qt::AlignRight | Qt::AlignVCenter, QColor(255, 255, 0), BoardGray);
    Label14 = MakeLabel(LinePanel, "Label14", QRect(16, 24, 52, 12), QStringLiteral("１３週平均"),
                        Qt::AlignLeft | Qt::AlignVCenter, QColor(0, 255, 255), BoardGray);
    LabelKaikaLong = MakeLabel(LinePanel, "LabelKaikaLong", QRect(80, 24, 73, 12), QStringLiteral("0円"),
                               Qt::AlignRight | Qt::AlignVCenter, QColor(0, 255, 255), BoardGray);
    // IPA P Gothic is wider than the layout's face: "　７週平均" lost its last character. Both
    // captions, weekly or daily, get one narrower stretch of the face that fits them all.
    QFont legendFont = Label13->font();
    int legendStretch = 100;
    for (const QString& caption : {QStringLiteral("　７週平均"), QStringLiteral("１３週平均"),
                                   QStringLiteral("　７日平均"), QStringLiteral("１３日平均")})
        legendStretch = std::min(legendStretch, FittingStretch(legendFont, caption, Label13->width() - 1));
    legendFont.setStretch(legendStretch);
    Label13->setFont(legendFont);
    Label14->setFont(legendFont);

    MessagePanel = MakePanel(KabuPanel, "MessagePanel", QRect(0, 356, 185, 91), Qt::black);
    MessageLabel = MakeLabel(MessagePanel, "MessageLabel", QRect(16, 16, 153, 65), QStringLiteral("買いです。"),
                             Qt::AlignCenter, Qt::black, BoardGray);
    MessageLabel->setFont(PixelFont(WindowFontName, 24, true));

    ChartPanel = MakePanel(KabuPanel, "ChartPanel", QRect(185, 18, 648, 429), ChartGray);
    ImageChart = new TImageSurface(ChartPanel, 633, 225);
    ImageChart->setObjectName(QStringLiteral("ImageChart"));
    ImageChart->move(8, 8);
    ImageChart->setMouseTracking(true);
    connect(ImageChart, &TImageSurface::MouseMoved, this, &TMainForm::ImageChartMouseMove);
    ImageDekidaka = new TImageSurface(ChartPanel, 633, 73);
    ImageDekidaka->setObjectName(QStringLiteral("ImageDekidaka"));
    ImageDekidaka->move(8, 232);
    ImageRSI = new TImageSurface(ChartPanel, 633, 121);
    ImageRSI->setObjectName(QStringLiteral("ImageRSI"));
    ImageRSI->move(8, 304);
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

    KabuCodeList = new QTreeWidget(CodePanel);
    KabuCodeList->setObjectName(QStringLiteral("KabuCodeList"));
    KabuCodeList->setHeader(new TListHeader(KabuCodeList));
    KabuCodeList->setRootIsDecorated(false);
    KabuCodeList->setUniformRowHeights(true);
    KabuCodeList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    KabuCodeList->setSelectionBehavior(QAbstractItemView::SelectRows);
    KabuCodeList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    KabuCodeList->setFont(PixelFont(WindowFontName, 12));
    // Colours by palette and grid lines by a delegate: a style sheet would make every
    // repaint of a long result list go through the slow style-sheet path.
    QPalette listPalette = KabuCodeList->palette();
    listPalette.setColor(QPalette::Base, Qt::black);
    listPalette.setColor(QPalette::Text, QColor(255, 255, 0));
    KabuCodeList->setPalette(listPalette);
    KabuCodeList->setItemDelegate(new TGridDelegate(KabuCodeList));
    KabuCodeList->setColumnCount(21);
    QTreeWidgetItem* header = KabuCodeList->headerItem();
    for (int column = 0; column < 21; ++column)
    {
        header->setText(column, QString::fromUtf8(ListColumns[column][0]));
        const char align = ListColumns[column][2][0];
        header->setTextAlignment(column, (align == 'l' ? Qt::AlignLeft : align == 'r' ? Qt::AlignRight : Qt::AlignHCenter) |
                                             Qt::AlignVCenter);
    }
    KabuCodeList->header()->setMinimumSectionSize(0);
    KabuCodeList->header()->setSectionsClickable(true);
    KabuCodeList->header()->setStretchLastSection(false);
    for (int column = 0; column < 21; ++column)
        KabuCodeList->setColumnWidth(column, QByteArray(ListColumns[column][1]).toInt());

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

    StaticText2 = MakeLabel(TaytolPanel, "StaticText2", QRect(36, 21, 249, 20), QStringLiteral("Quillon Soft. presents"),
                            Qt::AlignCenter, QColor(0, 0, 255), ButtonFace);
    StaticText2->setFont(PixelFont(QStringLiteral("Arial"), 15, true));
    StaticText2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText3 = MakeLabel(TaytolPanel, "StaticText3", QRect(520, 125, 81, 20), QString(), Qt::AlignCenter,
                            QColor(0, 0, 255), ButtonFace);
    StaticText3->setFont(PixelFont(PopFontName, 16, true));
    StaticText3->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    MessagePanel1 = MakePanel(TaytolPanel, "MessagePanel1", QRect(0, pictureHeight, 670, 77), Qt::white);
    Label18 = MakeLabel(MessagePanel1, "Label18", QRect(16, 16, 640, 14),
                        QStringLiteral("本ソフトの株価一覧ダイアログが表示する購入値と売却値は、推奨指示を行った週の最終価格で購入して売却した場合の"),
                        Qt::AlignLeft | Qt::AlignVCenter, Qt::black, std::nullopt);
    Label19 = MakeLabel(MessagePanel1, "Label19", QRect(32, 32, 630, 14),
                        QStringLiteral("参考値で表示しています。　よって週内での変動要素が織り込まれていない結果情報ですので過去の参考データとして"),
                        Qt::AlignLeft | Qt::AlignVCenter, Qt::black, std::nullopt);
    Label20 = MakeLabel(MessagePanel1, "Label20", QRect(32, 48, 300, 14),
                        QStringLiteral("ご理解いただけますようにお願い申し上げます。"), Qt::AlignLeft | Qt::AlignVCenter,
                        Qt::black, std::nullopt);
    OKMessageButton = MakeButton(MessagePanel1, "OKMessageButton", QRect(336, 48, 297, 25), QStringLiteral("了承する。"),
                                 PixelFont(WindowFontName, 12));
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
    KabukaChartWin = Window1->addAction(QStringLiteral("株価チャートウインドウ表示"), this, &TMainForm::KabukaChartWinClick);
    KabukaChartWin->setObjectName(QStringLiteral("KabukaChartWin"));
    KabukaSearchWin = Window1->addAction(QStringLiteral("株価一覧検索ウインドウ表示"), this, &TMainForm::KabukaSearchWinClick);
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
    if (auto* application = dynamic_cast<TOrvantaApplication*>(QCoreApplication::instance()))
        application->OnException = [this](const std::exception_ptr& error) { AppException(error); };
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
    ShowMessage({ApplicationTitle(),
                 QStringLiteral("インターネット データ エラー\n理由：株価データフォーマットが変更されたことによるエラーです。"),
                 QMessageBox::NoIcon});
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
    if (MessageBoxHook)
    {
        MessageBoxHook(request);
        return;
    }
    QMessageBox box(request.Icon, request.Caption, request.Text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
    if (OpenUrlHook)
        OpenUrlHook(HomePageAddress);
    else
        QDesktopServices::openUrl(QUrl(HomePageAddress));
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
    if (FetchAhead)
        FetchAhead->Stop();
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
    // The market and sector are chosen from the drop-down list with the mouse only: no key
    // stroke and no wheel turn changes either box, so neither can hold a text that is not one
    // of its items. Tab and Backtab still move the focus on, as they would before any box saw
    // them, so a keyboard user is not trapped in a box.
    const bool box = watched == ShijouBox || watched == KabuSearchBox;
    const bool popup = watched == ShijouBox->view() || watched == KabuSearchBox->view();
    if (box || popup)
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
        {
            const auto* key = static_cast<const QKeyEvent*>(event);
            const bool focusKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
            return !(box && focusKey);
        }
        if (event->type() == QEvent::Wheel)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::RunCommand(std::initializer_list<QWidget*> controls, const std::function<void()>& body)
{
    std::exception_ptr error;
    {
        // Disabled for the whole command, enabled again on every way out, before any error box.
        struct TCommandGuard
        {
            std::vector<QWidget*> Controls;
            ~TCommandGuard()
            {
                for (QWidget* control : Controls)
                    control->setEnabled(true);
            }
        } guard{std::vector<QWidget*>(controls)};
        for (QWidget* control : guard.Controls)
            control->setEnabled(false);
        try
        {
            body();
        }
        catch (...)
        {
            error = std::current_exception();
        }
    }
    // A fetch into the service and a screening run never go at once.
    if (DataUpdateRunning())
        KabuSearchButton->setEnabled(false);
    if (error)
        AppException(error);
}

void TMainForm::KabuNoButtonClick()
{
    RunCommand({KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek, KabuSearchBox, KabuSearchButton},
               [this] {
                   const QString code = KabuNoEdit->text();
                   const TCodeCheck check = CheckKabuCode(code, true);
                   if (check != TCodeCheck::Ok)
                   {
                       ShowInformation(CodeCheckMessage(check));
                       return;
                   }
                   const std::string key = MakeKabuKey(code, ShijouBox->currentIndex());
                   if (!GetKabuKa(key))
                   {
                       ShowInformation(QStringLiteral("データがありません。"));
                       return;
                   }
                   RefreshChart(key);
               });
}

void TMainForm::ChartLengDayClick()
{
    if (InputPanel->isHidden())
        return;
    RunCommand({KabuNoButton, KabuNoEdit, ShijouBox, ChartLengDay, ChartLengWeek}, [this] {
        const QString code = KabuNoEdit->text();
        const TCodeCheck check = CheckKabuCode(code, false);
        if (check != TCodeCheck::Ok)
        {
            ShowInformation(CodeCheckMessage(check));
            return;
        }
        RefreshChart(MakeKabuKey(code, ShijouBox->currentIndex()));
    });
}

int TMainForm::RefreshChart(const std::string& key)
{
    const auto legendValue = [](int average) {
        return QString::fromStdString(FormatD(average, 7, 0)) + QStringLiteral("円");
    };
    // The verdict speaks of the stock on show: a scan without a signal must not leave the
    // colour of the previous stock's signal.
    SetVerdictColour(QColor(0, 0, 0));
    int signalResult = 0;
    GetChartData(key);
    DrawChartData();
    if (ChartLengWeek->isChecked())
    {
        const int shortAverage = CalcAverageRsi(TAverageInstance::ShortWeek);
        Label13->setText(QStringLiteral("　７週平均"));
        LabelKaikaShort->setText(legendValue(shortAverage));
        const int longAverage = CalcAverageRsi(TAverageInstance::LongWeek);
        Label14->setText(QStringLiteral("１３週平均"));
        LabelKaikaLong->setText(legendValue(longAverage));
        signalResult = FindBuySignals(true);
    }
    else if (ChartLengDay->isChecked())
    {
        const int shortAverage = CalcAverageRsi(TAverageInstance::ShortDay);
        Label13->setText(QStringLiteral("　７日平均"));
        LabelKaikaShort->setText(legendValue(shortAverage));
        const int longAverage = CalcAverageRsi(TAverageInstance::LongDay);
        Label14->setText(QStringLiteral("１３日平均"));
        LabelKaikaLong->setText(legendValue(longAverage));
        signalResult = FindBuySignals(false);
    }
    DrawDekidakaData();
    ImageChart->Present();
    ImageRSI->Present();
    ImageDekidaka->Present();
    ChartDrawn = true;
    UpdateReportActions();
    return signalResult;
}

namespace {

void ProcessEvents()
{
    QCoreApplication::processEvents();
}

void SetBoardText(QLabel* label, const std::string& shiftJis)
{
    label->setText(QString::fromStdString(Cp932ToUtf8(shiftJis)));
}

} // namespace

bool TMainForm::GetKabuKa(const std::string& key)
{
    const TQuoteRead read = ReadKabuQuote(key, ProcessEvents, [this] { return IsClosing(); }, FetchAhead.get());
    QuoteMiss = read.Miss;
    QuotePageBytes = read.PageBytes;
    if (!read.Quote)
        return false;
    KabuQuote = *read.Quote;
    ShowKabuQuote();
    ProcessEvents();
    return true;
}

void TMainForm::ShowKabuQuote()
{
    const TKabuBoardTexts board = KabuBoardTexts(KabuQuote);
    SetBoardText(LabelKabuNo, board.LabelKabuNo);
    QPalette palette = LabelKabuNo->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    LabelKabuNo->setPalette(palette);
    SetBoardText(LabelKabuKa, board.LabelKabuKa);
    SetBoardText(Label1, board.Label1);
    SetBoardText(Label2, board.Label2);
    SetBoardText(Label3, board.Label3);
    SetBoardText(Label4, board.Label4);
    SetBoardText(Label5, board.Label5);
    SetBoardText(LabelTani, board.LabelTani);
    SetBoardText(LabelTime, board.LabelTime);
}

void TMainForm::GetChartData(const std::string& key)
{
    // Readers running while the page loads see an empty table, never a half-copied one.
    ClearChartDates(ChartBars);
    const TChartPeriod period = ChartLengDay->isChecked() ? TChartPeriod::Daily : TChartPeriod::Weekly;
    const THistoryRows rows =
        LoadHistoryRows(key, period, KabuQuote.KabuKa, ProcessEvents, [this] { return IsClosing(); }, FetchAhead.get());
    if (CopyHistoryRows(rows, ChartBars))
        ChartCode = key;
}

TChartLength TMainForm::ChartLength() const
{
    return ChartLengDay->isChecked() ? TChartLength::Daily : TChartLength::Weekly;
}

void TMainForm::DrawChartData()
{
    // The pass clears both panes first.
    ImageChart->Restart();
    ImageRSI->Restart();
    QPainter chart(&ImageChart->Picture);
    QPainter rsi(&ImageRSI->Picture);
    ::DrawChartData(chart, rsi, ChartBars, ChartCode, ChartLength(), TDecimal{KabuQuote.KabuKa, 4}, ChartScale,
                    RsiScale, ProcessEvents, DefaultChartPalette());
}

int TMainForm::CalcAverageRsi(TAverageInstance instance)
{
    const int average = ::CalcAverageRsi(ChartBars, instance);
    QPainter chart(&ImageChart->Picture);
    QPainter rsi(&ImageRSI->Picture);
    DrawAverageRsiLines(chart, rsi, ChartBars, instance, ChartScale, RsiScale, DefaultChartPalette());
    return average;
}

int TMainForm::FindBuySignals(bool weekly)
{
    const TBuySignalScan scan =
        ::FindBuySignals(ChartBars, weekly ? TChartLength::Weekly : TChartLength::Daily, BuySignals);
    {
        QPainter chart(&ImageChart->Picture);
        DrawBuySignalMarkers(chart, ChartScale, scan.Markers, ProcessEvents, DefaultChartPalette());
    }
    if (scan.Verdict != TVerdictColour::Unchanged)
        SetVerdictColour(scan.Verdict == TVerdictColour::Yellow ? QColor(255, 255, 0) : QColor(0, 0, 0));
    return scan.Result;
}

void TMainForm::SetVerdictColour(const QColor& colour)
{
    QPalette palette = MessageLabel->palette();
    palette.setColor(QPalette::WindowText, colour);
    MessageLabel->setPalette(palette);
}

void TMainForm::DrawDekidakaData()
{
    ImageDekidaka->Restart(); // the pass clears the pane first
    QPainter dekidaka(&ImageDekidaka->Picture);
    ::DrawDekidakaData(dekidaka, ChartBars, ChartScale, ProcessEvents, DefaultChartPalette());
}

void TMainForm::ImageChartMouseMove(int x, int)
{
    const std::optional<TReadoutText> readout = ChartReadout(ChartBars, ChartScale, x, ChartLength());
    if (!readout)
        return;
    SetBoardText(LabelTime, readout->LabelTime);
    SetBoardText(Label1, readout->Label1);
    SetBoardText(Label2, readout->Label2);
    SetBoardText(Label3, readout->Label3);
    SetBoardText(Label4, readout->Label4);
    SetBoardText(Label5, readout->Label5);
    SetBoardText(LabelKabuKa, readout->LabelKabuKa);
    SetBoardText(LabelKaikaShort, readout->LabelKaikaShort);
    SetBoardText(LabelKaikaLong, readout->LabelKaikaLong);
}

void TMainForm::CMMouseLeave()
{
    // Before the first quote there is nothing to restore: the board stays empty rather than
    // showing the zeros of a quote never read.
    if (KabuQuote.KabuNo.empty())
        return;
    ShowKabuQuote();
}
