// Grabs the window as a user sees it after looking up one stock, for the README's picture:
//   window_shot OUT.png CODE [--workdir DIR] [--service URL]
// The options are the program's own; it runs offscreen, types the code and presses 表示.
//   window_shot --shrink FILE.png
// rewrites a picture with a palette of 256 colours, a third of the bytes in a repository.

#include "app/application.h"
#include "app/startup/command_line.h"
#include "app/window/chart_pane.h"
#include "app/window/main_form.h"
#include "app/startup/startup.h"

#include <QApplication>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>
#include <optional>

namespace {

constexpr int CaptionHeight = 24;

void Complain(const QString& text)
{
    std::fprintf(stderr, "window_shot: %s\n", text.toLocal8Bit().constData());
}

// An offscreen window has no frame; a plain caption strip carries the window's own title, as
// a desktop would show it.
QImage WithCaption(const QImage& window, const QString& title)
{
    QImage picture(window.width(), window.height() + CaptionHeight, QImage::Format_RGB32);
    picture.fill(QColor(60, 60, 60));
    QPainter painter(&picture);
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, window.width(), CaptionHeight), Qt::AlignCenter, title);
    painter.drawImage(0, CaptionHeight, window);
    return picture;
}

//! Writes the picture with its 256 most frequent colours, each pixel the nearest of them: the
//! window and the charts have few, so only the edges of smoothed text move a little.
bool SaveSmall(const QImage& picture, const QString& path)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, qint64> counts;
    for (int y = 0; y < rgb.height(); ++y)
    {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            ++counts[line[x]];
    }
    std::vector<std::pair<qint64, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        byCount.emplace_back(it.value(), it.key());
    std::sort(byCount.begin(), byCount.end(), std::greater<>());
    QList<QRgb> table;
    for (std::size_t i = 0; i < byCount.size() && i < 256; ++i)
        table.append(byCount[i].second);
    return rgb.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither).save(path);
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments = ArgumentList(argc, argv);
    if (arguments.size() == 3 && arguments[1] == QStringLiteral("--shrink"))
    {
        const QImage picture(arguments[2]);
        if (!picture.isNull() && SaveSmall(picture, arguments[2]))
            return 0;
        Complain(QStringLiteral("cannot rewrite %1").arg(arguments[2]));
        return 2;
    }
    if (arguments.size() < 3)
    {
        Complain(QStringLiteral("usage: window_shot OUT.png CODE [--workdir DIR] [--service URL]"));
        return 64;
    }
    const QString out = arguments.takeAt(1);
    const QString code = arguments.takeAt(1);
    const TCommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.Exit)
        return ReportEarlyExit(*commandLine.Exit);

    TOrvantaApplication application(argc, argv);
    std::optional<TStartup> startup;
    try
    {
        startup.emplace(commandLine, TStartupEnvironment::FromProcess(), [](const QString& warning) { Complain(warning); });
    }
    catch (const TStartupError& error)
    {
        Complain(error.Text());
        return 1;
    }

    TMainForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
    {
        Complain(QStringLiteral("the window never showed"));
        return 1;
    }
    form.OKMessageButton->click();
    // Nobody is there to close a message box offscreen: one that comes up is read and closed,
    // and the picture is not made.
    QString boxText;
    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, [&boxText] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        {
            boxText = box->text();
            box->reject();
        }
    });
    boxWatch.start(100);
    QTest::keyClicks(form.KabuNoEdit, code);
    form.KabuNoButton->click(); // runs the whole lookup before it returns
    boxWatch.stop();
    if (!boxText.isEmpty() || form.ChartPane->LabelKabuNo->text().isEmpty())
    {
        Complain(QStringLiteral("the lookup of %1 showed no quote: %2").arg(code, boxText));
        return 2;
    }
    if (!SaveSmall(WithCaption(form.grab().toImage(), form.windowTitle()), out))
    {
        Complain(QStringLiteral("cannot write %1").arg(out));
        return 2;
    }
    return 0;
}
