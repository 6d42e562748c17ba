#include "deliverables/BuildConfiguration.h"
#include "support/DrivenProgram.h"
#include "support/ToolRun.h"
#include "viewer/gpu/ShaderLibrary.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

namespace {

// Every file under the directory, by its path relative to it, sorted.
QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator iterator(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (iterator.hasNext())
        files << QDir(root).relativeFilePath(iterator.next());
    files.sort();
    return files;
}

// The desktop entry and the MIME type package, relative to the prefix.
const char desktopEntry[] = LF_DESKTOP_ENTRY_INSTALL_DIR "/lightfield-viewer.desktop";
const char mimePackage[] = LF_MIME_PACKAGE_INSTALL_DIR "/lightfield-viewer.xml";

// What an installation holds, relative to its prefix: the eleven programs and lf2d, every
// program's vertex and fragment shader, the desktop entry and the MIME type; no tool, test
// or benchmark.
QStringList expectedInstallation()
{
    const QString bin = QStringLiteral(LF_BIN_INSTALL_DIR "/");
    const QString shaders = QStringLiteral(LF_SHADER_INSTALL_DIR "/");
    QStringList files {bin + QStringLiteral("lf2d"), QString::fromLatin1(desktopEntry),
                       QString::fromLatin1(mimePackage)};
    for (const BuildConfiguration &configuration : buildConfigurations())
        files << bin + QString::fromStdString(configuration.name);
    for (const ShaderProgramFile &entry : shaderProgramFiles) {
        files << shaders + QString::fromLatin1(entry.vertexFile)
              << shaders + QString::fromLatin1(entry.fragmentFile);
    }
    files.removeDuplicates();
    files.sort();
    return files;
}

} // namespace

