#include "report/chart_archive.h"

#include "report/report_files.h"

#include <QPainter>

QImage ComposeChart(const TChartScene& scene, QImage canvas)
{
    if (canvas.size() != scene.Size || canvas.format() != QImage::Format_RGB32)
        canvas = QImage(scene.Size, QImage::Format_RGB32);
    canvas.fill(scene.Background);
    QPainter painter(&canvas);
    for (const TChartScene::TLayer& layer : scene.Layers)
        painter.drawImage(layer.At, layer.Picture);
    return canvas;
}

TChartArchive::TChartArchive() : Worker([this] { Work(); }) {}

TChartArchive::~TChartArchive()
{
    {
        const std::lock_guard lock(Mutex);
        Stopping = true;
    }
    Changed.notify_all();
    Worker.join();
}

void TChartArchive::Clear()
{
    {
        const std::lock_guard lock(Mutex);
        ++Generation;
        Waiting.clear();
        Encoded.clear();
        if (Store.isOpen())
            Store.resize(0);
        StoreEnd = 0;
    }
    Changed.notify_all();
}

int TChartArchive::Add(TChartScene scene)
{
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [this] { return Waiting.size() < MaxWaiting; });
    const int number = static_cast<int>(Encoded.size());
    Encoded.emplace_back();
    Waiting.emplace_back(number, std::move(scene));
    lock.unlock();
    Changed.notify_all();
    return number;
}

QByteArray TChartArchive::Png(int number) const
{
    std::unique_lock lock(Mutex);
    if (number < 0 || static_cast<std::size_t>(number) >= Encoded.size())
        return {};
    const auto index = static_cast<std::size_t>(number);
    Changed.wait(lock, [&] { return Encoded[index].has_value(); });
    const TPlace place = *Encoded[index];
    QByteArray png;
    if (place.Size > 0 && Store.seek(place.Offset))
    {
        png = Store.read(place.Size);
        if (png.size() != place.Size)
            png.clear();
    }
    return png;
}

void TChartArchive::Work()
{
    QImage canvas; // the worker's own, drawn again for every chart
    std::unique_lock lock(Mutex);
    for (;;)
    {
        Changed.wait(lock, [this] { return Stopping || !Waiting.empty(); });
        if (Stopping)
            return;
        auto [number, scene] = std::move(Waiting.front());
        Waiting.pop_front();
        const unsigned generation = Generation;
        lock.unlock();
        Changed.notify_all(); // a place in the queue is free
        QByteArray png;
        try
        {
            canvas = ComposeChart(scene, std::move(canvas));
            png = PngBytes(canvas);
        }
        catch (const TReportError&)
        {
            // The report then shows the row without its chart.
        }
        lock.lock();
        if (generation == Generation)
            Encoded[static_cast<std::size_t>(number)] = StoreBytes(png);
        Changed.notify_all();
    }
}

TChartArchive::TPlace TChartArchive::StoreBytes(const QByteArray& png)
{
    if (png.isEmpty() || (!Store.isOpen() && !Store.open()) || !Store.seek(StoreEnd) ||
        Store.write(png) != png.size())
        return {};
    const TPlace place{StoreEnd, png.size()};
    StoreEnd += png.size();
    return place;
}
