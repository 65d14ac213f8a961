#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <functional>

// Where the program keeps its files (configuration, store, background picture): ProgramDir.
struct ProgramDirectory
{
    // The folder, absolute, with a trailing '/'.
    QString dir;
    // A line for the log when the folder is not the one the user would expect; empty otherwise.
    QString logLine;
    // Set when the folder named on the command line cannot be used; dir is then empty.
    QString error;

    // True when the user may create files in the folder.
    static bool isWritable(const QString &folder);
    // True when the program file's folder is an installed one: anywhere under /usr, or a
    // <prefix>/bin that has the launcher an install puts beside it
    // (<prefix>/share/applications/kalvex.desktop). A build tree or a folder of the program's
    // own is not.
    static bool isInstalled(const QString &programFileDir);

    // dirOption: the folder given with --dir (empty when none); it is created when missing.
    // Without it the program file's folder is used, or $XDG_DATA_HOME/kalvex/ (created;
    // ~/.local/share/kalvex/ when XDG_DATA_HOME is unset or relative) when that folder is
    // installed or not writable. An installed program never writes beside itself, even for
    // root, who may write everywhere. The demonstration (demo true) without --dir keeps to a
    // "demo" folder inside that one: its sensors never enter the user's configuration.
    static ProgramDirectory resolve(const QString &programFileDir, const QString &dirOption,
                                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                                    const std::function<bool(const QString &)> &writable = &ProgramDirectory::isWritable,
                                    bool demo = false);

private:
    static ProgramDirectory resolveFiles(const QString &programFileDir, const QString &dirOption,
                                         const QProcessEnvironment &env,
                                         const std::function<bool(const QString &)> &writable);
};
