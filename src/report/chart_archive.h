#pragma once

#include <QByteArray>
#include <QImage>
#include <QTemporaryFile>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// The charts of a screening run as PNG bytes (about 10 KB each). They are encoded on a worker
// thread: the run hands over a picture and goes on with the next stock instead of waiting for
// the compression, which costs more than drawing the chart. The bytes are kept in a temporary
// file, not in memory, so a whole-market run's memory does not grow with its charts.
class TChartArchive
{
public:
    TChartArchive();
    ~TChartArchive();
    TChartArchive(const TChartArchive&) = delete;
    TChartArchive& operator=(const TChartArchive&) = delete;

    //! Drops every chart, those still waiting too; numbers start again at 0.
    void Clear();

    //! Queues `image` and returns its number. Waits while MaxWaiting pictures wait, so the
    //! pictures not yet encoded never take much memory.
    int Add(QImage image);

    //! The PNG bytes of chart `number`, waiting for its encoding; empty for a number not
    //! given out since the last Clear, or a picture that could not be encoded.
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
    std::deque<std::pair<int, QImage>> Waiting;
    std::vector<std::optional<TPlace>> Encoded; // by number; empty until encoded
    mutable QTemporaryFile Store;                // opened on first use
    qint64 StoreEnd = 0;
    unsigned Generation = 0; // counts the Clears, so a picture encoded across one is dropped
    bool Stopping = false;
    std::thread Worker;
};
