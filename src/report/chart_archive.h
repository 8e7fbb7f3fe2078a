#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QTemporaryFile>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// A chart as its panel shows it: pictures laid on a background, in stacking order.
struct TChartScene
{
    struct TLayer
    {
        QPoint At;
        QImage Picture;
    };
    QSize Size;
    QColor Background;
    std::vector<TLayer> Layers;
};

//! The scene as one opaque picture, drawn on `canvas` when that has the scene's size and
//! is RGB32.
QImage ComposeChart(const TChartScene& scene, QImage canvas = {});

// The charts of a screening run as PNG bytes (about 10 KB each). They are composed and
// encoded on a worker thread: the run hands over a scene and goes on with the next stock
// instead of waiting for the compression, which costs more than drawing the chart. The bytes
// are kept in a temporary file, not in memory, so a whole-market run's memory does not grow
// with its charts.
class TChartArchive
{
public:
    TChartArchive();
    ~TChartArchive();
    TChartArchive(const TChartArchive&) = delete;
    TChartArchive& operator=(const TChartArchive&) = delete;

    //! Drops every chart, those still waiting too; numbers start again at 0.
    void Clear();

    //! Queues `scene` and returns its number. Its pictures are shared, not copied: whoever
    //! draws on one next gets pixels of its own, as a QImage detaches on writing. Waits while
    //! MaxWaiting scenes wait, so the charts not yet encoded never take much memory.
    int Add(TChartScene scene);

    //! The PNG bytes of chart `number`, waiting for its encoding; empty for a number not
    //! given out since the last Clear, or a chart that could not be encoded.
    QByteArray Png(int number) const;

    static constexpr std::size_t MaxWaiting = 8;

private:
    // Where a chart's bytes lie in Store.
    struct TPlace
    {
        qint64 Offset = 0;
        qint64 Size = 0;
    };

    void Work();
    //! Appends `png` to Store, under Mutex; a place of no size when it cannot.
    TPlace StoreBytes(const QByteArray& png);

    mutable std::mutex Mutex;
    mutable std::condition_variable Changed;
    std::deque<std::pair<int, TChartScene>> Waiting;
    std::vector<std::optional<TPlace>> Encoded; // by number; empty until encoded
    mutable QTemporaryFile Store;                // opened on first use
    qint64 StoreEnd = 0;
    unsigned Generation = 0; // counts the Clears, so a chart encoded across one is dropped
    bool Stopping = false;
    std::thread Worker;
};
