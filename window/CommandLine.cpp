#include "window/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

CommandLine::CommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Valdrome Kestu Tovrel: files MP3 files from an inbox folder into "
                                                    "folders by their tags."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and end."));
    const QCommandLineOption showVersion({QStringLiteral("v"), QStringLiteral("version")},
                                         QStringLiteral("Show the version and end."));
    const QCommandLineOption minimized(
        QStringLiteral("minimized"),
        QStringLiteral("Start with the window hidden in the notification area, when there is one."));
    parser.addOptions({help, showVersion, minimized});

    const QString name = QFileInfo(arguments.value(0, QStringLiteral("tovrel"))).fileName();
    // Without an application object the parser cannot know the program's name.
    const QString usage = parser.helpText().replace(QStringLiteral("<executable_name>"), name);
    endsProgram_ = true;
    if (!parser.parse(arguments)) {
        exitStatus_ = 2;
        output_ = name + QStringLiteral(": ") + parser.errorText() + QLatin1Char('\n') + usage;
    } else if (!parser.positionalArguments().isEmpty()) {
        exitStatus_ = 2;
        output_ = name + QStringLiteral(": unexpected argument '") + parser.positionalArguments().first() +
                  QStringLiteral("'.\n") + usage;
    } else if (parser.isSet(help)) {
        output_ = usage;
    } else if (parser.isSet(showVersion)) {
        output_ = name + QLatin1Char(' ') + version() + QLatin1Char('\n');
    } else {
        endsProgram_ = false;
        minimized_ = parser.isSet(minimized);
    }
}

QString CommandLine::version()
{
    return QStringLiteral(TOVREL_VERSION);
}
