#include "window/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <algorithm>

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
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run the filing service without a window, tray or display, switched on, telling each outcome "
                       "in one line on standard output. SIGTERM ends it."));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("Show what the running program is doing and end (status 3 when "
                                                   "none runs)."));
    const QCommandLineOption inbox(QStringLiteral("inbox"),
                                   QStringLiteral("With --headless: the inbox folder, instead of the one set."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption outbox(QStringLiteral("outbox"),
                                    QStringLiteral("With --headless: the outbox folder, instead of the one set."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption errors(QStringLiteral("errors"),
                                    QStringLiteral("With --headless: the errors folder, instead of the one set."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("With --headless: the folder format (default %ar\\%al), instead "
                                                   "of the one set."),
                                    QStringLiteral("FMT"));
    const QCommandLineOption nameFormat(
        QStringLiteral("name-format"),
        QStringLiteral("With --headless: the file name format (empty keeps inbox names), instead of the one set."),
        QStringLiteral("FMT"));
    const QCommandLineOption refile(
        QStringLiteral("refile"), QStringLiteral("Move every song of the outbox to where the formats and its tags put "
                                                 "it now, with its companions, and end."));
    const QCommandLineOption putBack(QStringLiteral("put-back"),
                                     QStringLiteral("Put the filed files PATH... (in the outbox) back into the inbox "
                                                    "under their inbox names, where they wait until they change."));
    parser.addOptions(
        {help, showVersion, minimized, headless, status, refile, putBack, inbox, outbox, errors, format, nameFormat});
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("With --put-back: a filed file."),
                                 QStringLiteral("[PATH...]"));

    const QString name = QFileInfo(arguments.value(0, QStringLiteral("tovrel"))).fileName();
    // Without an application object the parser cannot know the program's name.
    const QString usage = parser.helpText().replace(QStringLiteral("<executable_name>"), name);
    const QList<const QCommandLineOption*> overrides{&inbox, &outbox, &errors, &format, &nameFormat};
    endsProgram_ = true;
    if (!parser.parse(arguments)) {
        exitStatus_ = 2;
        output_ = name + QStringLiteral(": ") + parser.errorText() + QLatin1Char('\n') + usage;
    } else if (!parser.positionalArguments().isEmpty() && !parser.isSet(putBack)) {
        exitStatus_ = 2;
        output_ = name + QStringLiteral(": unexpected argument '") + parser.positionalArguments().first() +
                  QStringLiteral("'.\n") + usage;
    } else if (parser.isSet(help)) {
        output_ = usage;
    } else if (parser.isSet(showVersion)) {
        output_ = name + QLatin1Char(' ') + version() + QLatin1Char('\n');
    } else if (parser.isSet(putBack) && parser.positionalArguments().isEmpty()) {
        exitStatus_ = 2;
        output_ = name + QStringLiteral(": --put-back needs the path of at least one filed file.\n") + usage;
    } else if (!parser.isSet(headless) && !parser.isSet(refile) && !parser.isSet(putBack) &&
               std::any_of(overrides.begin(), overrides.end(),
                           [&](const auto* option) { return parser.isSet(*option); })) {
        exitStatus_ = 2;
        output_ = name + QStringLiteral(": --inbox, --outbox, --errors, --format and --name-format go with "
                                        "--headless, --refile or --put-back; a desktop start takes its folders and "
                                        "formats from Options.\n");
    } else {
        endsProgram_ = false;
        minimized_ = parser.isSet(minimized);
        headless_ = parser.isSet(headless);
        status_ = parser.isSet(status);
        refile_ = parser.isSet(refile);
        if (parser.isSet(putBack))
            putBack_ = parser.positionalArguments();
        const auto given = [&](const QCommandLineOption& option) {
            return parser.isSet(option) ? std::optional<QString>(parser.value(option)) : std::nullopt;
        };
        overrides_ = {given(inbox), given(outbox), given(errors), given(format), given(nameFormat)};
    }
}

QString CommandLine::version()
{
    return QStringLiteral(TOVREL_VERSION);
}
