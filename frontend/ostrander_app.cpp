#include "frontend/ostrander_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "frontend/ostrander_dlg.h"
#include "frontend/resources.h"

namespace avs::frontend {

int RunOstrander(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ostrander"));
    QApplication::setApplicationVersion(QStringLiteral("3.3.01"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts media files into AVS media container files (.asm) or AVS transport streams "
        "(.avsts) with the programs Harrowgate, Quenby, Lindqvale and Korvel, which must be in "
        "the directory Ostrander is started from."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption convert_ts(
        QStringLiteral("convert-ts"),
        QStringLiteral("Convert the files to .avsts at once, then quit."));
    const QCommandLineOption convert_asm(
        QStringLiteral("convert-asm"),
        QStringLiteral("Convert the files to .asm at once, then quit."));
    const QCommandLineOption output(
        QStringLiteral("output"),
        QStringLiteral("Write the results into <dir> instead of beside each source."),
        QStringLiteral("dir"));
    parser.addOptions({convert_ts, convert_asm, output});
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("Media files to add to the list."),
                                 QStringLiteral("[files...]"));
    parser.process(app);  // --help, --version and unknown options end here

    std::optional<Target> target;
    if (parser.isSet(convert_ts) && parser.isSet(convert_asm)) {
        std::fprintf(stderr, "Ostrander: give only one of --convert-ts and --convert-asm\n");
        return 2;
    }
    if (parser.isSet(convert_ts)) target = Target::kTransportStream;
    if (parser.isSet(convert_asm)) target = Target::kContainer;

    COstranderDlg dialog;
    if (parser.isSet(output)) dialog.Settings().output_path = parser.value(output).toStdString();
    QStringList files;
    for (const QString& name : parser.positionalArguments()) {
        const QFileInfo info(name);
        if (!info.isFile()) {
            std::fprintf(stderr, "Ostrander: no such file: %s\n", name.toLocal8Bit().constData());
            continue;
        }
        files << info.absoluteFilePath();
    }
    dialog.AddFiles(files);

    RunResult result = RunResult::kFinished;
    if (target) {
        // Start once the dialog runs, and close it when the list is done.
        QTimer::singleShot(0, &dialog, [&] {
            result = *target == Target::kContainer ? dialog.OnConvertAsm() : dialog.OnConvertTs();
            if (dialog.isVisible()) dialog.done(QDialog::Accepted);
        });
    }
    dialog.exec();
    if (!target) return 0;
    return result == RunResult::kFinished ? 0 : 1;
}

}  // namespace avs::frontend
