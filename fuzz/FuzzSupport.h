#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// libFuzzer's entry points: each fuzz_<name>.cpp defines the first, FuzzSupport.cpp the second.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);

// What every fuzz target shares: a private HOME and XDG folders (set up once,
// before any Qt object exists, so nothing fuzzed can reach the real home folder
// or the thumbnail cache), a Qt application object, and helpers to turn the
// fuzzer's bytes into the inputs the program meets.
namespace FuzzSupport {

// The scratch folder that stands in for the home folder; removed at exit.
QString sandbox();

// Writes bytes to a file below the sandbox, replacing what a previous input left there.
QString writeScratchFile(const QString &relativePath, const QByteArray &bytes);

QByteArray bytes(const uint8_t *data, size_t size);

// Text the way it reaches the program: mostly UTF-8 (file names, typed or
// scanned entries), and when the first byte is odd, raw UTF-16 so lone
// surrogates and every other code unit come through as well.
QString text(const uint8_t *data, size_t size);

// A property the program relies on failed: report and abort so the fuzzer keeps the input.
[[noreturn]] void fail(const char *what, const QString &detail = {});

} // namespace FuzzSupport

#define FUZZ_REQUIRE(condition, detail)                                                                                \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            FuzzSupport::fail(#condition, detail);                                                                     \
    } while (false)
