// lfbench idle: the CPU a viewer window takes without input and while dragged.

#include "BenchSupport.h"
#include "Benchmarks.h"
#include "lightfield/LightfieldReader.h"
#include "viewer/FatalError.h"
#include "viewer/LightfieldRenderer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

namespace {

// Runs the event loop for the given seconds while `during` is called every `interval` ms, and
// prints the CPU the process took meanwhile, in cores.
void printCpuOver(const char *what, double seconds, const LightfieldRenderer &window,
                  int interval = 0, const std::function<void()> &during = {})
{
    QTimer ticks;
    if (during) {
        QObject::connect(&ticks, &QTimer::timeout, during);
        ticks.start(interval);
    }
    const int framesBefore = window.framesShown();
    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    ticks.stop();
    const double elapsed = wall.nsecsElapsed() * 1e-9;
    const double cpu = processCpuSeconds() - cpuBefore;
    std::printf("%-16s %5.1f s: %6.3f cores (%.2f s of CPU), %d frames\n", what, elapsed,
                cpu / elapsed, cpu, window.framesShown() - framesBefore);
}

void sendMouse(QWindow &window, QEvent::Type type, QPointF position, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, position, window.mapToGlobal(position.toPoint()), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
}

// The viewer's window on a file, on the display: what the process costs while nobody touches
// it, and while a left-button drag goes round and round.
int runIdle(const QCommandLineParser &options)
{
    const std::optional<ProgramOnFile> program = programOnFile(options);
    if (!program)
        return 2;
    const BuildConfiguration *configuration = program->configuration;
    const QString &file = program->file;
    setActiveBuildConfiguration(*configuration);
    setFatalErrorHandler([](const QString &message) {
        std::fprintf(stderr, "lfbench idle: %s\n", qPrintable(message));
        std::exit(1);
    });

    LightfieldRenderer window(QUrl::fromLocalFile(file));
    window.show();
    // The title says the light field is loading until the first picture is shown.
    QElapsedTimer loading;
    loading.start();
    while (!(window.isInitialised() && window.title().isEmpty())) {
        if (loading.elapsed() > 600000) {
            std::fprintf(stderr, "lfbench idle: no picture after 10 minutes\n");
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const LightfieldReader &reader = *window.reader();
    std::printf("%s on %s: %s, loaded in %.1f s\n", configuration->name.c_str(), qPrintable(file),
                lightfieldSummary(reader).constData(), loading.elapsed() / 1000.0);
    // A picture that still adapts after the load has a moment to settle.
    printCpuOver("settling", 2.0, window);
    printCpuOver("without input", 10.0, window);

    // A hand dragging in circles of 60 pixels, a mouse event every 10 ms: the camera goes back
    // and forth over about six views each way without stopping.
    const QPointF centre(window.width() / 2.0, window.height() / 2.0);
    const double radius = 60.0;
    QElapsedTimer drag;
    sendMouse(window, QEvent::MouseMove, centre + QPointF(radius, 0.0), Qt::NoButton, Qt::NoButton);
    sendMouse(window, QEvent::MouseButtonPress, centre + QPointF(radius, 0.0), Qt::LeftButton,
              Qt::LeftButton);
    drag.start();
    printCpuOver("dragging", 10.0, window, 10, [&] {
        const double angle = 2.0 * M_PI * double(drag.elapsed()) / 2000.0;
        sendMouse(window, QEvent::MouseMove,
                  centre + radius * QPointF(std::cos(angle), std::sin(angle)), Qt::NoButton,
                  Qt::LeftButton);
    });
    sendMouse(window, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    printCpuOver("after the drag", 10.0, window);
    std::printf("goal without input: under 0.02 cores\n");
    return 0;
}

} // namespace

const Benchmark idleBenchmark = {
    "idle",
    "lfbench idle FILE: opens the viewer's window of one build configuration (--config) on "
    "a .lf2d file, on the display, and prints the CPU time the whole process takes, in "
    "cores, and the frames it draws: for 2 s after the first picture, over 10 s without "
    "input, over 10 s of a left-button drag going round in circles of 60 pixels (a mouse "
    "event every 10 ms), and over the 10 s after the drag.",
    nullptr,
    &runIdle,
};
