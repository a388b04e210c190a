// Runs a fuzz target's entry point over saved inputs, without libFuzzer: each
// argument is a file or a folder of files. Inputs that once crashed a target
// stay here so the ordinary test run sees any fault come back.
#include "FuzzSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdint>
#include <cstdio>

int main(int argc, char **argv)
{
    QStringList inputs;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QFile::decodeName(argv[i]);
        // A target without saved crashes has no folder of them yet.
        if (!QFileInfo::exists(argument))
            continue;
        if (!QFileInfo(argument).isDir()) {
            inputs.append(argument);
            continue;
        }
        const QDir folder(argument);
        for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name))
            inputs.append(folder.filePath(name));
    }
    if (inputs.isEmpty()) {
        std::fprintf(stderr, "no inputs found in the given places\n");
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const QString &input : std::as_const(inputs)) {
        QFile file(input);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(input));
            return 2;
        }
        const QByteArray bytes = file.readAll();
        std::printf("%s\n", qPrintable(input));
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    }
    std::printf("%lld inputs ran\n", static_cast<long long>(inputs.size()));
    return 0;
}
