#include "BenchScene.h"

#include "Lf2dWriter.h"

#include <QCommandLineParser>
#include <QTemporaryDir>

QList<QCommandLineOption> sceneCommandLineOptions()
{
    return {
        {QStringLiteral("size"),
         QStringLiteral("warp, hdr, estimate: view width and height (default 256 for warp, 512 "
                        "for hdr and estimate)."),
         QStringLiteral("N")},
        {QStringLiteral("scene"),
         QStringLiteral("warp, estimate: layers (the default) or clutter, the harder scene of "
                        "lf2d synth --scene clutter; estimate runs both unless given one."),
         QStringLiteral("NAME"), QStringLiteral("layers")},
        {QStringLiteral("grid"), QStringLiteral("warp, hdr: views per row and column (default 9)."),
         QStringLiteral("N"), QStringLiteral("9")},
    };
}

synth::SceneOptions sceneFromOptions(const QCommandLineParser &options, int defaultSize,
                                     SceneChoice choice)
{
    synth::SceneOptions sceneOptions;
    if (choice == SceneChoice::LayersOrClutter
        && options.value(QStringLiteral("scene")) == QLatin1String("clutter")) {
        sceneOptions.scene = synth::SceneKind::Clutter;
        sceneOptions.maxDisparity = 24;
    }
    sceneOptions.columns = sceneOptions.rows = options.value(QStringLiteral("grid")).toInt();
    sceneOptions.width = sceneOptions.height = options.isSet(QStringLiteral("size"))
        ? options.value(QStringLiteral("size")).toInt()
        : defaultSize;
    return sceneOptions;
}

HdrFiles writeHdrFiles(const QTemporaryDir &directory, const synth::SceneOptions &base)
{
    auto write = [&](const char *name, bool hdr, bool disparity) {
        synth::SceneOptions sceneOptions = base;
        sceneOptions.hdr = hdr;
        sceneOptions.disparity = disparity;
        const QString path = directory.filePath(QString::fromLatin1(name));
        synth::writeLightfield(synth::SyntheticScene(sceneOptions), path.toStdString());
        return path;
    };
    return {write("rgbe.lf2d", true, true), write("rgbe-flat.lf2d", true, false),
            write("ldr.lf2d", false, true), write("ldr-flat.lf2d", false, false)};
}
