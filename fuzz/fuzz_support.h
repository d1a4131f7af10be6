#pragma once

#include <QApplication>

#include <cstdlib>
#include <memory>

// The window and its widgets need an application object; fuzzers make one, offscreen, once.
inline QApplication &fuzzApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = { name, nullptr };
    static std::unique_ptr<QApplication> app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QApplication>(argc, argv);
    }();
    return *app;
}

// Stops the fuzzer with a crash report when an invariant fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            std::abort();                                                                          \
    } while (false)
