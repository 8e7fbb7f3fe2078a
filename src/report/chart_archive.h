#pragma once

#include <QByteArray>
#include <QImage>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// The charts of a screening run as PNG bytes (a few KB each, so thousands stay small). They
// are encoded on a worker thread: the run hands over a picture and goes on with the next
// stock instead of waiting for the compression, which costs more than drawing the chart.
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
    void Work();

    mutable std::mutex Mutex;
    mutable std::condition_variable Changed;
    std::deque<std::pair<int, QImage>> Waiting;
    std::vector<std::optional<QByteArray>> Encoded; // by number; empty until encoded
    unsigned Generation = 0; // counts the Clears, so a picture encoded across one is dropped
    bool Stopping = false;
    std::thread Worker;
};
