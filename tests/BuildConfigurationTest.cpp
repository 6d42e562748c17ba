#include "deliverables/BuildConfiguration.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QtTest>

// The eleven deliverables: found by name, one program each, one of them active.
class BuildConfigurationTest : public QObject
{
    Q_OBJECT

private slots:
    void everyConfigurationIsAProgram()
    {
        // The build makes one executable per configuration, named after it, and no other.
        QSet<QString> names;
        for (const BuildConfiguration &configuration : buildConfigurations()) {
            const QString name = QString::fromStdString(configuration.name);
            QVERIFY2(!names.contains(name), qPrintable(name));
            names.insert(name);
            QVERIFY2(QFileInfo(QStringLiteral(LF_BINARY_DIR "/") + name).isExecutable(),
                     qPrintable(name));
        }
        const QStringList programs =
            QDir(QStringLiteral(LF_BINARY_DIR))
                .entryList({QStringLiteral("viewer-*")}, QDir::Files | QDir::Executable);
        QCOMPARE(QSet<QString>(programs.begin(), programs.end()), names);
    }

    void lookupAndActiveConfiguration()
    {
        QCOMPARE(int(buildConfigurations().size()), 11);
        QCOMPARE(findBuildConfiguration("viewer"), nullptr);
        QCOMPARE(activeBuildConfiguration().name, std::string("viewer-interp-reinhard05"));
        setActiveBuildConfiguration(*findBuildConfiguration("viewer-curve-4pass"));
        QCOMPARE(activeBuildConfiguration().name, std::string("viewer-curve-4pass"));
    }
};

QTEST_GUILESS_MAIN(BuildConfigurationTest)
#include "BuildConfigurationTest.moc"
