#pragma once

#include <QStringList>

#include <vector>

// The command line. Qt reads its own options (-display, -platform, ...) from the arguments before
// "--", where "--help" and "--version" are answered before anything starts; every other argument,
// and every one after "--", names a file to play, byte for byte.
class CommandLine
{
public:
    CommandLine(int argc, char **argv);

    // Prints the usage for --help, or the name and version for --version, and then is true: the
    // program has nothing more to do.
    bool answered() const;

    // The count of the arguments that Qt may read, for QApplication, which takes out the options
    // it reads and lowers the count.
    int &qtArgumentCount() { return m_qtCount; }

    // The files, as absolute paths (a running Quavrel's working folder may differ), each name as
    // FileNames decodes it. Read once QApplication has taken its options.
    QStringList files() const;

private:
    char **m_argv;
    int m_qtCount;
    std::vector<const char *> m_afterDashes;
};