// The programs as a user gets them: installed with `cmake --install` under a prefix of their
// own, or unpacked from the Debian package into a tree that shares nothing with the build, and
// started from a directory that holds no shaders. Each program is driven through its windows with
// scripts/drive-viewer.sh, on a light field with disparity at a camera position between the
// stored views: only a program that found and linked its shaders shows the synthesised view
// there, and one that cannot must end with its message rather than show another picture.
class InstallTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_directory;
    QString m_prefix;
    QString m_elsewhere;
    QString m_lightfield;
    QImage m_exactView;
    QImage m_nearestView;

    // 3 × 3 views with disparity and 20 pixels of drag per view step. The camera starts a pixel
    // right of and below the first view; the drag takes it to (0.75, 0.25) in view steps, nearest
    // to the stored view (1, 0).
    static QStringList lightfieldOptions()
    {
        return {"synth", "--columns", "3", "--rows", "3", "--width", "192", "--height", "192"};
    }
    static QStringList drag() { return {"--drag", "14,4"}; }

    DrivenRun drive(const QString &program, const QString &workingDirectory, const QString &name,
                    const QStringList &options = drag())
    {
        return driveProgram(program, m_lightfield,
                            m_directory.filePath(QStringLiteral("runs/") + name), workingDirectory,
                            options);
    }

    void keepDirectory()
    {
        if (m_directory.autoRemove()) {
            m_directory.setAutoRemove(false);
            qWarning("The installed tree and the screenshots stay in %s",
                     qPrintable(m_directory.path()));
        }
    }

    // A run that ended normally and whose last screenshot is the view synthesised at the camera's
    // position: far closer to the exact view there than the nearest stored view is.
    void verifySynthesisedView(const DrivenRun &run)
    {
        QVERIFY2(run.status == 0, qPrintable(run.output));
        const QImage shown = loadPicture(run.directory + QStringLiteral("/view-1.png"));
        QCOMPARE(shown.size(), m_exactView.size());
        const double error = meanAbsoluteDifference(shown, m_exactView);
        const double nearestError = meanAbsoluteDifference(m_nearestView, m_exactView);
        qInfo("%s: %.2f levels from the exact view; the nearest stored view is %.2f levels from it",
              qPrintable(run.directory), error, nearestError);
        QVERIFY2(error < 0.25 * nearestError, qPrintable(run.output));
    }

    // A run that ended with the configuration-error path: status 1, the message on standard
    // error, the dialog on the screen.
    static void verifyFailure(const DrivenRun &run, const QString &message)
    {
        QVERIFY2(run.status == 1, qPrintable(run.output));
        QVERIFY2(run.stderrText.contains(message),
                 qPrintable(QStringLiteral("expected on stderr: %1\n%2").arg(message, run.output)));
        QVERIFY(QFile::exists(run.directory + QStringLiteral("/error-dialog.png")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_directory.isValid());
        if (qEnvironmentVariableIsSet("LF_KEEP_SCREENSHOTS"))
            keepDirectory();
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the programs need an X display");
        m_prefix = m_directory.filePath(QStringLiteral("prefix"));
        const ToolRun install =
            runTool(QStringLiteral(LF_CMAKE), {"--install", LF_BINARY_DIR, "--prefix", m_prefix});
        QVERIFY2(install.exitCode == 0, qPrintable(install.output + install.errors));
        QCOMPARE(filesUnder(m_prefix), expectedInstallation());

        m_elsewhere = m_directory.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(m_elsewhere));
        // The installed lf2d writes the light field and the views to compare with.
        m_lightfield = m_directory.filePath(QStringLiteral("layers.lf2d"));
        const QString exact = m_directory.filePath(QStringLiteral("exact.png"));
        const QString nearest = m_directory.filePath(QStringLiteral("nearest.png"));
        const ToolRun synth =
            runTool(m_prefix + QStringLiteral("/" LF_BIN_INSTALL_DIR "/lf2d"),
                    lightfieldOptions()
                        + QStringList {"--exact-view", "0.75,0.25=" + exact, "--exact-view",
                                       "1,0=" + nearest, m_lightfield});
        QVERIFY2(synth.exitCode == 0, qPrintable(synth.output + synth.errors));
        m_exactView = loadPicture(exact);
        m_nearestView = loadPicture(nearest);
        QVERIFY(!m_exactView.isNull() && !m_nearestView.isNull());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            keepDirectory();
    }

    void startedElsewhereShowsTheSynthesisedView_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("build tree") << QStringLiteral(LF_BINARY_DIR "/viewer-interp-reinhard05");
        QTest::newRow("installed tree")
            << m_prefix + QStringLiteral("/" LF_BIN_INSTALL_DIR "/viewer-interp-reinhard05");
    }

    void startedElsewhereShowsTheSynthesisedView()
    {
        QFETCH(QString, program);
        verifySynthesisedView(
            drive(program, m_elsewhere, QTest::currentDataTag() + QStringLiteral("-elsewhere")));
    }

    // A file manager opens light fields with the viewer: the desktop entry is valid and names the
    // MIME type that the installed package gives *.lf2d files, and its command, run as a file
    // manager runs it on a file, shows that file in the installed viewer.
    void desktopEntryOpensLightFields()
    {
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(),
                 "desktop-file-validate is missing (package "
                 "desktop-file-utils, which scripts/setup.sh installs)");
        const QString entry = m_prefix + '/' + desktopEntry;
        const ToolRun validated = runTool(validator, {entry});
        QVERIFY2(validated.exitCode == 0 && (validated.output + validated.errors).isEmpty(),
                 qPrintable(validated.output + validated.errors));

        // A MIME database of the installed package alone.
        const QString database = m_directory.filePath(QStringLiteral("mime"));
        QVERIFY(QDir().mkpath(database + QStringLiteral("/packages")));
        QVERIFY(QFile::copy(m_prefix + '/' + mimePackage,
                            database + QStringLiteral("/packages/lightfield-viewer.xml")));
        const ToolRun update = runTool(QStringLiteral("update-mime-database"), {database});
        QVERIFY2(update.exitCode == 0, qPrintable(update.output + update.errors));
        QFile globs(database + QStringLiteral("/globs2"));
        QVERIFY(globs.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch glob =
            QRegularExpression(QStringLiteral("^\\d+:([^:]+):\\*\\.lf2d$"),
                               QRegularExpression::MultilineOption)
                .match(QString::fromUtf8(globs.readAll()));
        QVERIFY2(glob.hasMatch(), "no MIME type for *.lf2d");
        const QString type = glob.captured(1);

        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QMap<QString, QString> keys;
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n'))
            keys.insert(line.section('=', 0, 0), line.section('=', 1));
        QVERIFY2(keys.value(QStringLiteral("MimeType")).split(';').contains(type),
                 qPrintable(keys.value(QStringLiteral("MimeType"))));
        // The command is the program and the file; the program found where the install put it,
        // on the user's path.
        const QStringList command = keys.value(QStringLiteral("Exec")).split(' ');
        QCOMPARE(command.size(), 2);
        QCOMPARE(command[1], QStringLiteral("%f"));
        const QString program = QStandardPaths::findExecutable(
            command[0], {m_prefix + QStringLiteral("/" LF_BIN_INSTALL_DIR)});
        QVERIFY2(!program.isEmpty(), qPrintable(command[0]));
        verifySynthesisedView(drive(program, m_elsewhere, QStringLiteral("desktop-entry"),
                                    QStringList {QStringLiteral("--open-directly")} + drag()));
    }

    void missingShaderEndsWithItsMessage()
    {
        const QString installed = m_prefix + QStringLiteral("/" LF_SHADER_INSTALL_DIR);
        const QString shader = installed + QStringLiteral("/simpleWarp.frag");
        const QString away = m_directory.filePath(QStringLiteral("simpleWarp.frag"));
        QVERIFY(QFile::rename(shader, away));
        const auto restore = qScopeGuard([&] { QFile::rename(away, shader); });
        const DrivenRun run =
            drive(m_prefix + QStringLiteral("/" LF_BIN_INSTALL_DIR "/viewer-curve"), m_elsewhere,
                  QStringLiteral("missing"), {QStringLiteral("--expect-error")});
        verifyFailure(run,
                      QStringLiteral("The shader file \"simpleWarp.frag\" of the viewer cannot be "
                                     "found in %1/shaders, %2/" LF_BIN_INSTALL_DIR
                                     "/shaders or %3\n")
                          .arg(m_elsewhere, m_prefix, installed));
    }

    void brokenShaderEndsWithItsLog()
    {
        // The working directory's shaders win over the installed ones, broken or not.
        const QString working = m_directory.filePath(QStringLiteral("working"));
        QVERIFY(QDir().mkpath(working + QStringLiteral("/shaders")));
        const QString broken = working + QStringLiteral("/shaders/simpleWarp.frag");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#version 330 compatibility\n"
                   "layout(location = 0) out vec4 colour;\n"
                   "void main() { colour = undeclaredColour; }\n");
        file.close();
        const DrivenRun run =
            drive(m_prefix + QStringLiteral("/" LF_BIN_INSTALL_DIR "/viewer-curve"), working,
                  QStringLiteral("broken"), {QStringLiteral("--expect-error")});
        verifyFailure(run,
                      QStringLiteral("The shader file \"%1\" does not compile:\n").arg(broken));
        QVERIFY2(run.stderrText.contains(QStringLiteral("undeclaredColour")),
                 qPrintable(run.stderrText));
    }

    // Packs the build with CPack, checks the package's name, contents and dependencies, and
    // runs its lf2d and a program from a tree where nothing but the package was unpacked.
    void packageInstallsWorkingPrograms()
    {
        const QString packages = m_directory.filePath(QStringLiteral("packages"));
        const ToolRun pack =
            runTool(QStringLiteral(LF_CPACK),
                    {"--config", LF_BINARY_DIR "/CPackConfig.cmake", "-B", packages},
                    // Sanitized programs are large, and dpkg-shlibdeps reads them all.
                    300);
        QVERIFY2(pack.exitCode == 0, qPrintable(pack.output + pack.errors));
        const QStringList built = QDir(packages).entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(built.size(), 1);
        QVERIFY2(
            QRegularExpression(QStringLiteral("^lightfield-viewer_[0-9][0-9.]*_[a-z0-9]+\\.deb$"))
                .match(built[0])
                .hasMatch(),
            qPrintable(built[0]));
        const QString package = packages + '/' + built[0];

        const ToolRun depends = runTool(QStringLiteral("dpkg-deb"), {"-f", package, "Depends"});
        QCOMPARE(depends.exitCode, 0);
        qInfo("Depends: %s", qPrintable(depends.output.trimmed()));
        QStringList names;
        for (const QString &alternatives : depends.output.split(','))
            names << alternatives.trimmed().section(' ', 0, 0);
        for (const char *needed : {"libgl1-mesa-dri", "libqt5gui5", "libqt5widgets5",
                                   "libqt5core5a", "libc6", "libstdc++6"})
            QVERIFY2(names.contains(QLatin1String(needed)), needed);
        QVERIFY2(names.filter(QRegularExpression(QStringLiteral("^libopenimageio[0-9.]+$"))).size()
                     == 1,
                 qPrintable(depends.output));
        // Every dependency names a package this system knows, in a version it has: apt would
        // install the package.
        const ToolRun simulated = runTool(QStringLiteral("apt-get"), {"install", "-s", package});
        QVERIFY2(simulated.exitCode == 0, qPrintable(simulated.output + simulated.errors));

        const QString root = m_directory.filePath(QStringLiteral("root"));
        const ToolRun unpack = runTool(QStringLiteral("dpkg-deb"), {"-x", package, root});
        QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.errors));
        QStringList expected;
        for (const QString &file : expectedInstallation())
            expected << QStringLiteral("usr/") + file;
        QCOMPARE(filesUnder(root), expected);

        // The package's lf2d writes the same light field as the installed one.
        const QString rewritten = m_directory.filePath(QStringLiteral("rewritten.lf2d"));
        const ToolRun synth = runTool(root + QStringLiteral("/usr/" LF_BIN_INSTALL_DIR "/lf2d"),
                                      lightfieldOptions() + QStringList {rewritten});
        QVERIFY2(synth.exitCode == 0, qPrintable(synth.output + synth.errors));
        QFile first(m_lightfield);
        QFile second(rewritten);
        QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
        QVERIFY(first.readAll() == second.readAll());

        verifySynthesisedView(
            drive(root + QStringLiteral("/usr/" LF_BIN_INSTALL_DIR "/viewer-bilateral"),
                  m_elsewhere, QStringLiteral("package")));
    }
};

QTEST_MAIN(InstallTest)
#include "InstallTest.moc"
